// The real-time loop behind the console window: timers fire on time, posted work runs.
#include "engine/event_loop.h"

#include <gtest/gtest.h>

#include <thread>

namespace trelvo {
namespace {

TEST(EventLoop, FiresTheArmedTimerAfterItsPeriodOnce) {
    SystemClock clock;
    EventLoop loop(clock);
    int fired = 0, identifier = 0;
    uint32_t fired_at = 0;
    loop.set_timer_handler([&](int id) {
        ++fired;
        identifier = id;
        fired_at = clock.now_ms();
    });
    uint32_t start = clock.now_ms();
    loop.arm(25, 50);
    EXPECT_TRUE(loop.run_until([&] { return fired > 0; }, 2000));
    EXPECT_GE(fired_at - start, 50u);
    EXPECT_EQ(identifier, 25);
    EXPECT_FALSE(loop.armed());
    EXPECT_FALSE(loop.run_until([&] { return fired > 1; }, 120));  // one-shot
}

TEST(EventLoop, KilledTimerDoesNotFire) {
    SystemClock clock;
    EventLoop loop(clock);
    int fired = 0;
    loop.set_timer_handler([&](int) { ++fired; });
    loop.arm(25, 20);
    loop.kill();
    EXPECT_FALSE(loop.run_until([&] { return fired > 0; }, 100));
}

TEST(EventLoop, RunsWorkPostedFromAnotherThread) {
    SystemClock clock;
    EventLoop loop(clock);
    bool ran = false;
    std::thread other([&] { loop.post([&] { ran = true; }); });
    EXPECT_TRUE(loop.run_until([&] { return ran; }, 2000));
    other.join();
}

}  // namespace
}  // namespace trelvo
