#include "sim/file_names.h"

#include <fstream>

namespace trelvo::sim {

std::string bare_file_name(std::string_view announced) {
    size_t separator = announced.find_last_of("/\\");
    if (separator != std::string_view::npos) announced.remove_prefix(separator + 1);
    std::string name;
    for (char c : announced) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) name.push_back(c);
    }
    if (name.empty() || name == "." || name == "..") return "unnamed";
    return name;
}

std::string path_in(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

bool create_file(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out);
}

bool write_file(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

}  // namespace trelvo::sim
