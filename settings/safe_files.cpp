#include "settings/safe_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "settings/settings_file.h"

namespace trelvo {
namespace {

constexpr int MAX_SUBSTITUTES = 8;

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// "trelvoini<digits>.old", a backup name of the settings file.
bool is_backup_name(std::string_view name) {
    constexpr std::string_view head = SETTINGS_BACKUP_STEM, tail = SETTINGS_BACKUP_EXTENSION;
    if (name.size() <= head.size() + tail.size() || !name.starts_with(head) ||
        !name.ends_with(tail))
        return false;
    for (char c : name.substr(head.size(), name.size() - head.size() - tail.size())) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Makes a descriptor opened with O_NONBLOCK usable: a regular file in blocking mode.
int keep_if_regular(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

std::FILE* create_output_file(const std::string& path) {
    // Non-blocking open so that a FIFO under that name cannot hang the window; the file is
    // emptied only once it is known to be a regular file that nobody else writes.
    const int fd = ::open(path.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat info {};
    int error = EINVAL;
    bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (usable && ::flock(fd, LOCK_EX | LOCK_NB) != 0) usable = false, error = errno;
    if (usable && (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0))
        usable = false, error = errno;
    std::FILE* file = usable ? ::fdopen(fd, "r+b") : nullptr;
    if (usable && file == nullptr) error = errno;
    if (file == nullptr) {
        ::close(fd);
        errno = error;
    }
    return file;
}

int open_regular_file(const std::filesystem::path& path, int flags, mode_t mode) {
    constexpr int always = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.c_str(), (flags & ~(O_CREAT | O_EXCL)) | always);
    // Created only where no name exists: O_EXCL refuses the end of a dangling link.
    if (fd < 0 && errno == ENOENT && (flags & O_CREAT) != 0)
        fd = ::open(path.c_str(), flags | O_EXCL | always, mode);
    if (fd < 0) return -1;
    return keep_if_regular(fd);
}

std::string file_reason(int error, const std::string& path) {
    return std::string(std::strerror(error)) + ": " + path;
}

bool is_program_file(const SettingsState& state, const std::string& path) {
    const std::filesystem::path file(path);
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    const std::string name = file.filename().string();

    struct stat meant {};
    const bool exists = ::stat(path.c_str(), &meant) == 0;
    const std::filesystem::path& home = state.program_directory;
    for (const char* own : {"trelvo.ini", "trelvo.log"}) {
        struct stat info {};
        if (exists && ::stat((home / own).c_str(), &info) == 0 && same_file(info, meant))
            return true;
    }
    if (!state.batch_script.empty()) {
        struct stat info {};
        if (exists && ::stat(state.batch_script.c_str(), &info) == 0 && same_file(info, meant))
            return true;
    }
    // Files that do not exist yet are told by name within the program's folder.
    struct stat folder_info {
    }, home_info{};
    if (::stat(folder.c_str(), &folder_info) != 0 || ::stat(home.c_str(), &home_info) != 0 ||
        !same_file(folder_info, home_info))
        return false;
    return name == "trelvo.ini" || name == "trelvo.log" || is_backup_name(name);
}

std::string unreserved_name(const SettingsState& state, const std::string& directory,
                            const std::string& name, bool& substituted) {
    std::string candidate = name;
    substituted = false;
    for (int i = 0; i < MAX_SUBSTITUTES; ++i) {
        if (!is_program_file(state, directory + candidate) && !is_program_file(state, candidate))
            return candidate;
        candidate = std::string("_").append(candidate);
        substituted = true;
    }
    return candidate;
}

}  // namespace trelvo
