// The program's arguments: our long options, unusable ones, and the rebuilt command line;
// the port listing.
#include <gtest/gtest.h>
#include <stdio.h>

#include <ostream>
#include <string>
#include <vector>

#include "engine/virtual_clock.h"
#include "shell/program.h"
#include "tests/support/memory_device.h"

namespace trelvo {
namespace {

struct Arguments {
    std::vector<std::string> args;
    std::string command_line;
    std::string error;
};
void PrintTo(const Arguments& c, std::ostream* os) {
    for (const std::string& arg : c.args) {
        for (char ch : arg)
            *os << (ch == '"' ? '_' : ch);
        *os << ' ';
    }
}

class ProgramArgumentsTable : public ::testing::TestWithParam<Arguments> {};

TEST_P(ProgramArgumentsTable, SplitsLongOptionsFromTheCommandLine) {
    ProgramArguments parsed = parse_program_arguments(GetParam().args);
    EXPECT_EQ(parsed.error, GetParam().error);
    if (GetParam().error.empty()) {
        EXPECT_EQ(parsed.command_line, GetParam().command_line);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramArgumentsTable,
    ::testing::Values(
        Arguments{{}, "", ""},
        Arguments{{"-F3", "-P", "/data/results"}, "-F3 -P \"/data/results\"", ""},
        Arguments{{"-F3", "-P/data/results"}, "-F3 -P\"/data/results\"", ""},
        Arguments{{"-F3 -P\"/data/results\""}, "-F3 -P\"/data/results\"", ""},
        Arguments{{"-S", "batch.txt"}, "-S \"batch.txt\"", ""},
        Arguments{{"--headless", "-F3"}, "-F3", ""},
        // doubled short options are the parser's, not ours
        Arguments{{"--F1"}, "--F1", ""}, Arguments{{"--MP1", "-F3"}, "--MP1 -F3", ""},
        Arguments{{"--convert", "list.txt", "-ME1"}, "-ME1", ""},
        Arguments{{"--frobnicate"}, "", "unknown option --frobnicate"},
        Arguments{{"-F3", "--list-port"}, "", "unknown option --list-port"},
        Arguments{{"--convert"}, "", "--convert needs a file"},
        // the value of --idle-timeout is never an option of the parser's
        Arguments{{"--idle-timeout", "30", "-F3"}, "-F3", ""},
        Arguments{{"--idle-timeout=30", "-F3"}, "-F3", ""},
        Arguments{
            {"--idle-timeout", "0"}, "", "--idle-timeout needs a number of seconds, 1 to 604800"},
        Arguments{
            {"--idle-timeout=-F3"}, "", "--idle-timeout needs a number of seconds, 1 to 604800"},
        Arguments{
            {"--idle-timeout"}, "", "--idle-timeout needs a number of seconds, 1 to 604800"}));

TEST(ProgramArguments, LongOptionsAreRecognised) {
    ProgramArguments parsed =
        parse_program_arguments({"--help", "--version", "--list-ports", "--convert=a b.txt"});
    EXPECT_TRUE(parsed.options.help);
    EXPECT_TRUE(parsed.options.version);
    EXPECT_TRUE(parsed.options.list_ports);
    EXPECT_EQ(parsed.options.convert, "a b.txt");
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parse_program_arguments({"--idle-timeout", "604800"}).options.idle_timeout_s,
              604800u);
}

TEST(ProgramUsage, NamesEveryOption) {
    std::string usage = usage_text();
    for (const char* option : {"-C", "-B", "-F", "-M", "-P", "-S", "--headless", "--list-ports",
                               "--convert", "--idle-timeout", "--help", "--version", "Exit status"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(ListPorts, WritesOneComLinePerPortFound) {
    VirtualClock clock;
    MemoryLink one(clock), two(clock);
    MemoryOpener opener;
    opener.provide(1, one.pc());
    opener.provide(40, two.pc());
    opener.refuse(7, DeviceError::Busy, "busy");
    SettingsState state;
    state.port_map[1] = "/dev/pts/9";
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    list_ports(opener, clock, state, out);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "COM1 pts/9\nCOM7 ttyS6\nCOM40 ttyUSB7\n");
    free(text);
}

}  // namespace
}  // namespace trelvo
