#include "tests/support/memory_device.h"

#include <gtest/gtest.h>

namespace trelvo {
namespace {

class MemoryDevice : public ::testing::Test {
  protected:
    VirtualClock clock;
    MemoryLink link{clock};
    MemoryEnd& pc = link.pc();
    MemoryEnd& tester = link.tester();
};

TEST_F(MemoryDevice, DeliversAfterTheLatencyAtTenBitsAByte) {
    link.set_timing({9600, 20});  // 1.04 ms a byte
    tester.send("ABCDEFGHIJ");
    clock.advance(21);
    EXPECT_EQ(pc.readable(), 0u);
    uint32_t start = clock.now_ms();
    pc.wait_readable(100);
    EXPECT_EQ(clock.now_ms() - start, 1u);  // the first byte, done at 1.04 ms plus 20
    clock.advance(8);                       // byte 9 done at 9.4 ms, 10 at 10.4 ms
    EXPECT_EQ(pc.readable(), 9u);
    clock.advance(1);
    EXPECT_EQ(pc.take_received(), "ABCDEFGHIJ");
}

TEST_F(MemoryDevice, HoldsOutputAfterXoffUntilXonWhenFlowControlIsOn) {
    pc.set_output_flow_control(true);
    pc.set_write_capacity(3);
    tester.send("\x13");
    EXPECT_TRUE(pc.held_off());
    EXPECT_EQ(pc.send("abcd"), 3);
    EXPECT_EQ(tester.take_received(), "");
    tester.send("\x11");
    EXPECT_EQ(tester.take_received(), "abc");
    EXPECT_EQ(pc.readable(), 0u);  // XON and XOFF are not data
    tester.send("\x13");
    pc.set_output_flow_control(false);  // releases the held output, like a tty
    pc.set_output_flow_control(true);
    EXPECT_FALSE(pc.held_off());
    pc.set_output_flow_control(false);
    tester.send("\x13");
    EXPECT_EQ(pc.take_received(), "\x13");
}

TEST_F(MemoryDevice, WaitsOnTheVirtualClockUntilTheDeviceIsReady) {
    pc.hold_writes(true);
    clock.schedule(clock.now_ms() + 30, [this] { pc.hold_writes(false); });
    uint32_t start = clock.now_ms();
    pc.wait_writable(100);
    EXPECT_EQ(clock.now_ms() - start, 30u);
    pc.wait_readable(100);
    EXPECT_EQ(clock.now_ms() - start, 130u);
}

TEST_F(MemoryDevice, FailsEverythingOnceLost) {
    tester.lose();
    uint8_t byte = 0;
    EXPECT_EQ(tester.read(&byte, 1), -1);
    EXPECT_EQ(tester.write(&byte, 1), -1);
    EXPECT_FALSE(tester.apply_configuration({}));
    EXPECT_EQ(tester.last_error(), DeviceError::Lost);
}

TEST(MemoryOpener, HandsOutPreparedEndsOnceAtATimeAndFailsTheRest) {
    VirtualClock clock;
    MemoryLink link(clock);
    MemoryOpener opener;
    opener.provide(1, link.pc());
    opener.refuse(2, DeviceError::NoPermission, "/dev/ttyS1: permission denied");
    OpenResult first = opener.open(1);
    ASSERT_NE(first.device, nullptr);
    EXPECT_EQ(opener.open(1).error, DeviceError::Busy);
    first.device.reset();
    EXPECT_EQ(link.pc().close_count(), 1);
    EXPECT_NE(opener.open(1).device, nullptr);
    EXPECT_EQ(opener.open(2).reason, "/dev/ttyS1: permission denied");
    EXPECT_EQ(opener.open(9).error, DeviceError::NoDevice);
    EXPECT_EQ(opener.requests(), (std::vector<uint32_t>{1, 1, 1, 2, 9}));
}

}  // namespace
}  // namespace trelvo
