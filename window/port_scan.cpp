#include "window/port_scan.h"

namespace trelvo {

namespace {

// Listed although not opened: the port is there, but another program holds it, we may not
// open it, or it does not work.
bool listed_without_opening(DeviceError error) {
    return error == DeviceError::Busy || error == DeviceError::NoPermission ||
           error == DeviceError::Io;
}

}  // namespace

std::string port_entry_text(uint32_t port_number, std::string_view device) {
    std::string text = "COM" + std::to_string(port_number);
    if (!device.empty()) {
        text += ' ';
        text += device;
    }
    return text;
}

bool port_number_of_entry(std::string_view text, uint32_t& port_number) {
    if (text.substr(0, 3) != "COM" || text.size() < 4 || text[3] < '0' || text[3] > '9')
        return false;
    uint32_t number = 0;
    for (size_t i = 3; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = number * 10 + static_cast<uint32_t>(text[i] - '0');
    port_number = number;
    return true;
}

std::string device_label(std::string_view path) {
    constexpr std::string_view dev = "/dev/";
    if (path.substr(0, dev.size()) == dev) path.remove_prefix(dev.size());
    return std::string(path);
}

int scan_ports(DeviceOpener& opener, TickCounter& clock, uint32_t configured_port,
               const DeviceNamer& name, const ScanEmit& emit, const std::atomic<bool>* stop) {
    int position = 0;
    int selected = -1;
    auto list = [&](uint32_t n, bool access_denied) {
        ScanEvent event{ScanEventKind::PortFound, {}, false};
        event.entry.number = n;
        event.entry.text = port_entry_text(n, name ? name(n) : std::string());
        event.entry.access_denied = access_denied;
        event.select = n == configured_port || position == 0;
        if (event.select) selected = position;
        ++position;
        emit(event);
    };

    for (uint32_t n = SCAN_FIRST_PORT; n <= SCAN_LAST_PORT; ++n) {
        if (stop != nullptr && stop->load()) return selected;
        uint32_t limit = clock.now_ms() + SLOW_OPEN_MS;
        OpenResult opened = opener.open(n);
        if (opened.device) {
            list(n, false);
            opened.device.reset();  // closed at once: the scan only looks
            if (n == configured_port) emit({ScanEventKind::ConfiguredPortOpened, {}, false});
            continue;
        }
        if (listed_without_opening(opened.error)) list(n, true);
        if (static_cast<int32_t>(clock.now_ms() - limit) > 0) {
            emit({ScanEventKind::StoppedSlow, {}, false});
            break;
        }
    }
    emit({ScanEventKind::Finished, {}, false});
    return selected;
}

void ThreadedPortScanner::start(uint32_t configured_port, ScanEmit emit) {
    stop();
    stop_ = false;
    thread_ = std::thread([this, configured_port, emit = std::move(emit)] {
        scan_ports(opener_, clock_, configured_port, name_, emit, &stop_);
    });
}

void ThreadedPortScanner::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

}  // namespace trelvo
