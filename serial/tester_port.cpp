#include "serial/tester_port.h"

#include <algorithm>
#include <cstring>

#include "serial/port_map.h"
#include "shell/error_table.h"

namespace trelvo {

namespace {

constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t LF = 0x0A;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t CAN = 0x18;

constexpr size_t SHORT_PACKET_SIZE = 133;  // SOH, number, complement, 128 bytes, CRC
constexpr size_t LONG_PACKET_SIZE = 1029;  // STX, number, complement, 1024 bytes, CRC

constexpr uint32_t LINE_SILENCE_MS = 100;     // a line breaks off after this much silence
constexpr uint32_t PACKET_SILENCE_MS = 1000;  // a packet stalls after more than this
constexpr uint32_t LINES_PAUSE_MS = 10;       // room for the next line of a multi-line reply
// The end-of-run command gets this long to leave; a tester that keeps us held off longer
// loses it rather than the program hanging.
constexpr uint32_t LOCAL_WRITE_LIMIT_MS = 2000;
constexpr uint32_t LOCAL_WRITE_STEP_MS = 50;

constexpr std::string_view LOCAL_COMMAND = "\nSYST:COMM:LOCAL\n";

}  // namespace

struct TesterPort::Impl {
    // The write in progress: its bytes, how many the device has taken, and the step
    // result to hand on once all are taken.
    std::vector<uint8_t> pending;
    size_t taken = 0;
    StepResult kept = SR_NEXT;

    bool failed = false;
    std::string failure;

    void note_failure(const SerialDevice& device) {
        if (failed) return;
        failed = true;
        failure = device.error_text();
    }

    // A device read; -1 marks the port failed.
    long read(SerialDevice& device, uint8_t* buffer, size_t capacity) {
        long n = device.read(buffer, capacity);
        if (n < 0) note_failure(device);
        return n;
    }

    void drop_write() {
        pending.clear();
        taken = 0;
    }

    // Hands the device as much of the write in progress as it takes now.
    StepResult push(SerialDevice& device) {
        while (taken < pending.size()) {
            long n = device.write(pending.data() + taken, pending.size() - taken);
            if (n < 0) {
                note_failure(device);
                drop_write();
                return SR_WRITE_FAILED;
            }
            if (n == 0) return SR_WRITE_BUSY;
            taken += static_cast<size_t>(n);
        }
        drop_write();
        return kept;
    }
};

TesterPort::TesterPort(std::unique_ptr<SerialDevice> device, TickCounter& clock)
    : impl_(std::make_unique<Impl>()), device_(std::move(device)), clock_(clock) {}

TesterPort::~TesterPort() = default;

StepResult TesterPort::write_command(std::string_view text, StepResult next) {
    return write_block(reinterpret_cast<const uint8_t*>(text.data()), text.size(), next);
}

StepResult TesterPort::write_block(const uint8_t* data, size_t size, StepResult next) {
    // Only one write is ever in progress: the rest of an abandoned one is dropped here.
    impl_->pending.assign(data, data + size);
    impl_->taken = 0;
    impl_->kept = next;
    StepResult result = impl_->push(*device_);
    return result == SR_WRITE_BUSY ? SR_WRITE_PENDING : result;
}

StepResult TesterPort::poll_write() {
    return impl_->push(*device_);
}

void TesterPort::release_write_event() {
    impl_->drop_write();
    impl_->kept = SR_NEXT;
}

bool TesterPort::write_pending() const {
    return impl_->taken < impl_->pending.size();
}

int TesterPort::read_line() {
    size_t stored = 0;
    uint32_t last_byte = clock_.now_ms();
    for (;;) {
        long n = impl_->read(*device_, &reply[stored], 1);
        if (n < 0) return 0;
        if (n == 1) {
            last_byte = clock_.now_ms();
            uint8_t byte = reply[stored];
            if (byte == LF) {
                reply[stored] = 0;
                return 1;
            }
            if (byte == CR) reply[stored] = 0;
            // The 101st character without a LF breaks the line off; what follows it is
            // read as the start of the next line.
            if (++stored > MAX_REPLY_LINE) return 0;
            continue;
        }
        if (stored == 0) return 0;
        uint32_t silent = clock_.now_ms() - last_byte;
        if (silent >= LINE_SILENCE_MS) return 0;
        device_->wait_readable(LINE_SILENCE_MS - silent);
    }
}

int TesterPort::read_lines() {
    reply[0] = 0;
    int failures = 0;
    int result = 0;
    while (failures < 2) {
        result = read_line();
        if (result == 1) {
            failures = 0;
            if (reply[0] == ETX) break;
            // Lines that no longer fit into the directory text are dropped whole.
            std::string_view line = reply_line();
            if (directory_text.size() + line.size() + 1 < DIRECTORY_TEXT_SIZE) {
                directory_text.append(line);
                directory_text.push_back('\n');
                ++directory_lines;
            }
        } else {
            if (failures == 0 && directory_lines > 0) device_->wait_readable(LINES_PAUSE_MS);
            ++failures;
        }
    }
    return result;
}

int TesterPort::read_expected_byte() {
    return impl_->read(*device_, reply.data(), 1) == 1 && reply[0] == expected_byte ? 1 : 0;
}

int TesterPort::read_byte() {
    return impl_->read(*device_, reply.data(), 1) == 1 ? 1 : 0;
}

int TesterPort::read_block() {
    if (impl_->read(*device_, reply.data(), 1) != 1) return 0;
    size_t size = 0;
    switch (reply[0]) {
        case EOT:
        case CAN:
            return 1;
        case SOH:
            size = SHORT_PACKET_SIZE;
            break;
        case STX:
            size = LONG_PACKET_SIZE;
            break;
        default:
            return 0;  // a stray byte, dropped
    }
    size_t have = 1;
    uint32_t last_bytes = clock_.now_ms();
    while (have < size) {
        long n = impl_->read(*device_, &reply[have], size - have);
        if (n < 0) return 0;
        if (n > 0) {
            have += static_cast<size_t>(n);
            last_bytes = clock_.now_ms();
            continue;
        }
        uint32_t silent = clock_.now_ms() - last_bytes;
        if (silent > PACKET_SILENCE_MS) {
            reply[0] = TIMEOUT_MARKER;
            return 1;
        }
        device_->wait_readable(PACKET_SILENCE_MS + 1 - silent);
    }
    return 1;
}

void TesterPort::set_output_flow_control(bool on) {
    device_->purge_input();
    device_->set_output_flow_control(on);
}

void TesterPort::return_to_local() {
    set_output_flow_control(false);
    if (write_command(LOCAL_COMMAND, SR_NEXT) == SR_WRITE_PENDING) {
        uint32_t start = clock_.now_ms();
        while (poll_write() == SR_WRITE_BUSY) {
            uint32_t waited = clock_.now_ms() - start;
            if (waited >= LOCAL_WRITE_LIMIT_MS) {
                release_write_event();
                break;
            }
            device_->wait_writable(std::min(LOCAL_WRITE_LIMIT_MS - waited, LOCAL_WRITE_STEP_MS));
        }
    }
    set_output_flow_control(true);
}

std::string_view TesterPort::reply_line() const {
    const char* text = reinterpret_cast<const char*>(reply.data());
    return std::string_view(text, strnlen(text, reply.size()));
}

bool TesterPort::failed() const {
    return impl_->failed;
}

std::string TesterPort::failure_text() const {
    return impl_->failure;
}

std::unique_ptr<TesterPort> open_tester_port(SettingsState& state, WindowSurface& window,
                                             TickCounter& clock, DeviceOpener& opener) {
    OpenResult opened = opener.open(state.port_number);
    if (!opened.device) {
        std::string message = "Invalid Port " + port_name(state.port_number) + "\n";
        if (!opened.reason.empty()) message += opened.reason + "\n";
        report_error(state, window, ERR_COM_PORT, message);
        return nullptr;
    }
    std::unique_ptr<SerialDevice> device = std::move(opened.device);

    LineSettings settings;
    settings.baud = state.baud_index < BAUD_RATES.size() ? BAUD_RATES[state.baud_index] : 0;
    settings.output_flow_control = true;
    settings.input_flow_control = true;

    bool configuration_read = device->read_configuration();
    bool configuration_applied = device->apply_configuration(settings);
    if (!configuration_read) {
        report_error(state, window, ERR_DCB, "Invalid DCB structure\n");
        return nullptr;
    }
    if (!configuration_applied) {
        report_error(state, window, ERR_BAUDRATE, "Invalid Baudrate\n");
        return nullptr;
    }
    return std::make_unique<TesterPort>(std::move(device), clock);
}

}  // namespace trelvo
