// Our block transfer against an independent implementation of the packet format: lrzsz's
// YMODEM receiver (rb) and sender (sb), each behind a pseudo-terminal made by socat, driven
// in real time through the termios device and the real step routines.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/event_loop.h"
#include "protocol/block_receive.h"
#include "protocol/block_send.h"
#include "protocol/tester_commands.h"
#include "serial/posix_serial_device.h"
#include "tests/support/recording_window.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t x = 7;
    for (char& c : bytes)
        c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    return bytes;
}

// Where the receiving side stands in a test table: the directory of the received file.
std::string receive_directory;
StepResult prepare_receive(Engine& engine, TransferRecord& record) {
    engine.packet_text = "Waiting for transmitter";
    record.directory = receive_directory;
    return SR_NEXT;
}

// Two handshake differences of rb are accepted here. It answers EOT only after a pause of
// its own of about one second (it clears its line first), which just misses the one second
// that the tester is given: here the EOT answer may take three seconds. And it ends the
// batch on the closing block without acknowledging it: here nothing is awaited after it.
StepResult send_eot_to_rb(Engine& engine, TransferRecord& record) {
    StepResult result = step_send_eot(engine, record);
    engine.wait_timeout = 3;
    return result;
}
StepResult send_end_of_batch_to_rb(Engine& engine, TransferRecord& record) {
    StepResult result = step_send_end_of_batch(engine, record);
    return result == SR_WAIT_BYTE ? SR_NEXT : result;
}

// The firmware update's rows from the file choice on, without the tester's own commands
// (lrzsz knows none of them).
constexpr StepRow send_steps[] = {
    {step_select_file, "Select Firmware update"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_file_info, "Sending file information"},
    {step_check_ack, "Sending file information"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_packet, PACKET_TEXT},
    {step_check_packet_ack, PACKET_TEXT},
    {send_eot_to_rb, "Sending EOT"},
    {step_check_ack, "Sending EOT"},
    {step_wait_receiver, "Waiting for receiver"},
    {send_end_of_batch_to_rb, "Close connection"},
    {nullptr, nullptr},
};
constexpr StepRow receive_steps[] = {
    {prepare_receive, "Enable upload mode"},
    {step_start_receive, PACKET_TEXT},
    {step_receive_block, PACKET_TEXT},
    {nullptr, nullptr},
};

class LrzszInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/socat", "/usr/bin/rb", "/usr/bin/sb"}) {
            if (!fs::exists(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        std::string pattern_dir = (fs::temp_directory_path() / "trelvo-lrzsz-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern_dir.data()), nullptr);
        dir = pattern_dir;
        fs::create_directories(dir / "peer");
        fs::create_directories(dir / "pc");
        loop.set_timer_handler([this](int identifier) { engine.engine_tick(identifier); });
    }
    void TearDown() override {
        if (peer > 0) {
            ::kill(peer, SIGTERM);
            ::waitpid(peer, nullptr, 0);
        }
        if (!dir.empty()) fs::remove_all(dir);
    }

    // Starts `command` (run in dir/peer) on a pseudo-terminal whose other end is dir/line.
    // The pseudo-terminal is held open for two seconds after the command ends: socat stops
    // forwarding as soon as its child is gone, which could swallow the final ACK.
    void start_peer(const std::string& command) {
        std::string link = "PTY,link=" + (dir / "line").string() + ",raw,echo=0";
        std::string exec = "SYSTEM:" + command + "; sleep 2,pty,raw,echo=0,setsid,ctty";
        peer = ::fork();
        ASSERT_GE(peer, 0);
        if (peer == 0) {
            if (::chdir((dir / "peer").c_str()) != 0) _exit(126);
            ::execl("/usr/bin/socat", "socat", "-lf/dev/null", link.c_str(), exec.c_str(),
                    static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && !fs::exists(dir / "line"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(fs::exists(dir / "line"));
    }

    // Runs `steps` over the line in real time until the run ends.
    void run(const StepRow* steps) {
        OpenResult opened = PosixSerialDevice::open((dir / "line").string());
        ASSERT_TRUE(opened.device) << opened.reason;
        LineSettings settings;
        settings.baud = 38400;
        ASSERT_TRUE(opened.device->apply_configuration(settings));
        operation = Operation{OP_FIRMWARE_UPDATE, steps, "Interop"};
        engine.step_index = 0;
        engine.start_run(std::make_unique<TesterPort>(std::move(opened.device), clock), operation);
        EXPECT_TRUE(loop.run_until([this] { return !engine.run_active(); }, 60'000));
    }

    fs::path dir;
    pid_t peer = 0;
    SystemClock clock;
    EventLoop loop{clock};
    testing::RecordingWindow window;
    SettingsState state;
    Engine engine{state, window, clock, loop};
    Operation operation{};
};

TEST_F(LrzszInterop, OurSenderDeliversAFileToRb) {
    std::string firmware = pattern(5000);  // four 1024-byte packets and eight 128-byte ones
    std::ofstream(dir / "pc" / "KV72FW.BIN", std::ios::binary) << firmware;
    state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
    state.command_line_path = (dir / "pc" / "KV72FW.BIN").string();
    start_peer("rb -q --keep-uppercase");  // rb lower-cases all-capital names otherwise
    run(send_steps);
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(read_file(dir / "peer" / "KV72FW.BIN"), firmware);
}

TEST_F(LrzszInterop, OurReceiverTakesAFileFromSb) {
    std::string list = pattern(3333);
    std::ofstream(dir / "peer" / "MSLIST.AUT", std::ios::binary) << list;
    receive_directory = (dir / "pc").string() + "/";
    start_peer("sb -q MSLIST.AUT");
    run(receive_steps);
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(read_file(dir / "pc" / "MSLIST.AUT"), list);
}

}  // namespace
}  // namespace trelvo
