// The printout conversion: every result block of a result list (or of one IMEI block file)
// becomes one report of the printout template: the start section once, a middle line for
// each record of the block, the end section once. Reports are separated by a form feed;
// none follows the last. Lines are at most 90 columns and end with CR LF.
#pragma once

#include <cstdio>
#include <string_view>
#include <vector>

#include "base/settings_state.h"

namespace trelvo {

// The source is read through this buffer, and a block copy holds this much of a block from
// its A01 record on: a line of up to 999 characters is handled, a longer one ends the
// conversion (an open block still gets its end section).
inline constexpr size_t PRINTOUT_READ_BUFFER = 1000;

// The first middle line for `record_number`, or nullptr when the section has none.
const MiddleLine* find_middle_line(const std::vector<MiddleLine>& middle, uint32_t record_number);

// Writes the reports of `source`, read from its start, with the printout definitions of
// `state`. `source` is left open; a read error counts as the end of the source.
void write_printout(std::FILE* source, std::FILE* out, const SettingsState& state);

}  // namespace trelvo
