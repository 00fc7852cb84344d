// kv70sim as a program on a real pseudo-terminal, in real time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/event_loop.h"
#include "serial/posix_serial_device.h"
#include "sim/sample_data.h"
#include "tests/sim/sim_fixture.h"

namespace trelvo::sim::testing {
namespace {

constexpr int STARTUP_LIMIT_MS = 5000;
constexpr int EXIT_LIMIT_MS = 5000;

class Kv70simProgram : public SimTest {
  protected:
    void TearDown() override {
        port_.reset();
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
        SimTest::TearDown();
    }

    // Starts the program with its standard output on a pipe and its log in a file.
    void run(std::vector<std::string> args) {
        int pipe_ends[2];
        ASSERT_EQ(pipe(pipe_ends), 0);
        std::string log = (scratch() / "stderr.txt").string();
        std::string program = std::string(TRELVO_BIN_DIR) + "/kv70sim";
        ASSERT_TRUE(std::filesystem::exists(program)) << program << " is not built";
        args.insert(args.begin(), program);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            dup2(pipe_ends[1], STDOUT_FILENO);
            int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) dup2(err, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(pipe_ends[1]);
        output_ = pipe_ends[0];
    }

    // Everything the program printed on standard output until the first line feed.
    std::string first_line() {
        std::string line;
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(STARTUP_LIMIT_MS);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{output_, POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0) continue;
            char c = 0;
            if (read(output_, &c, 1) != 1) break;  // closed: the program ended
            if (c == '\n') return line;
            line.push_back(c);
        }
        return line;
    }

    // Sends the signal and returns the exit status, or -1 when the program did not end.
    int stop(int signal_number) {
        kill(pid_, signal_number);
        for (int waited = 0; waited < EXIT_LIMIT_MS; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    int wait_exit() {
        int status = 0;
        for (int waited = 0; waited < EXIT_LIMIT_MS; waited += 10) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    // Opens the link as the PC program opens its port.
    PcSide& open_port(const std::filesystem::path& link) {
        OpenResult opened = PosixSerialDevice::open(link.string());
        EXPECT_NE(opened.device, nullptr) << opened.reason;
        port_ = std::move(opened.device);
        EXPECT_TRUE(port_->apply_configuration({0, true, true}));
        pc_real_ = std::make_unique<PcSide>(*port_, clock_real_);
        return *pc_real_;
    }

    static bool exists(const std::filesystem::path& path) {
        struct stat info {};
        return lstat(path.c_str(), &info) == 0;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    SystemClock clock_real_;
    std::unique_ptr<SerialDevice> port_;
    std::unique_ptr<PcSide> pc_real_;
};

class Kv70simStopSignals : public Kv70simProgram, public ::testing::WithParamInterface<int> {};

TEST_P(Kv70simStopSignals, ServesTheIdentityUntilStoppedThenRemovesTheLink) {
    const std::filesystem::path link = scratch() / "kv70";
    run({"--link", link.string(), "--model", "71"});
    ASSERT_EQ(first_line(), "ready " + link.string());
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    PcSide& pc = open_port(link);
    pc.send("\n*IDN?\n");
    std::optional<std::string> reply = pc.read_line(2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, identity_for_model(71));
    EXPECT_EQ(stop(GetParam()), 0);
    EXPECT_FALSE(exists(link));
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, Kv70simStopSignals, ::testing::Values(SIGTERM, SIGINT));

TEST_F(Kv70simProgram, TransfersBothWaysStoresAndTracesOverThePseudoTerminal) {
    const std::filesystem::path link = scratch() / "kv70";
    const std::filesystem::path store = scratch() / "store";
    const std::filesystem::path trace = scratch() / "trace.txt";
    run({"--link", link.string(), "--store", store.string(), "--trace", trace.string()});
    ASSERT_EQ(first_line(), "ready " + link.string());
    PcSide& pc = open_port(link);
    port_->set_output_flow_control(false);  // as before every transfer

    pc.send("SYSTem:STATe:DOWN:TEST ALL_1\n");
    Reception reception = pc.receive_file();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.data, sample_result_list(72));

    const std::string firmware = pattern_file(3000);
    pc.send("SYSTem:STATe:UPLoad:UPDate\n");
    Delivery delivery = pc.send_file("KV72.BIN", firmware);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(stop(SIGTERM), 0);
    EXPECT_EQ(file_contents(store / "KV72.BIN"), firmware);
    std::string traced = file_contents(trace);
    EXPECT_NE(traced.find(" in  53 59 53 54"), std::string::npos);        // "SYST"
    EXPECT_NE(traced.find(" out 01 00 ff 52 45 53"), std::string::npos);  // SOH 0 255 "RES"
}

TEST_F(Kv70simProgram, ReplacesAStaleLinkButNeverAnotherFile) {
    const std::filesystem::path link = scratch() / "kv70";
    std::filesystem::create_symlink("/nonexistent/pts", link);
    run({"--link", link.string()});
    ASSERT_EQ(first_line(), "ready " + link.string());
    EXPECT_NE(std::filesystem::read_symlink(link).string(), "/nonexistent/pts");
    EXPECT_EQ(stop(SIGTERM), 0);

    const std::filesystem::path file = scratch() / "plain";
    std::ofstream(file) << "keep";
    run({"--link", file.string()});
    EXPECT_EQ(first_line(), "");
    EXPECT_EQ(wait_exit(), 1);
    EXPECT_EQ(file_contents(file), "keep");
}

TEST_F(Kv70simProgram, BadOptionsEndWithStatusTwoAndNoReadyLine) {
    run({"--link", (scratch() / "kv70").string(), "--model", "73"});
    EXPECT_EQ(first_line(), "");
    EXPECT_EQ(wait_exit(), 2);
    EXPECT_NE(file_contents(scratch() / "stderr.txt").find("71 or 72"), std::string::npos);
}

}  // namespace
}  // namespace trelvo::sim::testing
