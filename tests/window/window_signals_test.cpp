// The program's signals on a main window: SIGINT is the Cancel button, but never closes the
// window under a run that is winding down; SIGTERM and SIGHUP break a run as Cancel does,
// keep it an automatic run (logged, window closed at its end) and close the window.
#include "window/window_signals.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error_table.h"
#include "tests/window/model_fixture.h"

namespace trelvo {
namespace {

class WindowSignalsTest : public testing::ModelFixture {
  protected:
    void after_tick() override { signals.after_tick(); }

    // Opens the window; with `start`, the run starts (the tester never answers).
    void open(uint32_t command_line_flags, bool start = true) {
        state.command_line_flags = command_line_flags;
        model.initialise();
        if (!start) return;
        // The automatic start waits for the gate; an interactive run starts with OK.
        if (state.automatic_run()) {
            gate.release();
        } else {
            model.ok();
        }
        while (window.run_queued() > 0) {
        }
        ASSERT_TRUE(engine.run_active());
        clock.advance(1000);
    }
    // Ticks until the run has ended.
    void run_out() {
        for (int ticks = 0; ticks < 200 && engine.run_active() && clock.fire_next(); ++ticks) {
        }
    }

    WindowSignals signals{state, engine, model};
};

TEST_F(WindowSignalsTest, SecondCancelWhileTheRunWindsDownLeavesTheWindowOpen) {
    open(CMD_AUTOMATIC);
    signals.handle(SignalRequest::Cancel);
    EXPECT_EQ(engine.run_state, RS_CANCEL);
    signals.handle(SignalRequest::Cancel);
    signals.handle(SignalRequest::Cancel);
    EXPECT_FALSE(model.closed());
    run_out();
    EXPECT_EQ(window.status[2], "Aborted");
    EXPECT_FALSE(model.closed());  // the Cancel button's run is no longer automatic
    signals.handle(SignalRequest::Cancel);
    EXPECT_TRUE(model.closed());
}

struct TerminateCase {
    const char* name;
    uint32_t command_line_flags;
    bool started;
    const char* final_text;
};

class WindowTerminate : public WindowSignalsTest,
                        public ::testing::WithParamInterface<TerminateCase> {};

TEST_P(WindowTerminate, BreaksTheRunKeepsItsKindAndCloses) {
    const TerminateCase& c = GetParam();
    open(c.command_line_flags, c.started);
    signals.handle(SignalRequest::Terminate);
    signals.handle(SignalRequest::Cancel);     // nothing more while the run winds down
    signals.handle(SignalRequest::Terminate);  // nor this
    EXPECT_EQ(model.closed(), !c.started);
    run_out();
    EXPECT_TRUE(model.closed());
    EXPECT_FALSE(engine.run_active());
    EXPECT_TRUE(signals.terminating());
    EXPECT_EQ(state.command_line_flags, c.command_line_flags);
    EXPECT_EQ(state.error_flags & error_bit(ERR_USER_BREAK), error_bit(ERR_USER_BREAK));
    EXPECT_EQ(shared.run_result, c.final_text);
    EXPECT_FALSE(link.pc().is_open());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowTerminate,
    ::testing::Values(TerminateCase{"AutomaticRun", CMD_AUTOMATIC, true, "Aborted"},
                      TerminateCase{"InteractiveRun", 0, true, "Aborted"},
                      TerminateCase{"AutomaticRunNotStartedYet", CMD_AUTOMATIC, false, ""}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace trelvo
