// A virtual millisecond clock with a timer pump, so that tests (and the in-process tester
// simulator) run a 300-second wait in microseconds. Time only moves when asked to.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "base/platform.h"

namespace trelvo {

class VirtualClock : public TickCounter {
  public:
    explicit VirtualClock(uint32_t start_ms = 1000) : now_(start_ms) {}

    uint32_t now_ms() override { return now_; }

    // Calls `callback` once when the clock reaches `due_ms`; returns an id for `cancel`.
    int schedule(uint32_t due_ms, std::function<void()> callback);
    void cancel(int id);
    // Due time of the earliest scheduled callback, if any.
    std::optional<uint32_t> next_due() const;

    // Moves the clock forward to `target_ms`, firing every callback that falls due, in
    // order of due time (and of scheduling for equal times), each at its own time.
    void advance_to(uint32_t target_ms);
    void advance(uint32_t ms) { advance_to(now_ + ms); }
    // Jumps to the earliest scheduled callback and fires it; false when none is scheduled.
    bool fire_next();

  private:
    struct Entry {
        int id;
        std::function<void()> callback;
    };
    uint32_t now_;
    int next_id_ = 1;
    std::multimap<uint32_t, Entry> queue_;
};

// The engine timer on a virtual clock: one pending arming at a time.
class VirtualTimer : public EngineTimer {
  public:
    VirtualTimer(VirtualClock& clock, std::function<void(int identifier)> on_tick)
        : clock_(clock), on_tick_(std::move(on_tick)) {}
    ~VirtualTimer() override { kill(); }

    void arm(int identifier, uint32_t period_ms) override;
    void kill() override;
    bool armed() const { return pending_ != 0; }
    int armed_identifier() const { return identifier_; }

  private:
    VirtualClock& clock_;
    std::function<void(int)> on_tick_;
    int pending_ = 0;
    int identifier_ = 0;
};

}  // namespace trelvo
