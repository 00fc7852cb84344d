#include "shell/command_line.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "settings/safe_files.h"

namespace trelvo {

bool BatchScript::open(const std::string& path) {
    close();
    int fd = open_regular_file(path, O_RDONLY);
    if (fd < 0) return false;
    // Not shared: a script that another program holds exclusively is refused.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    file_ = ::fdopen(fd, "rb");
    if (file_ == nullptr) ::close(fd);
    return file_ != nullptr;
}

void BatchScript::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

bool BatchScript::read_line(std::string& line, size_t capacity) {
    line.clear();
    if (file_ == nullptr) return false;
    for (;;) {
        int c = std::fgetc(file_);
        if (c == EOF) return false;
        if (c == '\r' || c == '\n') {
            if (line.empty()) continue;  // line ends before the first character
            return true;
        }
        line.push_back(static_cast<char>(c));
        if (line.size() == capacity - 1) {
            // Too long: keep capacity - 2 characters, drop the last one read.
            line.resize(capacity - 2);
            return true;
        }
    }
}

bool parse_number(std::string_view text, uint32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    uint32_t number = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        number = number * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    if (digits == 0) return false;
    value = number;
    return true;
}

namespace {

// The option flag bit of a -M letter, or 0.
uint32_t option_bit(char letter) {
    switch (std::toupper(static_cast<unsigned char>(letter))) {
        case 'P':
            return OPT_POLLING;
        case 'D':
            return OPT_DELETE_ALL;
        case 'E':
            return OPT_EXCEL;
        case 'T':
            return OPT_PRINTOUT;
        case 'I':
            return OPT_IMEI;
        case 'O':
            return OPT_DIRECT_PRINT;
        case 'N':
            return OPT_OUTPUT_FILE;
        default:
            return 0;
    }
}

// The text after the first double quote at or after `from`, up to the next double quote.
// `closed` tells whether that second quote was there.
std::string quoted_text(std::string_view line, size_t from, bool& found, bool& closed) {
    size_t open = line.find('"', from);
    found = open != std::string_view::npos;
    closed = false;
    if (!found) return {};
    size_t close = line.find('"', open + 1);
    closed = close != std::string_view::npos;
    std::string_view text =
        line.substr(open + 1, closed ? close - open - 1 : std::string_view::npos);
    if (text.size() > PATH_CAPACITY - 1) text = text.substr(0, PATH_CAPACITY - 1);
    return std::string(text);
}

}  // namespace

void parse_command_line(SettingsState& state, std::string_view line, BatchScript& script,
                        WindowSurface* messages) {
    state.command_line_flags = 0;
    state.error_flags = 0;
    state.error_reasons.clear();
    if (line.size() > COMMAND_LINE_CAPACITY - 1) line = line.substr(0, COMMAND_LINE_CAPACITY - 1);
    bool in_quotes = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') in_quotes = !in_quotes;
        if (line[i] != '-' || in_quotes || i + 1 >= line.size()) continue;
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i + 1])));
        std::string_view after = line.substr(i + 2);
        uint32_t value = 0;
        switch (letter) {
            case 'B':
                if (parse_number(after, value)) {
                    for (size_t index = 0; index < BAUD_RATES.size(); ++index) {
                        if (BAUD_RATES[index] == value) {
                            state.baud_index = static_cast<uint32_t>(index);
                            state.command_line_flags |= CMD_BAUD;
                        }
                    }
                }
                break;
            case 'C':
                if (parse_number(after, value) && value >= 1 && value <= 255) {
                    state.port_number = value;
                    state.command_line_flags |= CMD_PORT;
                }
                break;
            case 'F':
                if (parse_number(after, value) && value <= 4) {
                    state.operation_index = value;
                    state.command_line_flags |= CMD_AUTOMATIC;
                }
                break;
            case 'M': {
                if (after.empty()) break;
                uint32_t bit = option_bit(after[0]);
                if (bit == 0 || !parse_number(after.substr(1), value)) break;
                if (value != 0) {
                    state.options |= bit;
                    if (bit == OPT_DIRECT_PRINT) state.options |= OPT_PRINTOUT;
                } else {
                    state.options &= ~bit;
                }
                state.command_line_flags |= bit == OPT_POLLING ? CMD_POLLING : CMD_OPTIONS;
                break;
            }
            case 'P': {
                bool found = false, closed = false;
                std::string path = quoted_text(line, i, found, closed);
                if (!found) break;
                state.command_line_path = path;
                if (closed) state.command_line_flags |= CMD_PATH;
                break;
            }
            case 'S': {
                if (script.is_open()) break;
                bool found = false, closed = false;
                std::string path = quoted_text(line, i, found, closed);
                if (!found || !closed) break;
                if (script.open(path)) {
                    state.command_line_flags = 0;
                    std::error_code ignored;
                    state.batch_script = std::filesystem::absolute(path, ignored);
                } else if (messages != nullptr) {
                    messages->message_box(
                        "Cannot open the batch script\n\n" + file_reason(errno, path) + "\n",
                        MessageIcon::Error);
                }
                break;
            }
            default:
                break;
        }
    }
}

namespace {

bool is_path_option(const std::string& arg) {
    return arg.size() >= 2 && arg[0] == '-' &&
           (arg[1] == 'P' || arg[1] == 'p' || arg[1] == 'S' || arg[1] == 's');
}

// Whole seconds, 1 to MAX_IDLE_TIMEOUT_S, digits only.
bool idle_seconds(const std::string& text, uint32_t& seconds) {
    if (text.empty() || text.size() > 7) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > MAX_IDLE_TIMEOUT_S) return false;
    seconds = value;
    return true;
}

std::string quoted(const std::string& value) {
    if (value.find('"') != std::string::npos) return value;
    return "\"" + value + "\"";
}

}  // namespace

std::string rebuild_command_line(const std::vector<std::string>& args, LongOptions& options) {
    std::vector<std::string> kept;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--list-ports") {
            options.list_ports = true;
        } else if (arg == "--convert") {
            if (i + 1 < args.size()) {
                options.convert = args[++i];
            } else {
                options.unknown_errors.push_back("--convert needs a file");
            }
        } else if (arg.rfind("--convert=", 0) == 0) {
            options.convert = arg.substr(10);
        } else if (arg == "--idle-timeout" || arg.rfind("--idle-timeout=", 0) == 0) {
            std::string value;
            if (arg.size() > 14) {
                value = arg.substr(15);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            }
            if (!idle_seconds(value, options.idle_timeout_s))
                options.unknown_errors.push_back("--idle-timeout needs a number of seconds, 1 to " +
                                                 std::to_string(MAX_IDLE_TIMEOUT_S));
        } else if (is_path_option(arg) && arg.size() == 2) {
            kept.push_back(arg);
            if (i + 1 < args.size()) kept.push_back(quoted(args[++i]));
        } else if (is_path_option(arg)) {
            kept.push_back(arg.substr(0, 2) + quoted(arg.substr(2)));
        } else {
            kept.push_back(arg);
        }
    }
    std::string line;
    for (const std::string& part : kept) {
        if (!line.empty()) line += ' ';
        line += part;
    }
    return line;
}

}  // namespace trelvo
