// Faults that the fuzzers and the fault soak found, each pinned by the behaviour it broke.
#include <gtest/gtest.h>

#include <string>

#include "base/control_bytes.h"
#include "operations/operation_table.h"
#include "protocol/tester_commands.h"
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

// An automatic Download Autotest from the directory on, with `reply` as the tester's answer
// to the directory query; what the PC sent.
std::string autotest_run_on_directory(const std::string& reply) {
    EngineHarness h;
    h.state.command_line_flags = CMD_AUTOMATIC;
    Operation from_directory = operation_table[4];
    while (from_directory.steps->routine != step_begin_autotest_directory)
        ++from_directory.steps;
    h.start(from_directory);
    while (h.wire.output_text().find('\n') == std::string::npos && h.clock.fire_next()) {
    }
    h.wire.feed(reply);
    h.run(60'000);
    h.engine.user_break();  // the transfer's wait for the receiver has no end of its own
    h.run(60'000);
    return h.wire.output_text();
}

TEST(FoundFaults, AutomaticAutotestDownloadNeverTakesASlotFromADamagedDirectory) {
    const std::string entries = "2,DLD,59,C8DB,DUALBAND FULL\r\n3,DLD,57,F474,QUICK CHECK\r\n";
    const std::string end = "\x03\r\n";
    EXPECT_NE(autotest_run_on_directory("1,DLD,55,50C2,GSM BASIC\r\n" + entries + end)
                  .find("SYSTem:STATe:UPLoad:AUTotest 4\n"),
              std::string::npos);
    // A comma lost on the line: the first entry no longer lists, and "new" would be slot 3.
    EXPECT_EQ(autotest_run_on_directory("1,DLD,5550C2,GSM BASIC\r\n" + entries + end)
                  .find("UPLoad:AUTotest"),
              std::string::npos);
}

}  // namespace
}  // namespace trelvo
