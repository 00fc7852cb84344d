#include "app/console_window.h"

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "base/error_table.h"
#include "operations/operation_table.h"
#include "protocol/file_choice.h"
#include "serial/port_map.h"
#include "shell/command_line.h"

namespace trelvo {

namespace {

constexpr uint32_t LOOP_SLICE_MS = 60'000;
constexpr int BAR_WIDTH = 30;
constexpr int ASK_SLICE_MS = 100;

// Part 0 texts that differ only in their numbers ("Packet 1", "Packet 2") are one line.
std::string shape_of(std::string_view text) {
    std::string shape;
    for (char c : text) {
        bool digit = c >= '0' && c <= '9';
        if (digit && !shape.empty() && shape.back() == '#') continue;
        shape += digit ? '#' : c;
    }
    return shape;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

// A name typed into a dialog: relative names are taken in the folder the dialog shows.
std::filesystem::path in_folder(const std::string& typed, std::string_view folder) {
    std::filesystem::path path(typed);
    if (path.is_absolute() || folder.empty()) return path;
    return std::filesystem::path(folder) / path;
}

}  // namespace

std::string fold_message(std::string_view text) {
    std::string folded;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view piece = trimmed(text.substr(start, end - start));
        if (!piece.empty()) {
            if (!folded.empty()) folded += ' ';
            folded += piece;
        }
        start = end + 1;
    }
    return folded;
}

// ---- Progress ----

std::string ProgressText::set_range(int low, int high) {
    low_ = low;
    high_ = high;
    return render();
}

std::string ProgressText::set_position(int position) {
    position_ = position;
    return render();
}

std::string ProgressText::end_line() {
    if (!drawn_) return {};
    drawn_ = false;
    return "\n";
}

std::string ProgressText::render() {
    if (position_ <= low_ || high_ <= low_) {
        // Back at the start: the transfer is over (or not begun).
        shown_ = -1;
        return end_line();
    }
    long long span = static_cast<long long>(high_) - low_;
    long long done = static_cast<long long>(position_) - low_;
    int percent = static_cast<int>(done >= span ? 100 : done * 100 / span);
    if (terminal_) {
        if (percent == shown_) return {};
        shown_ = percent;
        drawn_ = true;
        int filled = percent * BAR_WIDTH / 100;
        return "\r[" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '.') + "] " +
               std::to_string(percent) + "%";
    }
    if (percent / 10 <= shown_ / 10 && shown_ >= 0) return {};
    shown_ = percent;
    return "Progress " + std::to_string(percent / 10 * 10) + "%\n";
}

// ---- The window ----

ConsoleWindow::ConsoleWindow(WindowShared& shared, ConsoleIo io)
    : shared_(shared),
      io_(io),
      engine_(shared.state, static_cast<WindowSurface&>(*this), clock_, loop_),
      scanner_(shared.opener, clock_, device_namer(shared.state)),
      model_(shared, engine_, scanner_, *this),
      signals_(shared.state, engine_, model_),
      progress_(io.output_terminal) {}

ConsoleWindow::~ConsoleWindow() {
    write_raw(progress_.end_line());
}

WindowEnd ConsoleWindow::run() {
    loop_.set_timer_handler([this](int identifier) {
        engine_.engine_tick(identifier);
        signals_.after_tick();
    });
    loop_.watch(io_.signal_fd, [this] { take_signal(take_signal_requests(io_.signal_fd)); });
    model_.initialise();
    while (!closed_)
        loop_.run_until([this] { return closed_; }, LOOP_SLICE_MS, [this] { poll(); });
    write_raw(progress_.end_line());
    // Nobody reads the error bits of an automatic run until the log; say them here too.
    const SettingsState& state = shared_.state;
    for (int bit = 0; bit < 32 && state.automatic_run(); ++bit) {
        if ((state.error_flags & error_bit(bit)) == 0 || error_messages[bit].empty()) continue;
        write_line("trelvo: Error: " + std::string(error_messages[bit]));
        auto reason = state.error_reasons.find(bit);
        if (reason != state.error_reasons.end()) write_line("  " + reason->second);
    }
    return WindowEnd{true, model_.automatic_run_started()};
}

void ConsoleWindow::poll() {
    if (closed_) return;
    if (held_signal_ != SignalRequest::None) {
        SignalRequest held = held_signal_;
        held_signal_ = SignalRequest::None;
        take_signal(held);
        return;
    }
    if (!model_.scan_finished() || engine_.run_active()) {
        prompt_shown_ = false;
        return;
    }
    // The scan opened the configured port: the start that waits for it goes ahead.
    if (model_.start_pending() && model_.configured_port_opened()) return;
    // An automatic run whose port the scan did not open would wait for OK for ever; nobody
    // is there to press it, so the window presses it once and the run tries the port.
    if (shared_.state.automatic_run() && model_.started_by_itself() && !model_.run_started() &&
        !confirmed_by_itself_) {
        confirmed_by_itself_ = true;
        write_line("trelvo: " + port_name(shared_.state.port_number) +
                   " was not opened by the port scan; trying it anyway");
        model_.ok();
        return;
    }
    if (!prompt_shown_) {
        show_prompt();
        prompt_shown_ = true;
    }
    bool ended = false;
    if (!read_input(ended)) return;
    prompt_shown_ = false;
    if (ended) {
        model_.cancel();
    } else {
        model_.ok();
    }
}

void ConsoleWindow::take_signal(SignalRequest request) {
    if (request == SignalRequest::None || closed_) return;
    bool running = engine_.run_state == RS_RUNNING;
    if (request == SignalRequest::Terminate && !signals_.terminating()) {
        write_line(running ? "Terminated: breaking the run" : "Terminated");
    } else if (request == SignalRequest::Cancel && !signals_.terminating() &&
               (running || !engine_.run_active())) {
        write_line(running ? "Cancel: breaking the run" : "Cancel");
    }
    signals_.handle(request);
}

void ConsoleWindow::show_prompt() {
    const SettingsState& state = shared_.state;
    std::string port = state.port_number == 0 ? "none" : port_name(state.port_number);
    bool listed = false;
    std::string found;
    for (const PortEntry& entry : model_.ports()) {
        if (entry.number == state.port_number) {
            port = entry.text + (entry.access_denied ? " (in use or not permitted)" : "");
            listed = true;
        }
        found += (found.empty() ? "" : ", ") + entry.text;
    }
    if (!listed && state.port_number != 0) port += " (not found)";
    write_line("Port: " + port);
    write_line("Ports found: " + (found.empty() ? std::string("none") : found));
    write_line("Baudrate: " + std::string(trimmed(BAUD_RATE_ENTRIES[model_.selected_baud()])));
    const Operation* operation = operation_at(model_.selected_operation());
    write_line("Function: " + std::string(operation != nullptr ? operation->name : ""));
    std::string options;
    for (OptionBox box : OPTION_BOXES) {
        if (model_.checked(box))
            options += (options.empty() ? "" : ", ") + std::string(option_box_caption(box));
    }
    write_line("Options: " + options);
    write_line(io_.input != nullptr && io_.input->terminal
                   ? "Press Enter to start, Ctrl-D to close."
                   : "Waiting for a line to start; the end of input closes.");
}

bool ConsoleWindow::read_input(bool& ended) {
    ConsoleInput* input = io_.input;
    if (input == nullptr || input->ended) {
        ended = true;
        return true;
    }
    auto take_line = [input] {
        size_t end = input->pending.find('\n');
        if (end == std::string::npos) return false;
        input->pending.erase(0, end + 1);
        return true;
    };
    if (take_line()) return true;
    pollfd ready{input->fd, POLLIN, 0};
    int polled = ::poll(&ready, 1, 0);
    if (polled == 0 || (polled < 0 && errno == EINTR)) return false;
    char buffer[256];
    ssize_t count = polled > 0 && (ready.revents & POLLNVAL) == 0
                        ? ::read(input->fd, buffer, sizeof buffer)
                        : -1;
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return false;
    if (count <= 0) {
        input->ended = true;
        ended = true;
        return true;
    }
    input->pending.append(buffer, static_cast<size_t>(count));
    return take_line();
}

// ---- Dialogs on the terminal ----

bool ConsoleWindow::can_ask(std::string_view what) {
    if (io_.input != nullptr && io_.input->terminal && !io_.input->ended) return true;
    write_line(std::string(what) + ": cancelled, no terminal to ask on");
    return false;
}

std::optional<std::string> ConsoleWindow::ask(std::string_view prompt) {
    ConsoleInput* input = io_.input;
    write_raw(progress_.end_line() + std::string(prompt));
    for (;;) {
        size_t end = input->pending.find('\n');
        if (end != std::string::npos) {
            std::string line = input->pending.substr(0, end);
            input->pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // The terminal shows what was typed; output kept elsewhere gets it after the prompt.
            if (!io_.output_terminal) write_raw(line + "\n");
            return std::string(trimmed(line));
        }
        // A signal cancels the dialog; a request to end is carried out after it.
        SignalRequest request = take_signal_requests(io_.signal_fd);
        if (request != SignalRequest::None) {
            if (request == SignalRequest::Terminate) held_signal_ = request;
            write_raw("\n");
            return std::nullopt;
        }
        pollfd entries[2] = {{input->fd, POLLIN, 0}, {io_.signal_fd, POLLIN, 0}};
        int polled = ::poll(entries, io_.signal_fd >= 0 ? 2 : 1, ASK_SLICE_MS);
        const pollfd& ready = entries[0];
        if (polled > 0 && ready.revents == 0) continue;  // the signal's byte: seen above
        if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
        char buffer[256];
        ssize_t count = polled > 0 && (ready.revents & POLLNVAL) == 0
                            ? ::read(input->fd, buffer, sizeof buffer)
                            : -1;
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (count <= 0) {
            input->ended = true;
            write_raw("\n");
            return std::nullopt;
        }
        input->pending.append(buffer, static_cast<size_t>(count));
    }
}

std::optional<std::string> ConsoleWindow::file_dialog(std::span<const FileFilter> filters,
                                                      std::string_view start_directory) {
    if (!can_ask("File choice")) return std::nullopt;
    std::string types;
    for (const FileFilter& filter : filters)
        types += (types.empty() ? "" : ", ") + std::string(filter.description);
    write_line("Choose the file to send (" + types + "), from " +
               (start_directory.empty() ? std::string("the current folder")
                                        : std::string(start_directory)) +
               "; an empty line cancels.");
    for (;;) {
        std::optional<std::string> answer = ask("File: ");
        if (!answer || answer->empty()) return std::nullopt;
        std::filesystem::path path = in_folder(*answer, start_directory);
        std::error_code failure;
        if (std::filesystem::is_regular_file(path, failure)) return path.string();
        write_line("trelvo: " + path.string() + ": no such file");
    }
}

AutotestChoice ConsoleWindow::autotest_slot_dialog(std::string_view directory_text) {
    if (!can_ask("Autotest choice")) return AutotestChoice{};
    std::vector<std::string> entries = autotest_entries(directory_text);
    write_line("Autotests in the tester:");
    for (size_t i = 0; i < entries.size(); ++i)
        write_line("  " + std::to_string(i + 1) + "  " + entries[i]);
    write_line("New: n, Replace: r <number>, Delete: d <number>, Cancel: c or an empty line.");
    for (;;) {
        std::optional<std::string> answer = ask("Autotest: ");
        if (!answer || answer->empty()) return AutotestChoice{};
        int button = -1;
        switch (std::tolower(static_cast<unsigned char>((*answer)[0]))) {
            case 'n':
                button = AUTOTEST_NEW;
                break;
            case 'r':
                button = AUTOTEST_REPLACE;
                break;
            case 'd':
                button = AUTOTEST_DELETE;
                break;
            case 'c':
                button = AUTOTEST_CANCEL;
                break;
            default:
                continue;
        }
        uint32_t number = 0;
        int selected = parse_number(std::string_view(*answer).substr(1), number) && number >= 1 &&
                               number <= entries.size()
                           ? static_cast<int>(number) - 1
                           : -1;
        AutotestPress press = autotest_button(button, entries.size(), selected, 0);
        if (press.closes) return press.choice;
        write_line("trelvo: " + fold_message(press.message));
    }
}

void ConsoleWindow::set_status_text(int part, std::string_view text) {
    if (part < 0 || part > 3) return;
    bool changed = status_[part] != text;
    status_[part] = std::string(text);
    if (text.empty()) return;
    switch (part) {
        case 0:
            if (shape_of(text) != part0_shape_) {
                part0_shape_ = shape_of(text);
                write_line(text);
            }
            break;
        case 2:
            if (changed) {
                std::string line = "Status: " + std::string(text);
                if (!status_[1].empty()) line += " (" + status_[1] + ")";
                write_line(line);
            }
            break;
        case 3:
            if (changed) write_line("Tester: " + std::string(text));
            break;
        default:
            break;
    }
}

void ConsoleWindow::set_file_line(std::string_view text) {
    std::string folded = fold_message(text);
    if (folded == file_line_) return;
    file_line_ = folded;
    if (!folded.empty()) write_line("File: " + folded);
}

void ConsoleWindow::message_box(std::string_view text, MessageIcon) {
    write_line("trelvo: " + fold_message(text));
}

void ConsoleWindow::set_progress_range(int low, int high) {
    write_raw(progress_.set_range(low, high));
}

void ConsoleWindow::set_progress_position(int position) {
    write_raw(progress_.set_position(position));
}

void ConsoleWindow::progress_step_it() {
    write_raw(progress_.step_it());
}

std::string ConsoleWindow::status_text(int part) {
    return part >= 0 && part <= 3 ? status_[part] : std::string();
}

void ConsoleWindow::write_line(std::string_view text) {
    write_raw(progress_.end_line() + std::string(text) + "\n");
}

void ConsoleWindow::write_raw(const std::string& text) {
    if (text.empty() || io_.output == nullptr) return;
    std::fputs(text.c_str(), io_.output);
    std::fflush(io_.output);
}

}  // namespace trelvo
