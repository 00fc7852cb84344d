// The trelvo program opens the desktop window when a display is there, and the console
// window when --headless asks for it: an automatic run against kv70sim either way.
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
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/simulator.h"

namespace trelvo::ui::testing {
namespace {

namespace fs = std::filesystem;

constexpr int EXIT_LIMIT_MS = 30'000;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Frontend {
    const char* rule;
    bool headless;
};
void PrintTo(const Frontend& f, std::ostream* os) {
    *os << f.rule;
}

class ProgramWindow : public ::testing::TestWithParam<Frontend> {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trelvo-program-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::create_directories(dir / "results");
        simulator.start(dir / "kv70");
        std::ofstream(dir / "trelvo.ini", std::ios::binary)
            << "[Version]\r\n410\r\n[Port map]\r\nCOM5=" << (dir / "kv70").string() << "\r\n";
    }
    void TearDown() override {
        simulator.stop();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Runs trelvo in the scratch folder with a display (the offscreen one) and returns its
    // exit status, -1 when it did not end in time.
    int run(std::vector<std::string> args) {
        const std::string program = std::string(TRELVO_BIN_DIR) + "/trelvo";
        args.insert(args.begin(), program);
        pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.c_str()) != 0) _exit(126);
            ::setenv("DISPLAY", ":97", 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            int input = ::open("/dev/null", O_RDONLY);
            int errors = ::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(input, STDIN_FILENO);
            ::dup2(errors, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            _exit(127);
        }
        for (int waited = 0; waited < EXIT_LIMIT_MS; waited += 10) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }

    fs::path dir;
    Kv70sim simulator;
};

TEST_P(ProgramWindow, AutomaticRunCompletesClosesItsWindowAndIsLogged) {
    std::vector<std::string> args = {"-C5", "-F3", "-ME1", "-P", (dir / "results").string() + "/"};
    if (GetParam().headless) args.push_back("--headless");
    EXPECT_EQ(run(args), 0);
    EXPECT_TRUE(fs::exists(dir / "results" / "RESULTS.csv"));
    EXPECT_NE(contents(dir / "trelvo.log").find("Upload Result List successful completed"),
              std::string::npos);
    // The console window reports on stderr; the desktop window shows it instead.
    const std::string errors = contents(dir / "stderr.txt");
    EXPECT_EQ(errors.find("Status: Completed") != std::string::npos, GetParam().headless) << errors;
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramWindow,
                         ::testing::Values(Frontend{"DesktopWindowWithADisplay", false},
                                           Frontend{"ConsoleWindowWhenHeadless", true}),
                         [](const auto& info) { return std::string(info.param.rule); });

}  // namespace
}  // namespace trelvo::ui::testing
