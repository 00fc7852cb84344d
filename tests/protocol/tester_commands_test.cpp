// The tester commands and their replies: identification, result status, the mode
// commands, the file choice step, polling, and the autotest directory with its slots.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/error_table.h"
#include "protocol/file_choice.h"
#include "protocol/tester_commands.h"
#include "tests/protocol/protocol_fixture.h"

namespace trelvo {
namespace {

using testing::closing_packet;
using testing::data_packet;
using testing::file_info_packet;
using testing::ProtocolTest;
using testing::RecordingWindow;
using testing::Sent;
using Lines = std::vector<std::string>;

const std::string LOCAL = "SYST:COMM:LOCAL";

class TesterCommands : public ProtocolTest {
  protected:
    // Runs `steps` as an operation of its own.
    void run_steps(const StepRow* steps) {
        operation = Operation{OP_UPLOAD_RESULT_LIST, steps, "Test"};
        h.start(operation);
        ASSERT_TRUE(h.run());
    }
    Operation operation{};
};

struct IdentityCase {
    const char* name;
    std::optional<std::string> reply;
    int32_t model_code;  // the model code before is 71
    const char* shown;
};

class Identity : public TesterCommands, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(Identity, ReplyGivesTheModelCodeAndPartThree) {
    static constexpr StepRow steps[] = {{step_query_identity, "Detect KV70"},
                                        {step_check_identity, "Detect KV70"},
                                        {nullptr, nullptr}};
    h.engine.state.model_code = 71;
    tester.identity = GetParam().reply;
    run_steps(steps);
    EXPECT_EQ(h.wire.output_text().substr(0, 7), "\n*IDN?\n");
    EXPECT_EQ(h.engine.state.model_code, GetParam().model_code);
    EXPECT_EQ(h.window.status[3], GetParam().shown);
    EXPECT_EQ(h.window.status[2], "Completed");  // an unknown tester never stops the run
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Identity,
    ::testing::Values(IdentityCase{"Kv72", "Norvane,72-GSM,V1\r\n", 72, "72-GSM"},
                      IdentityCase{"Kv71", "Norvane,71,V1\n", 71, "71"},
                      IdentityCase{"OtherModel", "Norvane,99 X,V1\n", 99, "Unknown"},
                      IdentityCase{"OneComma", "Norvane,72\n", 71, "Unknown"},
                      IdentityCase{"NoReply", std::nullopt, 71, "Timeout"},
                      // The tester's text is shown with its control bytes made visible
                      IdentityCase{"Escape", "Norvane,72\x1b[2J\x1b]0;x\x07,V1\n", 72,
                                   "72\\x1b[2J\\x1b]0;x\\x07"},
                      IdentityCase{"DeleteAndHigh", "Norvane,71\x7f\x9b\\n,V1\n", 71,
                                   "71\\x7f\\x9b\\\\n"},
                      IdentityCase{"Tab", "Norvane,72\tA,V1\n", 72, "72\\x09A"}),
    [](const auto& info) { return info.param.name; });

TEST_F(TesterCommands, IdentityTimeoutSkipsTheUpdateCommandAndWaitsForTheReceiver) {
    tester.identity = std::nullopt;
    tester.request_on_mode_command = false;
    start_automatic(OP_FIRMWARE_UPDATE, write_file("FW.BIN", pattern(300)));
    EXPECT_FALSE(h.run(10'000));
    EXPECT_EQ(h.window.status[0], "Waiting for receiver");
    EXPECT_EQ(h.window.status[3], "Timeout");
    tester.send("C");
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(tester.lines(), (Lines{"*IDN?", LOCAL}));
    EXPECT_EQ(tester.stored, pattern(300));
}

TEST_F(TesterCommands, IdentifiedTesterGetsTheModeCommandBeforeTheTransfer) {
    struct Case {
        int32_t operation;
        const char* command;
    };
    for (Case c : {Case{OP_FIRMWARE_UPDATE, "SYSTem:STATe:UPLoad:UPDate"},
                   Case{OP_DOWNLOAD_MOBILE_LIST, "SYSTem:STATe:UPLoad:SECTor"}}) {
        tester.sent.clear();
        // The smallest mobile list: a checksum and two empty chains.
        start_automatic(c.operation,
                        write_file("LIST.AUT", std::string(2, '\0') + std::string(8, '\xff')));
        ASSERT_TRUE(h.run());
        EXPECT_EQ(h.window.status[2], "Completed");
        EXPECT_EQ(tester.lines(), (Lines{"*IDN?", c.command, LOCAL}));
    }
}

struct StatusCase {
    const char* name;
    std::optional<std::string> reply;
    const char* final_text;
    const char* shown;
};

class ResultStatus : public TesterCommands, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ResultStatus, NoResultsEndTheRunAborted) {
    static constexpr StepRow steps[] = {{step_query_identity, "Detect KV70"},
                                        {step_check_identity, "Detect KV70"},
                                        {step_query_result_status, "Read testresult status"},
                                        {step_check_result_status, "Read testresult status"},
                                        {nullptr, nullptr}};
    tester.result_status = GetParam().reply;
    run_steps(steps);
    EXPECT_EQ(tester.lines().at(1), "SYSTem:DIRectory:TESTresult:STATe?");
    EXPECT_EQ(h.window.status[2], GetParam().final_text);
    EXPECT_EQ(h.window.status[3], GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ResultStatus,
    ::testing::Values(StatusCase{"Zero", "0,100\n", "Aborted", "72 V3.10"},
                      StatusCase{"Twelve", "12,100\n", "Completed", "72 V3.10"},
                      StatusCase{"BlanksAndSign", "  +7,1\n", "Completed", "72 V3.10"},
                      StatusCase{"NoDigits", "none,1\n", "Aborted", "72 V3.10"},
                      StatusCase{"NoComma", "12\n", "Aborted", "72 V3.10"},
                      StatusCase{"NoReply", std::nullopt, "Completed", "Timeout"}),
    [](const auto& info) { return info.param.name; });

// One result list in turns of the sending tester.
std::vector<std::string> result_list_turns() {
    return {file_info_packet("RESULT.RES", "5 0"), data_packet(1, "A01,1"), "\x04",
            closing_packet()};
}

TEST_F(TesterCommands, ResultListUploadAsksStartsReceivesAndDeletes) {
    h.state.options = OPT_DELETE_ALL;
    h.state.directories[DIR_UL_RESULT] = dir.string();
    std::vector<std::string> turns = result_list_turns();
    tester.turns.assign(turns.begin(), turns.end());
    start(OP_UPLOAD_RESULT_LIST);
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(tester.lines(),
              (Lines{"*IDN?", "SYSTem:DIRectory:TESTresult:STATe?", "SYSTem:STATe:DOWN:TEST ALL_1",
                     "SYSTem:CLEAR:TESTresult ALL", LOCAL}));
    EXPECT_EQ(read_file(dir / "RESULT.RES"), "A01,1");
    EXPECT_EQ(h.state.directories[DIR_UL_RESULT], dir.string() + "/");
}

TEST_F(TesterCommands, PollingSendsNoCommandAndStartsAgainAfterEachList) {
    h.state.options = OPT_POLLING;
    std::vector<std::string> list = result_list_turns();
    std::vector<std::string> turns = list;
    turns.push_back("");  // the PC's last ACK of a list is no request for the next one
    turns.insert(turns.end(), list.begin(), list.end());
    tester.turns.assign(turns.begin(), turns.end());
    bool first_file_closed = false;
    tester.on_sent = [&](const Sent& s) {
        if (s.kind == Sent::Request && tester.turns.size() == 3)
            first_file_closed = h.engine.transfer.file == nullptr;
    };
    start(OP_UPLOAD_RESULT_LIST);
    EXPECT_FALSE(h.run(30'000));
    EXPECT_EQ(tester.sent.front().kind, Sent::Request);
    EXPECT_TRUE(tester.lines().empty());
    EXPECT_TRUE(first_file_closed);
    EXPECT_TRUE(tester.turns.empty());         // two lists were received
    EXPECT_GE(count_sent(Sent::Request), 4u);  // the third cycle asks on and on
    EXPECT_EQ(h.window.status[2], "");         // no "Timeout" while polling
    h.engine.user_break();
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Aborted");
    EXPECT_EQ(read_file(dir / "RESULT.RES"), "A01,1");
}

class SelectFile : public TesterCommands {};

TEST_F(SelectFile, ChosenFileSetsFileLineProgressRangeAndStartTime) {
    std::string content = pattern(1000);
    h.window.file_answers.push_back(write_file("fw/UPDATE.BIN", content));
    std::string file_line;
    tester.on_sent = [&](const Sent& s) {
        if (s.kind == Sent::Packet && s.block() == 0) file_line = h.window.file_line;
    };
    uint32_t start_time = h.clock.now_ms();
    start(OP_FIRMWARE_UPDATE);
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(file_line, "\r\nSending UPDATE.BIN");
    EXPECT_EQ(h.window.progress_high, 8);
    EXPECT_GT(h.engine.run_start, start_time);
    EXPECT_EQ(h.wire.flow_control_changes.front(), false);
    EXPECT_EQ(h.state.directories[DIR_FIRMWARE], (dir / "fw").string() + "/");
}

TEST_F(SelectFile, NoFileOrAnEmptyOneAbortsBeforeAnyModeCommand) {
    for (bool empty_file : {false, true}) {
        tester.sent.clear();
        if (empty_file) h.window.file_answers.push_back(write_file("EMPTY.BIN", ""));
        start(OP_FIRMWARE_UPDATE);
        ASSERT_TRUE(h.run());
        EXPECT_EQ(h.window.status[2], "Aborted");
        EXPECT_EQ(tester.lines(), (Lines{"*IDN?", LOCAL}));
    }
}

// The autotest download with a directory of `entries` autotests.
class Autotest : public TesterCommands {
  protected:
    void run_autotest(size_t entries,
                      std::vector<std::vector<RecordingWindow::AutotestPressing>> presses) {
        for (size_t i = 1; i <= entries; ++i)
            tester.autotests.push_back("Test " + std::to_string(i));
        h.window.file_answers.push_back(write_file("AUTO.DLD", "autotest"));
        h.window.autotest_answers.assign(presses.begin(), presses.end());
        start(OP_DOWNLOAD_AUTOTEST);
        ASSERT_TRUE(h.run());
    }
    Lines queries() const {
        Lines result;
        for (const std::string& line : tester.lines())
            if (line.rfind("SYSTem:DIRectory:AUTotest?", 0) == 0 ||
                line.rfind("SYSTem:CLEar", 0) == 0)
                result.push_back(line);
        return result;
    }
    std::string download_command() const {
        for (const std::string& line : tester.lines())
            if (line.rfind("SYSTem:STATe:UPLoad:AUTotest", 0) == 0) return line;
        return "";
    }
};

TEST_F(Autotest, DirectoryIsReadInPagesOfTen) {
    struct Case {
        size_t entries;
        Lines queries;
    };
    for (const Case& c :
         {Case{10, {"SYSTem:DIRectory:AUTotest? 1", "SYSTem:DIRectory:AUTotest? 11"}},
          Case{25,
               {"SYSTem:DIRectory:AUTotest? 1", "SYSTem:DIRectory:AUTotest? 11",
                "SYSTem:DIRectory:AUTotest? 21"}}}) {
        SCOPED_TRACE(c.entries);
        tester.sent.clear();
        tester.autotests.clear();
        h.window.autotest_lists.clear();
        run_autotest(c.entries, {{{AUTOTEST_NEW}}});
        EXPECT_EQ(queries(), c.queries);
        ASSERT_EQ(h.window.autotest_lists.size(), 1u);
        EXPECT_EQ(h.window.autotest_lists[0].size(), c.entries);
        EXPECT_EQ(h.window.autotest_lists[0].back(), "Test " + std::to_string(c.entries));
        EXPECT_EQ(download_command(),
                  "SYSTem:STATe:UPLoad:AUTotest " + std::to_string(c.entries + 1));
        EXPECT_EQ(h.window.status[2], "Completed");
    }
}

TEST_F(Autotest, ReplaceUsesTheSelectedSlot) {
    run_autotest(3, {{{AUTOTEST_REPLACE, -1}, {AUTOTEST_REPLACE, 1}}});
    EXPECT_EQ(download_command(), "SYSTem:STATe:UPLoad:AUTotest 2");
    ASSERT_EQ(h.window.messages.size(), 1u);
    EXPECT_EQ(h.window.messages[0].text, "Replacement error\n\nNo autotest selected\n");
    EXPECT_EQ(tester.announced_name, "AUTO.DLD");
    EXPECT_EQ(tester.stored, "autotest");
}

TEST_F(Autotest, DeleteClearsTheSlotReadsTheDirectoryAgainAndAsksAgain) {
    run_autotest(3, {{{AUTOTEST_DELETE, 0}}, {{AUTOTEST_NEW}}});
    EXPECT_EQ(queries(), (Lines{"SYSTem:DIRectory:AUTotest? 1", "SYSTem:CLEar:AUTotest 1;*idn?",
                                "SYSTem:DIRectory:AUTotest? 1"}));
    ASSERT_EQ(h.window.autotest_lists.size(), 2u);
    EXPECT_EQ(h.window.autotest_lists[1], (Lines{"Test 2", "Test 3"}));
    EXPECT_EQ(download_command(), "SYSTem:STATe:UPLoad:AUTotest 3");
    EXPECT_EQ(h.window.status[2], "Completed");
}

TEST_F(Autotest, CancelAbortsWithoutDownloadCommand) {
    run_autotest(3, {{{AUTOTEST_CANCEL}}});
    EXPECT_EQ(download_command(), "");
    EXPECT_TRUE(tester.packets.empty());
    EXPECT_EQ(h.window.status[2], "Aborted");
}

TEST_F(Autotest, AutomaticRunTakesANewSlotWithoutTheDialog) {
    tester.autotests = {"A", "B"};
    start_automatic(OP_DOWNLOAD_AUTOTEST, write_file("AUTO.DLD", "autotest"));
    ASSERT_TRUE(h.run());
    EXPECT_TRUE(h.window.autotest_lists.empty());
    EXPECT_EQ(download_command(), "SYSTem:STATe:UPLoad:AUTotest 3");
    EXPECT_EQ(h.window.status[2], "Completed");
}

// Directories far longer than the 3000-byte reply buffer are read whole, and "New" takes
// the slot after the last one listed.
TEST_F(Autotest, LongDirectoryIsReadWholeAndNewTakesTheNextFreeSlot) {
    for (bool automatic : {false, true}) {
        SCOPED_TRACE(automatic ? "automatic" : "dialog");
        tester.sent.clear();
        tester.autotests.clear();
        h.window.autotest_lists.clear();
        for (size_t i = 1; i <= 200; ++i)
            tester.autotests.push_back("Autotest " + std::to_string(i) + " of a long series");
        if (automatic) {
            start_automatic(OP_DOWNLOAD_AUTOTEST, write_file("AUTO.DLD", "autotest"));
            ASSERT_TRUE(h.run());
        } else {
            h.window.file_answers.push_back(write_file("AUTO.DLD", "autotest"));
            h.window.autotest_answers.assign({{{AUTOTEST_NEW}}});
            start(OP_DOWNLOAD_AUTOTEST);
            ASSERT_TRUE(h.run());
            ASSERT_EQ(h.window.autotest_lists.size(), 1u);
            EXPECT_EQ(h.window.autotest_lists[0].size(), 200u);
            EXPECT_EQ(h.window.autotest_lists[0].back(), "Autotest 200 of a long series");
        }
        EXPECT_EQ(queries().size(), 21u);
        EXPECT_EQ(download_command(), "SYSTem:STATe:UPLoad:AUTotest 201");
        EXPECT_EQ(h.window.status[2], "Completed");
    }
}

// A directory that cannot be taken in whole never leads to a slot: no dialog, no download
// command, and the run ends with the reason, as a message box or as the error bit.
TEST_F(Autotest, DirectoryNotTakenInWholeEndsTheRunWithoutAChoice) {
    auto page = [](unsigned first, unsigned lines, bool etx) {
        std::string text;
        for (unsigned slot = first; slot < first + lines; ++slot)
            text +=
                std::to_string(slot) + ",1,2007-03-01,12:00,Test " + std::to_string(slot) + "\n";
        return etx ? text + "\x03\n" : text;
    };
    struct Case {
        const char* what;
        std::function<std::string(unsigned)> directory_page;
        size_t entries;  // of the plain directory, when there is no page script
        size_t queries;
        std::string reason;
    };
    const Case cases[] = {
        {"page without end", [&](unsigned first) { return page(first, 3, false); }, 0, 1,
         "The page from slot 1 did not end within 10 s."},
        {"eleven on a page", [&](unsigned first) { return page(first, 11, true); }, 0, 1,
         "The page from slot 1 lists more than 10 autotests."},
        {"endless directory", [&](unsigned first) { return page(first, 10, true); }, 0, 26,
         "The tester lists more than 255 autotests."},
        {"line without a name", [&](unsigned) { return "1,1,x,y,A\n2,damaged\n3,1,x,y,C\n\x03\n"; },
         0, 1, "Line 2 of 3 names no autotest."},
        {"every slot taken", nullptr, 255, 26, "The tester has no free slot."},
    };
    for (bool automatic : {true, false}) {
        for (const Case& c : cases) {
            // With every slot taken the dialog still opens: Replace and Delete are left.
            if (!automatic && c.entries == AUTOTEST_SLOTS) continue;
            SCOPED_TRACE(std::string(c.what) + (automatic ? ", automatic" : ", dialog"));
            tester.sent.clear();
            tester.autotests.clear();
            for (size_t i = 1; i <= c.entries; ++i)
                tester.autotests.push_back("Test " + std::to_string(i));
            tester.directory_page = c.directory_page;
            h.state.error_flags = 0;
            h.state.error_reasons.clear();
            h.window.messages.clear();
            h.window.autotest_lists.clear();
            if (automatic) {
                start_automatic(OP_DOWNLOAD_AUTOTEST, write_file("AUTO.DLD", "autotest"));
            } else {
                h.state.command_line_flags = 0;
                h.window.file_answers.push_back(write_file("AUTO.DLD", "autotest"));
                h.window.autotest_answers.assign({{{AUTOTEST_NEW}}});
                start(OP_DOWNLOAD_AUTOTEST);
            }
            ASSERT_TRUE(h.run(60'000));
            EXPECT_EQ(h.window.status[2], "Aborted");
            EXPECT_EQ(queries().size(), c.queries);
            EXPECT_EQ(download_command(), "");
            EXPECT_TRUE(tester.packets.empty());
            EXPECT_TRUE(h.window.autotest_lists.empty());
            if (automatic) {
                EXPECT_NE(h.state.error_flags & error_bit(ERR_DIRECTORY_INCOMPLETE), 0u);
                EXPECT_EQ(h.state.error_reasons[ERR_DIRECTORY_INCOMPLETE], c.reason);
            } else {
                ASSERT_EQ(h.window.messages.size(), 1u);
                EXPECT_EQ(h.window.messages[0].text,
                          "Autotest directory incomplete - no slot chosen.\n" + c.reason);
            }
        }
    }
}

}  // namespace
}  // namespace trelvo
