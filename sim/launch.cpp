#include "sim/launch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace trelvo::sim {

Launched launch(const std::string& program, const std::vector<std::string>& args,
                const std::string& error_path, int limit_ms) {
    Launched launched;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return launched;
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    launched.pid = ::fork();
    if (launched.pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        const char* errors = error_path.empty() ? "/dev/null" : error_path.c_str();
        int error_fd = ::open(errors, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (error_fd >= 0) ::dup2(error_fd, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    ::close(out[1]);
    if (launched.pid > 0) {
        pollfd ready{out[0], POLLIN, 0};
        char c = 0;
        while (::poll(&ready, 1, limit_ms) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            launched.first_line.push_back(c);
    }
    ::close(out[0]);
    return launched;
}

}  // namespace trelvo::sim
