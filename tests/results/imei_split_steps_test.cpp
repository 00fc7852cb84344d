#include <gtest/gtest.h>

#include <filesystem>

#include "results/imei_split.h"
#include "tests/results/imei_split_fixture.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;

// Stands in for the spreadsheet and printout conversions between the split steps.
StepResult convert_stand_in(Engine& engine, TransferRecord& record) {
    look_at_block(record, static_cast<StepWindow&>(engine.window).seen);
    return SR_NEXT;
}

constexpr StepRow split_steps[] = {
    {step_imei_begin, "Init IMEI Filename"},             // 0
    {step_imei_read, "Save IMEI Filename"},              // 1
    {step_imei_write, "Save IMEI Filename"},             // 2
    {convert_stand_in, "Conversion into excel format"},  // 3
    {step_imei_next, "Save IMEI Filename"},              // 4
    {nullptr, nullptr},
};

class SplitSteps : public TempDirTest {
  protected:
    // Runs the table on the data file received as out/RESULT.TXT.
    void run_upload(uint32_t options) {
        write_file("out/RESULT.TXT", data_file("result_list.txt"));
        steps.state.options = options;
        steps.window.operation = 3;  // "Upload Result List"
        steps.engine.transfer.directory = "out/";
        steps.engine.transfer.file_name = "RESULT.TXT";
        ASSERT_TRUE(
            steps.run(OP_UPLOAD_RESULT_LIST, split_steps, std::fopen("out/RESULT.TXT", "r+b")));
        EXPECT_EQ(steps.window.status[2], "Completed");
    }

    std::vector<std::string> seen_names() const {
        std::vector<std::string> names;
        for (const SeenBlock& block : steps.window.seen)
            names.push_back(block.name);
        return names;
    }

    StepRun steps;
    const std::vector<std::string> names = {"351234567890123_143205_21032003.res",
                                            "449123456789012_144117_21032003.res",
                                            "350987654321098_090558_22032003.res"};
};

TEST_F(SplitSteps, NextJumpsBackToWriteOrReadWhileResultsRemain) {
    run_upload(OPT_IMEI | OPT_EXCEL | OPT_OUTPUT_FILE);
    // Two complete blocks go back to write, the last one needs a read to find the end.
    std::vector<int32_t> rows = {0, 1, 2, 3, 4, 2, 3, 4, 2, 3, 4, 1, 2, 3, 4, 5};
    EXPECT_EQ(steps.rows, rows);
    EXPECT_EQ(seen_names(), names);
    for (const std::string& name : names) {
        EXPECT_TRUE(fs::exists("out/" + name)) << name;
        EXPECT_NE(std::find(steps.window.file_lines.begin(), steps.window.file_lines.end(),
                            "Creating " + name),
                  steps.window.file_lines.end());
    }
    EXPECT_TRUE(fs::exists("out/RESULT.TXT"));
}

TEST_F(SplitSteps, ProgressBarShowsPercentOfTheList) {
    run_upload(OPT_IMEI | OPT_OUTPUT_FILE);
    EXPECT_EQ(steps.window.progress_low, 0);
    EXPECT_EQ(steps.window.progress_high, 100);
    // 714 bytes: 555 processed after the first block, then past the end (held at 100).
    EXPECT_EQ(steps.window.positions, (std::vector<int>{0, 77, 100, 100, 100, 0}));
}

TEST_F(SplitSteps, BlockFilesGoAfterTheirConversionsWithoutOutputFileOption) {
    run_upload(OPT_IMEI | OPT_EXCEL);
    EXPECT_EQ(seen_names(), names);
    EXPECT_TRUE(fs::is_empty("out"));  // the engine deleted the received list as well
    for (const std::string& line : steps.window.file_lines)
        EXPECT_EQ(line.find("Creating"), std::string::npos) << line;
}

TEST_F(SplitSteps, OptionOffRunsStraightThrough) {
    run_upload(OPT_EXCEL | OPT_OUTPUT_FILE);
    EXPECT_EQ(steps.rows, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(steps.window.seen.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator("out"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace trelvo
