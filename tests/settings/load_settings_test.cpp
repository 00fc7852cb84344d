#include <gtest/gtest.h>

#include "base/error_table.h"
#include "settings/builtin_tables.h"
#include "tests/settings/settings_fixture.h"

namespace trelvo {
namespace {

using namespace std::string_literals;
using LoadSettings = SettingsFileTest;
using Lines = std::vector<std::string>;

TEST_F(LoadSettings, NoFileGivesResetValuesAndDefaultsButKeepsTheOperation) {
    SettingsState state;
    state.port_number = 9, state.baud_index = 2, state.options = 5, state.operation_index = 3;
    state.directories[DIR_FIRMWARE] = "old", state.port_map[2] = "/dev/x";
    state.excel_rows = {{"x\n"}, true};
    load_settings(state, window, dir);
    EXPECT_EQ(state.port_number + state.baud_index + state.options + state.version, 0u);
    EXPECT_EQ(state.operation_index, 3u);
    EXPECT_EQ(state.directories[DIR_FIRMWARE], "");
    EXPECT_TRUE(state.port_map.empty());
    EXPECT_EQ(state.excel_rows.entries.size(), 39u);
    EXPECT_FALSE(state.excel_rows.from_file);
}

TEST_F(LoadSettings, ScalarValueLinesParseAsTheirSectionSays) {
    const struct {
        const char* ini;
        uint32_t SettingsState::*item;
        uint32_t expected;
    } cases[] = {
        {"[Port]\nCOM7\n", &SettingsState::port_number, 7},
        {"[Port]\nCOM0\n", &SettingsState::port_number, 1},
        {"[Port]\nCOM300\n", &SettingsState::port_number, 1},
        {"[Port]\nCOM99999999999999\n", &SettingsState::port_number, 1},
        {"[Port]\nLPT1\n", &SettingsState::port_number, 1},
        {"[Port]\nCOM 3\n", &SettingsState::port_number, 3},
        {"[Port]\n\n", &SettingsState::port_number, 1},
        {"[Port]\ncom5\n", &SettingsState::port_number, 1},
        {"[Port]\nCOM7\nCOMx\n", &SettingsState::port_number, 7},
        {"[Port] main tester\nCOM4\n", &SettingsState::port_number, 4},
        {"[port]\nCOM4\n", &SettingsState::port_number, 0},
        {"[Port map]\nCOM4\n", &SettingsState::port_number, 0},
        {"[Port]\nCOM4\n[Other]\nCOM9\n", &SettingsState::port_number, 4},
        {"[Port]\nCOM4\n[Port]\nCOM6\n", &SettingsState::port_number, 6},
        {"[Baudrate]\n2\n", &SettingsState::baud_index, 2},
        {"[Baudrate]\n7\n", &SettingsState::baud_index, 0},
        {"[Baudrate]\n12\n", &SettingsState::baud_index, 1},
        {"[Baudrate]\n\xff\n", &SettingsState::baud_index, 0},
        {"[Function]\n4\n", &SettingsState::operation_index, 4},
        {"[Function]\n5\n", &SettingsState::operation_index, 0},
        {"[Upload Result mode]\n255\n", &SettingsState::options, 0x7f},
        {"[Upload Result mode]\n 12\n", &SettingsState::options, 0},
        {"[Upload Result mode]\n76\r\n", &SettingsState::options, 76},
        {"[Upload Result mode]\n99999999999999999999\n", &SettingsState::options, 0x7f},
    };
    for (const auto& c : cases)
        EXPECT_EQ(load(c.ini).*c.item, c.expected) << c.ini;
    const std::pair<const char*, int32_t> versions[] = {
        {"410", 410}, {"  -5x", -5}, {"+7", 7}, {"x1", 0}, {"99999999999", INT32_MAX}};
    for (const auto& [line, version] : versions)
        EXPECT_EQ(load("[Version]\n"s + line + "\n").version, version) << line;
}

TEST_F(LoadSettings, DirectoriesTakeTheLineUpToItsEnd) {
    const std::string headers[] = {"[Firmware]", "[DL MSType]", "[DL Autotest]", "[UL MSType]",
                                   "[UL Result]"};
    for (int i = 0; i < DIRECTORY_COUNT; ++i) {
        EXPECT_EQ(load(headers[i] + "\nC:\\RESULTS\r\n").directories[i], "C:\\RESULTS");
        EXPECT_EQ(load(headers[i] + "\nC:\\A\n\n").directories[i], "") << "last line counts";
    }
}

TEST_F(LoadSettings, LongLinesCountAsSeveralPieces) {
    const std::string tail(101, 't'), p498(498, 'p'), p499(499, 'p');
    EXPECT_EQ(load("[Firmware]\n" + p499 + tail + "\n").directories[0], tail);
    EXPECT_EQ(load("[Firmware]\n" + p499 + "\r\n").directories[0], "");
    EXPECT_EQ(load("[Firmware]\n" + p498 + "\r\n").directories[0], p498);
    const SettingsState state =
        load("[Excel column]\n" + p499 + tail + "\r\n" + p499 + "\r\na\rb\r\n[Printout Start]\n" +
             p499 + tail + "\n" + p499 + "\r\n");
    EXPECT_EQ(state.excel_columns.entries, (Lines{p499, tail + "\n", p499, "\n", "a\rb\n"}));
    // A line that exactly fills a piece leaves no empty printout entry behind.
    EXPECT_EQ(state.printout_start.entries, (Lines{p499, tail, p499}));
    // CR LF split across the reader's 4096-byte buffer still is one line end.
    const std::string head = "[Excel row]\n" + std::string(4095 - 12, 'x');
    Lines rows(8, std::string(499, 'x'));
    rows.insert(rows.end(), {std::string(91, 'x') + "\n", "z"});
    EXPECT_EQ(load(head + "\r\nz").excel_rows.entries, rows);
}

TEST_F(LoadSettings, ListHeaderKeepsTheOldHeadUntilTheFirstValueLine) {
    const SettingsState state = load(
        "[Excel column]\r\n4 Time\r\n\r\n[Excel row]\nA01;x;4\n[Printout Start]\r\nab\r\n"
        "[Printout End]\nend\n[Printout End]\n[Printout Middle]\nx\n[Excel column]\nlast");
    EXPECT_EQ(state.excel_columns.entries, (Lines{"last"}));
    EXPECT_TRUE(state.excel_columns.from_file);
    EXPECT_EQ(state.excel_rows.entries, (Lines{"A01;x;4\n"}));
    EXPECT_EQ(state.printout_start.entries, (Lines{"ab"}));
    EXPECT_EQ(state.printout_end.entries, (Lines{"end"}));
    const SettingsState empty = load("[Printout Start]\n[Printout End]\nx\n");
    EXPECT_EQ(empty.printout_start.entries,
              Lines(builtin_printout_start.begin(), builtin_printout_start.end()));
    EXPECT_FALSE(empty.printout_start.from_file);
}

TEST_F(LoadSettings, MiddleLinesSplitAtTheFirstComma) {
    EXPECT_EQ(load("[Printout Middle]\n15,{CL02}Power level\r\nno comma\n -3,x,y\nabc,z\n")
                  .printout_middle.entries,
              (std::vector<MiddleLine>{{15, "{CL02}Power level"}, {0, ""}, {-3, "x,y"}, {0, "z"}}));
}

TEST_F(LoadSettings, PrintoutLinesEndAtTheirFirstCarriageReturn) {
    SettingsState state =
        load("[Printout Start]\nabc\rdef\n[Printout Middle]\n10,x\ry\n[Printout End]\n\rz\n");
    EXPECT_EQ(state.printout_start.entries, Lines{"abc"});
    EXPECT_EQ(state.printout_middle.entries, (std::vector<MiddleLine>{{10, "x"}}));
    EXPECT_EQ(state.printout_end.entries, Lines{""});
}

TEST_F(LoadSettings, TableLinesStartTablesWhenTheNumberChanges) {
    const struct {
        const char* lines;
        std::vector<TranslationTable> tables;
    } cases[] = {
        {"1,0,{PASS}\n1,1,{FAIL}\n2,0,{?}\n", {{"PASS", "FAIL"}, {"?"}}},
        {"1,0,{a}\n1,0,{b}\n2,0,{c}\n1,0,{d}\n", {{"a", "b"}, {"c"}, {"d"}}},
        {"0,0,{x}\n1,5,{y}\r\n", {{"y"}}},
        {"3,0,abc\n3,1,{}\n3,2,{a}b}\n3,3,\n3\n", {{"", "", "a", ""}}},
        {"1,0,{a}\n0,0,{b}\n0,1,{c}\n", {{"a"}, {"b"}}},
        {"1,0,{a,b}\n", {{"a,b"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(load("[Printout Table]\n"s + c.lines).printout_tables.entries, c.tables)
            << c.lines;
    EXPECT_FALSE(load("[Printout Table]\n0,0,{x}\n").printout_tables.from_file);
}

TEST_F(LoadSettings, PortMapTakesWholeValidLinesOnly) {
    EXPECT_EQ(load("[Port map]\nCOM3=/dev/ttyUSB0\r\nCOM0=/a\nCOM256=/b\nCOM4=\nCOM5/c\nCOM7=" +
                   std::string(600, 'x') + "\nCOM8=/e")
                  .port_map,
              (std::map<uint32_t, std::string>{{3, "/dev/ttyUSB0"}, {8, "/e"}}));
}

TEST_F(LoadSettings, DamagedFileLosesOnlyWhatItMust) {
    const SettingsState state =
        load("\0\x01[\xff\r\r,}{\n\0COM5\n[\xffPort]\r\rx\nCOM6\n"s + std::string(3000, '\0') +
             "\n[Baudrate]\n2\n[Printout Start]\na\0b\n"s);
    EXPECT_EQ(state.baud_index, 2u);
    EXPECT_EQ(state.port_number, 0u);
    EXPECT_EQ(state.printout_start.entries, (Lines{"a\0b"s}));
}

// A list section past the sane bound falls back to its built-in list and reports as if
// memory ran out; the long start lines trip the text bound, the others the entry bound.
TEST_F(LoadSettings, OversizedListFallsBackAndReports) {
    const struct {
        const char* header;
        int bit;
        const char* message;
        std::string line;
    } cases[] = {
        {"[Excel column]", 7, "     Insufficient memory      \n\nExcel default columns selected\n",
         "4 a\n"},
        {"[Excel row]", 8, "     Insufficient memory   \n\nExcel default rows selected\n", "A\n"},
        {"[Printout Start]", 21,
         "          Insufficient memory   \n\nPrintout Start default definition selected\n",
         std::string(498, 's') + "\n"},
        {"[Printout Middle]", 22,
         "          Insufficient memory   \n\nPrintout Middle default definition selected\n",
         "1,x\n"},
        {"[Printout End]", 23,
         "          Insufficient memory   \n\nPrintout End default definition selected\n", "e\n"},
        {"[Printout Table]", 24,
         "          Insufficient memory   \n\nPrintout Table default definition selected\n",
         "1,0,{x}\n"},
    };
    SettingsState defaults;
    reset_settings(defaults, false);
    defaults.baud_index = 1;
    const std::string expected = written(defaults);
    for (const auto& c : cases) {
        std::string ini = c.header + "\n"s;
        for (int i = 0; i < 10001; ++i)
            ini += c.line;
        ini += "[Baudrate]\n1\n";
        window.messages.clear();
        SettingsState automatic = load(ini, CMD_AUTOMATIC);
        EXPECT_EQ(automatic.error_flags, 1u << c.bit) << c.header;
        EXPECT_TRUE(window.messages.empty()) << c.header;
        EXPECT_EQ(written(automatic), expected) << c.header;
        EXPECT_EQ(load(ini).error_flags, 0u);
        ASSERT_EQ(window.messages.size(), 1u) << c.header;
        EXPECT_EQ(window.messages[0].text, c.message);
    }
}

TEST_F(LoadSettings, FailedListSectionIgnoresItsRestAndCanBeReadAgain) {
    std::string ini = "[Printout End]\n";
    for (int i = 0; i < 10010; ++i)
        ini += "e\n";
    const SettingsState state =
        load(ini + "[Printout Start]\na\n[Printout End]\nz\n", CMD_AUTOMATIC);
    EXPECT_EQ(state.printout_end.entries, (Lines{"z"}));
    EXPECT_EQ(state.printout_start.entries, (Lines{"a"}));
    EXPECT_EQ(state.error_flags, error_bit(ERR_PRINTOUT_END_MEMORY));
}

}  // namespace
}  // namespace trelvo
