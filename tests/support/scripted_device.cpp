#include "tests/support/scripted_device.h"

namespace trelvo::testing {

void ScriptedDevice::feed_at(uint32_t at_ms, std::string bytes) {
    clock_.schedule(at_ms, [this, bytes = std::move(bytes)] { feed(bytes); });
}

bool ScriptedDevice::apply_configuration(const LineSettings& settings) {
    applied = settings;
    return true;
}

bool ScriptedDevice::set_output_flow_control(bool on) {
    flow_control_changes.push_back(on);
    return true;
}

long ScriptedDevice::read(uint8_t* buffer, size_t capacity) {
    if (lost) {
        error_ = DeviceError::Lost;
        error_text_ = "scripted device: lost";
        return -1;
    }
    size_t count = 0;
    while (count < capacity && !input.empty()) {
        buffer[count++] = input.front();
        input.pop_front();
    }
    return static_cast<long>(count);
}

long ScriptedDevice::write(const uint8_t* data, size_t size) {
    if (lost || fail_writes) {
        error_ = lost ? DeviceError::Lost : DeviceError::Io;
        error_text_ = "scripted device: write refused";
        return -1;
    }
    if (hold_writes) return 0;
    output.insert(output.end(), data, data + size);
    return static_cast<long>(size);
}

void ScriptedDevice::wait_readable(uint32_t ms) {
    uint32_t until = clock_.now_ms() + ms;
    while (input.empty() && !lost && clock_.now_ms() < until) {
        auto due = clock_.next_due();
        clock_.advance_to(due && *due < until ? *due : until);
    }
}

void ScriptedDevice::wait_writable(uint32_t ms) {
    if (hold_writes) clock_.advance(ms);
}

}  // namespace trelvo::testing
