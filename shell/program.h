// The program's entry and outer loop: before every run the settings file and the command
// line (or the batch-script line), then one main window, then the run log. The main window
// itself is a seam: the desktop window or the console window opens behind it.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"
#include "base/serial_device.h"
#include "base/settings_state.h"
#include "shell/command_line.h"
#include "window/main_window_model.h"
#include "window/port_scan.h"

namespace trelvo {

// Exit statuses of the program.
inline constexpr int EXIT_RUNS_COMPLETED = 0;  // every automatic run without an error bit
inline constexpr int EXIT_RUN_FAILED = 1;      // an automatic run recorded an error bit
inline constexpr int EXIT_USAGE = 2;           // an unusable long option

inline constexpr const char* PROGRAM_VERSION = "4.21";

// How one main window ended.
struct WindowEnd {
    bool created = true;                 // false: the window could not be created
    bool automatic_run_started = false;  // it started a run as an automatic run
};

// Opens one main window on the shared state and runs it until it closes.
using WindowOpener = std::function<WindowEnd(WindowShared& shared)>;

struct ProgramSetup {
    std::string command_line;               // the program's command line, rebuilt
    std::filesystem::path directory = ".";  // where the settings file and the run log are
    WindowOpener open_window;
    // A message box without owner: settings-file messages, "Can't load dialog box!".
    std::function<void(std::string_view text)> message_box;
    // The serial devices of the runs and the port scan; the real ones when not set.
    std::function<std::unique_ptr<DeviceOpener>(const SettingsState& state)> make_opener;
};

// The window surface before any window exists: only message boxes without owner can be
// shown, through `show`; everything else is dropped.
class OwnerlessMessages : public WindowSurface {
  public:
    explicit OwnerlessMessages(std::function<void(std::string_view text)> show);
    void message_box(std::string_view text, MessageIcon icon) override;
    void set_status_text(int, std::string_view) override {}
    void set_file_line(std::string_view) override {}
    void enable_controls() override {}
    void disable_controls() override {}
    int selected_operation() override { return 0; }
    void send_cancel() override {}
    void set_progress_range(int, int) override {}
    void set_progress_position(int) override {}
    void set_progress_step(int) override {}
    void progress_step_it() override {}

  private:
    std::function<void(std::string_view text)> show_;
};

// Loads the settings file with its version check, then applies `line`.
void prepare_run(SettingsState& state, BatchScript& script, std::string_view line,
                 WindowSurface& messages, const std::filesystem::path& directory = ".");

// The entry's work once the arguments are known: prepare_run on the command line, the
// start gate, then the main loop: one main window for the command line, or one per
// batch-script line that asks for an automatic run, each followed by the run log. Returns
// the exit status.
int run_program(const ProgramSetup& setup);

// The arguments split into our long options and the command-line text for the parser.
struct ProgramArguments {
    std::string command_line;
    LongOptions options;
    std::string error;  // set for an unusable long option: exit with EXIT_USAGE
};
ProgramArguments parse_program_arguments(const std::vector<std::string>& args);

// The text of --help.
std::string usage_text();

// Names the device behind a port number for the port list ("ttyUSB0", "pts/3").
DeviceNamer device_namer(const SettingsState& state);

// --list-ports: scans with `opener` and writes one "COMn device" line per port found.
void list_ports(DeviceOpener& opener, TickCounter& clock, const SettingsState& state,
                std::FILE* out);

// Whether a desktop session is there to show a window (DISPLAY or WAYLAND_DISPLAY set).
bool display_available();

}  // namespace trelvo
