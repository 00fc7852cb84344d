#include "settings/builtin_tables.h"

#include <gtest/gtest.h>

namespace trelvo {
namespace {

TEST(BuiltinTables, ListsHaveTheirEntriesInOrder) {
    EXPECT_EQ(builtin_field_names.back(), "44 VGCS Priority");
    EXPECT_EQ(builtin_record_definitions[1],
              "A02;Mobile information;12,13,14,15::Phase 1:Phase 2,16:No:Yes,17:No:Yes,18");
    EXPECT_EQ(builtin_printout_start.back(),
              "{CL02}MS Pwr Class : {A02-11}{A02-11T17|A02-12}{A02-12}{A02-11T17|A02-13}"
              "{A02-13} ({A02-11T04}{A02-11T17|A02-12}{A02-12T05}{A02-11T17|A02-13}{A02-13T06}"
              "dBm){LA01}");
    EXPECT_EQ(builtin_printout_middle[15].text,
              "{CL02}RX level{CL25}{A37-1T10}{CR39}{A37-2}{CL48}(  {A37-3} - {A37-4})");
    for (size_t i = 1; i < builtin_printout_middle.size(); ++i)
        EXPECT_GT(builtin_printout_middle[i].key, builtin_printout_middle[i - 1].key);
    EXPECT_EQ(builtin_printout_end[0], "{LB01}{CL02}Test printed at : {A01-1} {A01-2}");
}

TEST(BuiltinTables, TranslationTablesHaveTheirSizesAndThePowerFormula) {
    const std::vector<size_t> sizes = {2, 8, 3, 7, 7, 7, 4, 2, 8, 2, 32, 2, 2, 2, 2, 7, 7};
    const auto& tables = builtin_printout_tables();
    ASSERT_EQ(tables.size(), sizes.size());
    for (size_t t = 0; t < sizes.size(); ++t)
        EXPECT_EQ(tables[t].size(), sizes[t]) << "T" << t + 1;
    EXPECT_EQ(tables[9], (TranslationTable{"PASS", "FAIL *"}));
    EXPECT_EQ(tables[16][6], "|/|/|/|/|/|/");
    const std::pair<int, const char*> power[] = {
        {0, "|(43dBm)|(43dBm)|(43dBm)|(30dBm)|(30dBm)|(43dBm)"},
        {15, "|(13dBm)|(13dBm)|(13dBm)|( 0dBm)|( 0dBm)|(13dBm)"},
        {19, "|( 5dBm)|( 5dBm)|( 5dBm)|( ?dBm)|( ?dBm)|( 5dBm)"},
        {29, "|( ?dBm)|( ?dBm)|( ?dBm)|(36dBm)|( ?dBm)|( ?dBm)"},
        {30, "|( ?dBm)|( ?dBm)|( ?dBm)|(34dBm)|(33dBm)|( ?dBm)"},
        {31, "|( ?dBm)|( ?dBm)|( ?dBm)|(32dBm)|(32dBm)|( ?dBm)"},
    };
    for (const auto& [level, entry] : power)
        EXPECT_EQ(tables[10][level], entry) << level;
}

TEST(SetBuiltinDefinitions, FillsAllSixListsWithExcelLineEndsNotFromFile) {
    SettingsState state;
    state.excel_columns = {{"x\n"}, true};
    set_builtin_definitions(state);
    ASSERT_EQ(state.excel_columns.entries.size(), 40u);
    EXPECT_EQ(state.excel_columns.entries[0], "4 Time\n");
    ASSERT_EQ(state.excel_rows.entries.size(), 39u);
    EXPECT_EQ(state.excel_rows.entries[38], "A61;GPRS Detach;6:PASS:FAIL\n");
    EXPECT_EQ(state.printout_start.entries[0],
              "{A03-1} Mobile Tester{CL37}Overall Test Result : {A01-3T01}");
    ASSERT_EQ(state.printout_middle.entries.size(), 34u);
    EXPECT_EQ(state.printout_middle.entries[0],
              (MiddleLine{10, "{LB01}Call from Mobile{CL25}{A10-1T10}"}));
    EXPECT_EQ(state.printout_end.entries.size(), 2u);
    EXPECT_EQ(state.printout_tables.entries, builtin_printout_tables());
    EXPECT_FALSE(state.excel_columns.from_file || state.excel_rows.from_file ||
                 state.printout_start.from_file || state.printout_middle.from_file ||
                 state.printout_end.from_file || state.printout_tables.from_file);
}

}  // namespace
}  // namespace trelvo
