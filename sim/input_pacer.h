// What the PC sends, taken in no sooner than a serial line at the tester's baud rate could
// have carried it. A pseudo-terminal hands a whole packet over at once; a real line takes
// its wire time, and the PC's speed is only honest when measured against that.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace trelvo::sim {

class InputPacer {
  public:
    explicit InputPacer(uint64_t byte_ns) : byte_ns_(byte_ns) {}

    // Bytes handed over by the PC at `now_ns`: each arrives one byte time after the one
    // before it has arrived, or after `now_ns`, whichever is later.
    void arrived(std::span<const uint8_t> bytes, uint64_t now_ns);
    struct Byte {
        uint8_t value;
        uint64_t due_ns;  // when it had arrived whole
    };
    // The next byte that has arrived whole by `now_ns`, if any.
    std::optional<Byte> take_due(uint64_t now_ns);
    bool pending() const { return !queue_.empty(); }

  private:
    uint64_t byte_ns_;
    uint64_t line_free_ns_ = 0;  // when the last byte queued has arrived whole
    std::deque<Byte> queue_;
};

}  // namespace trelvo::sim
