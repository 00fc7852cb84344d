#include "results/result_records.h"

#include <algorithm>
#include <limits>

namespace trelvo {

namespace {

constexpr size_t ID_LENGTH = 3;

bool ends_value(char c) {
    return c == ',' || c == '\r' || c == '\n';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::string_view> find_record(std::string_view text, std::string_view id) {
    if (id.size() != ID_LENGTH) return std::nullopt;
    // The text is checked for a NUL only as far as the compared ids reach (`clean`), not to
    // its end on every lookup.
    size_t at = 0;
    size_t clean = 0;
    for (int compared = 0; compared < FIND_RECORD_POSITIONS; ++compared) {
        size_t id_end = std::min(at + ID_LENGTH, text.size());
        if (clean < id_end &&
            text.substr(clean, id_end - clean).find('\0') != std::string_view::npos)
            return std::nullopt;  // the text ends before this id: no later one can match
        clean = std::max(clean, id_end);
        if (text.substr(at, ID_LENGTH) == id) return text.substr(at);
        at = text.find('A', at + 1);
        if (at == std::string_view::npos) break;
    }
    return std::nullopt;
}

void RecordValues::split(std::string_view record) {
    values_.clear();
    // The record's line ends at its LF or at a NUL.
    auto in_line = [record](size_t at) {
        return at < record.size() && record[at] != '\n' && record[at] != '\0';
    };
    size_t at = 0;
    while (in_line(at) && record[at] != ';')
        ++at;
    if (!in_line(at)) return;
    for (;;) {
        size_t end = ++at;
        while (in_line(end) && !ends_value(record[end]))
            ++end;
        values_.push_back(record.substr(at, end - at));
        // Only a "," leads to a further value: a CR ends the record's values.
        if (!in_line(end) || record[end] != ',') return;
        at = end;
    }
}

std::optional<std::string_view> RecordValues::at(int position) const {
    if (position < 1 || static_cast<size_t>(position) > values_.size()) return std::nullopt;
    std::string_view value = values_[static_cast<size_t>(position) - 1];
    if (value.empty()) return std::nullopt;
    return value;
}

uint32_t RecordValues::number(int position) const {
    std::optional<std::string_view> value = at(position);
    return value ? leading_number(*value) : 0;
}

std::optional<std::string_view> value_at(std::optional<std::string_view> record, int position) {
    if (!record) return std::nullopt;
    RecordValues values;
    values.split(*record);
    return values.at(position);
}

uint32_t leading_number(std::string_view text) {
    constexpr uint32_t max = std::numeric_limits<uint32_t>::max();
    uint32_t number = 0;
    for (char c : text) {
        if (!is_digit(c)) break;
        uint32_t digit = static_cast<uint32_t>(c - '0');
        if (number > (max - digit) / 10) return max;
        number = number * 10 + digit;
    }
    return number;
}

uint32_t value_number(std::optional<std::string_view> record, int position) {
    std::optional<std::string_view> value = value_at(record, position);
    return value ? leading_number(*value) : 0;
}

}  // namespace trelvo
