#include "results/render_line.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/builtin_tables.h"

namespace trelvo {
namespace {

using namespace std::string_view_literals;

const std::vector<TranslationTable>& builtin_tables() {
    static const std::vector<TranslationTable> tables = [] {
        SettingsState state;
        set_builtin_definitions(state);
        return state.printout_tables.entries;
    }();
    return tables;
}

std::string spaces(size_t count) {
    return std::string(count, ' ');
}

std::string render(std::string_view line, std::string_view records = {}) {
    return render_template(line, records, builtin_tables()).text;
}

// ---- literal text, columns and alignment

struct LayoutCase {
    const char* name;
    const char* line;
    const char* records;
    std::string text;
};

class RenderLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(RenderLayout, PlacesTextInTheLineBuffer) {
    EXPECT_EQ(render(GetParam().line, GetParam().records), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, RenderLayout,
    ::testing::Values(
        LayoutCase{"EmptyTemplate", "", "", ""},
        LayoutCase{"LiteralFromColumnZero", "Questionbox", "", "Questionbox"},
        LayoutCase{"ColumnLeftPadsWithBlanks", "{CL02}ab{CL06}c", "", "  ab  c"},
        LayoutCase{"ColumnLeftCanMoveBack", "abcdef{CL02}X", "", "abXdef"},
        LayoutCase{"MissingDigitsMeanColumnZero", "abc{CL}X", "", "Xbc"},
        LayoutCase{"ValueRightAlignedBeforeTheColumn", "{CR10}{A54-1}", "A54;123\r\n",
                   "       123"},
        LayoutCase{"LiteralMeetingRightAlignmentStartsOneColumnBefore", "{CR10}abc", "",
                   "         abc"},
        LayoutCase{"ColumnLeftSwitchesRightAlignmentOff", "{CR10}{CL05}{A54-1}", "A54;12\r\n",
                   "     12"},
        LayoutCase{"TagWithoutTextKeepsRightAlignment", "{CR10}{A99-1}x", "A54;12\r\n",
                   "         x"},
        LayoutCase{"EmptyEntrySwitchesRightAlignmentOff", "{CR10}{A31-2T12}x", "A31;0,0,0,0\r\n",
                   "          x"},
        LayoutCase{"ValueThatWouldStartLeftOfColumnZeroIsNotWritten", "{CR10}{A43-2}dropped{CL05}y",
                   "A43;1,twelve chars\r\n", "     y"},
        LayoutCase{"TextBeyondColumn89IsDropped", "{CL88}abcd", "", spaces(88) + "ab"},
        LayoutCase{"ValueBeyondColumn89IsCut", "{CL87}{A43-2}", "A43;1,abcdef\r\n",
                   spaces(87) + "abc"},
        LayoutCase{"ColumnBeyondTheLineSuppressesUntilMovedBack", "{CL95}lost{CL01}kept", "",
                   " kept"},
        LayoutCase{"LowerCaseTagsDoNothing", "{cl02}x{Cl09}y{cR05}z{lb01}", "", "xyz"},
        LayoutCase{"UnknownTagLettersDoNothing", "{CX05}a{LX}b{B01-1}c{}d", "A01;1\r\n", "abcd"},
        LayoutCase{"UnclosedTagEndsTheLine", "AB{A01-3T01", "A01;1,2,1\r\n", "AB"},
        LayoutCase{"ClosingBraceOutsideATagIsLiteral", "a}b", "", "a}b"},
        LayoutCase{"OpeningBraceInsideATagBelongsToTheTag", "a{CL{05}b", "", "b"},
        LayoutCase{"HugeColumnNumber", "{CL99999999999999}x{CR4294967296}y", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- blank lines

TEST(RenderBlankLines, CountsTheLastTagOfEachKindModulo256) {
    RenderedLine line = render_template("{LB02}{LB03}x{LA04}{LA01}", "", builtin_tables());
    EXPECT_EQ(line.blank_before, 3);
    EXPECT_EQ(line.text, "x");
    EXPECT_EQ(line.blank_after, 1);
    EXPECT_EQ(render_template("{LB257}{LA256}", "", builtin_tables()).blank_before, 1);
    EXPECT_EQ(render_template("{LB257}{LA256}", "", builtin_tables()).blank_after, 0);
    // 10^20 = 2^20 * 5^20, a multiple of 256.
    EXPECT_EQ(render_template("{LB100000000000000000000}", "", builtin_tables()).blank_before, 0);
    EXPECT_EQ(render_template("{LB100000000000000000003}", "", builtin_tables()).blank_before, 3);
}

TEST(RenderLine, WritesBlankLinesAroundTheLineWithCrLf) {
    std::string out;
    render_line(out, "{LB02}{CL02}x{LA01}", "", builtin_tables());
    render_line(out, "", "", builtin_tables());
    EXPECT_EQ(out, "\r\n\r\n  x\r\n\r\n\r\n");
}

// ---- value tags

struct ValueCase {
    const char* name;
    const char* line;
    std::string_view records;
    std::string text;
};

class RenderValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(RenderValue, WritesWhatTheTagFinds) {
    EXPECT_EQ(render(GetParam().line, GetParam().records), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, RenderValue,
    ::testing::Values(
        ValueCase{"PlainValue", "{A54-1}", "A54;3\r\n", "3"},
        ValueCase{"ValueEndsAtComma", "{A01-1}", "A01;09:14:37,12.03.2024\r\n", "09:14:37"},
        ValueCase{"ValueEndsAtBar", "{A43-2}", "A43;2,ab|cd\r\n", "ab"},
        ValueCase{"MissingRecordWritesNothing", "a{A02-2}b", "A01;1\r\n", "ab"},
        ValueCase{"MissingPositionWritesNothing", "a{A01-5}b", "A01;1\r\n", "ab"},
        ValueCase{"PositionZeroWritesNothing", "a{A01-0}b{A01}c", "A01;1\r\n", "abc"},
        ValueCase{"TableEntryByValue", "{A01-3T01}", "A01;1,2,1\r\n", "FAIL"},
        ValueCase{"EmptyValueIsIndexZero", "{A10-1T10}", "A10;\r\n", "PASS"},
        ValueCase{"TableZeroIsNoTable", "{A10-1T0}{A10-1T}", "A10;1\r\n", "11"},
        ValueCase{"LastTableNumberCounts", "{A10-1T01T10}", "A10;1\r\n", "FAIL *"},
        ValueCase{"MissingTableWritesNothing", "a{A10-1T18}b", "A10;1\r\n", "ab"},
        ValueCase{"HugeTableNumberWritesNothing", "a{A10-1T99999999999}b", "A10;1\r\n", "ab"},
        ValueCase{"MissingEntryWritesNothing", "a{A10-1T10}b", "A10;2\r\n", "ab"},
        ValueCase{"EntryPartBySelector", "{A15-2T11|A15-3}", "A15;0,5,4\r\n", "(20dBm)"},
        ValueCase{"UndefinedPower", "{A15-2T11|A15-3}", "A15;0,25,1\r\n", "( ?dBm)"},
        ValueCase{"MissingPartWritesNothing", "a{A15-2T11|A15-3}b", "A15;0,5,9\r\n", "ab"},
        ValueCase{"SelectorOfAMissingRecordIsZero", "a{A15-2T11|A99-3}b", "A15;0,5,4\r\n", "ab"},
        ValueCase{"SelectorSearchedFromTheTagsRecord", "{A10-1T11|A11-1}",
                  "A11;4\r\nA10;0\r\nA11;1\r\n", "(43dBm)"},
        ValueCase{"FollowingRecordsAreFound", "{A15-2} {A16-2}", "A15;0,5,1\r\nA16;0,62,1\r\n",
                  "5 62"},
        ValueCase{"RecordBehindManyLettersIsNotFound", "[{A02-2}]",
                  "A01;AAAAAAAA,x\r\nA03;1\r\nA02;1,350123456789012\r\n", "[]"},
        ValueCase{"ValueTagShorterThanAnId", "a{A0}b{A}c", "A01;1\r\n", "abc"},
        ValueCase{"HostileValueTag", "a{A01--|||TT-T|A01-}b{A01-1T1|}c", "A01;1\r\n", "abFAILc"},
        ValueCase{"ZeroFilledBlockCopy", "{A03-2}", "A03;KV72,720415\r\n\0\0\0A03;x,y"sv, "720415"},
        ValueCase{"NothingBehindTheZeroFill", "a{A02-2}b", "A01;1\r\n\0\0A02;1,2\r\n"sv, "ab"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the built-in template lines

TEST(RenderBuiltin, FailedCallFromMobileShowsTheMarkFromColumn25AfterABlankLine) {
    const char* line = "{LB01}Call from Mobile{CL25}{A10-1T10}";
    RenderedLine failed = render_template(line, "A10;1\r\n", builtin_tables());
    EXPECT_EQ(failed.blank_before, 1);
    EXPECT_EQ(failed.text, "Call from Mobile" + spaces(9) + "FAIL *");
    EXPECT_EQ(render(line, "A10;0\r\n"), "Call from Mobile" + spaces(9) + "PASS");
    EXPECT_EQ(render(line, "A10;\r\n"), "Call from Mobile" + spaces(9) + "PASS");
}

TEST(RenderBuiltin, TxPowerLinePutsEveryPartInItsColumn) {
    std::string text =
        render("{CL02}TX power{CL25}{A32-1T10}{CR39}{A32-2} dBm{CL48}({A32-3} - {A32-4} dBm)",
               "A32;1,21.5,19,23\r\n");
    EXPECT_EQ(text, "  TX power" + spaces(15) + "FAIL *" + spaces(4) + "21.5 dBm" + spaces(5) +
                        "(19 - 23 dBm)");
    EXPECT_EQ(text.substr(35, 4), "21.5");
    EXPECT_EQ(text.substr(48), "(19 - 23 dBm)");
}

TEST(RenderBuiltin, PowerLevelLineShowsThePowerOfItsBand) {
    const char* line = "{CL02}Power level {A15-2}{CL48}{A15-2T11|A15-3}";
    EXPECT_EQ(render(line, "A15;0,5,4\r\n"), "  Power level 5" + spaces(33) + "(20dBm)");
    EXPECT_EQ(render(line, "A15;0,25,1\r\n"), "  Power level 25" + spaces(32) + "( ?dBm)");
}

struct PowerCase {
    const char* record;
    const char* part;
};

class RenderPowerTable : public ::testing::TestWithParam<PowerCase> {};

TEST_P(RenderPowerTable, PicksThePartOfTheBand) {
    EXPECT_EQ(render("{A15-2T11|A15-3}", GetParam().record), GetParam().part);
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndBands, RenderPowerTable,
    ::testing::Values(
        PowerCase{"A15;0,0,1\r\n", "(43dBm)"}, PowerCase{"A15;0,0,4\r\n", "(30dBm)"},
        PowerCase{"A15;0,0,5\r\n", "(30dBm)"}, PowerCase{"A15;0,0,6\r\n", "(43dBm)"},
        PowerCase{"A15;0,19,2\r\n", "( 5dBm)"}, PowerCase{"A15;0,20,3\r\n", "( ?dBm)"},
        PowerCase{"A15;0,15,4\r\n", "( 0dBm)"}, PowerCase{"A15;0,11,5\r\n", "( 8dBm)"},
        PowerCase{"A15;0,29,4\r\n", "(36dBm)"}, PowerCase{"A15;0,29,5\r\n", "( ?dBm)"},
        PowerCase{"A15;0,30,5\r\n", "(33dBm)"}, PowerCase{"A15;0,31,1\r\n", "( ?dBm)"},
        PowerCase{"A15;0,31,4\r\n", "(32dBm)"}, PowerCase{"A15;0,31,5\r\n", "(32dBm)"},
        PowerCase{"A15;0,32,1\r\n", ""}, PowerCase{"A15;0,5,0\r\n", ""}));

TEST(RenderBuiltin, PowerClassLineSeparatesOnlyBandsThatHaveAClass) {
    const char* line =
        "{CL02}MS Pwr Class : {A02-11}{A02-11T17|A02-12}{A02-12}{A02-11T17|A02-13}{A02-13} "
        "({A02-11T04}{A02-11T17|A02-12}{A02-12T05}{A02-11T17|A02-13}{A02-13T06}dBm){LA01}";
    RenderedLine single =
        render_template(line, "A02;1,2,3,2,1,1,1,0,0,5,4,,,1\r\n", builtin_tables());
    EXPECT_EQ(single.text, "  MS Pwr Class : 4 (33dBm)");
    EXPECT_EQ(single.blank_after, 1);
    EXPECT_EQ(render(line, "A02;1,2,3,2,1,1,1,0,0,5,4,1,1,1\r\n"),
              "  MS Pwr Class : 4/1/1 (33/30/30dBm)");
}

TEST(RenderBuiltin, DialedNumberWithoutDigitsKeepsTheParenthesisInColumn48) {
    const char* line = "{CL02}Dialed number{CL25}{A30-1T10}{CR43}{A30-2}{CL48}({A30-3})";
    EXPECT_EQ(render(line, "A30;0,,112\r\n"),
              "  Dialed number" + spaces(10) + "PASS" + spaces(19) + "(112)");
    EXPECT_EQ(render(line, "A30;0,112,112\r\n"),
              "  Dialed number" + spaces(10) + "PASS" + spaces(11) + "112" + spaces(5) + "(112)");
}

TEST(RenderBuiltin, StartLineWithAMissingRecordLeavesItsPlaceBlank) {
    EXPECT_EQ(render("{CL02}IMSI : {A02-1}{CL37}IMEI : {A02-2}", "A01;1,2\r\nA03;KV72\r\n"),
              "  IMSI : " + spaces(28) + "IMEI : ");
}

// ---- hostile templates

TEST(RenderHostile, LongTemplatesAndManyTagsStayInTheLine) {
    std::string line;
    for (int k = 0; k < 2000; ++k)
        line += "{CR" + std::to_string(k % 200) + "}{A01-1}{LB" + std::to_string(k) + "}x{";
    RenderedLine rendered = render_template(line, "A01;abcdefghij\r\n", builtin_tables());
    EXPECT_LE(rendered.text.size(), static_cast<size_t>(PRINTOUT_COLUMNS));
    EXPECT_EQ(rendered.blank_before, 1999 % 256);
}

TEST(RenderHostile, BracesOnlyProduceNothing) {
    EXPECT_EQ(render("{{{{"), "");
    EXPECT_EQ(render("{}{}{}"), "");
    EXPECT_EQ(render(std::string(5000, '}')), std::string(PRINTOUT_COLUMNS, '}'));
}

}  // namespace
}  // namespace trelvo
