// Putting a file in place without a moment in which it is half written or gone: a new
// version is written beside the file and renamed over it, and a file set aside goes to the
// first free numbered name, never over a backup that is already there.
#pragma once

#include <filesystem>
#include <string_view>

namespace trelvo {

// Writes `bytes` into a new file beside `file` (which keeps its permissions) and renames it
// over `file`; a symbolic link keeps pointing at the file it names, which is replaced. On any
// failure the new file is removed again, `file` is left as it was and false is returned.
bool replace_file(std::filesystem::path file, std::string_view bytes);

// Moves `file` to the first name `directory`/<stem><n><extension>, n = 1, 2, ..., that does
// not exist yet. Returns false, with `file` where it was, when it cannot be moved for
// another reason than a taken name.
bool move_to_numbered_backup(const std::filesystem::path& file,
                             const std::filesystem::path& directory, std::string_view stem,
                             std::string_view extension);

}  // namespace trelvo
