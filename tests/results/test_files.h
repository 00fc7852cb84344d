// File helpers for the result tests: in-memory sources, whole-file reads and a scratch
// directory that is the current directory while a test runs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

namespace trelvo::testing {

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file != nullptr) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// An anonymous read/write file holding `content`, positioned at its end (the conversions
// rewind their sources themselves).
inline FilePtr file_with(std::string_view content) {
    FilePtr file(std::tmpfile());
    if (file && !content.empty()) std::fwrite(content.data(), 1, content.size(), file.get());
    std::fflush(file.get());
    return file;
}

// Everything in `file`, read from its start.
inline std::string contents_of(std::FILE* file) {
    std::string text;
    if (std::fseek(file, 0, SEEK_SET) != 0) return text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    return text;
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline std::filesystem::path test_data(std::string_view name) {
    return std::filesystem::path(TRELVO_TEST_DATA) / "results" / name;
}

// A fresh directory that is the current directory until the object goes; then the previous
// current directory returns and the directory is removed with everything in it.
class ScratchDirectory {
  public:
    ScratchDirectory() : previous_(std::filesystem::current_path()) {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("trelvo-results-" + std::to_string(::getpid()) + "-" + std::to_string(seed()));
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

}  // namespace trelvo::testing
