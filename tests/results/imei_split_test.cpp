#include "results/imei_split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/error_table.h"
#include "tests/results/file_size_limit.h"
#include "tests/results/imei_split_fixture.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;

const std::string A01 = "A01;14:32:05,21.03.2003,0,NOKIA 6310i,STANDARD,GSM 900,0,0\r\n";
const std::string A02 = "A02;262011234567890,351234567890123,4,2,1,1,1,,,1,4,1,1,1\r\n";

struct NameCase {
    const char* what;
    std::string block;
    std::string name;
};

void PrintTo(const NameCase& name_case, std::ostream* out) {
    *out << name_case.what;
}

class MakeBlockName : public ::testing::TestWithParam<NameCase> {};

TEST_P(MakeBlockName, BuildsImeiTimeDate) {
    EXPECT_EQ(make_block_name(GetParam().block), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakeBlockName,
    ::testing::Values(
        NameCase{"DigitsOfTimeAndDate", A01 + A02, "351234567890123_143205_21032003.res"},
        NameCase{"BareLineFeeds", "A01;14:32:05,21.03.2003\nA02;2620,351234567890123\n",
                 "351234567890123_143205_21032003.res"},
        NameCase{"NoA02", A01 + "A03;KV72\r\n", "Unknown_143205_21032003.res"},
        NameCase{"EmptyTime", "A01;,21.03.2003\r\n" + A02, "351234567890123_xxxxxx_21032003.res"},
        NameCase{"EmptyDate", "A01;14:32:05,\r\n" + A02, "351234567890123_143205_xxxxxxxx.res"},
        NameCase{"NoValues", "A01\r\nA02\r\n", "Unknown_xxxxxx_xxxxxxxx.res"},
        NameCase{"ImeiWithoutLeadingDigits", A01 + "A02;1,-35123\r\n", "_143205_21032003.res"},
        NameCase{"ImeiLeadingDigitsOnly", A01 + "A02;1,35123/../x\r\n",
                 "35123_143205_21032003.res"},
        NameCase{"SlashesAndDotsDropped", "A01;../1/2,/../3\r\nA02;1,/\r\n", "_12_3.res"},
        // The A02 record at the tenth position is found, at the eleventh it is not.
        NameCase{"A02AfterEightLetters", "A01;1,2,AAAAAAAA\r\nA02;0,77\r\n", "77_1_2.res"},
        NameCase{"A02AfterNineLetters", "A01;1,2,AAAAAAAAA\r\nA02;0,77\r\n", "Unknown_1_2.res"},
        // Overlong parts are cut, the longest first, so that "<base>.csv" fits 51.
        NameCase{"LongImeiCut", A01 + "A02;0," + std::string(900, '7') + "\r\n",
                 std::string(31, '7') + "_143205_21032003.res"},
        NameCase{"LongTimeCut", "A01;" + std::string(200, '4') + ",21.03.2003\r\n" + A02,
                 "351234567890123_" + std::string(22, '4') + "_21032003.res"},
        NameCase{"AllPartsLong",
                 "A01;" + std::string(300, '1') + "," + std::string(300, '2') + "\r\nA02;0," +
                     std::string(300, '3') + "\r\n",
                 std::string(15, '3') + "_" + std::string(15, '1') + "_" + std::string(15, '2') +
                     ".res"}),
    [](const auto& info) { return std::string(info.param.what); });

class CreateBlockFile : public TempDirTest {
  protected:
    std::string name = "1_2_3.res";
    SettingsState state;
    testing::RecordingWindow window;
};

TEST_F(CreateBlockFile, FallsBackToTheCurrentDirectoryWithAMessage) {
    std::FILE* file = create_block_file(name, "missing/", state, window);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_TRUE(fs::exists("1_2_3.res"));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text,
              "IMEI Filename: Invalid pathname or file is write Protected\n\n           File is "
              "stored in the program directory.\n");
    EXPECT_EQ(window.messages[0].icon, MessageIcon::Error);
}

TEST_F(CreateBlockFile, OverlongPathFallsBackInAnAutomaticRun) {
    state.command_line_flags = CMD_AUTOMATIC;
    std::string directory = "out/" + std::string(600, 'd') + "/";
    std::FILE* file = create_block_file(name, directory, state, window);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(state.error_flags, error_bit(ERR_IMEI_BARE));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(CreateBlockFile, ReportsBothFailuresAndGivesNone) {
    fs::create_directory("1_2_3.res");  // the bare name cannot be a file either
    EXPECT_EQ(create_block_file(name, "missing/", state, window), nullptr);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1].text,
              "IMEI Filename: Invalid filename or file is write protected\n\n");

    state.command_line_flags = CMD_AUTOMATIC;
    EXPECT_EQ(create_block_file(name, "missing/", state, window), nullptr);
    EXPECT_EQ(state.error_flags, error_bit(ERR_IMEI_BARE) | error_bit(ERR_IMEI_FILE));
}

// A link planted under the block's name is neither followed nor replaced: the block goes
// to the current folder as for a folder that cannot be written.
TEST_F(CreateBlockFile, LinkUnderTheBlockNameIsNotWrittenThrough) {
    write_file("target", "keep");
    fs::create_symlink(fs::absolute("target"), "out/1_2_3.res");
    std::FILE* file = create_block_file(name, "out/", state, window);
    ASSERT_NE(file, nullptr);
    std::fputs("A01;x\r\n", file);
    std::fclose(file);
    EXPECT_EQ(read_file("target"), "keep");
    EXPECT_TRUE(fs::is_symlink("out/1_2_3.res"));
    EXPECT_EQ(read_file("1_2_3.res"), "A01;x\r\n");
    EXPECT_EQ(window.messages.size(), 1u);
}

// A block that fell back to the current folder is the one removed at its end; a link under
// its name in the receiving folder stays as it is.
TEST_F(CreateBlockFile, BlockInTheCurrentFolderIsRemovedAndALinkInTheReceivingFolderKept) {
    const std::string block = "351234567890123_143205_21032003.res";
    write_file("target", "keep");
    fs::create_symlink(fs::absolute("target"), "out/" + block);
    write_file("list.res", A01 + A02);
    TransferRecord record;
    record.directory = "out/";
    record.file = std::fopen("list.res", "rb");
    begin_split(record, OPT_IMEI, window);
    read_split(record);
    for (int pass = 0; pass < 10; ++pass) {
        ASSERT_FALSE(write_split(record, state, window).failed);
        SplitMove move = next_split(record, OPT_IMEI, window);
        if (move == SplitMove::NextRow) break;
        if (move == SplitMove::ReadMore) read_split(record);
    }
    std::fclose(record.file);
    EXPECT_TRUE(fs::is_symlink("out/" + block));
    EXPECT_EQ(read_file("target"), "keep");
    EXPECT_FALSE(fs::exists(block));
}

// A block that cannot be written (a full disk) ends the split with the write error's text,
// not the text of a name that cannot be created.
TEST_F(CreateBlockFile, BlockThatCannotBeWrittenEndsTheSplitWithTheReason) {
    write_file("list.res", A01 + A02 + A01 + A02);
    TransferRecord record;
    record.directory = "out/";
    record.file = std::fopen("list.res", "rb");
    state.command_line_flags = CMD_AUTOMATIC;
    begin_split(record, OPT_IMEI, window);
    read_split(record);
    SplitWrite written;
    {
        testing::FileSizeLimit limit(16);
        written = write_split(record, state, window);
    }
    EXPECT_TRUE(written.failed);
    EXPECT_EQ(record.imei.state, SplitState::Finished);
    EXPECT_EQ(record.second_file, nullptr);
    EXPECT_EQ(state.error_flags, error_bit(ERR_WRITE_FAILED));
    EXPECT_EQ(state.error_reasons[ERR_WRITE_FAILED],
              "File too large: 351234567890123_143205_21032003.res");
    std::fclose(record.file);
}

TEST(SplitBuffer, FieldsPointingOutsideTheBufferEndTheSplit) {
    SettingsState state;
    testing::RecordingWindow window;
    std::FILE* list = std::tmpfile();
    std::fputs("A10;0\r\n", list);
    for (auto [position, held] : {std::pair<size_t, size_t>{5000, 10}, {990, 20}, {0, 1001}}) {
        for (int step = 0; step < 3; ++step) {
            TransferRecord record;
            record.file = list;
            record.imei.line_position = position;
            record.imei.held = held;
            record.imei.read_size = SPLIT_BUFFER_SIZE;
            record.imei.state = SplitState::Copying;
            std::rewind(list);
            if (step == 0) {
                EXPECT_FALSE(write_split(record, state, window).created);
            } else if (step == 1) {
                read_split(record);
            } else {
                EXPECT_EQ(next_split(record, OPT_IMEI, window), SplitMove::NextRow);
            }
            EXPECT_EQ(record.imei.state, SplitState::Finished) << position << "/" << held;
        }
    }
    std::fclose(list);
}

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

// The split steps on a real engine, on a result list received as out/RESULT.TXT.
class SplitSteps : public TempDirTest {
  protected:
    void run_upload(uint32_t options, const std::string& list) {
        write_file("out/RESULT.TXT", list);
        steps.state.options = options;
        steps.window.operation = 3;  // "Upload Result List"
        steps.engine.transfer.directory = directory;
        steps.engine.transfer.file_name = "RESULT.TXT";
        std::FILE* received = std::fopen("out/RESULT.TXT", "r+b");
        std::fseek(received, 0, SEEK_END);  // where the receive leaves it
        ASSERT_TRUE(steps.run(OP_UPLOAD_RESULT_LIST, split_steps, received));
        EXPECT_EQ(steps.window.status[2], "Completed");
    }

    const std::vector<SeenBlock>& seen() const { return steps.window.seen; }
    bool file_line_shown(const std::string& text) const {
        const std::vector<std::string>& lines = steps.window.file_lines;
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    // The data file's three blocks, from each A01 line to the next.
    static std::vector<std::string> data_blocks(const std::string& text) {
        std::vector<std::string> blocks;
        for (size_t at = text.find("A01;"); at != std::string::npos;) {
            size_t next = text.find("A01;", at + 1);
            blocks.push_back(text.substr(at, next == std::string::npos ? next : next - at));
            at = next;
        }
        return blocks;
    }

    StepRun steps;
    std::string directory = "out/";
    const std::string data = data_file("result_list.txt");
    const std::vector<std::string> names = {"351234567890123_143205_21032003.res",
                                            "449123456789012_144117_21032003.res",
                                            "350987654321098_090558_22032003.res"};
};

TEST_F(SplitSteps, ThreeBlocksGiveThreeBlockFilesNamedByImei) {
    run_upload(OPT_IMEI | OPT_EXCEL | OPT_OUTPUT_FILE, data);
    // Two complete blocks go back to write, the last one needs a read to find the end.
    EXPECT_EQ(steps.rows, (std::vector<int32_t>{0, 1, 2, 3, 4, 2, 3, 4, 2, 3, 4, 1, 2, 3, 4, 5}));
    std::vector<std::string> blocks = data_blocks(data);
    ASSERT_EQ(seen().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen()[i].name, names[i]);
        EXPECT_EQ(seen()[i].content, blocks[i]) << names[i];  // the preamble is in none
        EXPECT_EQ(read_file("out/" + names[i]), blocks[i]);
        EXPECT_TRUE(file_line_shown("Creating " + names[i]));
    }
    EXPECT_TRUE(fs::exists("out/RESULT.TXT"));
}

TEST_F(SplitSteps, ProgressBarShowsPercentOfTheList) {
    run_upload(OPT_IMEI | OPT_OUTPUT_FILE, data);
    EXPECT_EQ(steps.window.progress_low, 0);
    EXPECT_EQ(steps.window.progress_high, 100);
    // 714 bytes: 555 processed after the first block, then past the end (held at 100).
    EXPECT_EQ(steps.window.positions, (std::vector<int>{0, 77, 100, 100, 100, 0}));
}

TEST_F(SplitSteps, BlockFilesGoAfterTheirConversionsWithoutOutputFileOption) {
    run_upload(OPT_IMEI | OPT_EXCEL, data);
    EXPECT_EQ(seen().size(), 3u);
    EXPECT_TRUE(fs::is_empty("out"));  // the engine deleted the received list as well
    for (const std::string& name : names)
        EXPECT_FALSE(file_line_shown("Creating " + name));
}

TEST_F(SplitSteps, OptionOffRunsStraightThrough) {
    run_upload(OPT_EXCEL | OPT_OUTPUT_FILE, data);
    EXPECT_EQ(steps.rows, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(std::distance(fs::directory_iterator("out"), fs::directory_iterator()), 1);
}

TEST_F(SplitSteps, LongBlocksAndOverlongLinesAreCopiedWhole) {
    std::string preamble = "A43;1," + std::string(1500, 'p') + "\r\n";  // in no block
    std::string first = A01 + A02;
    for (int i = 0; i < 60; ++i)
        first += "A32;0,32." + std::to_string(i % 10) + ",31.0,35.0\r\n";
    // A line of 2600 bytes whose pieces at 1000 and 2000 look like records.
    first += "A43;7," + std::string(994, 'u') + "A01;9,9" + std::string(993, 'v');
    first += "A01;8,8" + std::string(600, 'w') + "\r\n";
    std::string second = "A01;15:00:00,22.03.2003\r\nA02;0,449123456789012\r\n";
    run_upload(OPT_IMEI | OPT_OUTPUT_FILE, preamble + first + second + "A10;0");  // no line end

    ASSERT_EQ(seen().size(), 2u);
    EXPECT_EQ(seen()[0].content, first);
    EXPECT_EQ(seen()[1].name, "449123456789012_150000_22032003.res");
    EXPECT_EQ(seen()[1].content, second);
    const std::vector<int>& positions = steps.window.positions;
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end() - 1));
    EXPECT_LT(positions[1], 100);
}

TEST_F(SplitSteps, ImeiIsFoundBehindTheEndOfTheFirstRead) {
    std::string filler = "A99;" + std::string(1000 - A01.size() - 6, 'f') + "\r\n";
    run_upload(OPT_IMEI | OPT_OUTPUT_FILE, filler + A01 + A02);  // A01 ends the first read
    ASSERT_EQ(seen().size(), 1u);
    EXPECT_EQ(seen()[0].name, "351234567890123_143205_21032003.res");
    EXPECT_EQ(seen()[0].content, A01 + A02);
}

TEST_F(SplitSteps, SameNameTwiceKeepsTheSecondBlock) {
    run_upload(OPT_IMEI | OPT_OUTPUT_FILE, A01 + A02 + "A10;0\r\n" + A01 + A02 + "A10;1\r\n");
    ASSERT_EQ(seen().size(), 2u);
    EXPECT_EQ(read_file("out/351234567890123_143205_21032003.res"), A01 + A02 + "A10;1\r\n");
}

TEST_F(SplitSteps, ListWithoutA01GivesNoBlock) {
    run_upload(OPT_IMEI | OPT_OUTPUT_FILE, "KV72 TESTRESULTS\r\nA02;1,2\r\nA10;0\r\n");
    EXPECT_TRUE(seen().empty());
    EXPECT_EQ(std::distance(fs::directory_iterator("out"), fs::directory_iterator()), 1);
}

TEST_F(SplitSteps, UncreatableBlockFileStopsTheSplit) {
    steps.state.command_line_flags = CMD_AUTOMATIC;
    directory = "out/missing/";
    fs::create_directory("351234567890123_143205_21032003.res");
    run_upload(OPT_IMEI | OPT_OUTPUT_FILE, A01 + A02 + "A10;0\r\nA01;1,2\r\nA02;0,3\r\n");
    EXPECT_TRUE(seen().empty());
    EXPECT_FALSE(fs::exists("3_1_2.res"));  // the rest of the list is not split
    EXPECT_EQ(steps.state.error_flags, error_bit(ERR_IMEI_BARE) | error_bit(ERR_IMEI_FILE));
}

}  // namespace
}  // namespace trelvo
