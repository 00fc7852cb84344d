#include "sim/output_queue.h"

#include <algorithm>

namespace trelvo::sim {

void OutputQueue::push(std::span<const uint8_t> bytes, uint32_t gap_ms) {
    if (bytes.empty() && gap_ms == 0) return;
    Segment segment;
    segment.bytes.assign(bytes.begin(), bytes.end());
    segment.gap_ms = gap_ms;
    segments_.push_back(std::move(segment));
}

void OutputQueue::push(std::string_view text, uint32_t gap_ms) {
    push(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
         gap_ms);
}

void OutputQueue::push_byte(uint8_t byte, uint32_t gap_ms) {
    push(std::span<const uint8_t>(&byte, 1), gap_ms);
}

void OutputQueue::clear() {
    segments_.clear();
}

void OutputQueue::set_held(bool held) {
    if (held_ && !held) line_free_us_ = std::max(line_free_us_, now_us());
    held_ = held;
}

// The tick counter is 32 bits of milliseconds and wraps; pacing wants a steady count.
uint64_t OutputQueue::now_us() {
    uint32_t now = clock_.now_ms();
    if (!have_time_) {
        have_time_ = true;
        last_ms_ = now;
        epoch_us_ = static_cast<uint64_t>(now) * 1000;
    }
    epoch_us_ += static_cast<uint64_t>(static_cast<uint32_t>(now - last_ms_)) * 1000;
    last_ms_ = now;
    return epoch_us_;
}

void OutputQueue::pump() {
    const uint64_t now = now_us();
    while (!segments_.empty() && !held_ && !failed_) {
        Segment& segment = segments_.front();
        if (!segment.started) {
            segment.started = true;
            segment.start_us = std::max(now, line_free_us_) + segment.gap_ms * 1000ull;
        }
        if (now < segment.start_us) return;
        line_free_us_ = std::max(line_free_us_, segment.start_us);

        size_t remaining = segment.bytes.size() - segment.sent;
        size_t allowed = remaining;
        if (baud_ != 0) {
            // Whole bytes whose wire time has ended by now.
            uint64_t due = now >= line_free_us_ ? (now - line_free_us_) / byte_us() : 0;
            allowed = static_cast<size_t>(std::min<uint64_t>(due, remaining));
        }
        if (allowed > 0) {
            long taken = device_.write(segment.bytes.data() + segment.sent, allowed);
            if (taken < 0) {
                failed_ = true;
                return;
            }
            if (taken > 0) {
                auto count = static_cast<size_t>(taken);
                if (trace_ && *trace_)
                    (*trace_)(TraceDirection::Out, clock_.now_ms(),
                              std::span<const uint8_t>(segment.bytes.data() + segment.sent, count));
                segment.sent += count;
                line_free_us_ += count * byte_us();
            }
            if (static_cast<size_t>(taken) < allowed) return;  // the device is full for now
        }
        if (segment.sent < segment.bytes.size()) return;  // the wire is busy
        segments_.pop_front();
    }
}

}  // namespace trelvo::sim
