#include "sim/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/interrupted_calls.h"
#include "serial/posix_serial_device.h"

namespace trelvo::sim {

namespace {

void wait_for(int fd, short events, uint32_t ms) {
    pollfd entry{fd, events, 0};
    int timeout = ms > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
    poll(&entry, 1, timeout);
}

// Points `link_path` at `target`; an existing symbolic link there is replaced.
bool make_link(const std::string& target, const std::string& link_path, std::string& error) {
    struct stat info {};
    if (lstat(link_path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = link_path + ": exists and is not a symbolic link";
            return false;
        }
        if (unlink(link_path.c_str()) != 0) {
            error = link_path + ": cannot replace the old link: " + errno_text(errno);
            return false;
        }
    }
    if (symlink(target.c_str(), link_path.c_str()) != 0) {
        error = link_path + ": cannot create the link: " + errno_text(errno);
        return false;
    }
    return true;
}

}  // namespace

void PtyMasterDevice::purge_input() {
    tcflush(fd_, TCIFLUSH);
}

long PtyMasterDevice::failure(const char* what, int err) {
    error_ = DeviceError::Io;
    error_text_ = std::string("pseudo-terminal: ") + what + " failed: " + errno_text(err);
    return -1;
}

long PtyMasterDevice::read(uint8_t* buffer, size_t capacity) {
    const ssize_t n = retry_interrupted([&] { return ::read(fd_, buffer, capacity); });
    if (n >= 0) return static_cast<long>(n);
    // EIO: no slave is open at the moment; nothing can have come.
    if (would_block(errno) || errno == EIO) return 0;
    return failure("read", errno);
}

long PtyMasterDevice::write(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const ssize_t n = retry_interrupted([&] { return ::write(fd_, data, size); });
    if (n >= 0) return static_cast<long>(n);
    if (would_block(errno)) return 0;
    return failure("write", errno);
}

void PtyMasterDevice::wait_readable(uint32_t ms) {
    wait_for(fd_, POLLIN, ms);
}

void PtyMasterDevice::wait_writable(uint32_t ms) {
    wait_for(fd_, POLLOUT, ms);
}

std::unique_ptr<PtyLink> PtyLink::open(const std::string& link_path, std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        error = "cannot open a pseudo-terminal: " + errno_text(errno);
        return nullptr;
    }
    std::array<char, 128> name{};
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name.data(), name.size()) != 0) {
        error = "cannot unlock the pseudo-terminal: " + errno_text(errno);
        close(master);
        return nullptr;
    }
    std::string slave_path = name.data();
    int slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        error = slave_path + ": " + errno_text(errno);
        close(master);
        return nullptr;
    }
    // A raw line until the PC program applies its own settings: no echo, no translation.
    termios settings{};
    if (tcgetattr(slave, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        tcsetattr(slave, TCSANOW, &settings);
    }
    if (!make_link(slave_path, link_path, error)) {
        close(slave);
        close(master);
        return nullptr;
    }
    return std::unique_ptr<PtyLink>(new PtyLink(master, slave, slave_path, link_path));
}

PtyLink::~PtyLink() {
    std::array<char, PATH_MAX> target{};
    ssize_t length = readlink(link_path_.c_str(), target.data(), target.size() - 1);
    if (length > 0 && std::string(target.data(), static_cast<size_t>(length)) == slave_path_)
        unlink(link_path_.c_str());
    close(slave_);
    close(master_);
}

}  // namespace trelvo::sim
