// The real-time loop behind the console window: timers fire on time, posted work runs.
#include "engine/event_loop.h"

#include "base/codes.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(EventLoop, ArmedWaitFiresAsSoonAsItsDescriptorHasInput) {
    SystemClock clock;
    EventLoop loop(clock);
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    int fired = 0;
    loop.set_timer_handler([&](int) { ++fired; });
    loop.arm_or_wake(WE_LINE, 5000, WakeOn{pipe_ends[0], false});
    uint32_t start = clock.now_ms();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(::write(pipe_ends[1], "x", 1), 1);
    });
    EXPECT_TRUE(loop.run_until([&] { return fired > 0; }, 2000));
    writer.join();
    EXPECT_LT(clock.now_ms() - start, 1000u);
    // A plain arming forgets the descriptor: the unread byte does not fire it early.
    loop.arm(WE_LINE, 200);
    EXPECT_FALSE(loop.run_until([&] { return fired > 1; }, 100));
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
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
