#include <gtest/gtest.h>

#include <string>

#include "tests/serial/port_fixture.h"

namespace trelvo::testing {
namespace {

using ReadRoutines = PortTest;
using ReadLine = PortTest;
using ReadLines = PortTest;
using ReadBlock = PortTest;
using ReadByte = PortTest;

TEST_F(ReadRoutines, ReturnZeroAtOnceWhenNothingWaits) {
    for (int (TesterPort::*routine)() :
         {&TesterPort::read_line, &TesterPort::read_byte, &TesterPort::read_expected_byte,
          &TesterPort::read_block}) {
        port.reply.fill(0x5A);
        uint32_t start = clock.now_ms();
        EXPECT_EQ((port.*routine)(), 0);
        EXPECT_EQ(clock.now_ms(), start);
        EXPECT_EQ(port.reply[0], 0x5A);
    }
    EXPECT_FALSE(port.failed());
}

TEST_F(ReadRoutines, ReturnZeroAndMarkThePortFailedWhenTheDeviceIsLost) {
    pc.lose();
    for (int (TesterPort::*routine)() :
         {&TesterPort::read_line, &TesterPort::read_lines, &TesterPort::read_byte,
          &TesterPort::read_block, &TesterPort::read_expected_byte}) {
        EXPECT_EQ((port.*routine)(), 0);
    }
    EXPECT_TRUE(port.failed());
    EXPECT_EQ(port.failure_text(), "memory:pc: device disconnected");
}

TEST_F(ReadLine, ReturnsWholeLinesWithoutTheirLineEnd) {
    struct Case {
        std::string sent, line;
    } cases[] = {
        {"ABC\r\n", "ABC"},
        {"ABC\n", "ABC"},
        {"\n", ""},
        {std::string(100, 'x') + "\n", std::string(100, 'x')},
    };
    for (const Case& c : cases) {
        tester.send(c.sent);
        EXPECT_EQ(port.read_line(), 1) << c.line;
        EXPECT_EQ(port.reply_line(), c.line);
    }
}

TEST_F(ReadLine, BreaksOffAtTheHundredAndFirstCharacterAndReadsTheTailAsTheNextLine) {
    tester.send(std::string(100, 'x') + "YZ\n");
    EXPECT_EQ(port.read_line(), 0);
    EXPECT_EQ(port.read_line(), 1);
    EXPECT_EQ(port.reply_line(), "Z");
}

TEST_F(ReadLine, GathersALineWhoseBytesFollowWithinAHundredMilliseconds) {
    tester.send("AB");
    send_later(99, "C\n");
    EXPECT_EQ(port.read_line(), 0);
    EXPECT_TRUE(port.receiving());
    EXPECT_EQ(poll(&TesterPort::read_line), 99);
    EXPECT_EQ(port.reply_line(), "ABC");
    EXPECT_FALSE(port.receiving());
}

TEST_F(ReadLine, DropsALineThatStallsForAHundredMilliseconds) {
    tester.send("AB");
    send_later(150, "CD\n");
    EXPECT_EQ(port.read_line(), 0);
    clock.advance(100);
    EXPECT_EQ(port.read_line(), 0);
    EXPECT_FALSE(port.receiving());
    EXPECT_EQ(poll(&TesterPort::read_line), 50);
    EXPECT_EQ(port.reply_line(), "CD");
}

TEST_F(ReadLine, ANewWaitDropsTheLineTheLastOneLeftHalfRead) {
    tester.send("AB");
    EXPECT_EQ(port.read_line(), 0);
    port.begin_wait();
    tester.send("CD\n");
    EXPECT_EQ(port.read_line(), 1);
    EXPECT_EQ(port.reply_line(), "CD");
}

TEST_F(ReadLine, NeverEndsALineOnALineFeedLeftInTheBuffer) {
    port.reply.fill(0x0A);
    EXPECT_EQ(port.read_line(), 0);
    tester.send("AB");
    EXPECT_EQ(port.read_line(), 0);
}

TEST_F(ReadLines, AppendsTextLinesUpToTheEtxLineWhichIsNotStored) {
    port.directory_text = "zero\n";
    port.directory_lines = 1;
    tester.send("one\r\ntwo\n\x03\n");
    EXPECT_EQ(port.read_lines(), 1);
    EXPECT_EQ(port.directory_text, "zero\none\ntwo\n");
    EXPECT_EQ(port.directory_lines, 3u);
}

TEST_F(ReadLines, GathersLinesOverSeveralPollsUpToTheEtxLine) {
    tester.send("one\n");
    send_later(5, "two\n");
    send_later(25, "\x03");
    send_later(45, "\n");
    EXPECT_EQ(poll(&TesterPort::read_lines), 45);
    EXPECT_EQ(port.directory_text, "one\ntwo\n");
    EXPECT_EQ(port.directory_lines, 2u);
}

TEST_F(ReadLines, KeepsEveryLineBeyondTheReplyBuffersSize) {
    port.directory_text = std::string(2990, 'd');
    tester.send("12345678\n\n\x03\n");
    EXPECT_EQ(port.read_lines(), 1);
    EXPECT_EQ(port.directory_text, std::string(2990, 'd') + "12345678\n\n");
    EXPECT_EQ(port.directory_lines, 2u);
    EXPECT_EQ(port.lines_end, TesterPort::LinesEnd::Etx);
}

// A reply asked for with bounds ends on them: one line more than the limit ends it with
// that line unstored, and a reply without its ETX line ends when its time is up.
TEST_F(ReadLines, EndsOnTheLineLimitOrWhenTheTimeIsUp) {
    port.begin_lines(2);
    tester.send("a\nb\nc\n");
    EXPECT_EQ(port.read_lines(), 1);
    EXPECT_EQ(port.lines_end, TesterPort::LinesEnd::TooManyLines);
    EXPECT_EQ(port.directory_text, "a\nb\n");

    port.directory_text.clear();
    port.directory_lines = 0;
    port.begin_lines(10);
    for (uint32_t at = 0; at < LINES_LIMIT_MS; at += 1000)
        send_later(at, "x");  // a byte a second, never a whole line
    EXPECT_EQ(poll(&TesterPort::read_lines, 2 * LINES_LIMIT_MS), static_cast<int>(LINES_LIMIT_MS));
    EXPECT_EQ(port.lines_end, TesterPort::LinesEnd::OutOfTime);
    EXPECT_EQ(port.directory_lines, 0u);
}

TEST_F(ReadByte, ReadsOneByteAndMatchesOnlyTheExpectedOne) {
    tester.send("\x06");
    EXPECT_EQ(port.read_byte(), 1);
    EXPECT_EQ(port.reply[0], 0x06);
    port.expected_byte = 'C';
    tester.send("XC");
    EXPECT_EQ(port.read_expected_byte(), 0);
    EXPECT_EQ(pc.readable(), 1u);  // the other byte is consumed and dropped
    EXPECT_EQ(port.read_expected_byte(), 1);
}

TEST_F(ReadBlock, ReturnsPacketsAndControlBytesWhole) {
    struct Case {
        uint8_t header;
        size_t size;
    } cases[] = {{0x01, 133}, {0x02, 1029}, {0x04, 1}, {0x18, 1}};
    for (const Case& c : cases) {
        std::string packet(c.size, '\x5A');
        packet[0] = static_cast<char>(c.header);
        tester.send(packet + "!");
        EXPECT_EQ(port.read_block(), 1);
        EXPECT_EQ(port.reply[0], c.header);
        EXPECT_EQ(port.reply[c.size - 1], c.size > 1 ? 0x5A : c.header);
        EXPECT_EQ(pc.take_received(), "!");
    }
}

TEST_F(ReadBlock, DropsAStrayByteAndExaminesTheNextOnTheNextPoll) {
    tester.send("Z\x04");
    EXPECT_EQ(port.read_block(), 0);
    EXPECT_EQ(port.read_block(), 1);
    EXPECT_EQ(port.reply[0], 0x04);
}

TEST_F(ReadBlock, RenewsTheSecondForEveryPartThatArrives) {
    tester.send("\x01" + std::string(50, 'a'));
    send_later(1000, std::string(50, 'b'));
    send_later(2000, std::string(32, 'c'));
    EXPECT_EQ(poll(&TesterPort::read_block), 2000);
    EXPECT_EQ(port.reply[0], 0x01);
    EXPECT_EQ(port.reply[132], 'c');
}

TEST_F(ReadBlock, MarksATimeoutWhenThePacketStallsForMoreThanASecond) {
    tester.send("\x02" + std::string(10, 'a'));
    send_later(1500, std::string(1018, 'b'));
    EXPECT_EQ(poll(&TesterPort::read_block), 1001);
    EXPECT_EQ(port.reply[0], TIMEOUT_MARKER);
    EXPECT_FALSE(port.receiving());
}

}  // namespace
}  // namespace trelvo::testing
