// The port scan: which serial ports the machine has. It tries to open COM1 to COM255 in
// turn, lists every port that opened and every port that is there but could not be opened
// (held by another program, not allowed, not working), preselects the configured port, and
// gates the automatic start of a run: the start may go ahead once the configured port has
// opened. It runs on its own thread beside the window; everything the window shows reaches
// it as events that the window carries out on its own thread, in the order of the scan.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "base/platform.h"
#include "base/serial_device.h"

namespace trelvo {

inline constexpr uint32_t SCAN_FIRST_PORT = 1;
inline constexpr uint32_t SCAN_LAST_PORT = 255;
// A failed open that takes longer than this ends the scan (a driver slow to refuse).
inline constexpr uint32_t SLOW_OPEN_MS = 500;

// One entry of the port list: "COMn", with the device after a blank when it is known
// ("COM33 ttyUSB0").
struct PortEntry {
    uint32_t number = 0;
    std::string text;
    bool access_denied = false;  // listed, but held by another program or not allowed

    bool operator==(const PortEntry&) const = default;
};

enum class ScanEventKind {
    PortFound,             // append `entry` to the port list; select it when `select`
    ConfiguredPortOpened,  // the configured port opened: "Idle" in status part 0; the start
                           // gate is released once (see MainWindowModel)
    StoppedSlow,           // a failed open took longer than SLOW_OPEN_MS: "Idle", run state
                           // RS_RUNNING, the gate released once; the scan ends
    Finished,              // the scan is over (after the last port or the early stop)
};

struct ScanEvent {
    ScanEventKind kind = ScanEventKind::Finished;
    PortEntry entry;
    bool select = false;

    bool operator==(const ScanEvent&) const = default;
};

using ScanEmit = std::function<void(const ScanEvent&)>;
// The device shown after the port name ("ttyUSB0"); empty when there is none to show.
using DeviceNamer = std::function<std::string(uint32_t port_number)>;

// "COM3", or "COM3 ttyS2" with a device.
std::string port_entry_text(uint32_t port_number, std::string_view device);

// The number after "COM" at the start of a port list entry; false when the text does not
// begin with "COM" followed by a digit.
bool port_number_of_entry(std::string_view text, uint32_t& port_number);

// A device path as the port list shows it: without the leading "/dev/".
std::string device_label(std::string_view path);

// Scans COM1..COM255 through `opener`: every port that opens is listed and closed again at
// once; one refused as busy, not permitted or not working is listed without being opened;
// one without a device is not listed. The configured port, or else the first entry, is
// selected. Returns the position last selected, -1 when nothing was listed. `stop` (may be
// null) ends the scan between two ports without a Finished event.
int scan_ports(DeviceOpener& opener, TickCounter& clock, uint32_t configured_port,
               const DeviceNamer& name, const ScanEmit& emit,
               const std::atomic<bool>* stop = nullptr);

// Starts and stops the scan of one window.
class PortScanner {
  public:
    virtual ~PortScanner() = default;
    // Starts scanning for `configured_port`; `emit` is called on the scanning thread.
    virtual void start(uint32_t configured_port, ScanEmit emit) = 0;
    // Ends the scan (between two ports) and waits for it.
    virtual void stop() = 0;
};

// The scan on a thread of its own. The opener, clock and namer must be safe to use from
// that thread while the window runs.
class ThreadedPortScanner : public PortScanner {
  public:
    ThreadedPortScanner(DeviceOpener& opener, TickCounter& clock, DeviceNamer name)
        : opener_(opener), clock_(clock), name_(std::move(name)) {}
    ~ThreadedPortScanner() override { stop(); }
    ThreadedPortScanner(const ThreadedPortScanner&) = delete;
    ThreadedPortScanner& operator=(const ThreadedPortScanner&) = delete;

    void start(uint32_t configured_port, ScanEmit emit) override;
    void stop() override;

  private:
    DeviceOpener& opener_;
    TickCounter& clock_;
    DeviceNamer name_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace trelvo
