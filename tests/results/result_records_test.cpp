#include "results/result_records.h"

#include <gtest/gtest.h>

#include <string>

namespace trelvo {
namespace {

using namespace std::string_view_literals;

struct ValueCase {
    const char* name;
    std::string_view record;
    int position;
    std::optional<std::string_view> value;
    uint32_t number;
};

class ValueAt : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueAt, FindsTheValueAndItsNumber) {
    const ValueCase& c = GetParam();
    EXPECT_EQ(value_at(c.record, c.position), c.value);
    EXPECT_EQ(value_number(c.record, c.position), c.number);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, ValueAt,
    ::testing::Values(
        ValueCase{"FirstValue", "A15;0,5,1\r\n", 1, "0", 0},
        ValueCase{"SecondValue", "A15;0,5,1\r\n", 2, "5", 5},
        ValueCase{"ThirdValueEndsAtCr", "A15;0,5,1\r\n", 3, "1", 1},
        ValueCase{"NoThirdValue", "A15;0,5\r\n", 3, std::nullopt, 0},
        ValueCase{"BareLfReadsTheSame", "A15;0,5\n", 2, "5", 5},
        ValueCase{"EndOfTextEndsTheLastValue", "A15;0,5", 2, "5", 5},
        ValueCase{"EmptyFirstValue", "A15;,5\r\n", 1, std::nullopt, 0},
        ValueCase{"ValueAfterAnEmptyOne", "A15;,5\r\n", 2, "5", 5},
        ValueCase{"NothingAfterTheSemicolon", "A10;\r\n", 1, std::nullopt, 0},
        ValueCase{"NoSemicolon", "A10 0,1\r\n", 1, std::nullopt, 0},
        ValueCase{"PositionZero", "A15;0,5\r\n", 0, std::nullopt, 0},
        ValueCase{"NegativePosition", "A15;0,5\r\n", -3, std::nullopt, 0},
        ValueCase{"StopsAtTheRecordsLf", "A15;0\nA16;7,8\n", 2, std::nullopt, 0},
        ValueCase{"SemicolonOnTheNextLineDoesNotCount", "A15\nA16;7\n", 1, std::nullopt, 0},
        ValueCase{"DecimalValueNumberIsItsIntegerPart", "A21;-12.5,33.25\r\n", 2, "33.25", 33},
        ValueCase{"NoSign", "A35;-38,-90\r\n", 1, "-38", 0},
        ValueCase{"LettersAfterDigits", "A01;14:32:05\r\n", 1, "14:32:05", 14},
        ValueCase{"NotBeginningWithADigit", "A01;x5\r\n", 1, "x5", 0},
        ValueCase{"HugeNumberSaturates", "A15;123456789012345678901\r\n", 1,
                  "123456789012345678901", UINT32_MAX},
        ValueCase{"FifteenDigitImei", "A02;262011234567890,350123456789012\r\n", 2,
                  "350123456789012", UINT32_MAX},
        ValueCase{"NulEndsTheText", "A15;0,5\0,7"sv, 3, std::nullopt, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValueAtNone, NoRecordGivesNothing) {
    EXPECT_EQ(value_at(std::nullopt, 1), std::nullopt);
    EXPECT_EQ(value_number(std::nullopt, 1), 0u);
}

TEST(ValueAtBigPosition, FarPositionEndsAtTheLastValue) {
    EXPECT_EQ(value_at("A15;0,5\r\n"sv, INT32_MAX), std::nullopt);
}

TEST(LeadingNumber, ReadsDigitsUntilTheFirstOther) {
    EXPECT_EQ(leading_number("42abc"), 42u);
    EXPECT_EQ(leading_number(""), 0u);
    EXPECT_EQ(leading_number("x42"), 0u);
    EXPECT_EQ(leading_number("4294967295"), UINT32_MAX);
    EXPECT_EQ(leading_number("4294967296"), UINT32_MAX);
    EXPECT_EQ(leading_number("4294967294"), 4294967294u);
}

// A block copy whose A01 record holds `letters` capital "A"s in its values, then A02 (no "A"
// in its values) and A03.
std::string block_with_letters(int letters) {
    std::string block = "A01;09:14:37,12.03.2024,0,";
    for (int k = 0; k < letters; ++k)
        block += "A";
    block += ",Standard,3,0,0\r\nA02;262011234567890,350123456789012\r\nA03;KV72,720415\r\n";
    return block;
}

TEST(FindRecord, EightLettersInValuesFindTheTenthPositionButNotTheEleventh) {
    std::string block = block_with_letters(8);
    std::optional<std::string_view> a02 = find_record(block, "A02");
    ASSERT_TRUE(a02.has_value());
    EXPECT_EQ(a02->substr(0, 8), "A02;2620");
    EXPECT_EQ(find_record(block, "A03"), std::nullopt);
}

TEST(FindRecord, SevenLettersInValuesStillFindTheThirdRecord) {
    std::string block = block_with_letters(7);
    std::optional<std::string_view> a03 = find_record(block, "A03");
    ASSERT_TRUE(a03.has_value());
    EXPECT_EQ(*a03, "A03;KV72,720415\r\n");
}

TEST(FindRecord, MatchesAtTheStartOfTheText) {
    std::string_view text = "A10;0\r\nA15;0,5,1\r\n";
    EXPECT_EQ(find_record(text, "A10"), text);
    EXPECT_EQ(find_record(text, "A15"), text.substr(7));
}

TEST(FindRecord, MissingRecordOrTextWithoutFurtherLettersGivesNothing) {
    EXPECT_EQ(find_record("A10;0\r\nA15;0,5,1\r\n", "A02"), std::nullopt);
    EXPECT_EQ(find_record("", "A01"), std::nullopt);
    EXPECT_EQ(find_record("xx", "A01"), std::nullopt);
    EXPECT_EQ(find_record("A0", "A01"), std::nullopt);
}

TEST(FindRecord, DoesNotSearchPastANul) {
    std::string_view block = "A01;1,2\r\n\0A02;3\r\n"sv;
    EXPECT_EQ(find_record(block, "A02"), std::nullopt);
}

TEST(FindRecord, IdOfAnotherLengthNeverMatches) {
    EXPECT_EQ(find_record("A01;1\r\n", "A0"), std::nullopt);
    EXPECT_EQ(find_record("A01;1\r\n", "A01;"), std::nullopt);
}

TEST(FindRecord, LookupsChainFromTheFoundRecord) {
    std::string block = block_with_letters(2);
    EXPECT_EQ(value_at(find_record(block, "A02"), 2), "350123456789012");
    EXPECT_EQ(value_number(find_record(block, "A03"), 2), 720415u);
}

}  // namespace
}  // namespace trelvo
