#include "tests/support/scripted_device.h"

namespace trelvo::testing {

void ScriptedWire::feed_at(uint32_t at_ms, std::string bytes) {
    clock.schedule(at_ms, [this, bytes = std::move(bytes)] { feed(bytes); });
}

bool ScriptedDevice::apply_configuration(const LineSettings& settings) {
    wire_.applied = settings;
    return true;
}

bool ScriptedDevice::set_output_flow_control(bool on) {
    wire_.flow_control_changes.push_back(on);
    return true;
}

long ScriptedDevice::read(uint8_t* buffer, size_t capacity) {
    if (wire_.lost) {
        error_ = DeviceError::Lost;
        error_text_ = "scripted device: lost";
        return -1;
    }
    size_t count = 0;
    while (count < capacity && !wire_.input.empty()) {
        buffer[count++] = wire_.input.front();
        wire_.input.pop_front();
    }
    return static_cast<long>(count);
}

long ScriptedDevice::write(const uint8_t* data, size_t size) {
    if (wire_.lost || wire_.fail_writes) {
        error_ = wire_.lost ? DeviceError::Lost : DeviceError::Io;
        error_text_ = "scripted device: write refused";
        return -1;
    }
    if (wire_.hold_writes) return 0;
    wire_.output.insert(wire_.output.end(), data, data + size);
    if (size > 0) wire_.write_ms.push_back(wire_.clock.now_ms());
    return static_cast<long>(size);
}

void ScriptedDevice::wait_readable(uint32_t ms) {
    VirtualClock& clock = wire_.clock;
    uint32_t until = clock.now_ms() + ms;
    while (wire_.input.empty() && !wire_.lost && clock.now_ms() < until) {
        auto due = clock.next_due();
        clock.advance_to(due && *due < until ? *due : until);
    }
}

// A wait that finds the device unable to take the write takes its time on the virtual clock,
// so that a loop that keeps waiting runs into its time limit instead of spinning.
void ScriptedDevice::wait_writable(uint32_t ms) {
    if (wire_.hold_writes || wire_.fail_writes || wire_.lost) wire_.clock.advance(ms);
}

}  // namespace trelvo::testing
