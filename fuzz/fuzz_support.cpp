#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>

#include "settings/settings_file.h"

namespace trelvo::fuzz {

namespace fs = std::filesystem;

namespace {

struct ScratchDir {
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "trelvo-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) broken("cannot create a scratch directory");
        path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

}  // namespace

const fs::path& empty_scratch_dir() {
    static ScratchDir dir;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir.path, ignored))
        fs::remove_all(entry.path(), ignored);
    return dir.path;
}

void write_bytes(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

SettingsAndData split_settings(std::string_view input) {
    constexpr std::string_view separator = "\n%%\n";
    if (!input.starts_with('[')) return {{}, input};
    size_t at = input.find(separator);
    if (at == std::string_view::npos) return {input, {}};
    return {input.substr(0, at + 1), input.substr(at + separator.size())};
}

SettingsState settings_from(std::string_view settings_text) {
    SettingsState state;
    QuietWindow window;
    if (settings_text.empty()) {
        reset_settings(state, false);
        return state;
    }
    const fs::path& dir = empty_scratch_dir();
    write_bytes(dir / SETTINGS_FILE_NAME, settings_text);
    load_settings(state, window, dir);
    return state;
}

std::FILE* open_bytes(std::string_view bytes) {
    // fmemopen refuses an empty buffer on some libraries; an empty temporary file will do.
    std::FILE* file = bytes.empty()
                          ? std::tmpfile()
                          : ::fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    if (file == nullptr) broken("cannot open the input as a stream");
    return file;
}

void broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

}  // namespace trelvo::fuzz
