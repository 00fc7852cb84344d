// Faults that the fuzzers and the fault soak found, each pinned by the behaviour it broke.
#include <gtest/gtest.h>

#include <string>

#include "protocol/control_bytes.h"
#include "tests/support/engine_harness.h"

namespace trelvo {
namespace {

using testing::EngineHarness;

// Waits for a block with a soft one-second timeout and runs again after every wait, as the
// receiving step does while a tester stays silent.
StepResult wait_block_again(Engine& engine, TransferRecord&) {
    engine.wait_timeout = 1;
    engine.step_index -= 1;
    return SR_WAIT_BLOCK;
}
constexpr StepRow silent_rows[] = {{wait_block_again, "Waiting"}, {nullptr, nullptr}};
constexpr Operation silent_operation = {OP_UPLOAD_MOBILE_LIST, silent_rows, "Silent"};

TEST(FoundFaults, CancelEndsASoftWaitEvenInTheTickItsDeadlinePasses) {
    // Cancel pressed at every tick of a wait, the last one included: the expiring deadline
    // used to overwrite the Cancel and the wait began again.
    for (uint32_t pressed_after = 0; pressed_after <= 1100; pressed_after += 50) {
        EngineHarness h;
        h.start(silent_operation);
        EXPECT_FALSE(h.run(pressed_after));
        h.engine.user_break();
        ASSERT_TRUE(h.run(10'000)) << "Cancel after " << pressed_after << " ms";
        EXPECT_EQ(h.window.status[2], "Aborted") << pressed_after;
        EXPECT_EQ(h.wire.output_text().substr(0, CANCEL_SEQUENCE_LENGTH),
                  std::string(CANCEL_SEQUENCE_LENGTH, char(CAN)));
    }
}

}  // namespace
}  // namespace trelvo
