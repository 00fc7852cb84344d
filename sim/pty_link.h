// The simulator's end of a pseudo-terminal. The PC program opens the slave device (through a
// symbolic link at a path of the user's choice) as its serial port; the simulator reads and
// writes the master. It keeps one descriptor of the slave open itself, so that the line does
// not hang up while the PC program has the port closed between runs.
#pragma once

#include <memory>
#include <string>

#include "base/serial_device.h"

namespace trelvo::sim {

// The master side as a serial device: reads and writes that never wait; line settings do
// not apply to it (the PC program sets those on its side).
class PtyMasterDevice : public SerialDevice {
  public:
    explicit PtyMasterDevice(int fd) : fd_(fd) {}

    bool read_configuration() override { return true; }
    bool apply_configuration(const LineSettings&) override { return true; }
    bool set_output_flow_control(bool) override { return true; }
    void purge_input() override;
    long read(uint8_t* buffer, size_t capacity) override;
    long write(const uint8_t* data, size_t size) override;
    void wait_readable(uint32_t ms) override;
    void wait_writable(uint32_t ms) override;
    DeviceError last_error() const override { return error_; }
    std::string error_text() const override { return error_text_; }

  private:
    long failure(const char* what, int err);

    int fd_;
    DeviceError error_ = DeviceError::None;
    std::string error_text_;
};

class PtyLink {
  public:
    // Opens a pseudo-terminal, sets its line raw and makes `link_path` a symbolic link to the
    // slave device (replacing an earlier symbolic link there, never another file). Null with
    // `error` set on failure.
    static std::unique_ptr<PtyLink> open(const std::string& link_path, std::string& error);
    // Removes the link (if it still points at this terminal) and closes the terminal.
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    SerialDevice& device() { return device_; }
    int master_fd() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }
    const std::string& link_path() const { return link_path_; }

  private:
    PtyLink(int master, int slave, std::string slave_path, std::string link_path)
        : master_(master),
          slave_(slave),
          slave_path_(std::move(slave_path)),
          link_path_(std::move(link_path)),
          device_(master) {}

    int master_;
    int slave_;
    std::string slave_path_;
    std::string link_path_;
    PtyMasterDevice device_;
};

}  // namespace trelvo::sim
