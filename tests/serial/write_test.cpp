#include <gtest/gtest.h>

#include <string>

#include "tests/serial/port_fixture.h"

namespace trelvo::testing {
namespace {

using Write = PortTest;
using PollWrite = PortTest;
using OutputFlowControl = PortTest;
using ReturnToLocal = PortTest;

TEST_F(Write, ReturnsTheNextResultWhenTheDeviceTakesEverythingAtOnce) {
    const uint8_t block[] = {0x01, 0x00, 0xFF};
    EXPECT_EQ(port.write_block(block, sizeof block, SR_WAIT_BYTE), SR_WAIT_BYTE);
    EXPECT_EQ(port.write_block(block, 1, SR_NEXT), SR_NEXT);
    EXPECT_EQ(port.write_command("*IDN?\n", SR_WAIT_LINE), SR_WAIT_LINE);
    EXPECT_EQ(tester.take_received(), std::string("\x01\x00\xFF\x01*IDN?\n", 10));
    EXPECT_FALSE(port.write_pending());
}

TEST_F(Write, NothingFollowsACommandLineWithinFiftyMilliseconds) {
    EXPECT_EQ(port.write_command("*IDN?\n", SR_WAIT_LINE), SR_WAIT_LINE);
    EXPECT_EQ(port.write_hold_ms(), 50u);
    const uint8_t can[] = {0x18};
    EXPECT_EQ(port.write_block(can, 1, SR_WAIT_BYTE), SR_WRITE_PENDING);
    clock.advance(49);
    EXPECT_EQ(port.write_hold_ms(), 1u);
    EXPECT_EQ(port.poll_write(), SR_WRITE_BUSY);
    EXPECT_EQ(tester.take_received(), "*IDN?\n");
    clock.advance(1);
    EXPECT_EQ(port.poll_write(), SR_WAIT_BYTE);
    EXPECT_EQ(tester.take_received(), "\x18");
    EXPECT_EQ(port.write_hold_ms(), 0u);
}

TEST_F(Write, FailsWhenTheDeviceRefusesTheWrite) {
    pc.fail_writes(true);
    EXPECT_EQ(port.write_command("*IDN?\n", SR_WAIT_LINE), SR_WRITE_FAILED);
    EXPECT_TRUE(port.failed());
    EXPECT_EQ(port.failure_text(), "memory:pc: write refused");
}

TEST_F(Write, ANewWriteDropsTheRestOfAnAbandonedOne) {
    pc.hold_writes(true);
    EXPECT_EQ(port.write_command("old", SR_NEXT), SR_WRITE_PENDING);
    pc.hold_writes(false);
    EXPECT_EQ(port.write_command("new", SR_WAIT_BYTE), SR_WAIT_BYTE);
    EXPECT_EQ(port.poll_write(), SR_WAIT_BYTE);
    EXPECT_EQ(tester.take_received(), "new");
}

TEST_F(PollWrite, IsBusyUntilTheDeviceHasTakenTheRestThenGivesTheKeptResult) {
    pc.set_output_flow_control(true);
    pc.set_write_capacity(4);
    tester.send("\x13");
    EXPECT_EQ(port.write_command("SYST:STAT?\n", SR_WAIT_LINE), SR_WRITE_PENDING);
    EXPECT_TRUE(port.write_pending());
    EXPECT_EQ(port.poll_write(), SR_WRITE_BUSY);
    EXPECT_EQ(pc.queued_output(), 4u);
    EXPECT_EQ(tester.take_received(), "");
    tester.send("\x11");
    EXPECT_EQ(port.poll_write(), SR_WAIT_LINE);
    EXPECT_FALSE(port.write_pending());
    EXPECT_EQ(tester.take_received(), "SYST:STAT?\n");
}

TEST_F(PollWrite, FailsWhenTheDeviceFailsDuringThePendingWrite) {
    pc.hold_writes(true);
    EXPECT_EQ(port.write_command("abc", SR_NEXT), SR_WRITE_PENDING);
    pc.lose();
    EXPECT_EQ(port.poll_write(), SR_WRITE_FAILED);
    EXPECT_FALSE(port.write_pending());
    EXPECT_EQ(port.failure_text(), "memory:pc: device disconnected");
}

TEST_F(PollWrite, SendsNothingMoreAfterTheWriteWasReleased) {
    pc.hold_writes(true);
    EXPECT_EQ(port.write_command("abc", SR_WAIT_LINE), SR_WRITE_PENDING);
    port.release_write_event();
    pc.hold_writes(false);
    EXPECT_FALSE(port.write_pending());
    EXPECT_EQ(port.poll_write(), SR_NEXT);
    EXPECT_EQ(tester.take_received(), "");
}

TEST_F(OutputFlowControl, PurgesTheInputThenSwitches) {
    tester.send("stale");
    for (bool on : {true, false}) {
        port.set_output_flow_control(on);
        EXPECT_EQ(pc.output_flow_control(), on);
        EXPECT_EQ(pc.readable(), 0u);
    }
    EXPECT_EQ(pc.purge_count(), 2);
}

TEST_F(ReturnToLocal, SendsTheLocalCommandWithFlowControlOffAndSwitchesItBackOn) {
    pc.apply_configuration(LineSettings{});
    tester.send("\x13");  // the tester holds us off; the command goes out all the same
    port.return_to_local();
    EXPECT_EQ(tester.take_received(), "\nSYST:COMM:LOCAL\n");
    EXPECT_TRUE(pc.output_flow_control());
    EXPECT_EQ(pc.purge_count(), 2);
}

TEST_F(ReturnToLocal, GivesUpTheCommandAfterTwoSecondsWhenItCannotLeave) {
    pc.hold_writes(true);
    uint32_t start = clock.now_ms();
    port.return_to_local();
    EXPECT_EQ(elapsed_since(start), 2000u);
    EXPECT_FALSE(port.write_pending());
    EXPECT_TRUE(pc.output_flow_control());
}

}  // namespace
}  // namespace trelvo::testing
