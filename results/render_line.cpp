#include "results/render_line.h"

#include <array>
#include <cstdint>
#include <optional>

#include "results/result_records.h"

namespace trelvo {

namespace {

constexpr size_t ID_LENGTH = 3;
constexpr int BLANK_LINE_MODULUS = 256;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

size_t digit_count(std::string_view text) {
    size_t count = 0;
    while (count < text.size() && is_digit(text[count]))
        ++count;
    return count;
}

int digits_modulo_256(std::string_view text) {
    int number = 0;
    for (size_t k = 0; k < digit_count(text); ++k)
        number = (number * 10 + (text[k] - '0')) % BLANK_LINE_MODULUS;
    return number;
}

// A value text ends at the end of the text, NUL, LF, CR, "," or "|".
std::string_view value_text(std::string_view text) {
    size_t end = 0;
    while (end < text.size() && text[end] != '\0' && text[end] != '\n' && text[end] != '\r' &&
           text[end] != ',' && text[end] != '|')
        ++end;
    return text.substr(0, end);
}

// Part `index` of a translation entry: part 0 before the first "|", part k after the k-th.
std::optional<std::string_view> entry_part(std::string_view entry, uint32_t index) {
    size_t start = 0;
    for (uint32_t part = 0; part < index; ++part) {
        size_t bar = entry.find('|', start);
        if (bar == std::string_view::npos) return std::nullopt;
        start = bar + 1;
    }
    return entry.substr(start);
}

// What a value tag asks for: {Aii-pTt|Ajj-q}.
struct ValueTag {
    std::string_view id;
    uint32_t position = 0;
    uint32_t table = 0;
    bool has_selector = false;
    std::string_view selector_id;
    uint32_t selector_position = 0;
};

ValueTag parse_value_tag(std::string_view tag) {
    ValueTag parsed;
    parsed.id = tag.substr(0, ID_LENGTH);
    std::string_view rest = tag.substr(parsed.id.size());
    bool has_position = false;
    size_t at = 0;
    while (at < rest.size()) {
        char c = rest[at++];
        std::string_view digits = rest.substr(at, digit_count(rest.substr(at)));
        if (c == '-' && !has_position) {
            has_position = true;
            parsed.position = leading_number(digits);
            at += digits.size();
        } else if (c == 'T') {
            parsed.table = leading_number(digits);
            at += digits.size();
        } else if (c == '|') {
            parsed.has_selector = true;
            parsed.selector_id = rest.substr(at, ID_LENGTH);
            at += parsed.selector_id.size();
            parsed.selector_position = 0;
            size_t dash = rest.find('-', at);
            if (dash != std::string_view::npos) {
                at = dash + 1;
                size_t count = digit_count(rest.substr(at));
                parsed.selector_position = leading_number(rest.substr(at, count));
                at += count;
            }
        }
    }
    return parsed;
}

int as_position(uint32_t number) {
    return number > INT32_MAX ? INT32_MAX : static_cast<int>(number);
}

class LineRenderer {
  public:
    LineRenderer(std::string_view records, const std::vector<TranslationTable>& tables)
        : records_(records), tables_(tables) {
        columns_.fill(' ');
    }

    void render(std::string_view line) {
        size_t at = 0;
        while (at < line.size()) {
            if (line[at] != '{') {
                write_literal(line[at++]);
                continue;
            }
            size_t close = line.find('}', at + 1);
            if (close == std::string_view::npos) break;  // an unclosed tag ends the line
            handle_tag(line.substr(at + 1, close - at - 1));
            at = close + 1;
        }
    }

    // The line up to its last written column, inner gaps as blanks.
    std::string_view text() const { return {columns_.data(), static_cast<size_t>(used_)}; }
    int blank_before() const { return blank_before_; }
    int blank_after() const { return blank_after_; }

  private:
    void put(char c) {
        columns_[static_cast<size_t>(position_)] = c;
        ++position_;
        if (position_ > used_) used_ = position_;
    }

    bool in_line() const { return position_ >= 0 && position_ < PRINTOUT_COLUMNS; }

    void write_literal(char c) {
        if (right_aligned_) {
            --position_;
            right_aligned_ = false;
        }
        if (in_line()) put(c);
    }

    void write_value(std::string_view text) {
        if (right_aligned_) {
            position_ -= static_cast<int64_t>(text.size());
            right_aligned_ = false;
        }
        if (position_ < 0) return;  // would start left of column 0: not written at all
        for (char c : text) {
            if (!in_line()) break;
            put(c);
        }
    }

    void handle_tag(std::string_view tag) {
        if (tag.size() < 2) return;
        std::string_view number = tag.substr(2);
        switch (tag[0]) {
            case 'C':
                if (tag[1] != 'L' && tag[1] != 'R') return;
                position_ = as_position(leading_number(number));
                right_aligned_ = tag[1] == 'R';
                return;
            case 'L':
                if (tag[1] == 'B') blank_before_ = digits_modulo_256(number);
                if (tag[1] == 'A') blank_after_ = digits_modulo_256(number);
                return;
            case 'A':
                handle_value_tag(parse_value_tag(tag));
                return;
            default:
                return;
        }
    }

    void handle_value_tag(const ValueTag& tag) {
        if (tag.position == 0) return;
        int position = as_position(tag.position);
        std::optional<std::string_view> record = find_record(records_, tag.id);
        if (!record) return;
        if (tag.table == 0) {
            std::optional<std::string_view> value = value_at(record, position);
            if (value) write_value(value_text(*value));
            return;
        }
        uint32_t index = value_number(record, position);
        if (tag.table > tables_.size()) return;
        const TranslationTable& table = tables_[tag.table - 1];
        if (index >= table.size()) return;
        uint32_t selector = 0;
        if (tag.has_selector) {
            std::optional<std::string_view> selector_record = find_record(*record, tag.selector_id);
            selector = value_number(selector_record, as_position(tag.selector_position));
        }
        std::optional<std::string_view> part = entry_part(table[index], selector);
        if (part) write_value(value_text(*part));
    }

    std::string_view records_;
    const std::vector<TranslationTable>& tables_;
    std::array<char, PRINTOUT_COLUMNS> columns_;
    int64_t position_ = 0;
    int64_t used_ = 0;  // columns up to the last written one
    bool right_aligned_ = false;
    int blank_before_ = 0;
    int blank_after_ = 0;
};

}  // namespace

RenderedLine render_template(std::string_view template_line, std::string_view records,
                             const std::vector<TranslationTable>& tables) {
    LineRenderer renderer(records, tables);
    renderer.render(template_line);
    return {renderer.blank_before(), std::string(renderer.text()), renderer.blank_after()};
}

void render_line(std::string& out, std::string_view template_line, std::string_view records,
                 const std::vector<TranslationTable>& tables) {
    LineRenderer renderer(records, tables);
    renderer.render(template_line);
    for (int blank = 0; blank < renderer.blank_before(); ++blank)
        out.append("\r\n");
    out.append(renderer.text());
    out.append("\r\n");
    for (int blank = 0; blank < renderer.blank_after(); ++blank)
        out.append("\r\n");
}

}  // namespace trelvo
