// The kv70sim program on a pseudo-terminal for the window's tests: started with a link in
// a scratch folder, stopped when the object goes.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/launch.h"

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
        std::vector<std::string> args = {"--link", link.string()};
        args.insert(args.end(), options.begin(), options.end());
        sim::Launched launched = sim::launch(program, args, "", READY_LIMIT_MS);
        pid_ = launched.pid;
        ASSERT_GT(pid_, 0);
        std::string line = launched.first_line;
        ASSERT_EQ(line, "ready " + link.string());
    }

  private:
    pid_t pid_ = -1;
};

}  // namespace trelvo::ui::testing
