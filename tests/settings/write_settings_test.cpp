#include <gtest/gtest.h>
#include <sys/stat.h>

#include "settings/builtin_tables.h"
#include "tests/settings/settings_fixture.h"

namespace trelvo {
namespace {

using WriteSettings = SettingsFileTest;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

TEST_F(WriteSettings, StartsWithTheScalarSectionsAndTheExcelColumns) {
    SettingsState state;
    reset_settings(state, false);
    state.port_number = 1, state.operation_index = 3, state.options = 0x4c;
    state.directories[DIR_UL_RESULT] = "C:\\RESULTS";
    EXPECT_TRUE(written(state).starts_with(
        "[Version]\r\n410\r\n[Port]\r\nCOM1\r\n[Baudrate]\r\n0\r\n[Function]\r\n3\r\n"
        "[Firmware]\r\n\r\n[DL MSType]\r\n\r\n[DL Autotest]\r\n\r\n[UL MSType]\r\n\r\n"
        "[UL Result]\r\nC:\\RESULTS\r\n[Upload Result mode]\r\n76\r\n[Excel column]\r\n"
        "4 Time\r\n5 Date\r\n6 Result\r\n"));
}

TEST_F(WriteSettings, DefaultsGiveAllSixteenSectionsWithCrLfLines) {
    SettingsState state;
    reset_settings(state, false);
    const std::string text = written(state);
    size_t lines = 0, position = 0;
    Lines headers;
    for (size_t end; (end = text.find("\r\n", position)) != std::string::npos; position = end + 2) {
        ++lines;
        if (text[position] == '[') headers.push_back(text.substr(position, end - position));
    }
    EXPECT_EQ(position, text.size());
    EXPECT_EQ(lines, 254u);
    EXPECT_EQ(headers,
              (Lines{"[Version]", "[Port]", "[Baudrate]", "[Function]", "[Firmware]", "[DL MSType]",
                     "[DL Autotest]", "[UL MSType]", "[UL Result]", "[Upload Result mode]",
                     "[Excel column]", "[Excel row]", "[Printout Start]", "[Printout Middle]",
                     "[Printout End]", "[Printout Table]"}));
    for (const char* part :
         {"\r\n[Port]\r\n\r\n[Baudrate]", "\r\n44 VGCS Priority\r\n[Excel row]\r\nA01;",
          "\r\n[Printout Middle]\r\n10,{LB01}Call from Mobile{CL25}{A10-1T10}\r\n",
          "\r\n[Printout Table]\r\n1,0,{PASS}\r\n1,1,{FAIL}\r\n2,0,{?}\r\n",
          "\r\n11,31,{|( ?dBm)|( ?dBm)|( ?dBm)|(32dBm)|(32dBm)|( ?dBm)}\r\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    EXPECT_TRUE(text.ends_with("\r\n17,6,{|/|/|/|/|/|/}\r\n"));
}

TEST_F(WriteSettings, PortOutsideItsRangeIsWrittenAsAnEmptyLineThatReadsAsOne) {
    for (uint32_t port : {0u, 256u}) {
        SettingsState state;
        state.port_number = port;
        EXPECT_NE(written(state).find("[Port]\r\n\r\n"), std::string::npos) << port;
        EXPECT_EQ(load(get("trelvo.ini")).port_number, 1u) << port;
    }
}

TEST_F(WriteSettings, RoundTripGivesTheSameBytesAndSettings) {
    const std::string long_line(600, 'L');
    const SettingsState first = load(
        "[Version]\n410\n[Port]\nCOM 12\n[Baudrate]\n3\n[Function]\n4\n[DL Autotest]\n/tests\n"
        "[Excel row]\nA01;x;4\n" +
        long_line +
        "\n[Printout Start]\nonly\n[Printout Middle]\n"
        "7,{CL02}x\nno comma\n[Printout Table]\n5,9,{a}\n5,9,{b}\n2,0,{c}\n[Printout End]\n" +
        long_line + "\n[Port map]\nCOM9=/dev/ttyS1\nCOM2=/dev/ttyUSB0\n[Excel column]\nno end");
    const std::string once = written(first);
    const SettingsState second = load(once);
    EXPECT_EQ(written(second), once);
    EXPECT_EQ(second.port_number, 12u);
    EXPECT_EQ(second.directories, first.directories);
    EXPECT_EQ(second.port_map, first.port_map);
    EXPECT_EQ(second.excel_rows.entries, first.excel_rows.entries);
    EXPECT_EQ(second.excel_columns.entries, (Lines{"no end\n"}));
    EXPECT_EQ(second.printout_start.entries, first.printout_start.entries);
    EXPECT_EQ(second.printout_middle.entries, first.printout_middle.entries);
    EXPECT_EQ(second.printout_end.entries, first.printout_end.entries);
    EXPECT_EQ(second.printout_tables.entries, first.printout_tables.entries);
    for (const std::string& part :
         {"\r\nno end\r\n[Excel row]\r\nA01;x;4\r\n" + long_line + "\r\n[Printout Start]\r\n",
          "\r\n7,{CL02}x\r\n0,\r\n"s, "\r\n1,0,{a}\r\n1,1,{b}\r\n2,0,{c}\r\n"s})
        EXPECT_NE(once.find(part), std::string::npos) << part;
    EXPECT_TRUE(once.ends_with("[Port map]\r\nCOM2=/dev/ttyUSB0\r\nCOM9=/dev/ttyS1\r\n"));
}

TEST_F(WriteSettings, LfOnlyFileReadsLikeItsCrLfForm) {
    SettingsState state = load("[Printout Start]\nx\n[Port map]\nCOM3=/dev/a\n");
    state.port_number = 5, state.options = 0x22, state.directories[DIR_FIRMWARE] = "/fw";
    const std::string crlf = written(state);
    std::string lf = crlf;
    std::erase(lf, '\r');
    EXPECT_EQ(written(load(lf)), crlf);
}

// Random damaged files: reading never fails, and the written file settles (a file without
// a port reads back as port 1, so the second write is the settled one).
TEST_F(WriteSettings, DamagedFilesSettleAfterTwoWrites) {
    const Lines atoms = {"[Port]",
                         "[Excel column]",
                         "[Excel row]",
                         "[Printout Start]",
                         "[Printout Middle]",
                         "[Printout End]",
                         "[Printout Table]",
                         "[Port map]",
                         "[UL Result]",
                         "[Version]",
                         "COM",
                         "1",
                         "0",
                         ",",
                         "{",
                         "}",
                         "\r",
                         "\n",
                         std::string(1, '\0'),
                         "\xff",
                         "x",
                         "=",
                         "-",
                         std::string(230, 'x')};
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 40; ++round) {
        std::string ini;
        for (uint32_t n = next() % 300; n > 0; --n)
            ini += atoms[next() % atoms.size()];
        const std::string twice = written(load(written(load(ini))));
        EXPECT_TRUE(written(load(twice)) == twice) << "round " << round;
    }
}

TEST_F(WriteSettings, ReplacesTheOldFileKeepingItsPermissionsAndReleasesTheLists) {
    SettingsState state = load("[Printout Table]\n1,0,{b}\n");
    ASSERT_EQ(::chmod((dir / "trelvo.ini").c_str(), 0640), 0);
    EXPECT_TRUE(write_settings(state, window, dir));
    EXPECT_FALSE(state.printout_tables.from_file);
    EXPECT_EQ(state.printout_tables.entries, builtin_printout_tables());
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(get("trelvo.ini").ends_with("\r\n[Printout Table]\r\n1,0,{b}\r\n"));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "trelvo.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(files(), 1) << "no temporary file left";
}

TEST_F(WriteSettings, FailureShowsTheMessageKeepsTheOldFileAndReleasesTheLists) {
    std::filesystem::create_directory(dir / "trelvo.ini");
    put("trelvo.ini/keep", "k");
    for (const std::filesystem::path& target : {dir, dir / "missing"}) {
        SettingsState state;
        state.command_line_flags = CMD_AUTOMATIC;
        state.excel_rows = {{"x\n"}, true};
        window.messages.clear();
        EXPECT_FALSE(write_settings(state, window, target)) << target;
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].text, "Cannot create INI-File");
        EXPECT_EQ(window.messages[0].icon, MessageIcon::None);
        EXPECT_EQ(state.error_flags, 0u);
        EXPECT_FALSE(state.excel_rows.from_file);
        EXPECT_EQ(state.excel_rows.entries.size(), 39u);
    }
    EXPECT_EQ(get("trelvo.ini/keep"), "k");
    EXPECT_EQ(files(), 1) << "no temporary file left";
}

}  // namespace
}  // namespace trelvo
