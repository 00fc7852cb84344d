// The serial device on Linux: a tty opened non-blocking and exclusively, configured through
// termios for the tester's line (raw 8N1, XON/XOFF 0x11/0x13, reads that return at once).
#pragma once

#include <termios.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/serial_device.h"
#include "base/settings_state.h"

namespace trelvo {

// The driver requests beyond termios that the device makes: the serial flags
// (TIOCGSERIAL/TIOCSSERIAL) and the modem lines (TIOCMBIS/TIOCMBIC). Each returns 0 or the
// errno value of the refusal. Tests play a UART driver with it on a pseudo-terminal, which
// has neither.
class SerialDriver {
  public:
    virtual ~SerialDriver() = default;
    virtual int get_flags(int fd, int& flags) const;  // ASYNC_* flags of serial_struct
    virtual int set_flags(int fd, int flags) const;
    // Raises (`on`) or drops the lines in `lines` (TIOCM_DTR, TIOCM_RTS).
    virtual int set_modem_lines(int fd, int lines, bool on) const;
};

// The kernel's driver requests.
const SerialDriver& system_serial_driver();

class PosixSerialDevice : public SerialDevice {
  public:
    // Opens `path` for reading and writing, not as the controlling terminal, non-blocking,
    // and takes it for this program alone (an advisory lock plus the tty's exclusive mode).
    // On failure the result names the path and the reason. Closing the device puts back the
    // line settings and the low-latency flag it found.
    static OpenResult open(const std::string& path,
                           const SerialDriver& driver = system_serial_driver());

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
    uint32_t line_baud() const override;
    size_t output_queued() const override;  // TIOCOUTQ

    DeviceError last_error() const override { return error_; }
    std::string error_text() const override { return error_text_; }

    int fd() const { return fd_; }
    // Whether the driver hands received bytes on at once (see apply_configuration).
    bool low_latency() const { return low_latency_; }
    const std::string& path() const { return path_; }

  private:
    PosixSerialDevice(int fd, std::string path, const SerialDriver& driver);
    void restore();

    bool fail(DeviceError error, const std::string& what, int err);
    long io_failure(const char* what, int err);
    bool hung_up() const;
    void ask_low_latency();
    void wait_for(short events, uint32_t ms) const;

    int fd_;
    std::string path_;
    const SerialDriver& driver_;
    termios configuration_{};
    bool have_configuration_ = false;
    bool low_latency_ = false;
    // What the device was like before we changed it, put back on close.
    termios original_{};
    bool have_original_ = false;
    bool raised_low_latency_ = false;  // the flag was off and we set it
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

// The termios speed constant for a baud rate, or B0 when there is none; and back (0 for
// none).
speed_t speed_for_baud(uint32_t baud);
uint32_t baud_for_speed(speed_t speed);

// The text of an errno value (thread-safe).
std::string errno_text(int err);

}  // namespace trelvo
