// The console window's text: folded message boxes and the progress as a bar or as lines;
// and the loop under it, which must keep its timer going while work posts itself again.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "app/console_window.h"
#include "engine/event_loop.h"

namespace trelvo {
namespace {

struct Folded {
    const char* text;
    const char* line;
};
void PrintTo(const Folded& c, std::ostream* os) {
    *os << c.line;
}

class FoldMessage : public ::testing::TestWithParam<Folded> {};

TEST_P(FoldMessage, LineEndsBecomeSingleBlanks) {
    EXPECT_EQ(fold_message(GetParam().text), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FoldMessage,
    ::testing::Values(Folded{"Invalid Baudrate\n", "Invalid Baudrate"},
                      Folded{"Invalid Port COM5\n/dev/ttyS4: no such device\n",
                             "Invalid Port COM5 /dev/ttyS4: no such device"},
                      Folded{"     Insufficient memory      \n\nExcel default columns selected\n",
                             "Insufficient memory Excel default columns selected"},
                      Folded{"\r\nSending FIRMWARE.BIN", "Sending FIRMWARE.BIN"}, Folded{"", ""}));

TEST(ProgressText, TerminalBarIsRedrawnInPlaceAndEndedOnce) {
    ProgressText bar(true);
    EXPECT_EQ(bar.set_range(0, 10), "");
    EXPECT_EQ(bar.set_position(5), "\r[###############...............] 50%");
    EXPECT_EQ(bar.set_position(5), "");  // nothing new to draw
    bar.set_step(5);
    EXPECT_EQ(bar.step_it(), "\r[##############################] 100%");
    EXPECT_EQ(bar.end_line(), "\n");
    EXPECT_EQ(bar.end_line(), "");
    EXPECT_EQ(bar.set_position(0), "");
}

TEST(ProgressText, ResetAfterADrawnBarEndsTheLine) {
    ProgressText bar(true);
    bar.set_range(0, 100);
    bar.set_position(30);
    EXPECT_EQ(bar.set_position(0), "\n");
}

TEST(ProgressText, ElsewhereEveryTenthGivesOneLine) {
    ProgressText bar(false);
    bar.set_range(0, 200);
    std::string written;
    for (int position = 1; position <= 200; ++position)
        written += bar.set_position(position);
    EXPECT_EQ(written,
              "Progress 0%\nProgress 10%\nProgress 20%\nProgress 30%\nProgress 40%\n"
              "Progress 50%\nProgress 60%\nProgress 70%\nProgress 80%\nProgress 90%\n"
              "Progress 100%\n");
    EXPECT_EQ(bar.end_line(), "");
    EXPECT_EQ(bar.set_position(0), "");
    EXPECT_EQ(bar.set_position(100), "Progress 50%\n");  // a new transfer starts afresh
}

TEST(ProgressText, EmptyRangeShowsNothing) {
    ProgressText bar(false);
    bar.set_range(0, 0);
    EXPECT_EQ(bar.set_position(3), "");
}

// A start command waiting for the scan posts itself again and again; the engine's timer
// and the window's poll must still get their turn.
TEST(ConsoleLoop, WorkThatPostsItselfAgainDoesNotStarveTheTimerOrThePoll) {
    SystemClock clock;
    EventLoop loop(clock);
    int fired = 0, polls = 0, reposts = 0;
    std::function<void()> again = [&] {
        ++reposts;
        loop.post(again);
    };
    loop.set_timer_handler([&](int) { ++fired; });
    loop.post(again);
    loop.arm(25, 20);
    EXPECT_TRUE(loop.run_until([&] { return fired > 0 && polls > 2; }, 2000, [&] { ++polls; }));
    EXPECT_GT(reposts, 1);
}

}  // namespace
}  // namespace trelvo
