// What the tester sends, in order, paced to the wire time of its baud rate (10 bits a byte)
// and held while the PC holds it off with XOFF. A segment may wait a given time after the
// one before it has left, which is how pauses inside blocks and flow-control holds are
// played.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string_view>
#include <vector>

#include "base/platform.h"
#include "base/serial_device.h"
#include "sim/trace.h"
#include "sim/wire_time.h"

namespace trelvo::sim {

class OutputQueue {
  public:
    // `trace` may be null; it must outlive the queue otherwise.
    OutputQueue(SerialDevice& device, TickCounter& clock, uint32_t baud, const TraceSink* trace)
        : device_(device),
          clock_(clock),
          wide_(clock),
          byte_ns_(byte_time_ns(baud)),
          trace_(trace) {}

    // Queues bytes that go out `gap_ms` after everything queued before them has left.
    void push(std::span<const uint8_t> bytes, uint32_t gap_ms = 0);
    void push(std::string_view text, uint32_t gap_ms = 0);
    void push_byte(uint8_t byte, uint32_t gap_ms = 0);

    // Hands the device what may go by now; never waits.
    void pump();
    // Drops everything not yet handed to the device.
    void clear();

    // The PC sent XOFF (true) or XON (false).
    void set_held(bool held);
    bool held() const { return held_; }

    bool empty() const { return segments_.empty(); }
    // Whether the device refused a write (it failed or went away).
    bool failed() const { return failed_; }

  private:
    struct Segment {
        std::vector<uint8_t> bytes;
        uint32_t gap_ms = 0;
        bool started = false;
        uint64_t start_ns = 0;  // not before this time
        size_t sent = 0;
    };

    SerialDevice& device_;
    TickCounter& clock_;
    WideClock wide_;
    uint64_t byte_ns_;
    const TraceSink* trace_;
    std::deque<Segment> segments_;
    uint64_t line_free_ns_ = 0;  // when the last byte handed over has left the wire
    bool held_ = false;
    bool failed_ = false;
};

}  // namespace trelvo::sim
