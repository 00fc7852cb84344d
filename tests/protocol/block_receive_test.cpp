// The receiving side through whole Upload Mobile List runs against a scripted sending
// tester: every turn is what the tester sends after the PC's next answer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/error_table.h"
#include "protocol/block_receive.h"
#include "tests/protocol/protocol_fixture.h"

namespace trelvo {
namespace {

using testing::closing_packet;
using testing::data_packet;
using testing::file_info_packet;
using testing::long_data_packet;
using testing::ProtocolTest;
using testing::Sent;
using Answers = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string EOT_BYTE = "\x04";
const Answers CANCEL_SEQUENCE(CANCEL_SEQUENCE_LENGTH, "CAN");

class BlockReceive : public ProtocolTest {
  protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        fs::create_directory(dir / "in");
        h.state.directories[DIR_UL_MS_TYPE] = (dir / "in").string();
    }
    void receive(std::vector<std::string> turns) {
        tester.turns.assign(turns.begin(), turns.end());
        start(OP_UPLOAD_MOBILE_LIST);
        ASSERT_TRUE(h.run());
    }
    // A whole transfer of `content` (below 1024 bytes a packet, in 128-byte packets).
    static std::vector<std::string> transfer(const std::string& name, const std::string& content) {
        std::vector<std::string> turns{
            file_info_packet(name, std::to_string(content.size()) + " 0")};
        for (size_t at = 0, n = 1; at < content.size(); at += 128, ++n)
            turns.push_back(data_packet(static_cast<uint32_t>(n), content.substr(at, 128)));
        turns.push_back(EOT_BYTE);
        turns.push_back(closing_packet());
        return turns;
    }
    std::string received(const std::string& name) const { return read_file(dir / "in" / name); }
};

TEST_F(BlockReceive, StoresExactlyTheAnnouncedBytesOfLongAndShortPackets) {
    std::string content = pattern(1100);
    int progress_at_end = -1;
    std::string file_line;
    tester.on_sent = [&](const Sent& s) {
        // What the window showed at the latest answer before the end of the run cleared it.
        if (s.kind != Sent::Ack || h.window.file_line.empty()) return;
        progress_at_end = h.window.progress;
        file_line = h.window.file_line;
    };
    receive({file_info_packet("MSLIST.AUT", "1100 0"), long_data_packet(1, content.substr(0, 1024)),
             data_packet(2, content.substr(1024)), EOT_BYTE, closing_packet()});
    EXPECT_EQ(tester.answers(), (Answers{"C", "ACK C", "ACK", "ACK", "ACK C", "ACK"}));
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(received("MSLIST.AUT"), content);
    EXPECT_EQ(h.window.progress_high, 9);
    EXPECT_EQ(progress_at_end, 9);
    EXPECT_EQ(file_line, "\r\nReceiving MSLIST.AUT");
    EXPECT_EQ(h.engine.packet_text, "Close connection");
    EXPECT_EQ(tester.lines().at(1), "SYSTem:STATe:DOWNload:SECTor");
}

struct NameCase {
    const char* test_name;
    std::string sent, created;
};

class ReceivedNames : public BlockReceive, public ::testing::WithParamInterface<NameCase> {};

TEST_P(ReceivedNames, FileIsCreatedUnderItsBareNameInTheReceivingDirectory) {
    receive(transfer(GetParam().sent, "data"));
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(received(GetParam().created), "data");
    // Nothing landed anywhere else.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "in"), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ReceivedNames,
    ::testing::Values(NameCase{"LongNameCutTo12", "ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKL"},
                      NameCase{"ParentDirectory", "../evil.txt", "evil.txt"},
                      NameCase{"AbsolutePath", "/tmp/x/ABS.TXT", "ABS.TXT"},
                      NameCase{"Backslashes", "..\\up\\UP.TXT", "UP.TXT"},
                      NameCase{"DirectoryItself", "..", FALLBACK_RECEIVED_NAME},
                      NameCase{"CurrentDirectory", ".", FALLBACK_RECEIVED_NAME},
                      NameCase{"Empty", "", FALLBACK_RECEIVED_NAME},
                      NameCase{"ControlCharacters",
                               "A\x01\x7f"
                               "B.TXT",
                               "A__B.TXT"}),
    [](const auto& info) { return info.param.test_name; });

// Upload Result List with "Delete All" of 300 bytes in three 128-byte packets (the last
// one with 84 fill bytes), against the size that the file information block announces.
struct SizeCase {
    const char* name;
    std::string size_field;
    const char* final_text;
    uint32_t error_flags;
    bool fill_kept;  // the last packet is stored whole: the size cannot tell data from fill
    bool cleared;    // the tester got the command that deletes its results
};

class AnnouncedSizes : public BlockReceive, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(AnnouncedSizes, OnlyTheWholeListIsClearedInTheTesterAndNoByteIsLost) {
    const SizeCase& c = GetParam();
    std::string content = pattern(300);
    std::vector<std::string> turns = transfer("RESULTS.TXT", content);
    turns.front() = file_info_packet("RESULTS.TXT", c.size_field);
    tester.turns.assign(turns.begin(), turns.end());
    h.state.options = OPT_OUTPUT_FILE | OPT_DELETE_ALL;
    start_automatic(OP_UPLOAD_RESULT_LIST, (dir / "in").string());
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], c.final_text);
    EXPECT_EQ(h.state.error_flags, c.error_flags);
    EXPECT_EQ(received("RESULTS.TXT"), c.fill_kept ? content + std::string(84, '\x1A') : content);
    std::vector<std::string> lines = tester.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "SYSTem:CLEAR:TESTresult ALL"), c.cleared);
    // The closing block is acknowledged whatever it closed.
    EXPECT_EQ(tester.answers().back(), "ACK");
}

constexpr uint32_t INCOMPLETE = error_bit(ERR_TRANSFER_INCOMPLETE) | error_bit(ERR_RUN_FAILED);

INSTANTIATE_TEST_SUITE_P(
    Sizes, AnnouncedSizes,
    ::testing::Values(SizeCase{"Equal", "300 0", "Completed", 0, false, true},
                      // The third packet lies wholly beyond 200 bytes.
                      SizeCase{"Short", "200 0", "Aborted", INCOMPLETE, true, false},
                      SizeCase{"Long", "400 0", "Aborted", INCOMPLETE, true, false},
                      // 2^32 + 300: no longer taken for 300.
                      SizeCase{"Over4GiB", "4294967596 0", "Aborted", INCOMPLETE, true, false},
                      SizeCase{"Missing", "", "Completed", error_bit(ERR_TRANSFER_INCOMPLETE), true,
                               false}),
    [](const auto& info) { return info.param.name; });

TEST_F(BlockReceive, IncompleteTransferIsReportedWithTheCountsInAnInteractiveRun) {
    std::vector<std::string> turns = transfer("SHORT.TXT", pattern(300));
    turns.front() = file_info_packet("SHORT.TXT", "400");
    receive(turns);
    EXPECT_EQ(h.window.status[2], "Aborted");
    ASSERT_EQ(h.window.messages.size(), 1u);
    EXPECT_EQ(h.window.messages[0].text, "Transfer incomplete\n" +
                                             (dir / "in" / "SHORT.TXT").string() +
                                             ": 400 bytes announced, 384 received and kept");
}

TEST_F(BlockReceive, CrcErrorIsAnsweredWithNakAndTheRepeatIsStored) {
    std::string damaged = data_packet(1, "good data");
    std::swap(damaged[131], damaged[132]);
    std::string crc_shown;
    tester.on_sent = [&](const Sent& s) {
        if (s.kind == Sent::Nak) crc_shown = h.window.status[2];
    };
    receive({file_info_packet("CRC.TXT", "9"), damaged, data_packet(1, "good data"), EOT_BYTE,
             closing_packet()});
    EXPECT_EQ(tester.answers(), (Answers{"C", "ACK C", "NAK", "ACK", "ACK C", "ACK"}));
    EXPECT_EQ(crc_shown, "CRC Error");
    EXPECT_EQ(received("CRC.TXT"), "good data");
}

struct SyncCase {
    const char* name;
    std::vector<std::string> turns;
    Answers answers;
    const char* final_text;
    std::string stored;
};

class ReceiveSequence : public BlockReceive, public ::testing::WithParamInterface<SyncCase> {};

TEST_P(ReceiveSequence, BlocksAreJudgedByTheirNumber) {
    const SyncCase& c = GetParam();
    receive(c.turns);
    EXPECT_EQ(tester.answers(), c.answers);
    EXPECT_EQ(h.window.status[2], c.final_text);
    if (fs::exists(dir / "in" / "SEQ.TXT")) {
        EXPECT_EQ(received("SEQ.TXT"), c.stored);
    }
}

Answers with_cancel(Answers answers) {
    answers.insert(answers.end(), CANCEL_SEQUENCE.begin(), CANCEL_SEQUENCE.end());
    return answers;
}

const std::string A(128, 'a'), B(128, 'b');

INSTANTIATE_TEST_SUITE_P(
    Sequences, ReceiveSequence,
    ::testing::Values(
        SyncCase{
            "FirstBlockNumberedOne", {data_packet(1, A)}, with_cancel({"C"}), "Out of sync", ""},
        SyncCase{"RepeatOfTheAcceptedPacketIsAcknowledgedAndNotStoredTwice",
                 {file_info_packet("SEQ.TXT", "256"), data_packet(1, A), data_packet(1, A),
                  data_packet(2, B), EOT_BYTE, closing_packet()},
                 {"C", "ACK C", "ACK", "ACK", "ACK", "ACK C", "ACK"},
                 "Completed",
                 A + B},
        SyncCase{"RepeatedInformationBeforeEotIsNoClosingBlock",
                 {file_info_packet("SEQ.TXT", "128"), file_info_packet("SEQ.TXT", "128"),
                  data_packet(1, A), EOT_BYTE, closing_packet()},
                 {"C", "ACK C", "ACK C", "ACK", "ACK C", "ACK"},
                 "Completed",
                 A},
        SyncCase{"BlockZeroBeforeEotIsOutOfSync",
                 {file_info_packet("SEQ.TXT", "256"), data_packet(1, A), data_packet(2, B),
                  closing_packet()},
                 with_cancel({"C", "ACK C", "ACK", "ACK"}),
                 "Out of sync",
                 A + B},
        SyncCase{"SkippedPacketIsOutOfSync",
                 {file_info_packet("SEQ.TXT", "256"), data_packet(2, B)},
                 with_cancel({"C", "ACK C"}),
                 "Out of sync",
                 ""},
        SyncCase{"CancelFromTheTester",
                 {file_info_packet("SEQ.TXT", "256"), "\x18"},
                 {"C", "ACK C"},
                 "Aborted",
                 ""}),
    [](const auto& info) { return info.param.name; });

TEST_F(BlockReceive, BlockZeroAfter255PacketsIsDataAndAfterEotTheClosingBlock) {
    // 257 packets: number 0 is data; exactly 255: the next block numbered 0 closes.
    for (size_t packets : {257u, 255u}) {
        SCOPED_TRACE(packets);
        tester.sent.clear();
        std::string content = pattern(packets * 128);
        receive(transfer("MANY.TXT", content));
        EXPECT_EQ(h.window.status[2], "Completed");
        EXPECT_EQ(received("MANY.TXT"), content);
        EXPECT_EQ(tester.answers().size(), 1u + 1u + packets + 2u);
    }
}

TEST_F(BlockReceive, PacketStallingInsideIsAnsweredWithNakAndSentAgain) {
    std::string packet = data_packet(1, "abc");
    receive({file_info_packet("STALL.TXT", "3"), packet.substr(0, 50), packet, EOT_BYTE,
             closing_packet()});
    EXPECT_EQ(tester.answers(), (Answers{"C", "ACK C", "NAK", "ACK", "ACK C", "ACK"}));
    EXPECT_EQ(received("STALL.TXT"), "abc");
}

struct SilenceCase {
    const char* name;
    uint32_t options;
    const char* shown;
};

class SilenceBeforeTheFirstBlock : public BlockReceive,
                                   public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(SilenceBeforeTheFirstBlock, AsksAgainAfterFiveSeconds) {
    h.state.options = GetParam().options;
    std::vector<uint32_t> requests;
    std::string shown = "unset";
    tester.on_sent = [&](const Sent& s) {
        if (s.kind != Sent::Request) return;
        requests.push_back(h.clock.now_ms());
        if (requests.size() == 2) shown = h.window.status[2];
    };
    start(OP_UPLOAD_RESULT_LIST);
    EXPECT_FALSE(h.run(12'000));
    ASSERT_GE(requests.size(), 2u);
    EXPECT_GT(requests[1] - requests[0], 5'000u);
    EXPECT_LT(requests[1] - requests[0], 5'200u);
    EXPECT_EQ(shown, GetParam().shown);
    h.engine.user_break();
    ASSERT_TRUE(h.run());
}

INSTANTIATE_TEST_SUITE_P(Modes, SilenceBeforeTheFirstBlock,
                         ::testing::Values(SilenceCase{"Single", 0, "Timeout"},
                                           SilenceCase{"Polling", OPT_POLLING, ""}),
                         [](const auto& info) { return info.param.name; });

struct FallbackCase {
    const char* name;
    bool automatic;
    bool current_directory_blocked;
    std::vector<std::string> messages;
    uint32_t error_flags;
    const char* final_text;
};

class ReceiveFallback : public BlockReceive, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(ReceiveFallback, UnwritableDirectoryFallsBackToTheCurrentOne) {
    const FallbackCase& c = GetParam();
    std::string missing = (dir / "missing").string();
    h.state.directories[DIR_UL_MS_TYPE] = missing;
    if (c.automatic) {
        h.state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
        h.state.command_line_path = missing;
    }
    if (c.current_directory_blocked) fs::create_directory(dir / "LIST.AUT");
    receive(transfer("LIST.AUT", "list"));
    std::vector<std::string> shown;
    for (const auto& m : h.window.messages) {
        shown.push_back(m.text);
        EXPECT_EQ(m.icon, MessageIcon::Error);
    }
    EXPECT_EQ(shown, c.messages);
    EXPECT_EQ(h.state.error_flags, c.error_flags);
    EXPECT_EQ(h.window.status[2], c.final_text);
    if (c.current_directory_blocked) {
        EXPECT_EQ(tester.answers(), with_cancel({"C"}));
        return;
    }
    EXPECT_EQ(read_file(dir / "LIST.AUT"), "list");
    EXPECT_EQ(c.automatic ? h.state.command_line_path : h.state.directories[DIR_UL_MS_TYPE], "");
}

const std::string MOVED =
    "Invalid pathname or file is write Protected\n\nFile is stored in the program directory.\n";
const std::string REFUSED = "Invalid filename or file is write protected\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, ReceiveFallback,
    ::testing::Values(FallbackCase{"Interactive", false, false, {MOVED}, 0, "Completed"},
                      FallbackCase{
                          "Automatic", true, false, {}, error_bit(ERR_RECEIVE_BARE), "Completed"},
                      FallbackCase{"InteractiveNowhere",
                                   false,
                                   true,
                                   {MOVED, REFUSED},
                                   error_bit(ERR_RUN_FAILED),
                                   "Aborted"},
                      FallbackCase{"AutomaticNowhere",
                                   true,
                                   true,
                                   {},
                                   error_bit(ERR_RECEIVE_BARE) | error_bit(ERR_RECEIVE_FILE) |
                                       error_bit(ERR_RUN_FAILED),
                                   "Aborted"}),
    [](const auto& info) { return info.param.name; });

// Files may grow to `bytes` only while it lives; writing past that fails with EFBIG.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, old_handler_);
    }

  private:
    rlimit saved_{};
    sighandler_t old_handler_;
};

TEST_F(BlockReceive, FailedWriteEndsTheRunInsteadOfCompleting) {
    for (bool automatic : {false, true}) {
        SCOPED_TRACE(automatic ? "automatic" : "interactive");
        h.state.error_flags = 0;
        h.window.messages.clear();
        h.state.command_line_flags = automatic ? CMD_AUTOMATIC : 0;
        tester.sent.clear();
        std::string content = pattern(1100);
        {
            FileSizeLimit limit(1000);
            receive(transfer("FULL.TXT", content));
        }
        EXPECT_EQ(h.window.status[2], "Aborted");
        EXPECT_EQ(tester.answers(),
                  with_cancel({"C", "ACK C", "ACK", "ACK", "ACK", "ACK", "ACK", "ACK", "ACK"}));
        if (automatic) {
            EXPECT_TRUE(h.window.messages.empty());
            EXPECT_EQ(h.state.error_flags, error_bit(ERR_WRITE_FAILED) | error_bit(ERR_RUN_FAILED));
            EXPECT_NE(h.state.error_reasons[ERR_WRITE_FAILED].find("FULL.TXT"), std::string::npos);
        } else {
            ASSERT_EQ(h.window.messages.size(), 1u);
            EXPECT_EQ(h.window.messages[0].text.rfind(
                          "Write error - disk full or file too large.\nFile too large", 0),
                      0u);
        }
    }
}

}  // namespace
}  // namespace trelvo
