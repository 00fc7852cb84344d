#include <gtest/gtest.h>

#include <fstream>

#include "sim/config.h"
#include "tests/sim/sim_fixture.h"

namespace trelvo::sim::testing {
namespace {

TEST(KvSimOptions, DefaultsAreAKv72WithBuiltInDataAndNoFaults) {
    ParsedOptions parsed = parse_program_options({"--link", "/tmp/kv70"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const ProgramOptions& options = parsed.options;
    EXPECT_EQ(options.link, "/tmp/kv70");
    EXPECT_EQ(options.tester.model, 72);
    EXPECT_EQ(options.tester.idn, "");
    EXPECT_FALSE(options.tester.results);
    EXPECT_FALSE(options.tester.mobile_list);
    EXPECT_FALSE(options.tester.autotests);
    EXPECT_EQ(options.tester.baud, 0u);
    EXPECT_FALSE(options.tester.polling);
    EXPECT_TRUE(options.tester.faults.empty());
}

TEST(KvSimOptions, EveryOptionLandsInTheConfiguration) {
    ParsedOptions parsed =
        parse_program_options({"--link=/tmp/x", "--model",    "71",       "--idn",   "A,71 B,C,D",
                               "--results",     "r.txt",      "--mslist", "m.aut",   "--autotests",
                               "ONE,TWO THREE", "--store",    "/tmp/s",   "--baud",  "9600",
                               "--polling",     "--trace",    "t.log",    "--fault", "can",
                               "--fault=xoff",  "--parse-ms", "40"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const ProgramOptions& options = parsed.options;
    EXPECT_EQ(options.link, "/tmp/x");
    EXPECT_EQ(options.tester.model, 71);
    EXPECT_EQ(options.tester.idn, "A,71 B,C,D");
    EXPECT_EQ(options.results_file, "r.txt");
    EXPECT_EQ(options.mslist_file, "m.aut");
    EXPECT_EQ(options.tester.autotests, (std::vector<std::string>{"ONE", "TWO THREE"}));
    EXPECT_EQ(options.tester.store_dir, "/tmp/s");
    EXPECT_EQ(options.tester.baud, 9600u);
    EXPECT_EQ(options.tester.parse_ms, 40u);
    EXPECT_TRUE(options.tester.polling);
    EXPECT_EQ(options.trace, "t.log");
    EXPECT_TRUE(options.tester.faults.has(Fault::Can));
    EXPECT_TRUE(options.tester.faults.has(Fault::Xoff));
    EXPECT_FALSE(options.tester.faults.has(Fault::NoC));
}

TEST(KvSimOptions, EmptyAutotestListMeansAnEmptyDirectory) {
    ParsedOptions parsed = parse_program_options({"--link", "x", "--autotests", ""});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_TRUE(parsed.options.tester.autotests);
    EXPECT_TRUE(parsed.options.tester.autotests->empty());
}

TEST(KvSimOptions, AutotestCountGivesANumberedDirectory) {
    ParsedOptions parsed = parse_program_options({"--link", "x", "--autotest-count", "250"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const std::vector<std::string>& names = *parsed.options.tester.autotests;
    ASSERT_EQ(names.size(), 250u);
    EXPECT_EQ(names.front(), "AUTOTEST 001");
    EXPECT_EQ(names.back(), "AUTOTEST 250");
}

struct BadArguments {
    std::vector<std::string> args;
    const char* error_part;
};
void PrintTo(const BadArguments& c, std::ostream* out) {
    *out << ::testing::PrintToString(c.args);
}

class KvSimOptionErrors : public ::testing::TestWithParam<BadArguments> {};

TEST_P(KvSimOptionErrors, AreRefusedWithAReason) {
    ParsedOptions parsed = parse_program_options(GetParam().args);
    EXPECT_FALSE(parsed.ok());
    EXPECT_NE(parsed.error.find(GetParam().error_part), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, KvSimOptionErrors,
    ::testing::Values(BadArguments{{}, "--link"}, BadArguments{{"--model", "73"}, "71 or 72"},
                      BadArguments{{"--link", "x", "--fault", "nak"}, "unknown fault"},
                      BadArguments{{"--link", "x", "--baud", "0"}, "--baud"},
                      BadArguments{{"--link", "x", "--baud", "96OO"}, "--baud"},
                      BadArguments{{"--link", "x", "--parse-ms", "10001"}, "--parse-ms"},
                      BadArguments{{"--link", "x", "--autotests", "A,,B"}, "empty name"},
                      BadArguments{{"--link", "x", "--autotest-count", "256"}, "0 to 255"},
                      BadArguments{{"--link", "x", "--idn", "a\nb"}, "single line"},
                      BadArguments{{"--link", "x", "--store"}, "needs a value"},
                      BadArguments{{"--link", "x", "--polling=1"}, "--polling"},
                      BadArguments{{"--link", "x", "--speed", "1"}, "unknown option"},
                      BadArguments{{"--link", "x", "extra"}, "unexpected argument"}));

TEST(KvSimOptions, HelpNeedsNoLink) {
    ParsedOptions parsed = parse_program_options({"--help"});
    EXPECT_TRUE(parsed.ok());
    EXPECT_TRUE(parsed.options.help);
    EXPECT_NE(usage_text().find("stall-in-block"), std::string::npos);
}

class KvSimOptionFiles : public SimTest {};

TEST_F(KvSimOptionFiles, ResultAndMobileListFilesAreReadWhole) {
    const std::filesystem::path results = scratch() / "results.txt";
    const std::filesystem::path mslist = scratch() / "FIELD.AUT";
    std::ofstream(results, std::ios::binary) << "A01;x\r\n";
    std::ofstream(mslist, std::ios::binary) << std::string("\x00\x01\xff", 3);
    ParsedOptions parsed = parse_program_options(
        {"--link", "x", "--results", results.string(), "--mslist", mslist.string()});
    ASSERT_TRUE(parsed.ok());
    std::string error;
    ASSERT_TRUE(load_option_files(parsed.options, error)) << error;
    EXPECT_EQ(parsed.options.tester.results, "A01;x\r\n");
    EXPECT_EQ(parsed.options.tester.mobile_list, std::string("\x00\x01\xff", 3));
    EXPECT_EQ(parsed.options.tester.mobile_list_name, "FIELD.AUT");
}

TEST_F(KvSimOptionFiles, MissingFileIsReportedByName) {
    ParsedOptions parsed =
        parse_program_options({"--link", "x", "--results", (scratch() / "none.txt").string()});
    ASSERT_TRUE(parsed.ok());
    std::string error;
    EXPECT_FALSE(load_option_files(parsed.options, error));
    EXPECT_NE(error.find("none.txt"), std::string::npos);
}

}  // namespace
}  // namespace trelvo::sim::testing
