// A table whose steps never talk to the tester runs without a port: to its end, or broken
// off by a step, with no cancel sequence and no return to local operation to send.
#include <gtest/gtest.h>

#include "base/error_table.h"
#include "tests/support/engine_harness.h"

namespace trelvo {
namespace {

StepResult count(Engine&, TransferRecord& record) {
    ++record.processed;
    return SR_NEXT;
}
StepResult cancel(Engine& engine, TransferRecord&) {
    engine.run_state = RS_CANCEL;
    return SR_NEXT;
}

constexpr StepRow counting_steps[] = {{count, "One"}, {count, "Two"}, {nullptr, nullptr}};
constexpr StepRow cancelling_steps[] = {{cancel, "Stop"}, {count, "Never"}, {nullptr, nullptr}};

TEST(PortlessRun, RunsToTheEndOrEndsWhenAStepCancels) {
    for (bool cancelled : {false, true}) {
        SCOPED_TRACE(cancelled ? "cancelled" : "to the end");
        testing::EngineHarness h;
        h.state.command_line_flags = CMD_AUTOMATIC;
        const Operation operation = {OP_UPLOAD_RESULT_LIST,
                                     cancelled ? cancelling_steps : counting_steps, "Test"};
        h.engine.start_run(nullptr, operation);
        ASSERT_TRUE(h.run());
        EXPECT_EQ(h.engine.transfer.processed, cancelled ? 0u : 2u);
        EXPECT_EQ(h.window.status[2], cancelled ? "Aborted" : "Completed");
        EXPECT_EQ(h.state.error_flags, cancelled ? error_bit(ERR_RUN_FAILED) : 0u);
        EXPECT_EQ(h.window.cancels, 1);  // the automatic run closes its window
    }
}

}  // namespace
}  // namespace trelvo
