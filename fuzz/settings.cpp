// The settings reader on any file, then the round trip: what the program writes back must
// read in again and be written out unchanged.
#include <fstream>
#include <iterator>

#include "fuzz/fuzz_support.h"
#include "settings/settings_file.h"

using namespace trelvo;
using namespace trelvo::fuzz;

namespace {

std::string read_back(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Loads the settings file of `dir` as the program does at start and writes it as the main
// window does when it closes; returns what was written.
std::string load_and_write(const std::filesystem::path& dir) {
    SettingsState state;
    QuietWindow window;
    load_settings(state, window, dir);
    check_settings_version(state, dir);
    if (!write_settings(state, window, dir)) broken("the settings file could not be written");
    return read_back(dir / SETTINGS_FILE_NAME);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path& dir = empty_scratch_dir();
    write_bytes(dir / SETTINGS_FILE_NAME, as_text(data, size));
    std::string first = load_and_write(dir);
    std::string second = load_and_write(dir);
    // No port chosen yet is written as an empty line, which reads back as COM1.
    constexpr std::string_view no_port = "[Version]\r\n410\r\n[Port]\r\n\r\n";
    if (first.starts_with(no_port))
        first.replace(0, no_port.size(), "[Version]\r\n410\r\n[Port]\r\nCOM1\r\n");
    if (first != second) broken("the written settings file does not read back the same");
    return 0;
}
