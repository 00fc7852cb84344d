// The desktop window takes SIGTERM as the console window does: the transfer is cancelled,
// the tester goes back to local, the automatic run is logged as failed, exit status 1.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/trace.h"
#include "tests/ui/simulator.h"

namespace trelvo::ui::testing {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes the simulator's trace shows it read, in order.
std::string traced_input(const fs::path& trace) {
    return sim::traced_bytes(contents(trace), sim::TraceDirection::In);
}

class ProgramSignal : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trelvo-signal-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        // The tester falls silent after the first data packet: the transfer hangs there.
        simulator.start(dir / "kv70", {"--fault", "silent-after-packet", "--trace",
                                       (dir / "trace.txt").string()});
        std::ofstream(dir / "trelvo.ini", std::ios::binary)
            << "[Version]\r\n410\r\n[Port map]\r\nCOM5=" << (dir / "kv70").string() << "\r\n";
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        simulator.stop();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    fs::path dir;
    pid_t pid = -1;
    Kv70sim simulator;
};

TEST_F(ProgramSignal, SigtermBreaksTheRunOfTheDesktopWindow) {
    const std::string program = std::string(TRELVO_BIN_DIR) + "/trelvo";
    pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) _exit(126);
        ::setenv("DISPLAY", ":97", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        int input = ::open("/dev/null", O_RDONLY);
        ::dup2(input, STDIN_FILENO);
        ::execl(program.c_str(), program.c_str(), "-C5", "-F3", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The file information block has come when the received file exists.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!fs::exists(dir / "RESULTS.TXT") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(dir / "RESULTS.TXT"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the first packet
    ::kill(pid, SIGTERM);
    int status = -1;
    until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        int raw = 0;
        if (::waitpid(pid, &raw, WNOHANG) == pid) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(status, 1);
    std::string log = contents(dir / "trelvo.log");
    EXPECT_NE(log.find("Upload Result List Aborted\r\nError: User break.\r\n"), std::string::npos)
        << log;
    std::string received = traced_input(dir / "trace.txt");
    size_t cancel = received.find(std::string(8, '\x18'));
    ASSERT_NE(cancel, std::string::npos);
    EXPECT_NE(received.find("\nSYST:COMM:LOCAL\n", cancel), std::string::npos);
}

}  // namespace
}  // namespace trelvo::ui::testing
