// Lookups in result records. A result record is one text line: a record id ("A" and two
// digits), ";", then values separated by ",", ended by CR LF or a bare LF. The readers
// (spreadsheet, printout, IMEI split) share these three lookups. A text ends at its end or
// at its first NUL byte, whichever comes first (the printout's block copy is zero-filled).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace trelvo {

// Most positions `find_record` compares: the start of the text and the next nine "A"s.
inline constexpr int FIND_RECORD_POSITIONS = 10;

// The record with the given three-character id in a text of several records: compares the
// start of the text, then the text at each further capital "A", at most ten positions in
// all. Returns the text from the matching record on, or nothing. An "A" inside a value
// counts as a position, so a record behind many of them is not found. The returned text
// is not cut at a NUL behind the record; the lookups on it stop there themselves.
std::optional<std::string_view> find_record(std::string_view text, std::string_view id);

// The value at position `position` (from 1) of `record`: counted from the record's first
// ";", each "," starting the next one, never past the LF that ends the record. Returns the
// value from its first character up to (not including) the next ",", CR, LF or the end of
// the text; nothing when the record has no ";", fewer values, or the value is empty.
std::optional<std::string_view> value_at(std::optional<std::string_view> record, int position);

// The values of one record, split in one pass: after split(record), at(p) is
// value_at(record, p) and number(p) is value_number(record, p).
class RecordValues {
  public:
    void split(std::string_view record);
    std::optional<std::string_view> at(int position) const;
    uint32_t number(int position) const;

  private:
    std::vector<std::string_view> values_;  // up to the first one not followed by ","
};

// The decimal number formed by the leading digits of the value at `position`; 0 when the
// value is missing, empty or does not begin with a digit. No sign. Saturates at UINT32_MAX.
uint32_t value_number(std::optional<std::string_view> record, int position);

// The number formed by the leading decimal digits of `text` (saturating); 0 without digits.
uint32_t leading_number(std::string_view text);

}  // namespace trelvo
