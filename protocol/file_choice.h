// The choice of the file to send (downloads) and of the receiving folder (uploads), as the
// operation's row asks for it, with the path helpers, the pick of the file dialog's type
// list and the rules of the autotest slot dialog. The dialogs themselves belong to the
// frontend (WindowSurface); everything here runs without one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"
#include "base/settings_state.h"
#include "base/transfer_record.h"
#include "engine/operation.h"

namespace trelvo {

// Everything before the last "/" of `path`; the root stays "/". A path without any "/"
// has no directory part: "".
std::string directory_of(std::string_view path);
// The part of `path` after its last "/", or the whole path when it has none.
std::string_view name_of(std::string_view path);
// Makes `directory` usable as a prefix of file names: a string shorter than 2 characters
// becomes empty (the current directory), except the root "/", which stays; otherwise a
// "/" is appended unless it already ends with one.
void ensure_trailing_separator(std::string& directory);

// The file dialog's type list of `operation` for the model code found by detection: the
// first of the row's lists made for that model or for every model. The uploads have one
// entry whose pattern matches no file, so that a dialog lists folders only. Empty for a
// row without lists.
std::span<const FileFilter> file_filters(const Operation& operation, int32_t model_code);

// Opens an existing regular file for reading and holds a shared lock on it, so that no
// program that locks it for writing changes it while it is sent. Its size goes to `size`.
// nullptr when it is missing, not a regular file, locked for writing, unreadable or
// larger than the 32-bit size the file information block can announce.
std::FILE* open_file_to_send(const std::string& path, uint32_t& size);

// The file choice of the operation `operation`:
// - automatic run with a command-line path: that file is opened directly, no dialog; on
//   failure the "Unable to open file." bit is set and nullptr returned;
// - a file to send (the downloads): the file dialog starting in the operation's stored
//   directory, which then receives the chosen file's directory; a file that cannot be
//   opened gives "Invalid filename or file is write protected\n" and the dialog again;
//   nullptr when the user cancels;
// - a receiving folder (the uploads): the folder chooser, titled with the operation's
//   name; OK stores the folder as the operation's directory, which becomes the record's
//   directory; always nullptr.
// The record receives the file name (cut to 12 characters), size and file time 0.
std::FILE* choose_file(SettingsState& state, WindowSurface& window, TransferRecord& record,
                       const Operation& operation);

// The autotest slot dialog's list: for each line of the directory text, what follows its
// first four comma-separated fields (a name may itself hold commas); empty names are left
// out, and a line with fewer than four commas ends the list.
std::vector<std::string> autotest_entries(std::string_view directory_text);

inline constexpr std::string_view NEW_WITHOUT_FREE_SLOT = "New error\n\nNo free slot\n";
inline constexpr std::string_view REPLACE_WITHOUT_SELECTION =
    "Replacement error\n\nNo autotest selected\n";
inline constexpr std::string_view DELETE_WITHOUT_SELECTION =
    "Delete error\n\nNo autotest selected\n";

// Slot numbers are 8 bits and 0 names no slot: a tester holds at most this many autotests.
inline constexpr size_t AUTOTEST_SLOTS = 255;

// What one button of the autotest slot dialog does.
struct AutotestPress {
    bool closes = false;       // the dialog ends with `choice`
    AutotestChoice choice;     // result and slot when it closes
    std::string_view message;  // a message box to show when it stays open
};

// `button` is one of AUTOTEST_*; `entry_count` the length of the list, `selected` the
// selected entry (counting from 0) or -1 for none, `slot` the slot chosen so far.
// New: slot = entries + 1, or a message and the dialog stays open when all AUTOTEST_SLOTS
// are taken. Replace and Delete: slot = selected entry + 1, or a message and the dialog
// stays open when nothing is selected. Cancel: the slot stays.
AutotestPress autotest_button(int button, size_t entry_count, int selected, uint8_t slot);

}  // namespace trelvo
