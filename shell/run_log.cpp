#include "shell/run_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "base/error_table.h"
#include "settings/safe_files.h"

namespace trelvo {
namespace {

constexpr size_t LOG_LINE_SIZE = 500;  // including the terminator

constexpr std::array<std::string_view, 5> operation_names = {
    "Firmware Update", "Download Mobile List", "Upload Mobile List", "Upload Result List",
    "Download Autotest"};

// One entry line, cut to the line buffer with its CR LF kept. A control character (a name
// from the tester may hold one) would break the entry's lines: it is shown as '?'.
std::string entry_line(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    constexpr size_t room = LOG_LINE_SIZE - 1 - 2;
    if (text.size() > room) text.resize(room);
    return text + "\r\n";
}

}  // namespace

void write_run_log(SettingsState& state, std::string_view program_line,
                   std::string_view current_line, std::string_view run_result,
                   const std::filesystem::path& directory, std::time_t now) {
    if (!state.automatic_run()) return;
    std::filesystem::path path = directory / RUN_LOG_NAME;
    // Only a regular file takes the entry: a FIFO or device there would hang or swallow
    // every automatic run's end. No window is left to tell, so stderr says it.
    int fd = open_regular_file(path, O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0) {
        std::fprintf(stderr, "trelvo: run log entry not written: %s\n",
                     file_reason(errno, path.string()).c_str());
        return;
    }
    // Not shared while the entry is written.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }

    std::tm local{};
    localtime_r(&now, &local);
    char date[LOG_LINE_SIZE] = "";
    char time[LOG_LINE_SIZE] = "";
    std::strftime(date, sizeof date, "%x", &local);
    std::strftime(time, sizeof time, "%X", &local);

    std::string entry = entry_line("----> " + std::string(date) + "  " + time);
    if (program_line == current_line) {
        entry += entry_line("trelvo " + std::string(current_line));
    } else {
        entry +=
            entry_line("trelvo " + std::string(program_line) + " -> " + std::string(current_line));
    }
    std::string_view operation = state.operation_index < operation_names.size()
                                     ? operation_names[state.operation_index]
                                     : "";
    if (state.error_flags == 0) {
        entry += entry_line(std::string(operation) + " successful completed");
    } else {
        entry += entry_line(std::string(operation) + " " + std::string(run_result));
        for (int bit = 0; state.error_flags != 0; ++bit, state.error_flags >>= 1) {
            if ((state.error_flags & 1) != 0 && !error_messages[bit].empty()) {
                entry += entry_line("Error: " + std::string(error_messages[bit]));
                auto reason = state.error_reasons.find(bit);
                if (reason != state.error_reasons.end())
                    entry += entry_line("       " + reason->second);
            }
        }
    }
    state.error_reasons.clear();
    entry += "\r\n";
    // Write errors are not reported: the entry is lost, the run is not.
    size_t written = 0;
    while (written < entry.size()) {
        ssize_t n = ::write(fd, entry.data() + written, entry.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace trelvo
