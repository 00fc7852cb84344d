// Wire time of the simulated line: the tick counter widened to a steady count of
// nanoseconds (the counter itself is 32 bits of milliseconds and wraps), and the time one
// byte takes at a baud rate (10 bits: start, 8 data, stop).
#pragma once

#include <cstdint>

#include "base/platform.h"

namespace trelvo::sim {

class WideClock {
  public:
    explicit WideClock(TickCounter& clock) : clock_(clock) {}

    uint64_t now_ns() {
        uint32_t now = clock_.now_ms();
        if (!started_) {
            started_ = true;
            last_ms_ = now;
            epoch_ns_ = static_cast<uint64_t>(now) * 1'000'000;
        }
        epoch_ns_ += static_cast<uint64_t>(static_cast<uint32_t>(now - last_ms_)) * 1'000'000;
        last_ms_ = now;
        return epoch_ns_;
    }

  private:
    TickCounter& clock_;
    uint32_t last_ms_ = 0;
    uint64_t epoch_ns_ = 0;
    bool started_ = false;
};

// Nanoseconds a byte takes on the wire; 0 (no pacing) at baud 0.
inline uint64_t byte_time_ns(uint32_t baud) {
    return baud == 0 ? 0 : 10'000'000'000ull / baud;
}

}  // namespace trelvo::sim
