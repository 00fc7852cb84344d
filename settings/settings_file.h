// The settings file "trelvo.ini": sections of value lines in the current directory (tests
// pass another directory). Read before every command line, written when the main window
// closes. A file of another settings version is set aside as "trelvoini<n>.old".
#pragma once

#include <filesystem>
#include <string_view>

#include "base/platform.h"
#include "base/settings_state.h"

namespace trelvo {

inline constexpr int32_t SETTINGS_VERSION = 410;
inline constexpr const char* SETTINGS_FILE_NAME = "trelvo.ini";
// A settings file of another version is set aside as <stem><n><extension>.
inline constexpr std::string_view SETTINGS_BACKUP_STEM = "trelvoini";
inline constexpr std::string_view SETTINGS_BACKUP_EXTENSION = ".old";

// keep_values false: scalar items back to their reset values (the operation index keeps
// its value) and all six definition lists on their built-in defaults. keep_values true:
// only the lists go back to their defaults. Either way no list counts as read from file.
void reset_settings(SettingsState& state, bool keep_values);

// Resets, then reads `directory`/trelvo.ini into the state; a missing or unreadable file
// leaves the reset state. `window` shows the memory-failure messages of an interactive run.
void load_settings(SettingsState& state, WindowSurface& window,
                   const std::filesystem::path& directory = ".");

// After load_settings: a version other than 410 moves the file to the first free
// "trelvoini<n>.old" and puts the definition lists back on their built-in defaults.
void check_settings_version(SettingsState& state, const std::filesystem::path& directory = ".");

// Writes all 16 sections (and "[Port map]" when it has entries) with CR LF line ends,
// through a temporary file renamed over the old one. On failure shows "Cannot create
// INI-File" (in automatic runs too) and returns false. Either way the lists read from the
// file are released: the state's lists go back to the built-in defaults.
bool write_settings(SettingsState& state, WindowSurface& window,
                    const std::filesystem::path& directory = ".");

}  // namespace trelvo
