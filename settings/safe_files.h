// Opening and creating files so that a name planted by someone else cannot redirect or hang
// us: outputs are created as regular files and never through a symbolic link, the program's
// own files (settings file, its backups, run log, batch script) are opened only when they are
// regular files, and a name from the tester never stands for one of the program's own files.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/settings_state.h"

namespace trelvo {

// Creates (or empties) `path` for reading and writing and locks it against other writers.
// Refused (nullptr, errno set) when the name is a symbolic link (ELOOP), anything but a
// regular file (EINVAL; a FIFO cannot make us wait), or locked by another writer.
std::FILE* create_output_file(const std::string& path);

// Opens `path` with `flags` (plus `mode` when creating) only if it is a regular file, without
// waiting on a FIFO or device while finding out. Returns the descriptor in blocking mode, or
// -1 with errno set (EINVAL for a file that is not regular). Links are followed, except that
// a file is never created at the end of a dangling link.
int open_regular_file(const std::filesystem::path& path, int flags, mode_t mode = 0666);

// "<strerror>: <path>", the reason line of a message about `path`.
std::string file_reason(int error, const std::string& path);

// True when `path` is, or would become, one of the program's own files: the settings file,
// one of its numbered backups or the run log in the program's directory, or the open batch
// script. Judged by the file meant (the folder behind any links, the file behind the name),
// not by the text.
bool is_program_file(const SettingsState& state, const std::string& path);

// `name`, or when it would land on one of the program's own files in `directory` or in the
// current directory (the fallback of every output), the first "_"-prefixed variant that does
// not. `substituted` tells which.
std::string unreserved_name(const SettingsState& state, const std::string& directory,
                            const std::string& name, bool& substituted);

}  // namespace trelvo
