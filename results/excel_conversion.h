// The spreadsheet conversion: a result list (or one IMEI block file) becomes a
// semicolon-separated text file with a header line and one row per result record that the
// Excel row list defines. Each value goes into the column of its field number, by the
// Excel column list. No quoting, no escaping; every line ends with CR LF.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings_state.h"

namespace trelvo {

// The source is read through this buffer: a line of up to 299 characters is converted; a
// longer one ends the conversion.
inline constexpr size_t EXCEL_READ_BUFFER = 300;

// The two Excel definition lists as lines (line ends removed). The list entries carry
// their own line ends and a long line may be stored as several entries, so the entries are
// joined and cut at LF; a CR before the LF is dropped.
struct ExcelLists {
    std::vector<std::string> columns;  // field name lines: number, blank, heading
    std::vector<std::string> rows;     // record definitions: id;name;spec,spec,...
};
// The state's two Excel definition lists, joined and cut into lines as above.
ExcelLists excel_lists(const SettingsState& state);

// Column (from 1) of the Excel column list for the field number at the start of
// `field_spec`: the first line that begins with the field number's digits. 0 when no line
// matches or the spec does not begin with a digit.
int excel_column(std::string_view field_spec, const std::vector<std::string>& columns);

// The header line, CR LF included: one ";" per ";" of the first record definition, then
// each column heading followed by ";".
std::string excel_header(const ExcelLists& lists);

// The rows of the record definitions, prepared once for all the lines of a conversion.
class ExcelRows {
  public:
    explicit ExcelRows(const ExcelLists& lists);  // keeps pointing into `lists`
    ~ExcelRows();
    // Appends the row of one record line (without its LF), CR LF included, to `out`; false
    // and nothing appended when no record definition has the line's record id.
    bool append_row(std::string_view record_line, std::string& out);

  private:
    struct Definition;
    std::vector<Definition> definitions_;
    std::vector<std::string_view> values_;  // of the current line
};

// The row of one record line, as ExcelRows::append_row; nothing when it has none.
std::optional<std::string> excel_row(std::string_view record_line, const ExcelLists& lists);

// Writes the header and then the rows of `source`, read from its start to its end (or to
// its first over-long line; an unterminated last line is not converted). `source` is left
// open; a read error counts as the end of the source.
void write_excel(std::FILE* source, std::FILE* out, const SettingsState& state);

}  // namespace trelvo
