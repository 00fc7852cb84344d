// The built-in definition lists as the tests expect them, written out independently of the
// program's own tables, so that the conversions are checked against a second transcription.
#pragma once

#include "shell/settings_state.h"

namespace trelvo::testing {

// Fills the six definition lists of `state` with the built-in contents (Excel lines with
// their LF, as stored).
void fill_reference_lists(SettingsState& state);

}  // namespace trelvo::testing
