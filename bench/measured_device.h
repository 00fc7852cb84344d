// A serial device that passes everything on to the real one and notes every read and
// write that moved bytes: when, which way, how many, and the first byte. The transfer
// benchmark finds the block transfer in these notes and times it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/serial_device.h"

namespace trelvo::bench {

struct LineEvent {
    std::chrono::steady_clock::time_point at;
    bool written = false;  // false: read
    size_t count = 0;
    uint8_t first = 0;
};

class MeasuredDevice : public SerialDevice {
  public:
    MeasuredDevice(std::unique_ptr<SerialDevice> device, std::vector<LineEvent>& events)
        : device_(std::move(device)), events_(events) {}

    bool read_configuration() override { return device_->read_configuration(); }
    bool apply_configuration(const LineSettings& settings) override {
        return device_->apply_configuration(settings);
    }
    bool set_output_flow_control(bool on) override { return device_->set_output_flow_control(on); }
    void purge_input() override { device_->purge_input(); }
    long read(uint8_t* buffer, size_t capacity) override;
    long write(const uint8_t* data, size_t size) override;
    void wait_readable(uint32_t ms) override { device_->wait_readable(ms); }
    void wait_writable(uint32_t ms) override { device_->wait_writable(ms); }
    int wait_handle() const override { return device_->wait_handle(); }
    DeviceError last_error() const override { return device_->last_error(); }
    std::string error_text() const override { return device_->error_text(); }

  private:
    std::unique_ptr<SerialDevice> device_;
    std::vector<LineEvent>& events_;
};

// Opens through another opener and hands out measured devices.
class MeasuredOpener : public DeviceOpener {
  public:
    MeasuredOpener(DeviceOpener& opener, std::vector<LineEvent>& events)
        : opener_(opener), events_(events) {}
    OpenResult open(uint32_t port_number) override;

  private:
    DeviceOpener& opener_;
    std::vector<LineEvent>& events_;
};

}  // namespace trelvo::bench
