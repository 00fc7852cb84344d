// The engine's status routines, step lookup and end-of-cycle file handling.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/engine_harness.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using testing::EngineHarness;

struct ElapsedCase {
    uint32_t elapsed_ms;
    const char* shown;
};

class ShowStatusElapsed : public ::testing::TestWithParam<ElapsedCase> {};

TEST_P(ShowStatusElapsed, PartOneShowsMinutesAndSeconds) {
    EngineHarness h;
    h.engine.run_state = RS_RUNNING;
    h.engine.run_start = h.clock.now_ms() - GetParam().elapsed_ms;
    h.engine.show_status("Sending", 0);
    EXPECT_EQ(h.window.status[0], "Sending");
    EXPECT_EQ(h.window.status[1], GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Times, ShowStatusElapsed,
                         ::testing::Values(ElapsedCase{0, "00:00"}, ElapsedCase{999, "00:00"},
                                           ElapsedCase{59'999, "00:59"},
                                           ElapsedCase{60'000, "01:00"},
                                           ElapsedCase{754'000, "12:34"},
                                           ElapsedCase{5'999'999, "99:59"},
                                           ElapsedCase{6'000'000, "100:00"}));

TEST(ShowStatus, ElapsedTimeSurvivesTheTickCounterWrapping) {
    EngineHarness h;
    h.engine.run_state = RS_RUNNING;
    h.engine.run_start = 0xFFFFFFFFu - 4'999;  // 5 s before the wrap
    h.clock.advance_to(0xFFFFFFFFu);
    // Move across the wrap: the clock's own counter wraps in 32 bits as well.
    h.engine.run_start = h.clock.now_ms() - 5'000;
    h.engine.show_status("x", 0);
    EXPECT_EQ(h.window.status[1], "00:05");
}

TEST(ShowStatus, OutsideARunLeavesTheElapsedTimeAlone) {
    EngineHarness h;
    h.window.status[1] = "03:21";
    h.engine.show_status("Completed", 2);
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(h.window.status[1], "03:21");
}

TEST(ClearStatus, EmptiesPartsOneToThreeOnly) {
    EngineHarness h;
    for (int part = 0; part < 4; ++part)
        h.window.status[part] = "text";
    h.engine.clear_status();
    EXPECT_EQ(h.window.status[0], "text");
    EXPECT_EQ(h.window.status[1], "");
    EXPECT_EQ(h.window.status[2], "");
    EXPECT_EQ(h.window.status[3], "");
}

struct FileLineCase {
    std::string label, text, shown;
};

class ShowFileLine : public ::testing::TestWithParam<FileLineCase> {};

TEST_P(ShowFileLine, ShortTextsGoOnTheSecondLine) {
    EngineHarness h;
    h.engine.show_file_line(GetParam().label, GetParam().text);
    EXPECT_EQ(h.window.file_line, GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ShowFileLine,
    ::testing::Values(
        FileLineCase{"Sending", "FIRMWARE.BIN", "\r\nSending FIRMWARE.BIN"},
        // 7 + 28 = 35 characters: still short.
        FileLineCase{"Sending", std::string(28, 'x'), "\r\nSending " + std::string(28, 'x')},
        // 7 + 29 = 36: one line.
        FileLineCase{"Sending", std::string(29, 'x'), "Sending " + std::string(29, 'x')},
        // The 200-character buffer holds 199 characters.
        FileLineCase{"Creating", std::string(400, 'y'), "Creating " + std::string(190, 'y')}));

StepResult a(Engine&, TransferRecord&) {
    return SR_NEXT;
}
StepResult b(Engine&, TransferRecord&) {
    return SR_NEXT;
}
StepResult c(Engine&, TransferRecord&) {
    return SR_NEXT;
}
StepResult absent(Engine&, TransferRecord&) {
    return SR_NEXT;
}
constexpr StepRow lookup_table[] = {
    {a, "a"}, {b, "b"}, {a, "a again"}, {c, "c"}, {nullptr, nullptr}};

struct JumpCase {
    int32_t index;
    StepRoutine routine;
    int32_t offset;
};

class JumpOffset : public ::testing::TestWithParam<JumpCase> {};

TEST_P(JumpOffset, LandsOnTheFirstRowHoldingTheRoutine) {
    EngineHarness h;
    Operation op{OP_FIRMWARE_UPDATE, lookup_table, "Test"};
    h.engine.operation = &op;
    EXPECT_EQ(h.engine.jump_offset(GetParam().index, GetParam().routine), GetParam().offset);
}

INSTANTIATE_TEST_SUITE_P(Rows, JumpOffset,
                         ::testing::Values(JumpCase{3, c, -1},      // itself: runs again
                                           JumpCase{0, c, 2},       // forwards
                                           JumpCase{3, b, -3},      // backwards
                                           JumpCase{2, a, -3},      // first occurrence
                                           JumpCase{1, absent, -1}  // not in the table
                                           ));

// delete_tester_output_file removes the raw result list only for Upload Result List with a
// conversion and without "Norvane Output File", and only when a conversion wrote something.
struct DeleteCase {
    const char* name;
    int selected_operation;
    uint32_t options;
    bool deleted;
    uint32_t outputs_written = 1;
};

class DeleteTesterOutputFile : public ::testing::TestWithParam<DeleteCase> {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("trelvo_delete_" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + GetParam().name);
        fs::create_directories(dir);
        std::ofstream(dir / "RESULT.TXT") << "A01;1\r\n";
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_P(DeleteTesterOutputFile, FollowsTheOutputOptions) {
    EngineHarness h;
    h.window.operation = GetParam().selected_operation;
    h.state.options = GetParam().options;
    TransferRecord record;
    record.directory = dir.string() + "/";
    record.file_name = "RESULT.TXT";
    record.outputs_written = GetParam().outputs_written;
    h.engine.delete_tester_output_file(record);
    EXPECT_EQ(!fs::exists(dir / "RESULT.TXT"), GetParam().deleted);
}

INSTANTIATE_TEST_SUITE_P(
    Options, DeleteTesterOutputFile,
    ::testing::Values(DeleteCase{"ExcelOnly", 3, OPT_EXCEL, true},
                      DeleteCase{"PrintoutOnly", 3, OPT_PRINTOUT, true},
                      DeleteCase{"BothConversions", 3, OPT_EXCEL | OPT_PRINTOUT | OPT_IMEI, true},
                      DeleteCase{"ExcelAndOutputFile", 3, OPT_EXCEL | OPT_OUTPUT_FILE, false},
                      DeleteCase{"OutputFileOnly", 3, OPT_OUTPUT_FILE, false},
                      DeleteCase{"NoOption", 3, 0, false},
                      DeleteCase{"OtherOperation", 2, OPT_EXCEL, false},
                      DeleteCase{"FirmwareUpdate", 0, OPT_PRINTOUT, false},
                      DeleteCase{"NothingConverted", 3, OPT_EXCEL | OPT_IMEI, false, 0}),
    [](const auto& info) { return info.param.name; });

TEST(DeleteTesterOutputFileMissing, AFailureToDeleteIsIgnored) {
    EngineHarness h;
    h.window.operation = 3;
    h.state.options = OPT_EXCEL;
    TransferRecord record;
    record.directory = "/nonexistent/trelvo/";
    record.file_name = "RESULT.TXT";
    record.outputs_written = 1;
    h.engine.delete_tester_output_file(record);  // a failure to delete is not reported
    EXPECT_TRUE(h.window.messages.empty());
}

// A polling cycle ends with SR_CYCLE_DONE: its files are closed, the raw list follows the
// output options, and the file line and progress bar start afresh.
class CycleDone : public ::testing::Test {
  protected:
    static inline fs::path dir;
    static StepResult open_files(Engine& e, TransferRecord& r) {
        r.directory = dir.string() + "/";
        r.file_name = "RESULT.TXT";
        r.file = std::fopen((dir / "RESULT.TXT").c_str(), "w+b");
        r.second_file = std::fopen((dir / "BLOCK.res").c_str(), "w+b");
        r.outputs_written = 2;  // as if the block had been converted
        e.show_file_line("Receiving", "RESULT.TXT");
        e.window.set_progress_position(40);
        return SR_NEXT;
    }
    static StepResult cycle_done(Engine& e, TransferRecord&) {
        e.run_state = RS_ABORTED;  // so the test run ends after the cycle
        return SR_CYCLE_DONE;
    }
    static StepResult cycle(Engine&, TransferRecord&) { return SR_CYCLE_DONE; }
    static StepResult check(Engine& e, TransferRecord& r) {
        files_closed = r.file == nullptr && r.second_file == nullptr;
        auto& window = static_cast<testing::RecordingWindow&>(e.window);
        lines_reset = window.file_line.empty() && window.progress == 0;
        return SR_NEXT;
    }
    static inline bool files_closed = false;
    static inline bool lines_reset = false;

    void SetUp() override {
        dir = fs::temp_directory_path() / "trelvo_cycle_done";
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(CycleDone, ClosesTheCycleFilesAndResetsTheLines) {
    static constexpr StepRow table[] = {
        {open_files, "Open"}, {cycle, "Cycle"}, {check, "Check"}, {nullptr, nullptr}};
    EngineHarness h;
    h.window.operation = 3;
    h.state.options = OPT_EXCEL;
    Operation op{OP_UPLOAD_RESULT_LIST, table, "Upload Result List"};
    h.start(op);
    ASSERT_TRUE(h.run());
    EXPECT_TRUE(files_closed);
    EXPECT_TRUE(lines_reset);
    EXPECT_FALSE(fs::exists(dir / "RESULT.TXT"));  // converted only: the raw list goes
    EXPECT_TRUE(fs::exists(dir / "BLOCK.res"));    // closed, not deleted
    EXPECT_EQ(h.window.status[2], "Completed");
}

TEST_F(CycleDone, KeepsTheRawListWithTheOutputFileOption) {
    static constexpr StepRow table[] = {
        {open_files, "Open"}, {cycle_done, "Cycle"}, {nullptr, nullptr}};
    EngineHarness h;
    h.window.operation = 3;
    h.state.options = OPT_EXCEL | OPT_OUTPUT_FILE;
    Operation op{OP_UPLOAD_RESULT_LIST, table, "Upload Result List"};
    h.start(op);
    ASSERT_TRUE(h.run());
    EXPECT_TRUE(fs::exists(dir / "RESULT.TXT"));
    EXPECT_EQ(h.window.file_line, "");
    EXPECT_EQ(h.window.progress, 0);
}

}  // namespace
}  // namespace trelvo
