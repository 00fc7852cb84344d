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
#include "engine/event_loop.h"
#include "serial/posix_serial_device.h"
#include "settings/settings_file.h"
#include "shell/program.h"
#include "shell/result_list_conversion.h"
#ifdef TRELVO_DESKTOP_WINDOW
#include "ui/desktop.h"
#endif

namespace {

// The Cancel button of the console window: set here, taken and cleared by the window.
volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) {
    interrupted = 1;
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

void install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
}

void show_message(std::string_view text) {
    std::fprintf(stderr, "trelvo: %s\n", trelvo::fold_message(text).c_str());
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

#ifdef TRELVO_DESKTOP_WINDOW
    // The desktop window when a display is available, unless --headless asks for the console.
    if (!options.headless) {
        std::string problem;
        if (std::unique_ptr<trelvo::ui::Desktop> desktop =
                trelvo::ui::make_desktop(argv[0], problem)) {
            trelvo::ProgramSetup setup;
            setup.command_line = arguments.command_line;
            setup.message_box = [&desktop](std::string_view text) { desktop->message_box(text); };
            setup.open_window = [&desktop](trelvo::WindowShared& shared) {
                return desktop->open_window(shared);
            };
            return trelvo::run_program(setup);
        }
        // A display that cannot be reached: the console window instead, with a note.
        if (!problem.empty()) show_message(problem);
    }
#endif

    // Without a display (or with --headless) every run goes through the console window.
    install_interrupt_handler();
    trelvo::ConsoleInput input;
    input.fd = 0;
    input.terminal = ::isatty(0) != 0;
    trelvo::ConsoleIo io;
    io.input = &input;
    io.output = stderr;
    io.output_terminal = ::isatty(2) != 0;
    io.interrupted = &interrupted;

    trelvo::ProgramSetup setup;
    setup.command_line = arguments.command_line;
    setup.message_box = show_message;
    setup.open_window = [&io](trelvo::WindowShared& shared) {
        trelvo::ConsoleWindow window(shared, io);
        return window.run();
    };
    return trelvo::run_program(setup);
}
