// The run log "trelvo.log": one entry per automatic run, appended after its window closed.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/settings_state.h"

namespace trelvo {

inline constexpr const char* RUN_LOG_NAME = "trelvo.log";

// Appends the entry of an automatic run (nothing otherwise) and consumes the error flag
// word. `program_line` is the program's own command line, `current_line` the line that
// prepared this run (the same text, or a batch-script line); `run_result` the final status
// the window kept. Date and time in the locale's short formats (%x, %X of LC_TIME).
void write_run_log(SettingsState& state, std::string_view program_line,
                   std::string_view current_line, std::string_view run_result,
                   const std::filesystem::path& directory = ".",
                   std::time_t now = std::time(nullptr));

}  // namespace trelvo
