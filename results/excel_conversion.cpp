#include "results/excel_conversion.h"

#include <algorithm>
#include <array>

#include "results/output_buffer.h"
#include "results/result_records.h"

namespace trelvo {

namespace {

constexpr size_t ID_LENGTH = 3;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::vector<std::string> joined_lines(const std::vector<std::string>& entries) {
    std::vector<std::string> lines;
    std::string current;
    bool open = false;
    for (const std::string& entry : entries) {
        for (char c : entry) {
            if (c != '\n') {
                current.push_back(c);
                open = true;
                continue;
            }
            if (!current.empty() && current.back() == '\r') current.pop_back();
            lines.push_back(std::move(current));
            current.clear();
            open = false;
        }
    }
    if (open) lines.push_back(std::move(current));
    return lines;
}

// Items of a ","-separated list into `items`; an empty text holds none.
void split_items(std::string_view text, std::vector<std::string_view>& items) {
    items.clear();
    if (text.empty()) return;
    for (size_t start = 0;;) {
        size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) return;
        start = comma + 1;
    }
}

// Text after the last ";" (the whole text when there is none) and up to a CR.
std::string_view after_last_semicolon(std::string_view text) {
    size_t semicolon = text.rfind(';');
    if (semicolon != std::string_view::npos) text.remove_prefix(semicolon + 1);
    return text.substr(0, text.find('\r'));
}

size_t digit_count(std::string_view text) {
    size_t count = 0;
    while (count < text.size() && is_digit(text[count]))
        ++count;
    return count;
}

// The alternative with `index` (from 0) of the ":"-separated list; empty beyond its last.
std::string_view alternative(std::string_view alternatives, uint32_t index) {
    size_t start = 0;
    for (uint32_t current = 0; current < index; ++current) {
        size_t colon = alternatives.find(':', start);
        if (colon == std::string_view::npos) return {};
        start = colon + 1;
    }
    return alternatives.substr(start, alternatives.find(':', start) - start);
}

// Appends the cell text of one value under its field entry: alternatives after ":", "." to
// "," after "!", else the value unchanged.
void append_cell(std::string& out, std::string_view field, std::string_view value) {
    size_t digits = digit_count(field);
    char suffix = digits < field.size() ? field[digits] : '\0';
    if (suffix == ':') {
        std::string_view alternatives = field.substr(digits + 1);
        for (size_t at = 0; at < value.size();) {
            size_t run = digit_count(value.substr(at));
            if (run == 0) {
                ++at;  // not part of an index: dropped
                continue;
            }
            out.append(alternative(alternatives, leading_number(value.substr(at, run))));
            at += run;
        }
    } else if (suffix == '!') {
        size_t start = out.size();
        out.append(value);
        std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '.', ',');
    } else {
        out.append(value);
    }
}

// A record id as a number; ids of another length give one no record line has.
uint32_t id_key(std::string_view id) {
    if (id.size() != ID_LENGTH) return UINT32_MAX;
    return uint32_t{static_cast<uint8_t>(id[0])} << 16 |
           uint32_t{static_cast<uint8_t>(id[1])} << 8 | static_cast<uint8_t>(id[2]);
}

}  // namespace

// A record definition made ready once: its row prefix and the cells it can write, in the
// order they are written (column order; of two items for one column the earlier first).
struct ExcelRows::Definition {
    struct Cell {
        int column;
        size_t item;  // index of the value (and field) in its list
        std::string_view field;
    };
    uint32_t key;
    std::string_view prefix;
    std::vector<Cell> cells;
};

ExcelRows::ExcelRows(const ExcelLists& lists) {
    for (std::string_view row_definition : lists.rows) {
        Definition definition;
        definition.key = id_key(row_definition.substr(0, ID_LENGTH));
        size_t last_semicolon = row_definition.rfind(';');
        definition.prefix = row_definition.substr(
            0, last_semicolon == std::string_view::npos ? 0 : last_semicolon + 1);
        std::vector<std::string_view> fields;
        split_items(after_last_semicolon(row_definition), fields);
        for (size_t k = 0; k < fields.size(); ++k) {
            int column = excel_column(fields[k], lists.columns);
            if (column > 0) definition.cells.push_back({column, k, fields[k]});
        }
        std::stable_sort(definition.cells.begin(), definition.cells.end(),
                         [](const auto& a, const auto& b) { return a.column < b.column; });
        definitions_.push_back(std::move(definition));
    }
}

ExcelRows::~ExcelRows() = default;

bool ExcelRows::append_row(std::string_view record_line, std::string& out) {
    if (record_line.size() < ID_LENGTH) return false;
    uint32_t key = id_key(record_line.substr(0, ID_LENGTH));
    auto definition = std::find_if(definitions_.begin(), definitions_.end(),
                                   [key](const Definition& d) { return d.key == key; });
    if (definition == definitions_.end()) return false;

    out.append(definition->prefix);
    // A line without ";" holds no values.
    bool has_values = record_line.find(';') != std::string_view::npos;
    split_items(has_values ? after_last_semicolon(record_line) : std::string_view(), values_);
    int last_column = 0;
    for (const Definition::Cell& cell : definition->cells) {
        if (cell.item >= values_.size() || cell.column == last_column) continue;
        out.append(static_cast<size_t>(cell.column - std::max(last_column, 1)), ';');
        append_cell(out, cell.field, values_[cell.item]);
        last_column = cell.column;
    }
    out.append("\r\n");
    return true;
}

ExcelLists excel_lists(const SettingsState& state) {
    return {joined_lines(state.excel_columns.entries), joined_lines(state.excel_rows.entries)};
}

int excel_column(std::string_view field_spec, const std::vector<std::string>& columns) {
    std::string_view number = field_spec.substr(0, digit_count(field_spec));
    if (number.empty()) return 0;
    for (size_t line = 0; line < columns.size(); ++line) {
        if (std::string_view(columns[line]).substr(0, number.size()) == number) {
            return static_cast<int>(line + 1);
        }
    }
    return 0;
}

std::string excel_header(const ExcelLists& lists) {
    std::string header;
    if (!lists.rows.empty()) {
        header.append(std::count(lists.rows[0].begin(), lists.rows[0].end(), ';'), ';');
    }
    for (const std::string& column : lists.columns) {
        size_t blank = column.find(' ');
        // A line without a blank has an empty heading.
        if (blank != std::string::npos) header.append(column, blank + 1);
        header.push_back(';');
    }
    header.append("\r\n");
    return header;
}

std::optional<std::string> excel_row(std::string_view record_line, const ExcelLists& lists) {
    std::string row;
    if (!ExcelRows(lists).append_row(record_line, row)) return std::nullopt;
    return row;
}

void write_excel(std::FILE* source, std::FILE* out, const SettingsState& state) {
    ExcelLists lists = excel_lists(state);
    ExcelRows rows(lists);
    OutputBuffer output(out);
    output.text = excel_header(lists);
    if (std::fseek(source, 0, SEEK_SET) != 0) return;

    std::array<char, EXCEL_READ_BUFFER> buffer;
    size_t held = 0;
    for (;;) {
        size_t got = std::fread(buffer.data() + held, 1, buffer.size() - held, source);
        if (got == 0) return;
        held += got;
        std::string_view text(buffer.data(), held);
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string_view::npos;
             start = end + 1) {
            rows.append_row(text.substr(start, end - start), output.text);
        }
        output.write_when_full();
        held -= start;
        std::copy(buffer.begin() + start, buffer.begin() + start + held, buffer.begin());
        if (held == buffer.size()) return;  // a line that does not end within the buffer
    }
}

}  // namespace trelvo
