// Runs the real trelvo program in a scratch folder: arguments, what its input holds, no
// display unless asked, the C locale; collects the exit status, stdout and stderr. Starts kv70sim
// as the tester at the other end of a pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace trelvo::testing {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A scratch folder, removed again at the end.
struct ScratchDir {
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "trelvo-exe-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

// How the program's standard input is set up.
enum class Input {
    Closed,    // descriptor 0 closed
    Text,      // a file holding `input`, then its end
    OpenPipe,  // a pipe the test keeps open (for Ctrl-C while it waits)
    Terminal   // a pseudo-terminal without echo that the test types into
};

class ProgramProcess {
  public:
    // `display` set: the program sees DISPLAY with that value.
    ProgramProcess(const fs::path& dir, std::vector<std::string> args, Input input = Input::Closed,
                   std::string text = {}, std::string display = {})
        : dir_(dir) {
        write_file(dir / ".stdin", text);
        int pipe_fds[2] = {-1, -1};
        if (input == Input::OpenPipe && ::pipe(pipe_fds) != 0) return;
        std::string terminal;
        if (input == Input::Terminal) {
            terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY);
            if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0) return;
            terminal = ::ptsname(terminal_);
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(dir.c_str()) != 0) ::_exit(120);
            int out = ::open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = ::open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::close(out);
            ::close(err);
            if (input == Input::Closed) {
                ::close(0);
            } else if (input == Input::Text) {
                int in = ::open(".stdin", O_RDONLY);
                ::dup2(in, 0);
                ::close(in);
            } else if (input == Input::OpenPipe) {
                ::dup2(pipe_fds[0], 0);
                ::close(pipe_fds[0]);
                ::close(pipe_fds[1]);
            } else {
                int in = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
                ::dup2(in, 0);
                ::close(in);
                ::close(terminal_);
                termios mode{};
                ::tcgetattr(0, &mode);
                mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
                ::tcsetattr(0, TCSANOW, &mode);
            }
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::unsetenv("QT_QPA_PLATFORM");
            if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
            ::setenv("LC_ALL", "C", 1);
            std::vector<char*> argv;
            std::string program = std::string(TRELVO_BIN_DIR) + "/trelvo";
            argv.push_back(program.data());
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        if (input == Input::OpenPipe) {
            ::close(pipe_fds[0]);
            pipe_write_ = pipe_fds[1];
        }
    }
    ~ProgramProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (pipe_write_ >= 0) ::close(pipe_write_);
        if (terminal_ >= 0) ::close(terminal_);
    }

    // Types `text` on the terminal; "\x04" at the start of a line ends the input.
    void type(std::string_view text) {
        if (terminal_ >= 0 && ::write(terminal_, text.data(), text.size()) < 0) return;
    }

    // The exit status, or -1 when the program did not end within `limit` (it is killed).
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        auto until = std::chrono::steady_clock::now() + limit;
        while (!status_) {
            int status = 0;
            pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                status_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return *status_;
    }

    // Waits until stderr holds `text`; false after `limit`.
    bool wait_for_stderr(std::string_view text,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (err().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    void signal(int number) { ::kill(pid_, number); }
    std::string out() const { return read_file(dir_ / ".stdout"); }
    std::string err() const { return read_file(dir_ / ".stderr"); }

  private:
    fs::path dir_;
    pid_t pid_ = -1;
    int pipe_write_ = -1;
    int terminal_ = -1;
    std::optional<int> status_;
};

// kv70sim on a pseudo-terminal behind the link "<dir>/line", storing what it receives in
// "<dir>/store" and logging into "<dir>/kv70sim.log". Stopped by its process id.
class SimulatorProcess {
  public:
    // Starts it and waits for its "ready" line; link() stays empty when none came.
    explicit SimulatorProcess(const fs::path& dir, std::vector<std::string> options = {}) {
        std::string program = std::string(TRELVO_BIN_DIR) + "/kv70sim";
        std::string link = (dir / "line").string();
        std::vector<std::string> args = {program, "--link", link, "--store",
                                         (dir / "store").string()};
        args.insert(args.end(), options.begin(), options.end());
        std::string log = (dir / "kv70sim.log").string();
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(ready[1], 1);
            int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) ::dup2(err, 2);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(ready[1]);
        std::string line;
        pollfd wait{ready[0], POLLIN, 0};
        char c = 0;
        while (::poll(&wait, 1, 5000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(ready[0]);
        if (line == "ready " + link) link_ = link;
    }
    ~SimulatorProcess() { stop(); }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    const std::string& link() const { return link_; }

    // SIGTERM, then its exit status (0 when it stopped as it should).
    int stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    pid_t pid_ = -1;
    std::string link_;
};

// The lines of a run log, each without its CR LF; date lines as "---->".
inline std::vector<std::string> log_lines(const fs::path& dir) {
    std::vector<std::string> lines;
    std::string log = read_file(dir / "trelvo.log");
    for (size_t start = 0; start < log.size();) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) break;
        std::string line = log.substr(start, end - start);
        lines.push_back(line.rfind("---->", 0) == 0 ? "---->" : line);
        start = end + 2;
    }
    return lines;
}

}  // namespace trelvo::testing
