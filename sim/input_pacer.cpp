#include "sim/input_pacer.h"

#include <algorithm>

namespace trelvo::sim {

void InputPacer::arrived(std::span<const uint8_t> bytes, uint64_t now_ns) {
    for (uint8_t byte : bytes) {
        line_free_ns_ = std::max(line_free_ns_, now_ns) + byte_ns_;
        queue_.push_back(Byte{byte, line_free_ns_});
    }
}

std::optional<InputPacer::Byte> InputPacer::take_due(uint64_t now_ns) {
    if (queue_.empty() || queue_.front().due_ns > now_ns) return std::nullopt;
    Byte byte = queue_.front();
    queue_.pop_front();
    return byte;
}

}  // namespace trelvo::sim
