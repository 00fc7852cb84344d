#include "results/excel_conversion.h"

#include <algorithm>
#include <array>

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

// Items of a ","-separated list; an empty text holds none.
std::vector<std::string_view> split_items(std::string_view text) {
    std::vector<std::string_view> items;
    if (text.empty()) return items;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            items.push_back(text.substr(start));
            return items;
        }
        items.push_back(text.substr(start, comma - start));
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

// The cell text of one value under its field spec: alternatives after ":", "." to ","
// after "!", else unchanged.
std::string cell_text(std::string_view spec, std::string_view value) {
    size_t digits = digit_count(spec);
    char suffix = digits < spec.size() ? spec[digits] : '\0';
    std::string cell;
    if (suffix == ':') {
        std::string_view alternatives = spec.substr(digits + 1);
        for (size_t at = 0; at < value.size();) {
            size_t run = digit_count(value.substr(at));
            if (run == 0) {
                ++at;  // not part of an index: dropped
                continue;
            }
            cell.append(alternative(alternatives, leading_number(value.substr(at, run))));
            at += run;
        }
    } else if (suffix == '!') {
        cell.assign(value);
        std::replace(cell.begin(), cell.end(), '.', ',');
    } else {
        cell.assign(value);
    }
    return cell;
}

}  // namespace

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
    if (record_line.size() < ID_LENGTH) return std::nullopt;
    std::string_view id = record_line.substr(0, ID_LENGTH);
    auto definition = std::find_if(lists.rows.begin(), lists.rows.end(), [&](const auto& row) {
        return std::string_view(row).substr(0, ID_LENGTH) == id;
    });
    if (definition == lists.rows.end()) return std::nullopt;

    std::string_view row_definition = *definition;
    size_t last_semicolon = row_definition.rfind(';');
    size_t prefix_length = last_semicolon == std::string_view::npos ? 0 : last_semicolon + 1;
    std::string row(row_definition.substr(0, prefix_length));

    // A line without ";" holds no values.
    std::vector<std::string_view> specs = split_items(after_last_semicolon(row_definition));
    std::vector<std::string_view> values;
    if (record_line.find(';') != std::string_view::npos) {
        values = split_items(after_last_semicolon(record_line));
    }

    struct Cell {
        int column;
        std::string_view spec;
        std::string_view value;
    };
    std::vector<Cell> cells;
    for (size_t k = 0; k < specs.size() && k < values.size(); ++k) {
        int column = excel_column(specs[k], lists.columns);
        if (column > 0) cells.push_back({column, specs[k], values[k]});
    }
    // Column order; of two values for one column only the earlier is written.
    std::stable_sort(cells.begin(), cells.end(),
                     [](const Cell& a, const Cell& b) { return a.column < b.column; });
    int last_column = 0;
    for (const Cell& cell : cells) {
        if (cell.column == last_column) continue;
        row.append(static_cast<size_t>(cell.column - std::max(last_column, 1)), ';');
        row.append(cell_text(cell.spec, cell.value));
        last_column = cell.column;
    }
    row.append("\r\n");
    return row;
}

void write_excel(std::FILE* source, std::FILE* out, const SettingsState& state) {
    ExcelLists lists = excel_lists(state);
    std::string header = excel_header(lists);
    std::fwrite(header.data(), 1, header.size(), out);
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
            std::optional<std::string> row = excel_row(text.substr(start, end - start), lists);
            if (row) std::fwrite(row->data(), 1, row->size(), out);
        }
        held -= start;
        std::copy(buffer.begin() + start, buffer.begin() + start + held, buffer.begin());
        if (held == buffer.size()) return;  // a line that does not end within the buffer
    }
}

}  // namespace trelvo
