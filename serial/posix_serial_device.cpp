#include "serial/posix_serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "base/control_bytes.h"
#include "base/interrupted_calls.h"
#include "serial/port_map.h"

namespace trelvo {

namespace {

// How long closing waits for queued output to leave before dropping it, so that a tester
// holding us off cannot keep the close (and the program) waiting.
constexpr int CLOSE_DRAIN_MS = 1000;
constexpr int CLOSE_DRAIN_STEP_MS = 10;

// strerror_r comes in two flavours; these pick the text out of either.
[[maybe_unused]] std::string strerror_result(char* text, const char*) {
    return text;
}
[[maybe_unused]] std::string strerror_result(int result, const char* buffer) {
    return result == 0 ? std::string(buffer) : std::string("unknown error");
}

std::string open_failure_reason(const std::string& path, DeviceError error, int err) {
    switch (error) {
        case DeviceError::NoDevice:
            return path + ": no such device";
        case DeviceError::Busy:
            return path + ": in use by another program";
        case DeviceError::NoPermission:
            return path +
                   ": permission denied; add the user to the dialout group "
                   "(sudo usermod -aG dialout $USER) and log in again";
        default:
            return path + ": " + errno_text(err);
    }
}

DeviceError classify_open_errno(int err) {
    switch (err) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return DeviceError::NoDevice;
        case EBUSY:
            return DeviceError::Busy;
        case EACCES:
        case EPERM:
            return DeviceError::NoPermission;
        default:
            return DeviceError::Io;
    }
}

OpenResult open_failure(const std::string& path, DeviceError error, int err) {
    OpenResult result;
    result.error = error;
    result.reason = open_failure_reason(path, error, err);
    return result;
}

// A device without modem lines (a pseudo-terminal) refuses their requests; that is not a
// failure.
bool no_modem_lines(int err) {
    return err == ENOTTY || err == EINVAL;
}

}  // namespace

int SerialDriver::get_flags(int fd, int& flags) const {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return errno;
    flags = serial.flags;
    return 0;
}

int SerialDriver::set_flags(int fd, int flags) const {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return errno;
    serial.flags = flags;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0 ? 0 : errno;
}

int SerialDriver::set_modem_lines(int fd, int lines, bool on) const {
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines) == 0 ? 0 : errno;
}

const SerialDriver& system_serial_driver() {
    static const SerialDriver driver;
    return driver;
}

std::string errno_text(int err) {
    std::array<char, 128> buffer{};
    return strerror_result(strerror_r(err, buffer.data(), buffer.size()), buffer.data());
}

speed_t speed_for_baud(uint32_t baud) {
    struct Rate {
        uint32_t baud;
        speed_t speed;
    };
    static constexpr Rate RATES[] = {
        {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
        {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const Rate& rate : RATES) {
        if (rate.baud == baud) return rate.speed;
    }
    return B0;
}

uint32_t baud_for_speed(speed_t speed) {
    for (uint32_t baud : {300u, 600u, 1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u,
                          230400u, 460800u, 921600u}) {
        if (speed_for_baud(baud) == speed) return baud;
    }
    return 0;
}

OpenResult PosixSerialDevice::open(const std::string& path, const SerialDriver& driver) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        return open_failure(path, classify_open_errno(err), err);
    }
    if (counts_as_absent(path, probe_uart_type(fd))) {
        ::close(fd);
        OpenResult result;
        result.error = DeviceError::NoDevice;
        result.reason = path + ": no serial hardware behind this device";
        return result;
    }
    // Not shared: another program holding the advisory lock has the port. The exclusive
    // mode then refuses further opens of the tty by programs that do not look at locks.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return open_failure(path, DeviceError::Busy, EBUSY);
    }
    ioctl(fd, TIOCEXCL);
    OpenResult result;
    result.device.reset(new PosixSerialDevice(fd, path, driver));
    return result;
}

PosixSerialDevice::PosixSerialDevice(int fd, std::string path, const SerialDriver& driver)
    : fd_(fd), path_(std::move(path)), driver_(driver) {
    have_original_ = tcgetattr(fd_, &original_) == 0;
}

// Leaves the device as we found it: another program, or the next run at another rate,
// starts from the settings the user had, and the adapter's latency timer is its own again.
void PosixSerialDevice::restore() {
    if (have_original_) tcsetattr(fd_, TCSANOW, &original_);
    int flags = 0;
    if (raised_low_latency_ && driver_.get_flags(fd_, flags) == 0)
        driver_.set_flags(fd_, flags & ~ASYNC_LOW_LATENCY);
}

PosixSerialDevice::~PosixSerialDevice() {
    // Give queued output (the end-of-run command) a moment to leave, then drop the rest:
    // closing a serial port otherwise waits until the queue drains, however long.
    bool drained = false;
    for (int waited = 0; waited < CLOSE_DRAIN_MS; waited += CLOSE_DRAIN_STEP_MS) {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) {
            drained = true;
            break;
        }
        poll(nullptr, 0, CLOSE_DRAIN_STEP_MS);
    }
    // Only what could not leave is dropped: on a pseudo-terminal a flush would also throw
    // away what the other side has not read yet, such as the end-of-run command.
    if (!drained) tcflush(fd_, TCOFLUSH);
    restore();
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

bool PosixSerialDevice::fail(DeviceError error, const std::string& what, int err) {
    error_ = error;
    error_text_ = path_ + ": " + what;
    if (err != 0) error_text_ += " (" + errno_text(err) + ")";
    return false;
}

long PosixSerialDevice::io_failure(const char* what, int err) {
    if (err == EIO || err == ENXIO || err == ENODEV || err == EBADF) {
        fail(DeviceError::Lost, std::string("device disconnected during ") + what, err);
    } else {
        fail(DeviceError::Io, std::string(what) + " failed", err);
    }
    return -1;
}

bool PosixSerialDevice::hung_up() const {
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool PosixSerialDevice::read_configuration() {
    if (tcgetattr(fd_, &configuration_) != 0) {
        have_configuration_ = false;
        return fail(DeviceError::Io, "cannot read the line settings", errno);
    }
    have_configuration_ = true;
    return true;
}

bool PosixSerialDevice::apply_configuration(const LineSettings& settings) {
    termios t{};
    if (have_configuration_) {
        t = configuration_;
    } else if (tcgetattr(fd_, &t) != 0) {
        t = termios{};
    }
    speed_t speed = B0;
    if (settings.baud != 0) {
        speed = speed_for_baud(settings.baud);
        if (speed == B0) {
            return fail(DeviceError::Unsupported,
                        std::to_string(settings.baud) + " baud is not a rate of this device", 0);
        }
    }

    // Raw binary line, 8 data bits, no parity, 1 stop bit, receiver on, modem status
    // lines ignored, no hardware handshake.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IXON |
                   IXOFF | IXANY | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // XON/XOFF: stop sending while the tester holds us off; hold the tester off while our
    // receive queue is full. Sending does not resume on any other character.
    if (settings.output_flow_control) t.c_iflag |= IXON;
    if (settings.input_flow_control) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = XON;
    t.c_cc[VSTOP] = XOFF;
    // A read returns at once with whatever has arrived, possibly nothing.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }

    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        int err = errno;
        return fail(err == EINVAL ? DeviceError::Unsupported : DeviceError::Io,
                    "the device refuses the line settings", err);
    }
    // tcsetattr succeeds when any part of the request was taken; read back what stuck.
    termios applied{};
    if (tcgetattr(fd_, &applied) != 0) {
        return fail(DeviceError::Io, "cannot read back the line settings", errno);
    }
    if (speed != B0 && cfgetospeed(&applied) != speed) {
        return fail(DeviceError::Unsupported,
                    "the device refuses " + std::to_string(settings.baud) + " baud", 0);
    }
    if ((applied.c_cflag & CSIZE) != CS8) {
        return fail(DeviceError::Unsupported, "the device refuses 8 data bits", 0);
    }
    // DTR held off, RTS held on.
    for (auto [line, on] : {std::pair{TIOCM_DTR, false}, std::pair{TIOCM_RTS, true}}) {
        int err = driver_.set_modem_lines(fd_, line, on);
        if (err != 0 && !no_modem_lines(err)) {
            return fail(DeviceError::ModemLines,
                        std::string("cannot ") + (on ? "raise RTS" : "drop DTR"), err);
        }
    }
    ask_low_latency();
    configuration_ = applied;
    have_configuration_ = true;
    return true;
}

// Asks a UART or USB adapter driver to hand received bytes on at once instead of after its
// latency timer (16 ms on common USB adapters), so that a one-byte answer is not held back.
// Drivers let an unprivileged user change this flag; devices without it (pseudo-terminals)
// refuse the request, and a refusal changes nothing else.
void PosixSerialDevice::ask_low_latency() {
    int flags = 0;
    if (driver_.get_flags(fd_, flags) != 0) return;
    if ((flags & ASYNC_LOW_LATENCY) != 0) {
        low_latency_ = true;
        return;
    }
    low_latency_ = driver_.set_flags(fd_, flags | ASYNC_LOW_LATENCY) == 0;
    raised_low_latency_ = raised_low_latency_ || low_latency_;
}

uint32_t PosixSerialDevice::line_baud() const {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return 0;
    return baud_for_speed(cfgetospeed(&t));
}

size_t PosixSerialDevice::output_queued() const {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
    return static_cast<size_t>(queued);
}

bool PosixSerialDevice::set_output_flow_control(bool on) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return fail(DeviceError::Io, "cannot read the line settings", errno);
    if (on) {
        t.c_iflag |= IXON;
    } else {
        t.c_iflag &= ~IXON;
    }
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        return fail(DeviceError::Io, "cannot switch output flow control", errno);
    }
    return true;
}

void PosixSerialDevice::purge_input() {
    tcflush(fd_, TCIFLUSH);
}

long PosixSerialDevice::read(uint8_t* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    const ssize_t n = retry_interrupted([&] { return ::read(fd_, buffer, capacity); });
    if (n > 0) return static_cast<long>(n);
    if (n == 0) {
        // A tty set to return at once reads 0 both when nothing has come and when it has
        // been hung up (adapter unplugged); only the latter shows in poll.
        if (hung_up()) return io_failure("read", EIO);
        return 0;
    }
    if (would_block(errno)) return 0;
    return io_failure("read", errno);
}

long PosixSerialDevice::write(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const ssize_t n = retry_interrupted([&] { return ::write(fd_, data, size); });
    if (n >= 0) return static_cast<long>(n);
    if (would_block(errno)) return 0;
    return io_failure("write", errno);
}

void PosixSerialDevice::wait_for(short events, uint32_t ms) const {
    pollfd entry{fd_, events, 0};
    int timeout = ms > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
    poll(&entry, 1, timeout);  // an interruption only shortens the pause; callers re-check
}

void PosixSerialDevice::wait_readable(uint32_t ms) {
    wait_for(POLLIN, ms);
}

void PosixSerialDevice::wait_writable(uint32_t ms) {
    wait_for(POLLOUT, ms);
}

OpenResult PosixDeviceOpener::open(uint32_t port_number) {
    std::string path = port_device_path(state_.port_map, port_number, device_root_);
    if (path.empty()) {
        OpenResult result;
        result.error = DeviceError::NoDevice;
        result.reason = port_name(port_number) + ": no device belongs to this port number";
        return result;
    }
    return PosixSerialDevice::open(path);
}

}  // namespace trelvo
