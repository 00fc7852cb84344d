// The file choice without the dialogs: path helpers, type lists, the command-line path,
// the scripted file and folder dialogs, and the rules of the autotest slot dialog.
#include "protocol/file_choice.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/error_table.h"
#include "tests/protocol/protocol_fixture.h"

namespace trelvo {
namespace {

using testing::ProtocolTest;
using Names = std::vector<std::string>;

struct PathCase {
    std::string path, directory, name;
};

class PathParts : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathParts, DirectoryAndNameSplitAtTheLastSeparator) {
    EXPECT_EQ(directory_of(GetParam().path), GetParam().directory);
    EXPECT_EQ(name_of(GetParam().path), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathParts,
    ::testing::Values(PathCase{"/home/u/fw/KV72.BIN", "/home/u/fw", "KV72.BIN"},
                      PathCase{"/KV72.BIN", "/", "KV72.BIN"},
                      PathCase{"fw/KV72.BIN", "fw", "KV72.BIN"},
                      PathCase{"KV72.BIN", "", "KV72.BIN"}, PathCase{"/home/u/", "/home/u", ""}));

TEST(EnsureTrailingSeparator, AppendsOneEmptiesShortTextsAndKeepsTheRoot) {
    const std::vector<std::pair<std::string, std::string>> cases = {{"/home/u", "/home/u/"},
                                                                    {"/home/u/", "/home/u/"},
                                                                    {"ab", "ab/"},
                                                                    {"x", ""},
                                                                    {"", ""},
                                                                    {"/", "/"}};
    for (const auto& [given, made] : cases) {
        std::string directory = given;
        ensure_trailing_separator(directory);
        EXPECT_EQ(directory, made) << given;
    }
}

TEST(FileFilters, TypeListFollowsOperationAndModel) {
    struct Case {
        int32_t operation, model;
        const char* first_description;
        const char* first_pattern;
        size_t pairs;
    };
    for (const Case& c : {Case{OP_FIRMWARE_UPDATE, 71, "KV71 Update (*.BIN)", "*.bin", 2},
                          Case{OP_FIRMWARE_UPDATE, 72, "KV72 Update (*.BIN)", "*.bin", 2},
                          Case{OP_FIRMWARE_UPDATE, 0, "KV70 Update (*.BIN)", "*.bin", 2},
                          Case{OP_FIRMWARE_UPDATE, 99, "KV70 Update (*.BIN)", "*.bin", 2},
                          Case{OP_DOWNLOAD_MOBILE_LIST, 72, "Mobile List (*.AUT)", "*.aut", 2},
                          Case{OP_DOWNLOAD_AUTOTEST, 71, "Autotest (*.DLD)", "*.dld", 2},
                          Case{OP_UPLOAD_RESULT_LIST, 72, "No File", "~trelvo-no-file~", 1}}) {
        auto filters = file_filters(operation_table[c.operation - 1], c.model);
        ASSERT_EQ(filters.size(), c.pairs);
        EXPECT_EQ(filters[0].description, c.first_description);
        EXPECT_EQ(filters[0].pattern, c.first_pattern);
        if (c.pairs == 2) {
            EXPECT_EQ(filters[1].description, "All Files (*.*)");
            EXPECT_EQ(filters[1].pattern, "*.*");
        }
        EXPECT_EQ(filters.back().pattern.find('/'), std::string_view::npos);
    }
    EXPECT_TRUE(file_filters(Operation{6, nullptr, "Sixth"}, 72).empty());
}

class ChooseFile : public ProtocolTest {
  protected:
    std::FILE* choose(int32_t operation) {
        file = choose_file(h.state, h.window, record, operation_table[operation - 1]);
        return file;
    }
    void TearDown() override {
        close_file(file);
        ProtocolTest::TearDown();
    }
    TransferRecord record;
    std::FILE* file = nullptr;
};

TEST_F(ChooseFile, CommandLinePathOfAnAutomaticRunOpensWithoutDialog) {
    h.state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
    h.state.command_line_path = write_file("KV72FIRMWARE2007.BIN", pattern(1234));
    record.file_time = 99;
    ASSERT_NE(choose(OP_FIRMWARE_UPDATE), nullptr);
    EXPECT_EQ(record.file_name, "KV72FIRMWARE");
    EXPECT_EQ(record.file_size, 1234u);
    EXPECT_EQ(record.file_time, 0u);
    EXPECT_TRUE(h.window.file_dialogs.empty());
}

TEST_F(ChooseFile, CommandLinePathThatCannotBeOpenedSetsTheErrorBitOnly) {
    h.state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
    for (std::string path : {(dir / "missing.bin").string(), dir.string()}) {
        h.state.command_line_path = path;
        h.state.error_flags = 0;
        EXPECT_EQ(choose(OP_DOWNLOAD_AUTOTEST), nullptr) << path;
        EXPECT_EQ(h.state.error_flags, error_bit(ERR_OPEN_FILE));
    }
    EXPECT_TRUE(h.window.file_dialogs.empty());
    EXPECT_TRUE(h.window.messages.empty());
}

TEST_F(ChooseFile, DialogStartsInTheStoredDirectoryAndStoresTheChosenOne) {
    h.state.directories[DIR_DL_MS_TYPE] = "/start/";
    h.window.file_answers.push_back(write_file("lists/MS.AUT", "abc"));
    ASSERT_NE(choose(OP_DOWNLOAD_MOBILE_LIST), nullptr);
    ASSERT_EQ(h.window.file_dialogs.size(), 1u);
    EXPECT_EQ(h.window.file_dialogs[0].start_directory, "/start/");
    EXPECT_EQ(h.window.file_dialogs[0].filters[0].description, "Mobile List (*.AUT)");
    EXPECT_EQ(h.state.directories[DIR_DL_MS_TYPE], (dir / "lists").string() + "/");
    EXPECT_EQ(record.file_name, "MS.AUT");
    EXPECT_EQ(record.file_size, 3u);
}

TEST_F(ChooseFile, FileThatCannotBeOpenedShowsTheMessageAndTheDialogAgain) {
    ::mkfifo((dir / "PIPE.BIN").c_str(), 0600);
    std::string locked = write_file("LOCKED.BIN", "x");
    int holder = ::open(locked.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    h.window.file_answers = {(dir / "MISSING.BIN").string(), (dir / "PIPE.BIN").string(), locked,
                             write_file("fw/GOOD.BIN", "good")};
    ASSERT_NE(choose(OP_FIRMWARE_UPDATE), nullptr);
    ::close(holder);
    EXPECT_EQ(record.file_name, "GOOD.BIN");
    ASSERT_EQ(h.window.messages.size(), 3u);
    EXPECT_EQ(h.window.messages[0].text, "Invalid filename or file is write protected\n");
    // Each showing starts where the previous choice was made.
    EXPECT_EQ(h.window.file_dialogs.at(3).start_directory, dir.string() + "/");
    EXPECT_EQ(h.state.directories[DIR_FIRMWARE], (dir / "fw").string() + "/");
}

TEST_F(ChooseFile, CancelledDialogGivesNoFile) {
    h.state.model_code = 72;
    EXPECT_EQ(choose(OP_FIRMWARE_UPDATE), nullptr);
    ASSERT_EQ(h.window.file_dialogs.size(), 1u);
    EXPECT_EQ(h.window.file_dialogs[0].filters[0].description, "KV72 Update (*.BIN)");
    EXPECT_TRUE(h.window.messages.empty());
}

// Another operation brings its facts in its row: the file choice has no case of its own.
TEST_F(ChooseFile, ARowOfItsOwnDecidesTheFolderAndTheTypesPerModel) {
    static constexpr FileFilter images[] = {{"KV73 Image (*.IMG)", "*.img"}};
    static constexpr FileFilter others[] = {{"Image (*.IMG)", "*.img"}};
    static constexpr ModelFilters filters[] = {{73, images}, {0, others}};
    const Operation sixth{6, nullptr, "Sixth", FileChoice::FileToSend, DIR_DL_AUTOTEST, filters};
    h.state.model_code = 73;
    h.state.directories[DIR_DL_AUTOTEST] = "/images/";
    EXPECT_EQ(choose_file(h.state, h.window, record, sixth), nullptr);
    ASSERT_EQ(h.window.file_dialogs.size(), 1u);
    EXPECT_EQ(h.window.file_dialogs[0].start_directory, "/images/");
    EXPECT_EQ(h.window.file_dialogs[0].filters[0].description, "KV73 Image (*.IMG)");
    EXPECT_EQ(file_filters(sixth, 72)[0].description, "Image (*.IMG)");
}

TEST_F(ChooseFile, FolderChooserStoresTheReceivingDirectoryOnOkOnly) {
    h.state.directories[DIR_UL_RESULT] = "/old/";
    EXPECT_EQ(choose(OP_UPLOAD_RESULT_LIST), nullptr);  // cancelled
    EXPECT_EQ(h.state.directories[DIR_UL_RESULT], "/old/");
    h.window.folder_answers.push_back("/new/results");
    EXPECT_EQ(choose(OP_UPLOAD_RESULT_LIST), nullptr);
    EXPECT_EQ(h.state.directories[DIR_UL_RESULT], "/new/results/");
    EXPECT_EQ(record.directory, "/new/results/");
    ASSERT_EQ(h.window.folder_dialogs.size(), 2u);
    EXPECT_EQ(h.window.folder_dialogs[1].title, "Upload Result List");
    EXPECT_EQ(h.window.folder_dialogs[1].start_directory, "/old/");
    h.window.folder_answers.push_back("/lists");
    choose(OP_UPLOAD_MOBILE_LIST);
    EXPECT_EQ(h.window.folder_dialogs[2].title, "Upload Mobile List");
    EXPECT_EQ(h.state.directories[DIR_UL_MS_TYPE], "/lists/");
}

TEST(AutotestEntries, ListsWhatFollowsTheFirstFourFields) {
    EXPECT_EQ(autotest_entries("1,a,b,c,First\n2,a,b,c,Second, with comma\n"),
              (Names{"First", "Second, with comma"}));
    EXPECT_EQ(autotest_entries("1,a,b,c,\n2,a,b,c,Kept\n"), (Names{"Kept"}));
    EXPECT_EQ(autotest_entries("1,a,b,c,A\n2,short\n3,a,b,c,B\n"), (Names{"A"}));
    EXPECT_TRUE(autotest_entries("").empty());
}

TEST(AutotestButton, EachButtonGivesItsResultAndSlot) {
    struct Case {
        int button;
        size_t entries;
        int selected;
        bool closes;
        int result;
        int slot;
        std::string_view message;
    };
    for (const Case& c :
         {Case{AUTOTEST_NEW, 0, -1, true, 0, 1, ""}, Case{AUTOTEST_NEW, 3, 1, true, 0, 4, ""},
          Case{AUTOTEST_NEW, 254, -1, true, 0, 255, ""},
          Case{AUTOTEST_NEW, 255, -1, false, 2, 9, NEW_WITHOUT_FREE_SLOT},
          Case{AUTOTEST_REPLACE, 3, 1, true, 1, 2, ""},
          Case{AUTOTEST_REPLACE, 0, -1, false, 2, 9, REPLACE_WITHOUT_SELECTION},
          Case{AUTOTEST_DELETE, 3, 0, true, 3, 1, ""},
          Case{AUTOTEST_DELETE, 3, -1, false, 2, 9, DELETE_WITHOUT_SELECTION},
          Case{AUTOTEST_CANCEL, 3, 2, true, 2, 9, ""}}) {
        AutotestPress press = autotest_button(c.button, c.entries, c.selected, 9);
        EXPECT_EQ(press.closes, c.closes) << c.button << "/" << c.entries;
        EXPECT_EQ(press.message, c.message);
        if (!c.closes) continue;
        EXPECT_EQ(press.choice.result, c.result);
        EXPECT_EQ(press.choice.slot, c.slot);
    }
}

}  // namespace
}  // namespace trelvo
