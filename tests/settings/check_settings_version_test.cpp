#include <gtest/gtest.h>

#include "tests/settings/settings_fixture.h"

namespace trelvo {
namespace {

using CheckSettingsVersion = SettingsFileTest;

TEST_F(CheckSettingsVersion, OtherVersionMovesTheFileAndKeepsOnlyTheScalars) {
    const char* old_file =
        "[Version]\n409\n[Port]\nCOM7\n[Baudrate]\n2\n[Function]\n4\n[UL MSType]\n/ms\n"
        "[Upload Result mode]\n9\n[Excel row]\nA01;x;4\n";
    SettingsState state = load(old_file);
    check_settings_version(state, dir);
    EXPECT_EQ(get("trelvoini1.old"), old_file);
    EXPECT_EQ(files(), 1);
    EXPECT_EQ(state.port_number, 7u);
    EXPECT_EQ(state.baud_index, 2u);
    EXPECT_EQ(state.operation_index, 4u);
    EXPECT_EQ(state.options, 9u);
    EXPECT_EQ(state.directories[DIR_UL_MS_TYPE], "/ms");
    EXPECT_FALSE(state.excel_rows.from_file);
    EXPECT_EQ(state.excel_rows.entries.size(), 39u);
}

TEST_F(CheckSettingsVersion, TakenBackupNamesAreSkippedNotOverwritten) {
    put("trelvoini1.old", "one");
    put("trelvoini3.old", "three");
    SettingsState state = load("[Excel row]\nA01;x;4\n");  // no [Version]
    check_settings_version(state, dir);
    EXPECT_EQ(get("trelvoini1.old"), "one");
    EXPECT_EQ(get("trelvoini2.old"), "[Excel row]\nA01;x;4\n");
    EXPECT_EQ(get("trelvoini3.old"), "three");
    EXPECT_EQ(files(), 3);
}

TEST_F(CheckSettingsVersion, CurrentVersionOrNoFileMovesNothing) {
    SettingsState state = load("[Version]\n410\n[Excel row]\nA01;x;4\n");
    check_settings_version(state, dir);
    EXPECT_TRUE(state.excel_rows.from_file);
    EXPECT_EQ(files(), 1);
    std::filesystem::rename(dir / "trelvo.ini", dir / "trelvoini1.old");
    load_settings(state, window, dir);
    check_settings_version(state, dir);
    EXPECT_EQ(files(), 1);
}

TEST(ResetSettings, ClearsScalarsOnlyWithoutKeepValuesAndAlwaysTheLists) {
    for (bool keep_values : {false, true}) {
        SettingsState state;
        state.version = 410, state.port_number = 4, state.baud_index = 1, state.options = 3;
        state.operation_index = 2, state.command_line_flags = CMD_AUTOMATIC, state.error_flags = 8;
        state.directories[DIR_DL_MS_TYPE] = "d", state.port_map[1] = "/dev/a";
        state.printout_middle = {{{1, "x"}}, true};
        reset_settings(state, keep_values);
        EXPECT_EQ(state.version, keep_values ? 410 : 0);
        EXPECT_EQ(state.port_number + state.baud_index + state.options, keep_values ? 8u : 0u);
        EXPECT_EQ(state.directories[DIR_DL_MS_TYPE], keep_values ? "d" : "");
        EXPECT_EQ(state.port_map.size(), keep_values ? 1u : 0u);
        EXPECT_EQ(state.operation_index + state.command_line_flags + state.error_flags, 14u);
        EXPECT_FALSE(state.printout_middle.from_file);
        EXPECT_EQ(state.printout_middle.entries.size(), 34u);
    }
}

}  // namespace
}  // namespace trelvo
