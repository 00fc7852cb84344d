#include "results/conversion_steps.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/error_table.h"
#include "engine/engine.h"
#include "engine/virtual_clock.h"
#include "settings/builtin_tables.h"
#include "tests/results/file_size_limit.h"
#include "tests/results/recording_printer.h"
#include "tests/results/test_files.h"
#include "tests/support/recording_window.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using testing::FilePtr;
using testing::read_file;

constexpr const char* RESULT_LIST = "A01;09:14:37,12.03.2024,0\r\nA10;1\r\n";
constexpr const char* BLOCK = "A01;10:47:19,12.03.2024,1\r\nA10;0\r\n";

const std::string HEADER_START = ";;Time;Date;Result;";

const char* const EXCEL_BARE_MESSAGE =
    "Excel File: Invalid pathname or file is write Protected\n\n      File is "
    "stored in the "
    "program directory.\n";
const char* const EXCEL_FAILED_MESSAGE =
    "Invalid filename or file is write protected\n\nConversion into Excel "
    "Format canceled\n";
const char* const PRINTOUT_BARE_MESSAGE =
    "Printout File: Invalid pathname or file is write Protected\n\n       File "
    "is stored in the "
    "program directory.\n";
const char* const PRINTOUT_FAILED_MESSAGE =
    "Invalid filename or file is write protected\n\nConversion into Printout "
    "Format canceled\n";

// An engine on a recording window and a virtual clock, in a scratch current
// directory with an output directory "out/"; the received result list is open
// as the run's file.
class ConversionStep : public ::testing::Test {
  protected:
    ConversionStep() : timer_(clock_, [](int) {}), engine_(state_, window_, clock_, timer_) {
        set_builtin_definitions(state_);
        state_.printout_start.entries = {"Report {A01-1}"};
        state_.printout_middle.entries = {{10, "Call {A10-1T10}"}};
        state_.printout_end.entries = {"End {A01-2}"};
        fs::create_directory("out");
        record().directory = "out/";
        open_received("RESULT.RES", RESULT_LIST);
    }

    TransferRecord& record() { return engine_.transfer; }

    void open_received(const std::string& name, std::string_view content) {
        close_file(record().file);
        record().file_name = name;
        record().file = open_with(record().directory + name, content);
    }

    void open_block(const std::string& name, std::string_view content, SplitState state) {
        close_file(record().second_file);
        record().imei.block_name = name;
        record().imei.state = state;
        record().second_file = open_with(record().directory + name, content);
    }

    static std::FILE* open_with(const std::string& path, std::string_view content) {
        testing::write_file(path, content);
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        std::fseek(file, 0, SEEK_END);
        return file;
    }

    testing::ScratchDirectory scratch_;
    SettingsState state_;
    testing::RecordingWindow window_;
    VirtualClock clock_;
    VirtualTimer timer_;
    Engine engine_;
};

// ---- output names

struct NameCase {
    std::string source;
    const char* extension;
    std::string output;
};

class ConversionOutputName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ConversionOutputName, CutsAtTheFirstDotAndAppendsTheExtension) {
    EXPECT_EQ(conversion_output_name(GetParam().source, GetParam().extension), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConversionOutputName,
    ::testing::Values(NameCase{"RESULT.RES", ".csv", "RESULT.csv"},
                      NameCase{"A.B.RES", ".csv", "A.csv"},
                      NameCase{"RESULTS", ".txt", "RESULTS.txt"},
                      NameCase{"350123456789012_091437_12032024.res", ".txt",
                               "350123456789012_091437_12032024.txt"},
                      NameCase{".hidden", ".csv", ".csv"}, NameCase{"", ".txt", ".txt"},
                      NameCase{std::string(60, 'n'), ".csv", std::string(47, 'n') + ".csv"}));

// ---- step_convert_excel

TEST_F(ConversionStep, ExcelOptionOffWritesNothing) {
    state_.options = OPT_PRINTOUT;
    EXPECT_EQ(step_convert_excel(engine_, record()), SR_NEXT);
    EXPECT_FALSE(fs::exists("out/RESULT.csv"));
    EXPECT_EQ(window_.file_line, "");
}

TEST_F(ConversionStep, ExcelConvertsTheReceivedListIntoTheOutputDirectory) {
    state_.options = OPT_EXCEL;
    EXPECT_EQ(step_convert_excel(engine_, record()), SR_NEXT);
    std::string csv = read_file("out/RESULT.csv");
    EXPECT_EQ(csv.substr(0, HEADER_START.size()), HEADER_START);
    EXPECT_NE(csv.find("\r\nA01;Test name;09:14:37;12.03.2024;PASS\r\n"), std::string::npos);
    EXPECT_NE(csv.find("\r\nA10;Call from mobile;;;FAIL\r\n"), std::string::npos);
    EXPECT_EQ(window_.file_line, "\r\nCreating RESULT.csv");
    EXPECT_EQ(engine_.run_state, RS_IDLE);
    EXPECT_TRUE(window_.messages.empty());
    EXPECT_NE(record().file, nullptr);  // the source stays open
}

TEST_F(ConversionStep, ExcelOutputNameIsCutAtTheFirstDot) {
    state_.options = OPT_EXCEL;
    open_received("A.B.RES", RESULT_LIST);
    step_convert_excel(engine_, record());
    EXPECT_TRUE(fs::exists("out/A.csv"));
}

TEST_F(ConversionStep, ExcelNeverReplacesItsSource) {
    state_.options = OPT_EXCEL;
    open_received("RESULTS", RESULT_LIST);
    step_convert_excel(engine_, record());
    EXPECT_EQ(read_file("out/RESULTS"), RESULT_LIST);
    EXPECT_TRUE(fs::exists("out/RESULTS.csv"));

    open_received("R.csv", RESULT_LIST);
    step_convert_excel(engine_, record());
    EXPECT_EQ(read_file("out/R.csv"), RESULT_LIST);
    EXPECT_NE(read_file("out/R.csv.csv").find("A10;Call from mobile;;;FAIL"), std::string::npos);
}

TEST_F(ConversionStep, ExcelReplacesAnExistingFile) {
    state_.options = OPT_EXCEL;
    testing::write_file("out/RESULT.csv", std::string(5000, '#'));
    step_convert_excel(engine_, record());
    std::string csv = read_file("out/RESULT.csv");
    EXPECT_EQ(csv.find('#'), std::string::npos);
    EXPECT_EQ(csv.substr(0, HEADER_START.size()), HEADER_START);
}

TEST_F(ConversionStep, ExcelFallsBackToTheCurrentDirectoryWithAMessage) {
    state_.options = OPT_EXCEL;
    open_received("RESULT.RES", RESULT_LIST);
    record().directory = "missing/";
    step_convert_excel(engine_, record());
    EXPECT_TRUE(fs::exists("RESULT.csv"));
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_EQ(window_.messages[0].text, EXCEL_BARE_MESSAGE);
    EXPECT_EQ(window_.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(window_.file_line, "\r\nCreating RESULT.csv");
    EXPECT_EQ(engine_.run_state, RS_IDLE);
    EXPECT_EQ(state_.error_flags, 0u);
}

TEST_F(ConversionStep, ExcelFallbackInAnAutomaticRunSetsTheBitInstead) {
    state_.options = OPT_EXCEL;
    state_.command_line_flags = CMD_AUTOMATIC;
    record().directory = "missing/";
    step_convert_excel(engine_, record());
    EXPECT_TRUE(fs::exists("RESULT.csv"));
    EXPECT_TRUE(window_.messages.empty());
    EXPECT_EQ(state_.error_flags, error_bit(ERR_EXCEL_BARE));
}

TEST_F(ConversionStep, ExcelThatCannotBeCreatedAnywhereCancelsTheRun) {
    state_.options = OPT_EXCEL;
    record().directory = "missing/";
    fs::create_directory("RESULT.csv");  // the bare name is taken by a directory
    EXPECT_EQ(step_convert_excel(engine_, record()), SR_NEXT);
    ASSERT_EQ(window_.messages.size(), 2u);
    EXPECT_EQ(window_.messages[0].text, EXCEL_BARE_MESSAGE);
    EXPECT_EQ(window_.messages[1].text, EXCEL_FAILED_MESSAGE);
    EXPECT_EQ(window_.messages[1].icon, MessageIcon::Error);
    EXPECT_EQ(engine_.run_state, RS_CANCEL);
    EXPECT_EQ(window_.file_line, "");
}

TEST_F(ConversionStep, ExcelThatCannotBeCreatedInAnAutomaticRunSetsBothBits) {
    state_.options = OPT_EXCEL;
    state_.command_line_flags = CMD_AUTOMATIC;
    record().directory = "missing/";
    fs::create_directory("RESULT.csv");
    step_convert_excel(engine_, record());
    EXPECT_EQ(state_.error_flags, error_bit(ERR_EXCEL_BARE) | error_bit(ERR_EXCEL_FILE));
    EXPECT_TRUE(window_.messages.empty());
    EXPECT_EQ(engine_.run_state, RS_CANCEL);
}

// A full disk: the output is created, but its text cannot be written. The log names the
// write error, not a name that could not be created.
TEST_F(ConversionStep, OutputThatCannotBeWrittenCancelsTheRunWithTheReason) {
    struct Case {
        uint32_t option;
        const char* name;
        StepResult (*step)(Engine&, TransferRecord&);
    };
    for (Case c : {Case{OPT_EXCEL, "RESULT.csv", step_convert_excel},
                   Case{OPT_PRINTOUT, "RESULT.txt", step_convert_printout}}) {
        state_.options = c.option;
        for (bool automatic : {false, true}) {
            state_.command_line_flags = automatic ? CMD_AUTOMATIC : 0;
            engine_.run_state = RS_RUNNING;
            window_.messages.clear();
            {
                testing::FileSizeLimit limit(16);
                EXPECT_EQ(c.step(engine_, record()), SR_NEXT);
            }
            EXPECT_EQ(engine_.run_state, RS_CANCEL);
            if (automatic) {
                EXPECT_EQ(state_.error_flags, error_bit(ERR_WRITE_FAILED)) << c.name;
                EXPECT_EQ(state_.error_reasons[ERR_WRITE_FAILED],
                          std::string("File too large: ") + c.name);
            } else {
                ASSERT_EQ(window_.messages.size(), 1u) << c.name;
                EXPECT_EQ(window_.messages[0].text,
                          std::string("Write error - disk full or file too large.\n"
                                      "File too large: ") +
                              c.name);
            }
        }
    }
}

// A link planted under the output's name in the receiving folder is not written through:
// the output goes to the current folder, the link's target stays as it was.
TEST_F(ConversionStep, OutputsAreNotWrittenThroughALinkInTheReceivingFolder) {
    testing::write_file("target", "keep");
    for (const char* name : {"RESULT.csv", "RESULT.txt"}) {
        fs::create_symlink(fs::absolute("target"), fs::path("out") / name);
    }
    state_.options = OPT_EXCEL | OPT_PRINTOUT;
    step_convert_excel(engine_, record());
    step_convert_printout(engine_, record());
    EXPECT_EQ(read_file("target"), "keep");
    EXPECT_TRUE(fs::is_symlink("out/RESULT.csv"));
    EXPECT_NE(read_file("RESULT.csv").find("A01;Test name"), std::string::npos);
    EXPECT_NE(read_file("RESULT.txt").find("Report 09:14:37"), std::string::npos);
    ASSERT_EQ(window_.messages.size(), 2u);
    EXPECT_EQ(window_.messages[0].text, EXCEL_BARE_MESSAGE);
    EXPECT_EQ(window_.messages[1].text, PRINTOUT_BARE_MESSAGE);
}

// A list named like the running batch script ("batch.res" beside "batch.txt") would turn
// into its printout and replace it; the printout takes a substitute name instead, also
// when the script is reached through another spelling of its folder.
TEST_F(ConversionStep, OutputNamedLikeTheBatchScriptIsStoredUnderAnotherName) {
    testing::write_file("out/batch.txt", "-F3 -MT1\n");
    state_.batch_script = fs::absolute("out/batch.txt");
    open_received("batch.res", RESULT_LIST);
    record().directory = "./out/../out/";
    state_.options = OPT_PRINTOUT;
    for (bool automatic : {false, true}) {
        state_.command_line_flags = automatic ? CMD_AUTOMATIC : 0;
        window_.messages.clear();
        step_convert_printout(engine_, record());
        EXPECT_EQ(read_file("out/batch.txt"), "-F3 -MT1\n");
        EXPECT_NE(read_file("out/_batch.txt").find("Report 09:14:37"), std::string::npos);
        EXPECT_EQ(window_.file_line, "\r\nCreating _batch.txt");
        if (automatic) {
            EXPECT_EQ(state_.error_flags, error_bit(ERR_NAME_RESERVED));
            EXPECT_EQ(state_.error_reasons[ERR_NAME_RESERVED], "batch.txt is stored as _batch.txt");
        } else {
            ASSERT_EQ(window_.messages.size(), 1u);
            EXPECT_EQ(window_.messages[0].text,
                      "The output file's name is reserved for the program's own files\n"
                      "batch.txt is stored as _batch.txt");
        }
    }
}

TEST_F(ConversionStep, ExcelPathLongerThanItsLimitGoesToTheCurrentDirectory) {
    state_.options = OPT_EXCEL;
    std::string deep = std::string(150, 'd') + "/" + std::string(150, 'e') + "/";
    fs::create_directories(deep);
    record().directory = deep;
    step_convert_excel(engine_, record());
    EXPECT_FALSE(fs::exists(deep + "RESULT.csv"));
    EXPECT_TRUE(fs::exists("RESULT.csv"));
}

// The split states in which the conversions take the block file.
struct SplitCase {
    SplitState state;
    bool block_open;
    bool converts;
};

class ConversionStepSplit : public ConversionStep,
                            public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ConversionStepSplit, ImeiOptionConvertsOnlyACompleteOpenBlock) {
    state_.options = OPT_EXCEL | OPT_PRINTOUT | OPT_IMEI;
    const std::string block = "352468013579246_104719_12032024.res";
    if (GetParam().block_open) {
        open_block(block, BLOCK, GetParam().state);
    } else {
        record().imei.block_name = block;
        record().imei.state = GetParam().state;
    }
    step_convert_excel(engine_, record());
    step_convert_printout(engine_, record());
    const std::string base = "out/352468013579246_104719_12032024";
    EXPECT_EQ(fs::exists(base + ".csv"), GetParam().converts);
    EXPECT_EQ(fs::exists(base + ".txt"), GetParam().converts);
    EXPECT_FALSE(fs::exists("out/RESULT.csv"));
    EXPECT_FALSE(fs::exists("out/RESULT.txt"));
    if (GetParam().converts) {
        EXPECT_NE(read_file(base + ".csv").find("A01;Test name;10:47:19;12.03.2024;FAIL"),
                  std::string::npos);
        EXPECT_EQ(read_file(base + ".txt"), "Report 10:47:19\r\nCall PASS\r\nEnd 12.03.2024\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(States, ConversionStepSplit,
                         ::testing::Values(SplitCase{SplitState::Seeking, true, false},
                                           SplitCase{SplitState::Copying, true, false},
                                           SplitCase{SplitState::BlockComplete, true, true},
                                           SplitCase{SplitState::Finished, true, true},
                                           SplitCase{SplitState::BlockComplete, false, false},
                                           SplitCase{SplitState::Finished, false, false}));

TEST_F(ConversionStep, NoReceivedFileConvertsNothing) {
    state_.options = OPT_EXCEL | OPT_PRINTOUT;
    close_file(record().file);
    step_convert_excel(engine_, record());
    step_convert_printout(engine_, record());
    EXPECT_FALSE(fs::exists("out/RESULT.csv"));
    EXPECT_FALSE(fs::exists("out/RESULT.txt"));
}

// ---- step_convert_printout

TEST_F(ConversionStep, PrintoutOptionOffWritesNothing) {
    state_.options = OPT_EXCEL;
    EXPECT_EQ(step_convert_printout(engine_, record()), SR_NEXT);
    EXPECT_FALSE(fs::exists("out/RESULT.txt"));
}

TEST_F(ConversionStep, PrintoutConvertsTheReceivedList) {
    state_.options = OPT_PRINTOUT;
    EXPECT_EQ(step_convert_printout(engine_, record()), SR_NEXT);
    EXPECT_EQ(read_file("out/RESULT.txt"), "Report 09:14:37\r\nCall FAIL *\r\nEnd 12.03.2024\r\n");
    EXPECT_EQ(window_.file_line, "\r\nCreating RESULT.txt");
}

TEST_F(ConversionStep, PrintoutFallsBackToTheCurrentDirectoryWithAMessage) {
    state_.options = OPT_PRINTOUT;
    record().directory = "missing/";
    step_convert_printout(engine_, record());
    EXPECT_TRUE(fs::exists("RESULT.txt"));
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_EQ(window_.messages[0].text, PRINTOUT_BARE_MESSAGE);
    EXPECT_EQ(engine_.run_state, RS_IDLE);
}

TEST_F(ConversionStep, PrintoutThatCannotBeCreatedCancelsTheRunWithoutPrinting) {
    state_.options = OPT_PRINTOUT | OPT_DIRECT_PRINT;
    state_.command_line_flags = CMD_AUTOMATIC;
    testing::RecordingPrinter printer({});
    engine_.printer = &printer;
    record().directory = "missing/";
    fs::create_directory("RESULT.txt");
    step_convert_printout(engine_, record());
    EXPECT_EQ(state_.error_flags, error_bit(ERR_PRINTOUT_BARE) | error_bit(ERR_PRINTOUT_FILE));
    EXPECT_EQ(engine_.run_state, RS_CANCEL);
    EXPECT_TRUE(printer.calls.empty());
}

TEST_F(ConversionStep, InteractivePrintoutFailureShowsBothMessages) {
    state_.options = OPT_PRINTOUT;
    record().directory = "missing/";
    fs::create_directory("RESULT.txt");
    step_convert_printout(engine_, record());
    ASSERT_EQ(window_.messages.size(), 2u);
    EXPECT_EQ(window_.messages[1].text, PRINTOUT_FAILED_MESSAGE);
    EXPECT_EQ(state_.error_flags, 0u);
}

PrinterCapabilities letter_300dpi() {
    PrinterCapabilities caps;
    caps.printable_width = 2400;
    caps.printable_height = 3150;
    caps.pixels_per_inch_y = 300;
    return caps;
}

TEST_F(ConversionStep, DirectPrintoutPrintsTheFinishedFile) {
    state_.options = OPT_PRINTOUT | OPT_DIRECT_PRINT;
    testing::RecordingPrinter printer(letter_300dpi());
    engine_.printer = &printer;
    open_received("RESULT.RES", std::string(RESULT_LIST) + BLOCK);
    step_convert_printout(engine_, record());
    EXPECT_EQ(printer.calls,
              (std::vector<std::string>{
                  "start document RESULT.txt", "start page", "text 192,248 Report 09:14:37",
                  "text 192,298 Call FAIL *", "text 192,348 End 12.03.2024", "end page",
                  "start page", "text 192,248 Report 10:47:19", "text 192,298 Call PASS",
                  "text 192,348 End 12.03.2024", "end page", "end document"}));
    EXPECT_TRUE(fs::exists("out/RESULT.txt"));
}

TEST_F(ConversionStep, DirectPrintoutWithoutAPrinterOnlyWritesTheFile) {
    state_.options = OPT_PRINTOUT | OPT_DIRECT_PRINT;
    step_convert_printout(engine_, record());
    EXPECT_EQ(read_file("out/RESULT.txt"), "Report 09:14:37\r\nCall FAIL *\r\nEnd 12.03.2024\r\n");
}

TEST_F(ConversionStep, PrinterIsNotUsedWithoutTheDirectPrintoutOption) {
    state_.options = OPT_PRINTOUT;
    testing::RecordingPrinter printer(letter_300dpi());
    engine_.printer = &printer;
    step_convert_printout(engine_, record());
    EXPECT_TRUE(printer.calls.empty());
}

}  // namespace
}  // namespace trelvo
