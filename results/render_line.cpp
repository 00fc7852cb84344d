#include "results/render_line.h"

#include <algorithm>
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

int as_position(uint32_t number) {
    return number > INT32_MAX ? INT32_MAX : static_cast<int>(number);
}

}  // namespace

LineTemplate::ValueTag LineTemplate::parse_value_tag(std::string_view tag) {
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

void LineTemplate::add_tag(std::string_view tag) {
    if (tag.size() < 2) return;
    std::string_view number = tag.substr(2);
    switch (tag[0]) {
        case 'C':
            if (tag[1] != 'L' && tag[1] != 'R') return;
            steps_.push_back(
                {Step::Kind::Column, {}, as_position(leading_number(number)), tag[1] == 'R', {}});
            return;
        case 'L':
            // Blank lines do not depend on the records: the last tag of each kind counts.
            if (tag[1] == 'B') blank_before_ = digits_modulo_256(number);
            if (tag[1] == 'A') blank_after_ = digits_modulo_256(number);
            return;
        case 'A': {
            ValueTag value = parse_value_tag(tag);
            if (value.position != 0) steps_.push_back({Step::Kind::Value, {}, 0, false, value});
            return;
        }
        default:
            return;
    }
}

LineTemplate::LineTemplate(std::string_view line) {
    size_t at = 0;
    while (at < line.size()) {
        if (line[at] != '{') {
            size_t end = std::min(line.find('{', at), line.size());
            steps_.push_back({Step::Kind::Literal, line.substr(at, end - at), 0, false, {}});
            at = end;
            continue;
        }
        size_t close = line.find('}', at + 1);
        if (close == std::string_view::npos) break;  // an unclosed tag ends the line
        add_tag(line.substr(at + 1, close - at - 1));
        at = close + 1;
    }
}

std::optional<std::string_view> RecordCache::find(std::string_view text, std::string_view id) {
    for (const Found& found : found_) {
        if (found.text == text.data() && found.id == id) return found.record;
    }
    found_.push_back({text.data(), id, find_record(text, id)});
    return found_.back().record;
}

const RecordValues& RecordCache::values(std::string_view record) {
    for (size_t k = 0; k < used_; ++k) {
        if (split_[k].record == record.data()) return split_[k].values;
    }
    if (used_ == split_.size()) split_.emplace_back();
    Split& split = split_[used_++];
    split.record = record.data();
    split.values.split(record);
    return split.values;
}

// The 90 columns of one line being rendered.
class LineTemplate::Renderer {
  public:
    Renderer(std::string_view records, const std::vector<TranslationTable>& tables,
             RecordCache& cache)
        : records_(records), tables_(tables), cache_(cache) {
        columns_.fill(' ');
    }

    void run(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            switch (step.kind) {
                case Step::Kind::Literal:
                    write_literal(step.literal);
                    break;
                case Step::Kind::Column:
                    position_ = step.column;
                    right_aligned_ = step.right_aligned;
                    break;
                case Step::Kind::Value:
                    write_value_tag(step.value);
                    break;
            }
        }
    }

    // The line up to its last written column, inner gaps as blanks.
    std::string_view text() const { return {columns_.data(), static_cast<size_t>(used_)}; }

  private:
    bool in_line() const { return position_ >= 0 && position_ < PRINTOUT_COLUMNS; }

    // Characters from the current column on while it lies within the line.
    void put(std::string_view text) {
        if (!in_line()) return;
        size_t count = std::min(text.size(), static_cast<size_t>(PRINTOUT_COLUMNS - position_));
        if (count == 0) return;
        std::copy_n(text.data(), count, columns_.data() + position_);
        position_ += static_cast<int64_t>(count);
        used_ = std::max(used_, position_);
    }

    // Literal text after a right alignment starts one column to the left.
    void write_literal(std::string_view text) {
        if (right_aligned_) {
            --position_;
            right_aligned_ = false;
        }
        put(text);
    }

    void write_value(std::string_view text) {
        if (right_aligned_) {
            position_ -= static_cast<int64_t>(text.size());
            right_aligned_ = false;
        }
        if (position_ < 0) return;  // would start left of column 0: not written at all
        put(text);
    }

    void write_value_tag(const ValueTag& tag) {
        int position = as_position(tag.position);
        std::optional<std::string_view> record = cache_.find(records_, tag.id);
        if (!record) return;
        const RecordValues& values = cache_.values(*record);
        if (tag.table == 0) {
            std::optional<std::string_view> value = values.at(position);
            if (value) write_value(value_text(*value));
            return;
        }
        uint32_t index = values.number(position);
        if (tag.table > tables_.size()) return;
        const TranslationTable& table = tables_[tag.table - 1];
        if (index >= table.size()) return;
        uint32_t selector = 0;
        if (tag.has_selector) {
            std::optional<std::string_view> selector_record = cache_.find(*record, tag.selector_id);
            if (selector_record) {
                selector =
                    cache_.values(*selector_record).number(as_position(tag.selector_position));
            }
        }
        std::optional<std::string_view> part = entry_part(table[index], selector);
        if (part) write_value(value_text(*part));
    }

    std::string_view records_;
    const std::vector<TranslationTable>& tables_;
    RecordCache& cache_;
    std::array<char, PRINTOUT_COLUMNS> columns_;
    int64_t position_ = 0;
    int64_t used_ = 0;  // columns up to the last written one
    bool right_aligned_ = false;
};

RenderedLine LineTemplate::render(std::string_view records,
                                  const std::vector<TranslationTable>& tables) const {
    RecordCache cache;
    Renderer renderer(records, tables, cache);
    renderer.run(steps_);
    return {blank_before_, std::string(renderer.text()), blank_after_};
}

void LineTemplate::append(std::string& out, std::string_view records,
                          const std::vector<TranslationTable>& tables, RecordCache& cache) const {
    Renderer renderer(records, tables, cache);
    renderer.run(steps_);
    for (int blank = 0; blank < blank_before_; ++blank)
        out.append("\r\n");
    out.append(renderer.text());
    out.append("\r\n");
    for (int blank = 0; blank < blank_after_; ++blank)
        out.append("\r\n");
}

RenderedLine render_template(std::string_view template_line, std::string_view records,
                             const std::vector<TranslationTable>& tables) {
    return LineTemplate(template_line).render(records, tables);
}

void render_line(std::string& out, std::string_view template_line, std::string_view records,
                 const std::vector<TranslationTable>& tables) {
    RecordCache cache;
    LineTemplate(template_line).append(out, records, tables, cache);
}

}  // namespace trelvo
