// The command line: option parser, number reader, batch script reader, and the rebuilding of
// one command-line text from the arguments the shell split for us.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"
#include "base/settings_state.h"

namespace trelvo {

inline constexpr size_t COMMAND_LINE_CAPACITY = 1000;  // 999 characters are considered
inline constexpr size_t PATH_CAPACITY = 512;           // 511 characters of a -P or -S path

// The open batch script (-S), read line by line.
class BatchScript {
  public:
    BatchScript() = default;
    ~BatchScript() { close(); }
    BatchScript(const BatchScript&) = delete;
    BatchScript& operator=(const BatchScript&) = delete;

    // Opens an existing regular file for reading; false (errno set) when it cannot be opened.
    // A FIFO or device is refused without waiting on it.
    bool open(const std::string& path);
    void close();
    bool is_open() const { return file_ != nullptr; }

    // Reads the next line into `line` (at most capacity - 2 characters kept when a line
    // reaches capacity - 1 without an end). False at the end of the script or on a read
    // error; the text read so far (a last line without line end) is still in `line`.
    bool read_line(std::string& line, size_t capacity = COMMAND_LINE_CAPACITY);

  private:
    std::FILE* file_ = nullptr;
};

// Reads an unsigned decimal number after optional spaces, wrapping in 32 bits. Writes
// `value` and returns true only when at least one digit was found.
bool parse_number(std::string_view text, uint32_t& value);

// Applies one command line (or script line) to the settings state: clears the command-line
// and error flag words, then acts on every option found. Text inside double quotes is
// never searched for options (a quoted path such as "/data/run-F2" starts nothing).
// A -S script that cannot be opened is reported through `messages` when given.
void parse_command_line(SettingsState& state, std::string_view line, BatchScript& script,
                        WindowSurface* messages = nullptr);

// Our own long options, taken out of the arguments before the option parser sees them.
struct LongOptions {
    bool help = false;
    bool version = false;
    bool headless = false;
    bool list_ports = false;
    std::string convert;                      // --convert FILE
    uint32_t idle_timeout_s = 0;              // --idle-timeout SECONDS; 0 = none
    std::vector<std::string> unknown_errors;  // --convert without its FILE, and the like
};

// The largest --idle-timeout: a week.
inline constexpr uint32_t MAX_IDLE_TIMEOUT_S = 7 * 24 * 3600;

// Takes our long options out of `args` and rebuilds the command-line text from the rest:
// joined by single blanks, with the value of -P or -S (glued "-P/data" or the argument after
// a bare "-P") wrapped in double quotes unless it already holds one. A "--" followed by an
// option letter (a doubled "--F1") is not ours and stays for the parser.
std::string rebuild_command_line(const std::vector<std::string>& args, LongOptions& options);

}  // namespace trelvo
