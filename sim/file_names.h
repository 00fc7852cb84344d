// Received files: the announced name reduced to a bare file name, and storing the file in
// the receiving directory.
#pragma once

#include <string>
#include <string_view>

namespace trelvo::sim {

// The name that a received file is stored under: the part after the last "/" or "\",
// without control characters. "", "." and ".." become "unnamed", so a stored file never
// lands outside its directory.
std::string bare_file_name(std::string_view announced);

// `dir` joined with `name` ("" means the current directory).
std::string path_in(const std::string& dir, const std::string& name);

// Creates (or empties) the file; false when it cannot be written.
bool create_file(const std::string& path);
// Writes the whole file; false when that fails.
bool write_file(const std::string& path, std::string_view bytes);

}  // namespace trelvo::sim
