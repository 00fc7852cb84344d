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
    if (held_ && !held) line_free_ns_ = std::max(line_free_ns_, wide_.now_ns());
    held_ = held;
}

void OutputQueue::pump() {
    const uint64_t now = wide_.now_ns();
    while (!segments_.empty() && !held_ && !failed_) {
        Segment& segment = segments_.front();
        if (!segment.started) {
            segment.started = true;
            segment.start_ns = std::max(now, line_free_ns_) + segment.gap_ms * 1'000'000ull;
        }
        if (now < segment.start_ns) return;
        line_free_ns_ = std::max(line_free_ns_, segment.start_ns);

        size_t remaining = segment.bytes.size() - segment.sent;
        size_t allowed = remaining;
        if (byte_ns_ != 0) {
            // Whole bytes whose wire time has ended by now.
            uint64_t due = now >= line_free_ns_ ? (now - line_free_ns_) / byte_ns_ : 0;
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
                line_free_ns_ += count * byte_ns_;
            }
            if (static_cast<size_t>(taken) < allowed) return;  // the device is full for now
        }
        if (segment.sent < segment.bytes.size()) return;  // the wire is busy
        segments_.pop_front();
    }
}

}  // namespace trelvo::sim
