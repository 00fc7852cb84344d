// trelvo: the entry. Takes our long options out of the arguments, rebuilds the command line
// for the option parser, and runs the program with a main window per run.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/console_window.h"
#include "base/error_table.h"
#include "engine/event_loop.h"
#include "serial/posix_serial_device.h"
#include "settings/settings_file.h"
#include "shell/program.h"
#include "shell/result_list_conversion.h"
#ifdef TRELVO_DESKTOP_WINDOW
#include "ui/desktop.h"
#endif

namespace {

// The signal self-pipe's write end: the handler only writes one byte into it, and the
// window's loop reads it (take_signal_requests). Set once, before any handler is installed.
int signal_pipe_write = -1;

void on_signal(int number) {
    int saved = errno;
    char byte = number == SIGINT ? trelvo::CANCEL_SIGNAL_BYTE : trelvo::TERMINATE_SIGNAL_BYTE;
    [[maybe_unused]] ssize_t written = ::write(signal_pipe_write, &byte, 1);
    errno = saved;
}

// A descriptor 0, 1 or 2 that is closed would be handed to the next file opened (the
// settings file would become our input); /dev/null takes its place instead.
void fill_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void show_message(std::string_view text) {
    std::fprintf(stderr, "trelvo: %s\n", trelvo::fold_message(text).c_str());
}

// Routes SIGINT, SIGTERM and SIGHUP into a self-pipe; its read end, or -1 when there is no
// pipe (the signals then keep their defaults).
int install_signal_pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    signal_pipe_write = ends[1];
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    return ends[0];
}

// Once the program was asked to end, the batch script's further lines are not run: each
// counts as broken before it began, unlogged, and the exit status says that not all ran.
trelvo::WindowEnd skip_after_termination(trelvo::WindowShared& shared, bool& noted) {
    if (!noted) show_message("asked to end; the rest of the batch script is not run");
    noted = true;
    shared.state.command_line_flags = 0;
    shared.state.error_flags |= trelvo::error_bit(trelvo::ERR_USER_BREAK);
    return trelvo::WindowEnd{true, true};
}

int list_ports_and_exit() {
    trelvo::SettingsState state;
    trelvo::OwnerlessMessages messages(show_message);
    trelvo::load_settings(state, messages);
    trelvo::PosixDeviceOpener opener(state);
    trelvo::SystemClock clock;
    trelvo::list_ports(opener, clock, state, stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    fill_standard_descriptors();
    std::setlocale(LC_ALL, "");

    std::vector<std::string> args(argv + 1, argv + argc);
    trelvo::ProgramArguments arguments = trelvo::parse_program_arguments(args);
    if (!arguments.error.empty()) {
        std::fprintf(stderr, "trelvo: %s\nTry 'trelvo --help' for more information.\n",
                     arguments.error.c_str());
        return trelvo::EXIT_USAGE;
    }
    const trelvo::LongOptions& options = arguments.options;
    if (options.help) {
        std::fputs(trelvo::usage_text().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("trelvo %s\n", trelvo::PROGRAM_VERSION);
        return 0;
    }
    if (options.list_ports) return list_ports_and_exit();
    if (!options.convert.empty()) {
        trelvo::ConversionSetup conversion;
        conversion.command_line = arguments.command_line;
        conversion.file = options.convert;
        conversion.message = show_message;
        conversion.file_line = [](std::string_view text) {
            std::fprintf(stderr, "File: %s\n", trelvo::fold_message(text).c_str());
        };
        return trelvo::convert_result_list(conversion);
    }

    // Both windows take the signals from here on; before, they end the program at once.
    const int signal_fd = install_signal_pipe();
    bool terminated = false;
    bool skip_noted = false;

#ifdef TRELVO_DESKTOP_WINDOW
    // The desktop window when a display is available, unless --headless asks for the console.
    if (!options.headless) {
        std::string problem;
        if (std::unique_ptr<trelvo::ui::Desktop> desktop =
                trelvo::ui::make_desktop(argv[0], problem)) {
            trelvo::ProgramSetup setup;
            setup.command_line = arguments.command_line;
            setup.message_box = [&desktop](std::string_view text) { desktop->message_box(text); };
            setup.open_window = [&](trelvo::WindowShared& shared) {
                if (terminated) return skip_after_termination(shared, skip_noted);
                shared.state.idle_timeout_s = options.idle_timeout_s;
                trelvo::WindowEnd end = desktop->open_window(shared, signal_fd);
                terminated = desktop->terminated();
                return end;
            };
            return trelvo::run_program(setup);
        }
        // A display that cannot be reached: the console window instead, with a note.
        if (!problem.empty()) show_message(problem);
    }
#endif

    // Without a display (or with --headless) every run goes through the console window.
    trelvo::ConsoleInput input;
    input.fd = 0;
    input.terminal = ::isatty(0) != 0;
    trelvo::ConsoleIo io;
    io.input = &input;
    io.output = stderr;
    io.output_terminal = ::isatty(2) != 0;
    io.signal_fd = signal_fd;

    trelvo::ProgramSetup setup;
    setup.command_line = arguments.command_line;
    setup.message_box = show_message;
    setup.open_window = [&](trelvo::WindowShared& shared) {
        if (terminated) return skip_after_termination(shared, skip_noted);
        shared.state.idle_timeout_s = options.idle_timeout_s;
        trelvo::ConsoleWindow window(shared, io);
        trelvo::WindowEnd end = window.run();
        terminated = window.terminating();
        return end;
    };
    return trelvo::run_program(setup);
}
