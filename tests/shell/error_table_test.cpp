#include "base/error_table.h"

#include <gtest/gtest.h>

#include "tests/support/recording_window.h"

namespace trelvo {
namespace {

TEST(ErrorTable, HasThirtyTwoEntriesWithOnlyTheRunFailedBitEmpty) {
    for (int bit = 0; bit < 32; ++bit) {
        EXPECT_EQ(error_messages[bit].empty(), bit == ERR_RUN_FAILED) << "bit " << bit;
    }
    EXPECT_EQ(error_messages[ERR_COM_PORT], "Invalid COM Port.");
    EXPECT_EQ(error_messages[ERR_USER_BREAK], "User break.");
    EXPECT_EQ(error_messages[ERR_IMEI_BARE],
              "IMEI Filename: Invalid pathname or file is write protected - File is stored in "
              "the program directory.");
}

TEST(ReportError, AutomaticRunSetsTheBitAndShowsNothing) {
    SettingsState state;
    testing::RecordingWindow window;
    state.command_line_flags = CMD_AUTOMATIC;
    report_error(state, window, ERR_DCB, "Invalid DCB structure\n");
    report_error(state, window, ERR_OPEN_FILE, "x");
    EXPECT_EQ(state.error_flags, error_bit(ERR_DCB) | error_bit(ERR_OPEN_FILE));
    EXPECT_TRUE(window.messages.empty());
}

TEST(ReportError, InteractiveRunShowsTheMessageAndLeavesTheWordUnchanged) {
    SettingsState state;
    testing::RecordingWindow window;
    state.command_line_flags = CMD_PORT | CMD_PATH;  // options, but no -F
    report_error(state, window, ERR_BAUDRATE, "Invalid Baudrate\n", MessageIcon::Error);
    EXPECT_EQ(state.error_flags, 0u);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "Invalid Baudrate\n");
    EXPECT_EQ(window.messages[0].icon, MessageIcon::Error);
}

TEST(ReportError, TheReasonGoesOnASecondLineOrIntoTheRunLogsRecord) {
    SettingsState state;
    testing::RecordingWindow window;
    report_error_with_reason(state, window, ERR_COM_PORT, "Invalid COM Port.", "Permission denied");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "Invalid COM Port.\nPermission denied");
    state.command_line_flags = CMD_AUTOMATIC;
    report_error_with_reason(state, window, ERR_PORT_LOST, "COM Port lost.", "gone");
    EXPECT_EQ(state.error_flags, error_bit(ERR_PORT_LOST));
    EXPECT_EQ(state.error_reasons[ERR_PORT_LOST], "gone");
}

}  // namespace
}  // namespace trelvo
