#include "shell/command_line.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace trelvo {
namespace {

namespace fs = std::filesystem;

TEST(ParseNumber, ReadsDigitsAfterSpacesAndLeavesTheValueAloneWithoutThem) {
    const struct {
        const char* text;
        bool found;
        uint32_t value;
    } cases[] = {
        {"3", true, 3},
        {"  9600 baud", true, 9600},
        {"12abc", true, 12},
        {"", false, 77},
        {"  ", false, 77},
        {"\t5", false, 77},
        {"-5", false, 77},
        {"0", true, 0},
        {"4294967295", true, 4294967295u},
        {"4294967296", true, 0},  // wraps in 32 bits
    };
    for (const auto& c : cases) {
        uint32_t value = 77;
        EXPECT_EQ(parse_number(c.text, value), c.found) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

struct ParseCase {
    const char* line;
    uint32_t flags;
    uint32_t port, baud, operation, options;
};

class ParseCommandLine : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLine, AppliesTheOptionsItFinds) {
    const ParseCase& c = GetParam();
    SettingsState state;
    state.port_number = 1, state.baud_index = 0, state.operation_index = 0;
    state.options = OPT_EXCEL | OPT_PRINTOUT | OPT_DIRECT_PRINT;
    state.error_flags = 0xFFFF;
    BatchScript script;
    parse_command_line(state, c.line, script);
    EXPECT_EQ(state.command_line_flags, c.flags);
    EXPECT_EQ(state.error_flags, 0u);
    EXPECT_EQ(state.port_number, c.port);
    EXPECT_EQ(state.baud_index, c.baud);
    EXPECT_EQ(state.operation_index, c.operation);
    EXPECT_EQ(state.options, c.options);
}

constexpr uint32_t START_OPTIONS = OPT_EXCEL | OPT_PRINTOUT | OPT_DIRECT_PRINT;

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseCommandLine,
    ::testing::Values(
        ParseCase{"", 0, 1, 0, 0, START_OPTIONS},
        ParseCase{"-F3 -C2 -B9600", CMD_AUTOMATIC | CMD_PORT | CMD_BAUD, 2, 2, 3, START_OPTIONS},
        ParseCase{"-F5 -B1200 -C0 -C300", 0, 1, 0, 0, START_OPTIONS},
        ParseCase{"-f 1", CMD_AUTOMATIC, 1, 0, 1, START_OPTIONS},
        ParseCase{"--F1", CMD_AUTOMATIC, 1, 0, 1, START_OPTIONS},
        ParseCase{"-b 4800 -c 255", CMD_BAUD | CMD_PORT, 255, 3, 0, START_OPTIONS},
        ParseCase{"-MP1 -F0", CMD_POLLING | CMD_AUTOMATIC, 1, 0, 0, START_OPTIONS | OPT_POLLING},
        ParseCase{"-MT0", CMD_OPTIONS, 1, 0, 0, OPT_EXCEL | OPT_DIRECT_PRINT},
        ParseCase{"-MO0", CMD_OPTIONS, 1, 0, 0, OPT_EXCEL | OPT_PRINTOUT},
        ParseCase{"-ME0 -MO0 -MT0 -MO1", CMD_OPTIONS, 1, 0, 0, OPT_DIRECT_PRINT | OPT_PRINTOUT},
        ParseCase{"-md1 -mi 2 -mn1", CMD_OPTIONS, 1, 0, 0,
                  START_OPTIONS | OPT_DELETE_ALL | OPT_IMEI | OPT_OUTPUT_FILE},
        ParseCase{"-MX1 -M P1 -MD", 0, 1, 0, 0, START_OPTIONS},  // unknown letter, gap, no number
        ParseCase{"-F3 -F9", CMD_AUTOMATIC, 1, 0, 3, START_OPTIONS},
        // Text in double quotes is a path, never options.
        ParseCase{"-P\"/data/run-F2\"", CMD_PATH, 1, 0, 0, START_OPTIONS},
        ParseCase{"-F3 -P\"/tmp/a -C9 -B4800\" -C4", CMD_AUTOMATIC | CMD_PATH | CMD_PORT, 4, 0, 3,
                  START_OPTIONS},
        ParseCase{"-P\"/unclosed -F2", 0, 1, 0, 0, START_OPTIONS}));

TEST(ParseCommandLinePath, QuotedPathIsTakenAndAMissingCloseLeavesTheFlagClear) {
    SettingsState state;
    BatchScript script;
    parse_command_line(state, "-F3 -P \"/data/results\"", script);
    EXPECT_EQ(state.command_line_path, "/data/results");
    EXPECT_TRUE(state.command_line_flags & CMD_PATH);
    parse_command_line(state, "-P\"/data/open", script);
    EXPECT_EQ(state.command_line_path, "/data/open");
    EXPECT_FALSE(state.command_line_flags & CMD_PATH);
    parse_command_line(state, "-P/no/quotes", script);
    EXPECT_EQ(state.command_line_path, "/data/open");  // no quote: nothing happens
    parse_command_line(state, "-P\"" + std::string(600, 'x') + "\"", script);
    EXPECT_EQ(state.command_line_path.size(), PATH_CAPACITY - 1);
}

class ScriptTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trelvo-script-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    }
    std::vector<std::string> lines(const std::string& bytes, std::string* last = nullptr) {
        BatchScript script;
        EXPECT_TRUE(script.open(write("s.txt", bytes)));
        std::vector<std::string> out;
        std::string line;
        while (script.read_line(line))
            out.push_back(line);
        if (last) *last = line;
        return out;
    }
    fs::path dir;
};

TEST_F(ScriptTest, EmptyLinesAndCrLfPairsGiveNoLines) {
    std::string last;
    EXPECT_EQ(lines("-F1\r\n\r\n\n-C2\r\n", &last), (std::vector<std::string>{"-F1", "-C2"}));
    EXPECT_EQ(last, "");
}

TEST_F(ScriptTest, LastLineWithoutLineEndComesBackWithTheEnd) {
    std::string last;
    EXPECT_EQ(lines("-F1\n-F0", &last), std::vector<std::string>{"-F1"});
    EXPECT_EQ(last, "-F0");
}

TEST_F(ScriptTest, OverlongLineIsCutAndItsRestBecomesTheNextLine) {
    std::string text;
    for (int i = 0; i < 1200; ++i)
        text.push_back(static_cast<char>('a' + i % 26));
    std::string last;
    auto got = lines(text + "\n", &last);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], text.substr(0, 998));
    EXPECT_EQ(got[1], text.substr(999));  // the 999th character is dropped
}

TEST_F(ScriptTest, SOptionOpensTheScriptAndClearsTheFlagsBeforeIt) {
    std::string path = write("batch.txt", "-F1\n");
    SettingsState state;
    BatchScript script;
    parse_command_line(state, "-F2 -S\"" + path + "\" -C5", script);
    EXPECT_TRUE(script.is_open());
    EXPECT_EQ(state.command_line_flags, CMD_PORT);  // -F2 cleared, -C5 after it kept
    // A second -S while one is open changes nothing.
    parse_command_line(state, "-S\"" + write("other.txt", "-F4\n") + "\"", script);
    std::string line;
    EXPECT_TRUE(script.read_line(line));
    EXPECT_EQ(line, "-F1");
}

TEST_F(ScriptTest, SOptionNamingAMissingFileIsIgnored) {
    SettingsState state;
    BatchScript script;
    parse_command_line(state, "-S\"" + (dir / "missing.txt").string() + "\" -F2", script);
    EXPECT_FALSE(script.is_open());
    EXPECT_EQ(state.command_line_flags, CMD_AUTOMATIC);
    EXPECT_EQ(state.operation_index, 2u);
}

struct RebuildCase {
    std::vector<std::string> args;
    std::string line;
};

class RebuildCommandLine : public ::testing::TestWithParam<RebuildCase> {};

TEST_P(RebuildCommandLine, JoinsArgumentsAndQuotesPathValues) {
    LongOptions options;
    EXPECT_EQ(rebuild_command_line(GetParam().args, options), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Args, RebuildCommandLine,
    ::testing::Values(RebuildCase{{}, ""},
                      RebuildCase{{"-F3", "-P", "/data/results"}, "-F3 -P \"/data/results\""},
                      RebuildCase{{"-F3", "-P/data/results"}, "-F3 -P\"/data/results\""},
                      RebuildCase{{"-F3 -P\"/data/results\""}, "-F3 -P\"/data/results\""},
                      RebuildCase{{"-p", "/my data/x"}, "-p \"/my data/x\""},
                      RebuildCase{{"-S", "batch.txt"}, "-S \"batch.txt\""},
                      RebuildCase{{"-P\"/a\""}, "-P\"/a\""},
                      RebuildCase{{"--headless", "-F0", "--F1"}, "-F0 --F1"},
                      RebuildCase{{"-P"}, "-P"}));

TEST(RebuildCommandLineMeaning, ThreeSpellingsOfAPathMeanTheSame) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-F3", "-P", "/data/results"},
          std::vector<std::string>{"-F3", "-P/data/results"},
          std::vector<std::string>{"-F3 -P\"/data/results\""}}) {
        LongOptions options;
        SettingsState state;
        BatchScript script;
        parse_command_line(state, rebuild_command_line(args, options), script);
        EXPECT_EQ(state.command_line_path, "/data/results");
        EXPECT_EQ(state.command_line_flags, CMD_AUTOMATIC | CMD_PATH);
    }
}

TEST(RebuildCommandLineLongOptions, AreTakenOutAndRecorded) {
    LongOptions options;
    std::string line = rebuild_command_line(
        {"--help", "--version", "--headless", "--list-ports", "--convert", "list.txt", "-F3"},
        options);
    EXPECT_EQ(line, "-F3");
    EXPECT_TRUE(options.help && options.version && options.headless && options.list_ports);
    EXPECT_EQ(options.convert, "list.txt");
    LongOptions missing;
    rebuild_command_line({"--convert"}, missing);
    EXPECT_EQ(missing.unknown_errors.size(), 1u);
}

}  // namespace
}  // namespace trelvo
