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

TEST_F(Write, TheQuietAfterACommandLineBeginsWhenItsLastByteHasLeftTheWire) {
    link.set_timing({4800, 0});  // "*IDN?\n" takes 12.5 ms on the wire
    for (bool held_off : {false, true}) {
        SCOPED_TRACE(held_off ? "tester holds us off for 100 ms" : "line free");
        pc.set_output_flow_control(held_off);
        if (held_off) {
            tester.send("\x13");
            clock.advance(5);
            send_later(100, "\x11");
        }
        ASSERT_EQ(port.write_command("*IDN?\n", SR_WAIT_LINE), SR_WAIT_LINE);
        const uint8_t can[] = {0x18};
        StepResult result = port.write_block(can, 1, SR_NEXT);
        uint32_t lf_at = 0, can_at = 0;
        for (int ms = 0; ms < 1000 && can_at == 0; ++ms) {
            if (result != SR_NEXT) result = port.poll_write();
            clock.advance(1);
            for (char c : tester.take_received()) {
                if (c == '\n') lf_at = clock.now_ms();
                if (c == 0x18) can_at = clock.now_ms();
            }
        }
        ASSERT_NE(lf_at, 0u);
        ASSERT_NE(can_at, 0u);
        EXPECT_GE(can_at - lf_at, 50u);
    }
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

TEST_F(ReturnToLocal, SendsTheRestOfAHeldBackCancelSequenceFirst) {
    pc.apply_configuration(LineSettings{});
    pc.set_write_capacity(4);
    tester.send("\x13");
    const std::string cancel(8, '\x18');
    EXPECT_EQ(
        port.write_block(reinterpret_cast<const uint8_t*>(cancel.data()), cancel.size(), SR_NEXT),
        SR_WRITE_PENDING);
    port.return_to_local();
    EXPECT_EQ(tester.take_received(), cancel + "\nSYST:COMM:LOCAL\n");
}

TEST_F(ReturnToLocal, GivesUpTheCommandAfterTwoSecondsWhenItCannotLeave) {
    pc.hold_writes(true);
    // Should the limit fail, the line frees itself later and the time shows it.
    clock.schedule(clock.now_ms() + 10'000, [this] { pc.hold_writes(false); });
    uint32_t start = clock.now_ms();
    port.return_to_local();
    EXPECT_EQ(elapsed_since(start), 2000u);
    EXPECT_FALSE(port.write_pending());
    EXPECT_TRUE(pc.output_flow_control());
}

}  // namespace
}  // namespace trelvo::testing
