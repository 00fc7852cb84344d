#include "bench/measured_device.h"

namespace trelvo::bench {

long MeasuredDevice::read(uint8_t* buffer, size_t capacity) {
    long n = device_->read(buffer, capacity);
    if (n > 0)
        events_.push_back(
            {std::chrono::steady_clock::now(), false, static_cast<size_t>(n), buffer[0]});
    return n;
}

long MeasuredDevice::write(const uint8_t* data, size_t size) {
    long n = device_->write(data, size);
    if (n > 0)
        events_.push_back(
            {std::chrono::steady_clock::now(), true, static_cast<size_t>(n), data[0]});
    return n;
}

OpenResult MeasuredOpener::open(uint32_t port_number) {
    OpenResult result = opener_.open(port_number);
    if (result.device)
        result.device = std::make_unique<MeasuredDevice>(std::move(result.device), events_);
    return result;
}

}  // namespace trelvo::bench
