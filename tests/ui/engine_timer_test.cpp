// The engine's timer on the window's event loop: a wait ends the moment the serial device
// has input, and a killed or re-armed timer no longer watches it.
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "base/codes.h"
#include "ui/engine_timer.h"

namespace trelvo::ui::testing {
namespace {

class EngineTimerWake : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::pipe(ends), 0); }
    void TearDown() override {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    void send_byte() { ASSERT_EQ(::write(ends[1], "x", 1), 1); }

    int ends[2] = {-1, -1};
    EngineTimerQt timer;
    std::vector<int> fired;
};

TEST_F(EngineTimerWake, FiresAtOnceWhenInputArrivesThenStopsWatching) {
    timer.set_handler([&](int identifier) { fired.push_back(identifier); });
    timer.arm_or_wake(WE_BLOCK, 5000, WakeOn{ends[0], false});
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(20, [&] { send_byte(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fired.empty(); }, 2000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(fired, std::vector<int>{WE_BLOCK});
    // The byte is still unread: a plain arming and a killed one must not fire on it.
    timer.arm(WE_STEP, 100);
    QTest::qWait(50);
    EXPECT_EQ(fired.size(), 1u);
    timer.kill();
    QTest::qWait(150);
    EXPECT_EQ(fired.size(), 1u);
}

TEST_F(EngineTimerWake, KeepsToThePeriodWhileNothingArrives) {
    timer.set_handler([&](int identifier) { fired.push_back(identifier); });
    timer.arm_or_wake(WE_LINE, 50, WakeOn{ends[0], false});
    QTest::qWait(20);
    EXPECT_TRUE(fired.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fired.empty(); }, 2000));
    EXPECT_EQ(fired, std::vector<int>{WE_LINE});
}

}  // namespace
}  // namespace trelvo::ui::testing
