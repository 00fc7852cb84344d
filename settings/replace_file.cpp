#include "settings/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "base/interrupted_calls.h"

namespace trelvo {

namespace {

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done =
            retry_interrupted([&] { return ::write(fd, bytes.data(), bytes.size()); });
        if (done < 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

// Moves `from` to `to` unless `to` exists. errno tells why it failed.
bool rename_no_replace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot rename without replacing: link under the new name (which
    // fails when it exists), then drop the old name.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        errno = error;
        return false;
    }
    return true;
}

}  // namespace

bool replace_file(std::filesystem::path file, std::string_view bytes) {
    // A symbolic link keeps pointing where the user put the file: the new file replaces the
    // link's target, beside it. A dangling link or one to anything but a regular file is
    // not written through.
    struct stat link_info {};
    if (::lstat(file.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
        std::error_code error;
        file = std::filesystem::canonical(file, error);
        struct stat target {};
        if (error || ::stat(file.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return false;
    }
    // A file written in place keeps its permissions; so does the replacement.
    mode_t mode = 0666;
    struct stat old_info {};
    const bool had_file = ::stat(file.c_str(), &old_info) == 0 && S_ISREG(old_info.st_mode);
    if (had_file) mode = old_info.st_mode & 07777;

    std::filesystem::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = file;
        temp += "." + std::to_string(::getpid()) + "." + std::to_string(attempt) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes);
    if (ok && had_file) ok = ::fchmod(fd, mode) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool move_to_numbered_backup(const std::filesystem::path& file,
                             const std::filesystem::path& directory, std::string_view stem,
                             std::string_view extension) {
    for (int i = 1; i < INT_MAX; ++i) {
        const std::filesystem::path backup =
            directory / (std::string(stem) + std::to_string(i) + std::string(extension));
        if (rename_no_replace(file, backup)) return true;
        // Only a taken backup name sends us on to the next one, and only while there still
        // is a file to move.
        struct stat info {};
        if (errno != EEXIST || ::lstat(file.c_str(), &info) != 0) return false;
    }
    return false;
}

}  // namespace trelvo
