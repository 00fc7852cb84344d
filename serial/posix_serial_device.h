// The serial device on Linux: a tty opened non-blocking and exclusively, configured through
// termios for the tester's line (raw 8N1, XON/XOFF 0x11/0x13, reads that return at once).
#pragma once

#include <termios.h>

#include <cstdint>
#include <memory>
#include <string>

#include "serial/serial_device.h"
#include "shell/settings_state.h"

namespace trelvo {

class PosixSerialDevice : public SerialDevice {
  public:
    // Opens `path` for reading and writing, not as the controlling terminal, non-blocking,
    // and takes it for this program alone (an advisory lock plus the tty's exclusive mode).
    // On failure the result names the path and the reason.
    static OpenResult open(const std::string& path);

    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool read_configuration() override;
    bool apply_configuration(const LineSettings& settings) override;
    bool set_output_flow_control(bool on) override;
    void purge_input() override;

    long read(uint8_t* buffer, size_t capacity) override;
    long write(const uint8_t* data, size_t size) override;

    void wait_readable(uint32_t ms) override;
    void wait_writable(uint32_t ms) override;
    int wait_handle() const override { return fd_; }

    DeviceError last_error() const override { return error_; }
    std::string error_text() const override { return error_text_; }

    int fd() const { return fd_; }
    // Whether the driver hands received bytes on at once (see apply_configuration).
    bool low_latency() const { return low_latency_; }
    const std::string& path() const { return path_; }

  private:
    PosixSerialDevice(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    bool fail(DeviceError error, const std::string& what, int err);
    long io_failure(const char* what, int err);
    bool hung_up() const;
    void wait_for(short events, uint32_t ms) const;

    int fd_;
    std::string path_;
    termios configuration_{};
    bool have_configuration_ = false;
    bool low_latency_ = false;
    DeviceError error_ = DeviceError::None;
    std::string error_text_;
};

// The real opener: resolves COMn through the settings' port map and the device convention
// (port_map.h), then opens the device. A built-in UART node without hardware behind it
// counts as no device. The settings state must outlive the opener; opening from the port
// scan's thread is fine as long as nobody changes the port map meanwhile.
class PosixDeviceOpener : public DeviceOpener {
  public:
    explicit PosixDeviceOpener(const SettingsState& state, std::string device_root = "/dev")
        : state_(state), device_root_(std::move(device_root)) {}

    OpenResult open(uint32_t port_number) override;

  private:
    const SettingsState& state_;
    std::string device_root_;
};

// The termios speed constant for a baud rate, or B0 when there is none.
speed_t speed_for_baud(uint32_t baud);

// The text of an errno value (thread-safe).
std::string errno_text(int err);

}  // namespace trelvo
