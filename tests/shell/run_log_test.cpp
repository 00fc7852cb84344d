#include "shell/run_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/error_table.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;

class RunLog : public ::testing::Test {
  protected:
    void SetUp() override {
        std::setlocale(LC_TIME, "C");
        std::string pattern = (fs::temp_directory_path() / "trelvo-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        state.command_line_flags = CMD_AUTOMATIC;
        std::tm t{};
        t.tm_year = 126, t.tm_mon = 8, t.tm_mday = 21, t.tm_hour = 14, t.tm_min = 5, t.tm_sec = 9,
        t.tm_isdst = -1;
        when = std::mktime(&t);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string log() {
        std::ifstream in(dir / "trelvo.log", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void write(std::string_view program, std::string_view current, std::string_view result = "") {
        write_run_log(state, program, current, result, dir, when);
    }
    const std::string head = "----> 09/21/26  14:05:09\r\n";
    SettingsState state;
    fs::path dir;
    std::time_t when = 0;
};

TEST_F(RunLog, InteractiveRunWritesNothing) {
    state.command_line_flags = CMD_PORT | CMD_BAUD;
    state.error_flags = error_bit(ERR_RUN_FAILED);
    write("-C2", "-C2");
    EXPECT_FALSE(fs::exists(dir / "trelvo.log"));
}

TEST_F(RunLog, SuccessfulRunGivesFourLines) {
    state.operation_index = 0;
    write("-F0", "-F0");
    EXPECT_EQ(log(), head + "trelvo -F0\r\nFirmware Update successful completed\r\n\r\n");
}

TEST_F(RunLog, ScriptLineIsShownBehindAnArrow) {
    state.operation_index = 3;
    state.error_flags = error_bit(ERR_EXCEL_BARE);
    write("-S\"batch.txt\"", "-F3 -ME1", "Completed");
    EXPECT_EQ(log(), head +
                         "trelvo -S\"batch.txt\" -> -F3 -ME1\r\n"
                         "Upload Result List Completed\r\n"
                         "Error: Invalid pathname or file is write protected. - Excel File is "
                         "stored in the program directory.\r\n\r\n");
}

TEST_F(RunLog, FailureFormListsErrorsInRisingBitOrderAndConsumesTheWord) {
    const struct {
        uint32_t bits;
        const char* result;
        std::string expected;
    } cases[] = {
        {error_bit(ERR_RUN_FAILED), "Timeout", "Upload Result List Timeout\r\n"},
        {error_bit(ERR_PRINTOUT_BARE), "Completed",
         "Upload Result List Completed\r\nError: Invalid pathname or file is write protected. - "
         "Printout File is stored in the program directory.\r\n"},
        {error_bit(ERR_COM_PORT) | error_bit(ERR_RUN_FAILED) | error_bit(ERR_OPEN_FILE), "",
         "Upload Result List \r\nError: Unable to open file.\r\nError: Invalid COM Port.\r\n"},
        {error_bit(ERR_PORT_LOST) | error_bit(ERR_USER_BREAK), "Aborted",
         "Upload Result List Aborted\r\nError: User break.\r\nError: COM Port lost.\r\n"
         "       /dev/ttyUSB0: No such device?\r\n"},
    };
    for (const auto& c : cases) {
        fs::remove(dir / "trelvo.log");
        state.operation_index = 3;
        state.error_flags = c.bits;
        state.error_reasons[ERR_PORT_LOST] = "/dev/ttyUSB0: No such device\n";
        write("-F3", "-F3", c.result);
        EXPECT_EQ(log(), head + "trelvo -F3\r\n" + c.expected + "\r\n") << c.bits;
        EXPECT_EQ(state.error_flags, 0u);
        EXPECT_TRUE(state.error_reasons.empty());
    }
}

TEST_F(RunLog, ExistingLogGrowsByOneEntryPerRun) {
    state.operation_index = 2;
    write("-F2", "-F2");
    write("-F2", "-F2");
    std::string entry = head + "trelvo -F2\r\nUpload Mobile List successful completed\r\n\r\n";
    EXPECT_EQ(log(), entry + entry);
}

TEST_F(RunLog, OverlongLinesAreCutToTheLineBuffer) {
    std::string script_line(999, 'x');
    write(std::string(999, 'p'), script_line);
    std::string text = log();
    size_t second = text.find("\r\n") + 2;
    size_t end = text.find("\r\n", second);
    EXPECT_EQ(end - second, 497u);  // 500-character buffer: 497 characters, CR LF, NUL
}

TEST_F(RunLog, UnopenableLogLosesTheEntrySilently) {
    fs::create_directory(dir / "trelvo.log");  // a directory cannot be opened for writing
    state.error_flags = error_bit(ERR_RUN_FAILED);
    write("-F1", "-F1");
    EXPECT_TRUE(fs::is_directory(dir / "trelvo.log"));
}

}  // namespace
}  // namespace trelvo
