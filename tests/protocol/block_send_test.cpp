// The sending side through whole Firmware Update runs against a scripted receiving tester.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/error_table.h"
#include "tests/protocol/protocol_fixture.h"

namespace trelvo {
namespace {

using testing::ProtocolTest;
using testing::Sent;

const std::string ACK_BYTE = "\x06", NAK_BYTE = "\x15";

class BlockSend : public ProtocolTest {
  protected:
    // Runs a firmware update of `content`; the progress bar as it stood when the closing
    // block went out is kept.
    void send_firmware(const std::string& content, const std::string& name = "FIRMWARE.BIN") {
        tester.on_sent = [this](const Sent& s) {
            if (s.kind == Sent::Packet && s.block() == 0) progress_at_close = h.window.progress;
        };
        start_automatic(OP_FIRMWARE_UPDATE, write_file(name, content));
        ASSERT_TRUE(h.run());
    }
    std::vector<Sent> data_packets() const {
        return {tester.packets.begin() + 1, tester.packets.end() - (ended() ? 1 : 0)};
    }
    bool ended() const { return h.window.status[2] == "Completed"; }
    int progress_at_close = -1;
};

struct SizeCase {
    const char* name;
    size_t size;
    std::vector<uint8_t> headers;  // of the data packets
    size_t last_fill;              // SUB bytes in the last packet
    int progress_range;
};

class BlockSendSizes : public BlockSend, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(BlockSendSizes, FileGoesInLongPacketsThenShortOnesAndArrivesWhole) {
    const SizeCase& c = GetParam();
    std::string content = pattern(c.size);
    send_firmware(content);
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(h.state.error_flags, 0u);
    EXPECT_EQ(tester.stored, content);
    std::vector<Sent> data = data_packets();
    ASSERT_EQ(data.size(), c.headers.size());
    for (size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(static_cast<uint8_t>(data[i].bytes[0]), c.headers[i]);
        EXPECT_EQ(data[i].block(), i + 1);
        EXPECT_EQ(static_cast<uint8_t>(data[i].bytes[2]), 254 - i);
    }
    std::string last = data.back().data();
    EXPECT_EQ(last.substr(last.size() - c.last_fill), std::string(c.last_fill, char(SUB)));
    EXPECT_EQ(h.window.progress_high, c.progress_range);
    EXPECT_EQ(progress_at_close, c.progress_range);
    // The closing block is an empty block 0 whose CRC bytes are both 0.
    EXPECT_EQ(tester.packets.back().bytes, std::string("\x01\x00\xff", 3) + std::string(130, '\0'));
}

INSTANTIATE_TEST_SUITE_P(Files, BlockSendSizes,
                         ::testing::Values(SizeCase{"Size1100", 1100, {STX, SOH}, 52, 9},
                                           SizeCase{"Size2048", 2048, {STX, STX}, 0, 16},
                                           SizeCase{"Size127", 127, {SOH}, 1, 1}),
                         [](const auto& info) { return info.param.name; });

TEST_F(BlockSend, FileInformationNamesTheFileItsSizeAndTimeZero) {
    send_firmware(pattern(1100));
    std::string expected = std::string(
                               "FIRMWARE.BIN\0"
                               "1100 0",
                               19) +
                           std::string(128 - 19, '\0');
    EXPECT_EQ(tester.packets.front().data(), expected);
}

TEST_F(BlockSend, LastPacketOfAFileGoesStraightToEot) {
    send_firmware(pattern(2048));
    // After the second data packet the PC sends EOT, then the closing block.
    std::vector<Sent::Kind> kinds;
    for (const Sent& s : tester.sent)
        if (s.kind != Sent::Line) kinds.push_back(s.kind);
    EXPECT_EQ(kinds, (std::vector<Sent::Kind>{Sent::Packet, Sent::Packet, Sent::Packet, Sent::Eot,
                                              Sent::Packet}));
}

TEST_F(BlockSend, The256thPacketIsNumberedZero) {
    send_firmware(pattern(256 * 1024));
    std::vector<Sent> data = data_packets();
    ASSERT_EQ(data.size(), 256u);
    EXPECT_EQ(data[254].block(), 255);
    EXPECT_EQ(data[255].block(), 0);
    EXPECT_EQ(static_cast<uint8_t>(data[255].bytes[2]), 0xFF);
    EXPECT_EQ(h.window.status[2], "Completed");
}

TEST_F(BlockSend, TenNaksAreRepeatedAndTheEleventhAborts) {
    tester.packet_answers.assign(11, NAK_BYTE);
    send_firmware(pattern(1100));
    std::vector<Sent> data = data_packets();
    ASSERT_EQ(data.size(), 11u);
    for (const Sent& packet : data)
        EXPECT_EQ(packet.bytes, data[0].bytes);
    EXPECT_EQ(h.window.status[2], "Aborted");
    EXPECT_EQ(count_sent(Sent::Can), 0u);  // the tester broke off: no cancel sequence
}

TEST_F(BlockSend, AckAfterNaksGoesOnAndTheNextPacketHasTenRetriesAgain) {
    tester.packet_answers = {NAK_BYTE, NAK_BYTE, NAK_BYTE, ACK_BYTE};
    tester.packet_answers.insert(tester.packet_answers.end(), 10, NAK_BYTE);
    std::string content = pattern(1100);
    std::string nack_shown;
    tester.on_sent = [this, &nack_shown](const Sent& s) {
        if (s.kind == Sent::Packet && s.block() == 1 && tester.packets.size() == 3)
            nack_shown = h.window.status[2];
    };
    start_automatic(OP_FIRMWARE_UPDATE, write_file("FW.BIN", content));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(nack_shown, "NACK");
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(tester.stored, content);
    EXPECT_EQ(data_packets().size(), 4u + 11u);
}

TEST_F(BlockSend, StrayByteAfterAPacketIsIgnoredAndTheAckHonoured) {
    tester.packet_answers = {"?" + ACK_BYTE};
    send_firmware(pattern(1100));
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(data_packets().size(), 2u);
}

struct FailureCase {
    const char* name;
    std::vector<std::string> packet_answers, eot_answers;
    const char* final_text;
    size_t eots;
    uint32_t at_least_ms;  // virtual time the run took at least
};

class BlockSendFailures : public BlockSend, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BlockSendFailures, TesterAnswersEndTheRun) {
    const FailureCase& c = GetParam();
    tester.packet_answers.assign(c.packet_answers.begin(), c.packet_answers.end());
    tester.eot_answers.assign(c.eot_answers.begin(), c.eot_answers.end());
    uint32_t start = h.clock.now_ms();
    send_firmware(pattern(100));
    EXPECT_EQ(h.window.status[2], c.final_text);
    EXPECT_EQ(count_sent(Sent::Eot), c.eots);
    EXPECT_EQ(count_sent(Sent::Can), 0u);
    EXPECT_GE(h.clock.now_ms() - start, c.at_least_ms);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BlockSendFailures,
    ::testing::Values(FailureCase{"CanToAPacket", {"\x18"}, {}, "Aborted", 0, 0},
                      FailureCase{"SilenceAfterAPacket", {""}, {}, "Timeout", 0, 300'000},
                      FailureCase{"NakToEotSendsItAgain", {}, {NAK_BYTE}, "Completed", 2, 0},
                      FailureCase{"ElevenWrongAnswersToEot",
                                  {},
                                  std::vector<std::string>(11, NAK_BYTE),
                                  "Aborted",
                                  11,
                                  0},
                      FailureCase{"SilenceAfterEot", {}, {""}, "Timeout", 1, 1'000}),
    [](const auto& info) { return info.param.name; });

struct ChangedFileCase {
    const char* name;
    std::function<void(const std::string& path)> change;  // once the file information is out
};

class BlockSendChangedFile : public BlockSend,
                             public ::testing::WithParamInterface<ChangedFileCase> {};

// A file whose size is no longer the one announced is broken off with its cause, never
// sent padded, cut short or in a loop.
TEST_P(BlockSendChangedFile, BreaksTheTransferOffAsAChangedFile) {
    std::string path = write_file("CHANGE.BIN", pattern(3000));
    tester.on_sent = [&](const Sent& s) {
        if (s.kind == Sent::Packet && s.block() == 0 && tester.packets.size() == 1)
            GetParam().change(path);
    };
    start_automatic(OP_FIRMWARE_UPDATE, path);
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Aborted");
    EXPECT_EQ(count_sent(Sent::Can), size_t{CANCEL_SEQUENCE_LENGTH});
    EXPECT_EQ(count_sent(Sent::Eot), 0u);
    EXPECT_LT(tester.stored.size(), 3000u);
    EXPECT_EQ(h.state.error_flags, error_bit(ERR_FILE_CHANGED) | error_bit(ERR_RUN_FAILED));
    EXPECT_NE(h.state.error_reasons[ERR_FILE_CHANGED].find("CHANGE.BIN"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, BlockSendChangedFile,
    ::testing::Values(ChangedFileCase{"Shrinks",
                                      [](const std::string& path) {
                                          std::filesystem::resize_file(path, 1000);
                                      }},
                      ChangedFileCase{"Grows",
                                      [](const std::string& path) {
                                          std::ofstream(path, std::ios::binary | std::ios::app)
                                              << std::string(500, 'x');
                                      }}),
    [](const auto& info) { return info.param.name; });

TEST_F(BlockSend, StatusShowsEachPhaseAndThePacketCount) {
    send_firmware(pattern(1100));
    EXPECT_EQ(
        h.window.status_history,
        (std::vector<std::string>{"Detect KV70", "Select Firmware update", "Enable update mode",
                                  "Waiting for receiver", "Sending file information",
                                  "Waiting for receiver", "Packet 1", "Packet 2", "Sending EOT",
                                  "Waiting for receiver", "Close connection", "Idle"}));
}

// lrzsz's rb clears its input just after asking for the transfer; a tester may do the same.
TEST_F(BlockSend, InformationBlockLeavesNoSoonerThanFiftyMillisecondsAfterTheRequest) {
    tester.request_on_mode_command = false;
    start_automatic(OP_FIRMWARE_UPDATE, write_file("FW.BIN", pattern(300)));
    EXPECT_FALSE(h.run(10'000));
    size_t before = h.wire.output.size();
    tester.send("C");
    uint32_t taken = 0, sent = 0;
    for (int ms = 0; ms < 1000 && sent == 0; ++ms) {
        h.clock.advance(1);
        if (taken == 0 && h.wire.input.empty()) taken = h.clock.now_ms();
        if (h.wire.output.size() > before) sent = h.clock.now_ms();
    }
    ASSERT_NE(sent, 0u);
    EXPECT_GE(sent - taken, 50u);
    ASSERT_TRUE(h.run());
    EXPECT_EQ(tester.stored, pattern(300));
}

}  // namespace
}  // namespace trelvo
