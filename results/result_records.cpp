#include "results/result_records.h"

#include <limits>

namespace trelvo {

namespace {

constexpr size_t ID_LENGTH = 3;

std::string_view up_to_nul(std::string_view text) {
    size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

bool ends_value(char c) {
    return c == ',' || c == '\r' || c == '\n';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::string_view> find_record(std::string_view text, std::string_view id) {
    text = up_to_nul(text);
    size_t at = 0;
    for (int compared = 0; compared < FIND_RECORD_POSITIONS; ++compared) {
        if (id.size() == ID_LENGTH && text.substr(at, ID_LENGTH) == id) return text.substr(at);
        at = text.find('A', at + 1);
        if (at == std::string_view::npos) break;
    }
    return std::nullopt;
}

std::optional<std::string_view> value_at(std::optional<std::string_view> record, int position) {
    if (!record || position < 1) return std::nullopt;
    std::string_view text = up_to_nul(*record);
    size_t line_end = text.find('\n');
    if (line_end != std::string_view::npos) text = text.substr(0, line_end);
    size_t at = text.find(';');
    if (at == std::string_view::npos) return std::nullopt;
    ++at;
    for (int current = 1; current < position; ++current) {
        size_t comma = text.find(',', at);
        if (comma == std::string_view::npos) return std::nullopt;
        // A CR before the next "," ends the record's values.
        if (text.substr(at, comma - at).find('\r') != std::string_view::npos) return std::nullopt;
        at = comma + 1;
    }
    size_t end = at;
    while (end < text.size() && !ends_value(text[end]))
        ++end;
    if (end == at) return std::nullopt;
    return text.substr(at, end - at);
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
