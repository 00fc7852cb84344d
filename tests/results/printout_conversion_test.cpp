#include "results/printout_conversion.h"

#include <gtest/gtest.h>

#include <string>

#include "results/render_line.h"
#include "settings/builtin_tables.h"
#include "tests/results/test_files.h"

namespace trelvo {
namespace {

using testing::contents_of;
using testing::file_with;
using testing::FilePtr;

// A small template whose lines show which section rendered them.
SettingsState small_template() {
    SettingsState state;
    state.printout_start.entries = {"S {A01-1}"};
    state.printout_middle.entries = {
        {10, "M10 {A10-1}"}, {15, "M15 {A15-2}"}, {15, "second 15"}, {43, "U {A43-2}"}};
    state.printout_end.entries = {"E {A01-2}"};
    return state;
}

std::string convert(std::string_view source_text, const SettingsState& state = small_template()) {
    FilePtr source = file_with(source_text);
    FilePtr out(std::tmpfile());
    write_printout(source.get(), out.get(), state);
    return contents_of(out.get());
}

// ---- blocks and sections

struct BlockCase {
    const char* name;
    std::string source;
    std::string printout;
};

class WritePrintoutBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(WritePrintoutBlocks, RendersOneReportPerBlock) {
    EXPECT_EQ(convert(GetParam().source), GetParam().printout);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, WritePrintoutBlocks,
    ::testing::Values(BlockCase{"EmptySource", "", ""},
                      BlockCase{"NoTestRecord", "A10;0\r\nA15;0,5\r\n", ""},
                      BlockCase{"OneBlock", "A01;t1,d1\r\nA10;0\r\nA15;0,5\r\n",
                                "S t1\r\nM10 0\r\nM15 5\r\nE d1\r\n"},
                      BlockCase{"TwoBlocksWithAFormFeedBetweenAndNoneAfter",
                                "A01;t1,d1\r\nA10;0\r\nA01;t2,d2\r\nA10;1\r\n",
                                "S t1\r\nM10 0\r\nE d1\r\n\fS t2\r\nM10 1\r\nE d2\r\n"},
                      BlockCase{"RecordsBeforeTheFirstBlockAreNotPrinted",
                                "A10;9\r\nA15;0,9\r\nA01;t1,d1\r\n", "S t1\r\nE d1\r\n"},
                      BlockCase{"OnlyTheFirstMiddleLineOfARecordNumber", "A01;t1,d1\r\nA15;0,5\r\n",
                                "S t1\r\nM15 5\r\nE d1\r\n"},
                      BlockCase{"RecordWithoutMiddleLinePrintsNothing",
                                "A01;t1,d1\r\nA12;0\r\nA02;1,2\r\n", "S t1\r\nE d1\r\n"},
                      BlockCase{"BareLfSource", "A01;t1,d1\nA10;0\n", "S t1\r\nM10 0\r\nE d1\r\n"},
                      BlockCase{"UnterminatedLastLineIsNotHandled", "A01;t1,d1\r\nA10;0",
                                "S t1\r\nE d1\r\n"},
                      BlockCase{"EmptyLinesInABlock", "A01;t1,d1\r\n\r\n\nA10;0\r\n",
                                "S t1\r\nM10 0\r\nE d1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WritePrintout, ReadsTheSourceFromItsStart) {
    FilePtr source = file_with("A01;t1,d1\r\n");
    FilePtr out(std::tmpfile());
    ASSERT_NE(std::ftell(source.get()), 0);
    write_printout(source.get(), out.get(), small_template());
    EXPECT_EQ(contents_of(out.get()), "S t1\r\nE d1\r\n");
}

TEST(WritePrintout, MiddleLineFindsTheRecordsThatFollowItsOwn) {
    SettingsState state = small_template();
    state.printout_middle.entries = {{10, "{A10-1}/{A15-2}/{A01-1}"}};
    EXPECT_EQ(convert("A01;t1,d1\r\nA10;0\r\nA15;0,7\r\nA01;t2,d2\r\n", state),
              "S t1\r\n0/7/t2\r\nE d1\r\n\fS t2\r\nE d2\r\n");
}

// ---- buffer limits

TEST(WritePrintout, LineOf999CharactersIsHandled) {
    std::string line = "A43;1,";
    line.append(999 - line.size(), 'u');
    std::string printed = "U " + std::string(PRINTOUT_COLUMNS - 2, 'u');
    EXPECT_EQ(convert("A01;t1,d1\r\n" + line + "\nA10;1\r\n"),
              "S t1\r\n" + printed + "\r\nM10 1\r\nE d1\r\n");
}

TEST(WritePrintout, LineOf1000CharactersEndsReadingButTheBlockStillEnds) {
    std::string source = "A01;t1,d1\r\nA10;0\r\n" + std::string(1000, 'x') + "\nA10;1\r\n";
    EXPECT_EQ(convert(source), "S t1\r\nM10 0\r\nE d1\r\n");
}

TEST(WritePrintout, VeryLongLineNeverOverruns) {
    std::string source = "A01;t1,d1\r\n" + std::string(200000, 'A') + "\r\nA01;t2,d2\r\n";
    EXPECT_EQ(convert(source), "S t1\r\nE d1\r\n");
}

// A block whose A03 record lies behind `filler_lines` lines of 100 bytes each.
std::string block_with_filler(int filler_lines) {
    std::string source = "A01;t1,d1\r\n";
    for (int k = 0; k < filler_lines; ++k)
        source += std::string(98, '0') + "\r\n";
    return source + "A03;late\r\n";
}

TEST(WritePrintout, StartAndEndSectionsSeeOnlyTheFirst1000BytesOfTheBlock) {
    SettingsState state = small_template();
    state.printout_end.entries = {"E {A03-1}"};
    EXPECT_EQ(convert(block_with_filler(8), state), "S t1\r\nE late\r\n");
    EXPECT_EQ(convert(block_with_filler(10), state), "S t1\r\nE \r\n");
}

TEST(WritePrintout, BlockCopyTakesTheRecordsAfterATestRecordAtTheBufferEnd) {
    SettingsState state = small_template();
    state.printout_start.entries = {"S {A01-1} {A03-1}"};
    std::string before;
    while (before.size() < 987)
        before += "A10;0\r\n";
    EXPECT_EQ(convert(before + "A01;t1,d1\r\nA03;KV72\r\n", state), "S t1 KV72\r\nE d1\r\n");
}

TEST(WritePrintout, ManyBlocksAcrossManyBufferFills) {
    std::string source;
    std::string expected;
    for (int k = 0; k < 150; ++k) {
        std::string n = std::to_string(k);
        source += "A01;t" + n + ",d" + n + "\r\nA10;" + n + "\r\nA15;0," + n + ",1\r\n";
        if (k > 0) expected += "\f";
        expected += "S t" + n + "\r\nM10 " + n + "\r\nM15 " + n + "\r\nE d" + n + "\r\n";
    }
    EXPECT_EQ(convert(source), expected);
}

TEST(WritePrintout, EmptyTemplateWritesOnlyFormFeeds) {
    EXPECT_EQ(convert("A01;1\r\nA10;0\r\nA01;2\r\nA01;3\r\n", SettingsState{}), "\f\f");
}

TEST(FindMiddleLine, GivesTheFirstLineWithTheRecordNumber) {
    std::vector<MiddleLine> middle = {{15, "first"}, {16, "x"}, {15, "second"}, {-1, "neg"}};
    ASSERT_NE(find_middle_line(middle, 15), nullptr);
    EXPECT_EQ(find_middle_line(middle, 15)->text, "first");
    EXPECT_EQ(find_middle_line(middle, 99), nullptr);
    EXPECT_EQ(find_middle_line(middle, UINT32_MAX), nullptr);
}

TEST(WritePrintout, BuiltinTemplateOnAResultListMatchesTheGoldenFile) {
    SettingsState state;
    set_builtin_definitions(state);
    std::string source = testing::read_file(testing::test_data("result_list.res"));
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(convert(source, state), testing::read_file(testing::test_data("result_list.txt")));
}

}  // namespace
}  // namespace trelvo
