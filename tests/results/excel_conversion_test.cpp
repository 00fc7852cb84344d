#include "results/excel_conversion.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/builtin_tables.h"
#include "tests/results/test_files.h"

namespace trelvo {
namespace {

using testing::contents_of;
using testing::file_with;
using testing::FilePtr;

const std::string BUILTIN_HEADER =
    ";;Time;Date;Result;MSTYPE name;Autotest name;Tested network;Connection;Test;IMSI;IMEI;"
    "MS class;MS Revision;Extended frequency;Short message capability;A5 ciphering support;"
    "Tester model;Serial number;User name;User company;Level;TCH;RF level;Broadcast no;"
    "Channel ID;Channel type;Channel no;RX pre att (dB);TX pre att (dB);Dialed digits;"
    "Reference digits;Measured;Low limit;High limit;Question ID;Printout;User input ID;"
    "User input;Timing Advance;VGCS Group ID;VGCS Priority;\r\n";

SettingsState builtin_state() {
    SettingsState state;
    set_builtin_definitions(state);
    return state;
}

ExcelLists builtin_lists() {
    return excel_lists(builtin_state());
}

std::string separators(int count) {
    return std::string(static_cast<size_t>(count), ';');
}

// ---- excel_column

struct ColumnCase {
    const char* spec;
    int column;
};

class ExcelColumnBuiltin : public ::testing::TestWithParam<ColumnCase> {};

// Only the field number's own digits are compared: field 3 has no line of its own and
// matches "30 Channel no".
TEST_P(ExcelColumnBuiltin, FindsTheFirstLineBeginningWithTheFieldNumber) {
    EXPECT_EQ(excel_column(GetParam().spec, builtin_lists().columns), GetParam().column);
}

INSTANTIATE_TEST_SUITE_P(FieldNumbers, ExcelColumnBuiltin,
                         ::testing::Values(ColumnCase{"4", 1}, ColumnCase{"6:PASS:FAIL", 3},
                                           ColumnCase{"24", 21}, ColumnCase{"26", 22},
                                           ColumnCase{"31!", 27}, ColumnCase{"38", 34},
                                           ColumnCase{"39", 35}, ColumnCase{"40", 36},
                                           ColumnCase{"44", 40}, ColumnCase{"25", 0},
                                           ColumnCase{"3", 26}, ColumnCase{"", 0},
                                           ColumnCase{":PASS", 0}, ColumnCase{"x4", 0}));

TEST(ExcelColumn, ComparesOnlyTheDigitsOfTheFieldNumber) {
    std::vector<std::string> columns = {"40 User input ID", "4 Time"};
    EXPECT_EQ(excel_column("4", columns), 1);
    EXPECT_EQ(excel_column("40", columns), 1);
    EXPECT_EQ(excel_column("41", columns), 0);
}

// ---- excel_lists

TEST(ExcelLists, JoinsPiecesOfALineAndDropsLineEnds) {
    SettingsState state;
    state.excel_columns.entries = {"4 Ti", "me\n", "5 Date\r\n", "6 Result"};
    state.excel_rows.entries = {"A10;Call from mobile;6:PASS:FAIL\r\n"};
    ExcelLists lists = excel_lists(state);
    EXPECT_EQ(lists.columns, (std::vector<std::string>{"4 Time", "5 Date", "6 Result"}));
    EXPECT_EQ(lists.rows, (std::vector<std::string>{"A10;Call from mobile;6:PASS:FAIL"}));
}

// ---- excel_header

TEST(ExcelHeader, BuiltinListsGiveTwoEmptyCellsAndFortyHeadings) {
    std::string header = excel_header(builtin_lists());
    EXPECT_EQ(header, BUILTIN_HEADER);
    EXPECT_EQ(header.size(), 471u + 2u);
}

TEST(ExcelHeader, OneSeparatorPerSemicolonOfTheFirstRecordDefinition) {
    ExcelLists lists{{"4 Time"}, {"A10;x;y;6", "A11;only;6"}};
    EXPECT_EQ(excel_header(lists), ";;;Time;\r\n");
}

TEST(ExcelHeader, ColumnLineWithoutBlankHasAnEmptyHeading) {
    ExcelLists lists{{"4", "5 Date", "6 Two words"}, {"A10;n;6"}};
    EXPECT_EQ(excel_header(lists), ";;;Date;Two words;\r\n");
}

TEST(ExcelHeader, EmptyListsGiveAnEmptyLine) {
    EXPECT_EQ(excel_header({}), "\r\n");
}

// ---- excel_row with the built-in lists

struct RowCase {
    const char* name;
    std::string line;
    std::optional<std::string> row;
};

class ExcelRowBuiltin : public ::testing::TestWithParam<RowCase> {};

TEST_P(ExcelRowBuiltin, WritesTheValuesInColumnOrder) {
    EXPECT_EQ(excel_row(GetParam().line, builtin_lists()), GetParam().row);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ExcelRowBuiltin,
    ::testing::Values(
        RowCase{"PassSkipsTimeAndDate", "A10;0\r", "A10;Call from mobile;;;PASS\r\n"},
        RowCase{"BareLfLineReadsTheSame", "A10;0", "A10;Call from mobile;;;PASS\r\n"},
        RowCase{"FailAlternative", "A50;1\r", "A50;User break;;;FAIL\r\n"},
        RowCase{"PassAlternative", "A50;0\r", "A50;User break;;;PASS\r\n"},
        RowCase{"LetterInTheIndexIsDropped", "A10;1x\r", "A10;Call from mobile;;;FAIL\r\n"},
        RowCase{"LeadingZeroIndex", "A10;01\r", "A10;Call from mobile;;;FAIL\r\n"},
        RowCase{"EveryDigitRunIsAnIndex", "A10;1.0\r", "A10;Call from mobile;;;FAILPASS\r\n"},
        RowCase{"IndexBeyondTheAlternativesIsEmpty", "A10;2\r", "A10;Call from mobile;;;\r\n"},
        RowCase{"HugeIndexIsEmpty", "A10;99999999999999999999\r", "A10;Call from mobile;;;\r\n"},
        RowCase{"EmptyValueIsAnEmptyCell", "A10;,\r", "A10;Call from mobile;;;\r\n"},
        RowCase{"NothingAfterTheSemicolonHoldsNoValues", "A10;\r", "A10;Call from mobile;\r\n"},
        RowCase{"NoSemicolonHoldsNoValues", "A10\r", "A10;Call from mobile;\r\n"},
        RowCase{"ValuesAfterTheLastSemicolon", "A10;junk;1\r", "A10;Call from mobile;;;FAIL\r\n"},
        RowCase{"DecimalPointsBecomeCommas", "A32;0,12.5,10.0,15.5\r",
                "A32;Tx power (dBm);;;PASS" + separators(28) + "12,5;10,0;15,5\r\n"},
        RowCase{"QuestionBoxInColumnOrder", "A42;7,1,Display readable\r",
                "A42;Question box;;;FAIL" + separators(31) + "7;Display readable\r\n"},
        RowCase{"ExtraValuesAreIgnored", "A15;0,5,4\r",
                "A15;MS power level;;;PASS" + separators(17) + "5\r\n"},
        RowCase{"FewerValuesThanSpecs", "A32;1\r", "A32;Tx power (dBm);;;FAIL\r\n"},
        RowCase{"TestRecord", "A01;09:14:37,12.03.2024,1,NOKIA 6310I,Standard,3,2,0\r",
                "A01;Test name;09:14:37;12.03.2024;FAIL;NOKIA 6310I;Standard;3;Coupler;"
                "Standard\r\n"},
        RowCase{"MobileRecordPhaseOne",
                "A02;262011234567890,350123456789012,4,1,1,0,1,0,0,5,4,1,0,1\r",
                "A02;Mobile information;" + separators(8) +
                    "262011234567890;350123456789012;4;Phase 1;Yes;No;1\r\n"},
        RowCase{"EmptyFirstAlternative", "A02;1,2,3,0\r",
                "A02;Mobile information;" + separators(8) + "1;2;3;\r\n"},
        RowCase{"UndefinedRecord", "A99;1,2\r", std::nullopt},
        RowCase{"ShortLine", "A1", std::nullopt}, RowCase{"EmptyLine", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExcelRow, OfTwoValuesForOneColumnOnlyTheFirstIsWritten) {
    ExcelLists lists{{"4 Time", "6 Result"}, {"A77;Twice;6,6:PASS:FAIL,4"}};
    EXPECT_EQ(excel_row("A77;x,1,08:00", lists), "A77;Twice;08:00;x\r\n");
}

TEST(ExcelRow, ValuesWithoutColumnGiveThePrefixAlone) {
    ExcelLists lists{{"4 Time"}, {"A77;Nothing;9,25"}};
    EXPECT_EQ(excel_row("A77;1,2", lists), "A77;Nothing;\r\n");
}

TEST(ExcelRow, RowLongerThanTheCompositionBufferIsWrittenWhole) {
    std::string name(450, 'n');
    ExcelLists lists{{"4 Time"}, {"A77;" + name + ";4"}};
    std::string value(200, 'v');
    std::optional<std::string> row = excel_row("A77;" + value, lists);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(*row, "A77;" + name + ";" + value + "\r\n");
}

TEST(ExcelRow, SpecWithoutSuffixCopiesTheValueUnchanged) {
    ExcelLists lists{{"4 Time"}, {"A77;Copy;4x"}};
    EXPECT_EQ(excel_row("A77;1.5:A", lists), "A77;Copy;1.5:A\r\n");
}

// ---- write_excel

std::string convert(std::string_view source_text, const SettingsState& state = builtin_state()) {
    FilePtr source = file_with(source_text);
    FilePtr out(std::tmpfile());
    write_excel(source.get(), out.get(), state);
    return contents_of(out.get());
}

TEST(WriteExcel, EmptySourceGivesTheHeaderOnly) {
    EXPECT_EQ(convert(""), BUILTIN_HEADER);
}

TEST(WriteExcel, LinesBeforeTheFirstTestRecordAreConverted) {
    EXPECT_EQ(convert("A10;1\r\nA01;09:14:37,12.03.2024,0\r\n"),
              BUILTIN_HEADER + "A10;Call from mobile;;;FAIL\r\n" +
                  "A01;Test name;09:14:37;12.03.2024;PASS\r\n");
}

TEST(WriteExcel, UnterminatedLastLineIsNotConverted) {
    EXPECT_EQ(convert("A10;0\r\nA10;1"), BUILTIN_HEADER + "A10;Call from mobile;;;PASS\r\n");
}

TEST(WriteExcel, BareLfAndCrLfSourcesGiveTheSameFile) {
    EXPECT_EQ(convert("A10;0\nA32;1,21.5,19,23\n"), convert("A10;0\r\nA32;1,21.5,19,23\r\n"));
}

TEST(WriteExcel, RowsFollowTheSourceAcrossManyBufferFills) {
    std::string source;
    std::string expected = BUILTIN_HEADER;
    for (int k = 0; k < 120; ++k) {
        source += k % 2 == 0 ? "A10;0\r\n" : "A12;1\r\n";
        expected +=
            k % 2 == 0 ? "A10;Call from mobile;;;PASS\r\n" : "A12;Release from mobile;;;FAIL\r\n";
    }
    EXPECT_EQ(convert(source), expected);
}

// A43 line of exactly `length` characters before its line end: user input padded with "x".
std::string user_input_line(size_t length) {
    std::string line = "A43;1,";
    line.append(length - line.size(), 'x');
    return line;
}

TEST(WriteExcel, LineOf299CharactersIsConverted) {
    std::string line = user_input_line(299);
    std::string expected_row =
        "A43;User Input;" + separators(35) + "1;" + std::string(293, 'x') + "\r\n";
    EXPECT_EQ(convert(line + "\nA10;1\n"),
              BUILTIN_HEADER + expected_row + "A10;Call from mobile;;;FAIL\r\n");
}

TEST(WriteExcel, LineOf300CharactersEndsTheConversion) {
    std::string source = "A10;0\r\n" + user_input_line(300) + "\nA10;1\r\n";
    EXPECT_EQ(convert(source), BUILTIN_HEADER + "A10;Call from mobile;;;PASS\r\n");
}

TEST(WriteExcel, VeryLongLineNeverOverrunsAndEndsTheConversion) {
    std::string source = "A10;0\r\n" + std::string(100000, 'A') + "\r\nA10;1\r\n";
    EXPECT_EQ(convert(source), BUILTIN_HEADER + "A10;Call from mobile;;;PASS\r\n");
}

TEST(WriteExcel, ReadsTheSourceFromItsStart) {
    FilePtr source = file_with("A10;1\r\n");
    FilePtr out(std::tmpfile());
    ASSERT_EQ(std::ftell(source.get()), 7);
    write_excel(source.get(), out.get(), builtin_state());
    EXPECT_EQ(contents_of(out.get()), BUILTIN_HEADER + "A10;Call from mobile;;;FAIL\r\n");
}

TEST(WriteExcel, ListsReadFromTheSettingsFileShapeTheFile) {
    SettingsState state;
    state.excel_columns.entries = {"35 Measured\n", "6 Verdict\n"};
    state.excel_rows.entries = {"A32;TX;6:ok:bad,35!\n"};
    EXPECT_EQ(convert("A32;1,21.5,19,23\r\nA10;0\r\n", state),
              ";;Measured;Verdict;\r\nA32;TX;21,5;bad\r\n");
}

TEST(WriteExcel, BuiltinListsOnAResultListMatchTheGoldenFile) {
    std::string source = testing::read_file(testing::test_data("result_list.res"));
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(convert(source), testing::read_file(testing::test_data("result_list.csv")));
}

}  // namespace
}  // namespace trelvo
