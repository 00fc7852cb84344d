// A serial device whose input the test feeds and whose output it reads back, on a virtual
// clock: waits inside the port routines move the clock instead of sleeping.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_device.h"
#include "engine/virtual_clock.h"

namespace trelvo::testing {

// The line behind a scripted device; it outlives the device, which the engine closes at the
// end of a run, so a test can still look at what was sent.
struct ScriptedWire {
    explicit ScriptedWire(VirtualClock& clock_) : clock(clock_) {}

    // Bytes the tester "sent": readable from now on.
    void feed(std::string_view bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
    // Feeds `bytes` when the virtual clock reaches `at_ms`.
    void feed_at(uint32_t at_ms, std::string bytes);
    std::string output_text() const { return std::string(output.begin(), output.end()); }

    VirtualClock& clock;
    std::deque<uint8_t> input;
    std::vector<uint8_t> output;
    std::vector<uint32_t> write_ms;  // when each write that took bytes happened
    bool hold_writes = false;        // writes take nothing: they stay pending
    bool fail_writes = false;        // writes fail outright
    bool lost = false;               // the device went away
    std::vector<bool> flow_control_changes;
    LineSettings applied;
};

class ScriptedDevice : public SerialDevice {
  public:
    explicit ScriptedDevice(ScriptedWire& wire) : wire_(wire) {}

    bool read_configuration() override { return true; }
    bool apply_configuration(const LineSettings& settings) override;
    bool set_output_flow_control(bool on) override;
    void purge_input() override { wire_.input.clear(); }
    long read(uint8_t* buffer, size_t capacity) override;
    long write(const uint8_t* data, size_t size) override;
    void wait_readable(uint32_t ms) override;
    void wait_writable(uint32_t ms) override;
    DeviceError last_error() const override { return error_; }
    std::string error_text() const override { return error_text_; }

  private:
    ScriptedWire& wire_;
    DeviceError error_ = DeviceError::None;
    std::string error_text_;
};

}  // namespace trelvo::testing
