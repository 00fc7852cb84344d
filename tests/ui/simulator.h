// The kv70sim program on a pseudo-terminal for the window's tests: started with a link in
// a scratch folder, stopped when the object goes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace trelvo::ui::testing {

class Kv70sim {
  public:
    static constexpr int READY_LIMIT_MS = 5000;

    ~Kv70sim() { stop(); }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // Starts the simulator with its link at `link` and waits for its "ready" line.
    void start(const std::filesystem::path& link, std::vector<std::string> options = {}) {
        const std::string program = std::string(TRELVO_BIN_DIR) + "/kv70sim";
        ASSERT_TRUE(std::filesystem::exists(program)) << program << " is not built";
        std::vector<std::string> args = {program, "--link", link.string()};
        args.insert(args.end(), options.begin(), options.end());
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            std::freopen("/dev/null", "w", stderr);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            _exit(127);
        }
        ::close(out[1]);
        std::string line;
        pollfd ready{out[0], POLLIN, 0};
        char c = 0;
        while (::poll(&ready, 1, READY_LIMIT_MS) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line.push_back(c);
        ::close(out[0]);
        ASSERT_EQ(line, "ready " + link.string());
    }

  private:
    pid_t pid_ = -1;
};

}  // namespace trelvo::ui::testing
