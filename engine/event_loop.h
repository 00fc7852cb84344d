// Real time for the frontends without a toolkit (the console window) and for real-time
// tests: a steady millisecond clock and a single-threaded loop that fires the engine timer
// and runs posted work, sleeping in between (in poll on the serial device while a wait may
// end early).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "base/platform.h"

namespace trelvo {

// What the program's signals ask, as their handler writes them into its self-pipe, one byte
// per signal: SIGINT is the Cancel button; SIGTERM and SIGHUP ask the program to end.
enum class SignalRequest { None, Cancel, Terminate };
inline constexpr char CANCEL_SIGNAL_BYTE = 'c';
inline constexpr char TERMINATE_SIGNAL_BYTE = 't';

// Reads every byte waiting on `fd` (the self-pipe's non-blocking read end) and returns the
// weightiest request among them; None when nothing was waiting or `fd` is -1.
SignalRequest take_signal_requests(int fd);

// Milliseconds of the monotonic clock, wrapping in 32 bits.
class SystemClock : public TickCounter {
  public:
    uint32_t now_ms() override;
};

class EventLoop : public EngineTimer {
  public:
    explicit EventLoop(TickCounter& clock) : clock_(clock) {}

    // What the armed timer calls: normally Engine::tick.
    void set_timer_handler(std::function<void(int identifier)> handler) {
        handler_ = std::move(handler);
    }
    void arm(int identifier, uint32_t period_ms) override;
    void arm_or_wake(int identifier, uint32_t period_ms, WakeOn wake) override;
    void kill() override { armed_ = false; }
    bool armed() const { return armed_; }

    // Queues work for the loop's thread; safe to call from any thread (a signal handler
    // must not: it writes into a pipe that `watch` looks at instead).
    void post(std::function<void()> work);

    // Calls `ready` on the loop's thread whenever `fd` has input, also while the loop
    // sleeps; -1 watches nothing.
    void watch(int fd, std::function<void()> ready) {
        watched_fd_ = fd;
        watched_ready_ = std::move(ready);
    }

    // Runs timers and posted work until `done()` holds or `limit_ms` passed; true when
    // done. `poll` (optional) runs on every pass, at least every 10 ms.
    bool run_until(const std::function<bool()>& done, uint32_t limit_ms,
                   const std::function<void()>& poll = {});

  private:
    bool run_due();
    // Sleeps at most `ms`; true when the armed wake descriptor became ready meanwhile.
    bool sleep_or_wake(uint32_t ms);

    TickCounter& clock_;
    std::function<void(int)> handler_;
    bool armed_ = false;
    int identifier_ = 0;
    uint32_t due_ = 0;
    WakeOn wake_;
    int watched_fd_ = -1;
    std::function<void()> watched_ready_;
    std::mutex posted_mutex_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace trelvo
