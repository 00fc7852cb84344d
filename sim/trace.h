// The byte trace: every byte in and out of the tester with the time it passed.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace trelvo::sim {

enum class TraceDirection { In, Out };

// Called with the bytes that were read from or written to the line, and the tick count then.
using TraceSink = std::function<void(TraceDirection, uint32_t now_ms, std::span<const uint8_t>)>;

// Lines of at most 16 bytes: seconds since the start with milliseconds, "in" or "out", the
// bytes in hex and as text (non-printable bytes as "."):
//      1.250 in  0a 2a 49 44 4e 3f 0a                             |.*IDN?.|
std::string format_trace(TraceDirection direction, uint32_t since_start_ms,
                         std::span<const uint8_t> bytes);

// The bytes of one direction in a trace's text, in order: what format_trace wrote, read back.
std::string traced_bytes(std::string_view trace, TraceDirection direction);

// A sink that writes formatted lines to a stream, timed from `start_ms`, flushed at once.
class TraceWriter {
  public:
    TraceWriter(std::ostream& out, uint32_t start_ms) : out_(out), start_ms_(start_ms) {}
    void write(TraceDirection direction, uint32_t now_ms, std::span<const uint8_t> bytes);
    TraceSink sink() {
        return [this](TraceDirection direction, uint32_t now_ms, std::span<const uint8_t> bytes) {
            write(direction, now_ms, bytes);
        };
    }

  private:
    std::ostream& out_;
    uint32_t start_ms_;
};

}  // namespace trelvo::sim
