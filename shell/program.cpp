#include "shell/program.h"

#include <array>
#include <cstdlib>
#include <utility>

#include "base/error_table.h"
#include "serial/port_map.h"
#include "serial/posix_serial_device.h"
#include "settings/settings_file.h"
#include "shell/run_log.h"

namespace trelvo {

namespace {

constexpr std::array<std::string_view, 6> OUR_LONG_OPTIONS = {
    "help", "version", "headless", "list-ports", "convert", "idle-timeout"};

// "--name" or "--name=value" with a lower-case name of two or more letters: a long option.
// A doubled short option such as "--F1" or "--MP1" is not one; it stays for the parser.
bool long_option_name(std::string_view arg, std::string_view& name) {
    if (arg.substr(0, 2) != "--") return false;
    std::string_view rest = arg.substr(2);
    size_t end = rest.find('=');
    std::string_view word = rest.substr(0, end);
    if (word.size() < 2 || word[0] < 'a' || word[0] > 'z') return false;
    for (char c : word) {
        if ((c < 'a' || c > 'z') && c != '-') return false;
    }
    name = word;
    return true;
}

}  // namespace

void prepare_run(SettingsState& state, BatchScript& script, std::string_view line,
                 WindowSurface& messages, const std::filesystem::path& directory) {
    load_settings(state, messages, directory);
    check_settings_version(state, directory);
    parse_command_line(state, line, script, &messages);
}

int run_program(const ProgramSetup& setup) {
    SettingsState state;
    BatchScript script;
    OwnerlessMessages messages(setup.message_box);
    const std::filesystem::path& directory = setup.directory;

    // The line buffer: the command line first, then each script line.
    std::string program_line = setup.command_line.substr(0, COMMAND_LINE_CAPACITY - 1);
    std::string line = program_line;
    prepare_run(state, script, line, messages, directory);

    StartGate gate;
    std::unique_ptr<DeviceOpener> opener =
        setup.make_opener ? setup.make_opener(state) : std::make_unique<PosixDeviceOpener>(state);
    WindowShared shared{state, gate, *opener, {}, directory};

    bool script_used = false;
    bool failed = false;
    for (;;) {
        if (script.is_open()) {
            script_used = true;
            do {
                if (!script.read_line(line)) script.close();
                // The last text read counts even when the script has just ended.
                prepare_run(state, script, line, messages, directory);
            } while (!state.automatic_run() && script.is_open());
        }
        if (!script_used || state.automatic_run()) {
            WindowEnd end = setup.open_window ? setup.open_window(shared) : WindowEnd{false};
            if (!end.created) report_error(state, messages, ERR_DIALOG, "Can't load dialog box!\n");
            // An automatic run whose window closed before its run started (the port missing,
            // held or refused, the start dropped, Cancel instead of OK) never ran: it failed,
            // and its entry says so rather than repeat an earlier window's result.
            if (state.automatic_run() && !end.automatic_run_started) {
                state.error_flags |= error_bit(ERR_RUN_FAILED);
                shared.run_result = "Aborted";
            }
            // A run broken by the user is no longer automatic, but it did not complete.
            if (state.error_flags != 0 && (state.automatic_run() || end.automatic_run_started))
                failed = true;
            write_run_log(state, program_line, line, shared.run_result, directory);
        }
        if (!script.is_open()) break;
    }
    return failed ? EXIT_RUN_FAILED : EXIT_RUNS_COMPLETED;
}

ProgramArguments parse_program_arguments(const std::vector<std::string>& args) {
    ProgramArguments result;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view name;
        if (!long_option_name(args[i], name)) continue;
        bool ours = false;
        for (std::string_view known : OUR_LONG_OPTIONS)
            ours = ours || name == known;
        if (!ours) {
            result.error = "unknown option --" + std::string(name);
            return result;
        }
        // Their values are not options.
        if ((name == "convert" || name == "idle-timeout") && args[i].find('=') == std::string::npos)
            ++i;
    }
    result.command_line = rebuild_command_line(args, result.options);
    if (!result.options.unknown_errors.empty()) result.error = result.options.unknown_errors[0];
    return result;
}

std::string usage_text() {
    return "Usage: trelvo [options]\n"
           "Exchanges files with a KV71/KV72 tester on a serial port.\n"
           "\n"
           "  -Cn          serial port COMn (1..255)\n"
           "  -Bn          baud rate: 38400, 19200, 9600 or 4800\n"
           "  -Fn          start operation n at once and close when it ends (automatic run):\n"
           "               0 Firmware Update, 1 Download Mobile List, 2 Upload Mobile List,\n"
           "               3 Upload Result List, 4 Download Autotest\n"
           "  -Mxn         result options, x one of P (polling), D (delete all), E (Excel),\n"
           "               T (printout), I (IMEI filename), O (direct printout),\n"
           "               N (output file); n 0 = off, other = on\n"
           "  -P PATH      file to send, or directory to receive into, of an automatic run\n"
           "  -S FILE      batch script: one command line per line\n"
           "\n"
           "  --headless   run in the terminal even when a display is available\n"
           "  --list-ports list the serial ports found, one \"COMn device\" line each\n"
           "  --convert FILE  convert a result list already on disk as Upload Result List\n"
           "               would (-M options), into the -P directory or else the result list\n"
           "               receiving directory; FILE stays as it is\n"
           "  --idle-timeout SECONDS  end an automatic run \"Timeout\" (exit status 1)\n"
           "               when the tester has sent nothing for SECONDS; for batch scripts\n"
           "               and unattended runs, where a silent tester would otherwise stop\n"
           "               every run after it. Not in polling mode. Off unless given.\n"
           "  --help       show this text\n"
           "  --version    show the version\n"
           "\n"
           "Settings are kept in trelvo.ini and automatic runs are logged in trelvo.log, both\n"
           "in the current directory. Ports map to devices through the [Port map] section of\n"
           "trelvo.ini (COM5=/dev/ttyUSB0), or else COM1-32 ttyS0-31, COM33-64 ttyUSB0-31,\n"
           "COM65-96 ttyACM0-31, COM97-128 ttyAMA0-31.\n"
           "\n"
           "Exit status: 0 when every automatic run completed without an error, 1 when one\n"
           "did not, 2 for an unusable option.\n";
}

DeviceNamer device_namer(const SettingsState& state) {
    return [&state](uint32_t port_number) {
        return device_label(port_device_path(state.port_map, port_number));
    };
}

void list_ports(DeviceOpener& opener, TickCounter& clock, const SettingsState& state,
                std::FILE* out) {
    scan_ports(opener, clock, state.port_number, device_namer(state),
               [out](const ScanEvent& event) {
                   if (event.kind == ScanEventKind::PortFound)
                       std::fprintf(out, "%s\n", event.entry.text.c_str());
               });
}

OwnerlessMessages::OwnerlessMessages(std::function<void(std::string_view text)> show)
    : show_(std::move(show)) {}

void OwnerlessMessages::message_box(std::string_view text, MessageIcon) {
    if (show_) show_(text);
}

bool display_available() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace trelvo
