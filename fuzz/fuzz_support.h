// What the fuzz targets share: a window that shows nothing, a scratch directory of this
// process that every run starts empty, and the input split into its parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/settings_state.h"
#include "window/quiet_window.h"

namespace trelvo::fuzz {

// This process's scratch directory, emptied: created on first use, removed at exit.
const std::filesystem::path& empty_scratch_dir();

// Writes `bytes` to `path`, replacing it.
void write_bytes(const std::filesystem::path& path, std::string_view bytes);

// The input as text.
inline std::string_view as_text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Inputs of the conversion targets may begin with a settings file that defines the lists:
// when the input starts with "[", everything up to the first "\n%%\n" is that file and the
// rest is the data. Otherwise the built-in lists apply and the whole input is data.
struct SettingsAndData {
    std::string_view settings;  // empty: built-in lists
    std::string_view data;
};
SettingsAndData split_settings(std::string_view input);

// The settings state with the built-in lists, or with the lists of `settings_text` read
// the way the program reads its settings file.
SettingsState settings_from(std::string_view settings_text);

// A read-only stream over `bytes` (which must outlive it); never nullptr.
std::FILE* open_bytes(std::string_view bytes);

// Aborts with `what` on stderr, so that libFuzzer keeps the input that broke a promise.
[[noreturn]] void broken(const char* what);

}  // namespace trelvo::fuzz
