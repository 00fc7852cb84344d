// The built-in definition lists: the defaults of the Excel column and row lists (field
// name and record definition tables) and of the four printout template lists.
#pragma once

#include <array>
#include <string_view>

#include "base/settings_state.h"

namespace trelvo {

// Record definition table: default Excel row list, 39 lines (each used with a LF appended).
extern const std::array<std::string_view, 39> builtin_record_definitions;
// Field name table: default Excel column list, 40 lines (each used with a LF appended).
extern const std::array<std::string_view, 40> builtin_field_names;

struct BuiltinMiddleLine {
    int key;
    std::string_view text;
};
extern const std::array<std::string_view, 9> builtin_printout_start;
extern const std::array<BuiltinMiddleLine, 34> builtin_printout_middle;
extern const std::array<std::string_view, 2> builtin_printout_end;
// T01..T17; T11 is built from its power formula.
const std::vector<TranslationTable>& builtin_printout_tables();

// The six lists filled with their built-in contents, marked as not read from the file.
void set_builtin_definitions(SettingsState& state);

}  // namespace trelvo
