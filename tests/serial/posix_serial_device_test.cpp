#include "serial/posix_serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <string>

namespace trelvo {
namespace {

constexpr int LOW_LATENCY = ASYNC_LOW_LATENCY;
constexpr int SKIP_TEST = ASYNC_SKIP_TEST;

// A UART driver on a pseudo-terminal: serial flags it keeps, modem lines it may refuse.
struct FakeUartDriver : SerialDriver {
    int get_flags(int, int& out) const override {
        out = flags;
        return 0;
    }
    int set_flags(int, int value) const override {
        flags = value;
        return 0;
    }
    int set_modem_lines(int, int lines, bool) const override {
        return (lines & refused_lines) != 0 ? EIO : 0;
    }
    mutable int flags = 0;
    int refused_lines = 0;
};

// A pseudo-terminal: we hold the master and play the tester; the slave is the port.
class PosixSerialDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        std::array<char, 128> name{};
        ASSERT_EQ(ptsname_r(master_, name.data(), name.size()), 0);
        path_ = name.data();
        OpenResult opened = PosixSerialDevice::open(path_);
        ASSERT_NE(opened.device, nullptr) << opened.reason;
        device_.reset(static_cast<PosixSerialDevice*>(opened.device.release()));
    }
    void TearDown() override {
        device_.reset();
        if (master_ >= 0) close(master_);
    }

    void tester_sends(std::string_view bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the tester receives within `ms`.
    std::string tester_receives(int ms = 500) {
        pollfd entry{master_, POLLIN, 0};
        if (poll(&entry, 1, ms) <= 0) return {};
        std::array<char, 256> buffer{};
        ssize_t n = read(master_, buffer.data(), buffer.size());
        return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
    }
    std::string port_receives() {
        device_->wait_readable(500);
        std::array<uint8_t, 256> buffer{};
        long n = device_->read(buffer.data(), buffer.size());
        return n > 0 ? std::string(buffer.begin(), buffer.begin() + n) : std::string();
    }
    long port_sends(std::string_view text) {
        return device_->write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    int master_ = -1;
    std::string path_;
    std::unique_ptr<PosixSerialDevice> device_;
};

TEST_F(PosixSerialDeviceTest, AppliesRawEightNOneWithXonXoffAndTheBaudRate) {
    ASSERT_TRUE(device_->read_configuration());
    ASSERT_TRUE(device_->apply_configuration({19200, true, true}));
    termios t{};
    ASSERT_EQ(tcgetattr(device_->fd(), &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    // A pseudo-terminal has no low-latency flag: its refusal leaves the settings applied.
    EXPECT_FALSE(device_->low_latency());
    EXPECT_EQ(device_->wait_handle(), device_->fd());

    ASSERT_TRUE(device_->set_output_flow_control(false));
    ASSERT_EQ(tcgetattr(device_->fd(), &t), 0);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXOFF));
}

TEST_F(PosixSerialDeviceTest, ClosingPutsBackTheLineSettingsAndTheLowLatencyFlagItFound) {
    device_.reset();
    int other = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(other, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    cfsetospeed(&before, B9600);
    cfsetispeed(&before, B9600);
    ASSERT_EQ(tcsetattr(other, TCSANOW, &before), 0);
    for (int found : {0, LOW_LATENCY}) {
        SCOPED_TRACE(found != 0 ? "flag on before" : "flag off before");
        FakeUartDriver driver;
        driver.flags = found | SKIP_TEST;
        {
            OpenResult opened = PosixSerialDevice::open(path_, driver);
            ASSERT_NE(opened.device, nullptr) << opened.reason;
            ASSERT_TRUE(opened.device->apply_configuration({4800, true, true}));
            EXPECT_TRUE(static_cast<PosixSerialDevice&>(*opened.device).low_latency());
            EXPECT_EQ(driver.flags & LOW_LATENCY, LOW_LATENCY);
            EXPECT_EQ(opened.device->line_baud(), 4800u);
        }
        EXPECT_EQ(driver.flags, found | SKIP_TEST);
        termios after{};
        ASSERT_EQ(tcgetattr(other, &after), 0);
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
    }
    close(other);
}

TEST_F(PosixSerialDeviceTest, AModemLineTheDriverRefusesIsAFailureOfItsOwn) {
    device_.reset();
    FakeUartDriver driver;
    driver.refused_lines = TIOCM_DTR;
    OpenResult opened = PosixSerialDevice::open(path_, driver);
    ASSERT_NE(opened.device, nullptr) << opened.reason;
    EXPECT_FALSE(opened.device->apply_configuration({38400, true, true}));
    EXPECT_EQ(opened.device->last_error(), DeviceError::ModemLines);
    EXPECT_EQ(opened.device->error_text(), path_ + ": cannot drop DTR (Input/output error)");
}

TEST_F(PosixSerialDeviceTest, RefusesABaudRateItDoesNotOffer) {
    EXPECT_FALSE(device_->apply_configuration({12345, true, true}));
    EXPECT_EQ(device_->last_error(), DeviceError::Unsupported);
}

TEST_F(PosixSerialDeviceTest, ReadReturnsAtOnceWhenNothingHasCome) {
    ASSERT_TRUE(device_->apply_configuration({38400, true, true}));
    uint8_t byte = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device_->read(&byte, 1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(PosixSerialDeviceTest, CarriesBytesBothWaysAndHonoursXonXoffOnOutput) {
    ASSERT_TRUE(device_->apply_configuration({38400, true, true}));
    tester_sends("*IDN?\r\n");
    EXPECT_EQ(port_receives(), "*IDN?\r\n");
    EXPECT_EQ(port_sends("KV72\n"), 5);
    EXPECT_EQ(tester_receives(), "KV72\n");

    tester_sends("\x13M");  // once M is in, the XOFF before it has been taken
    EXPECT_EQ(port_receives(), "M");
    EXPECT_EQ(port_sends("held"), 0);
    EXPECT_EQ(tester_receives(20), "");
    tester_sends("\x11");
    device_->wait_writable(500);
    EXPECT_EQ(port_sends("go"), 2);
    EXPECT_EQ(tester_receives(), "go");

    tester_sends("\x13N");
    EXPECT_EQ(port_receives(), "N");
    ASSERT_TRUE(device_->set_output_flow_control(false));  // releases the held output
    EXPECT_EQ(port_sends("out"), 3);
    EXPECT_EQ(tester_receives(), "out");
}

TEST_F(PosixSerialDeviceTest, ClosingKeepsTheLastWriteForTheOtherSide) {
    ASSERT_TRUE(device_->apply_configuration({38400, true, true}));
    ASSERT_EQ(port_sends("\nSYST:COMM:LOCAL\n"), 17);
    device_.reset();  // closed before the tester has read anything
    EXPECT_EQ(tester_receives(), "\nSYST:COMM:LOCAL\n");
}

TEST_F(PosixSerialDeviceTest, RefusesASecondOpenWhileTheFirstHoldsThePort) {
    OpenResult second = PosixSerialDevice::open(path_);
    EXPECT_EQ(second.device, nullptr);
    EXPECT_EQ(second.error, DeviceError::Busy);
    EXPECT_EQ(second.reason, path_ + ": in use by another program");
    device_.reset();
    EXPECT_NE(PosixSerialDevice::open(path_).device, nullptr);
}

TEST_F(PosixSerialDeviceTest, ReportsTheDeviceLostWhenTheOtherSideHangsUp) {
    close(master_);
    master_ = -1;
    uint8_t byte = 0;
    EXPECT_EQ(device_->read(&byte, 1), -1);
    EXPECT_EQ(device_->last_error(), DeviceError::Lost);
    EXPECT_EQ(device_->error_text().rfind(path_ + ": device disconnected", 0), 0u);
}

TEST_F(PosixSerialDeviceTest, OpenerResolvesThePortUnderItsDeviceRoot) {
    auto root =
        std::filesystem::temp_directory_path() / ("trelvo-serial-" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    std::filesystem::create_symlink(path_, root / "ttyUSB1");
    SettingsState state;
    PosixDeviceOpener opener(state, root.string());
    device_.reset();
    EXPECT_NE(opener.open(34).device, nullptr);
    OpenResult missing = opener.open(33);
    EXPECT_EQ(missing.error, DeviceError::NoDevice);
    EXPECT_EQ(missing.reason, (root / "ttyUSB0").string() + ": no such device");
    EXPECT_EQ(opener.open(200).reason, "COM200: no device belongs to this port number");
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace trelvo
