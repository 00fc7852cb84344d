// The main window without its toolkit: the state of its lists, check boxes and buttons and
// every rule between them, the start command, Cancel, and closing. The desktop window and
// the console window both show one MainWindowModel; they turn clicks and key presses into
// its calls and redraw from it when it says that something changed. It runs on the
// user-interface thread; the port scan's events reach it through the frontend's queue.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <semaphore>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_device.h"
#include "base/settings_state.h"
#include "engine/engine.h"
#include "window/port_scan.h"

namespace trelvo {

// The start gate ("InitComPort"): a counting semaphore with initial count 0 and at most 10.
// The port scan releases it when the configured port opened, OK releases it once, and the
// start command waits on it. A release beyond the maximum fails without effect.
class StartGate {
  public:
    static constexpr int MAX_COUNT = 10;

    // False, and nothing changes, when the count is at its maximum already.
    bool release();
    // Takes one count, waiting at most `wait`; false when none came.
    bool try_acquire_for(std::chrono::milliseconds wait);
    // The count (at rest; a release or wait in progress may be counted already).
    int count() const { return count_.load(); }

  private:
    std::counting_semaphore<MAX_COUNT> semaphore_{0};
    std::atomic<int> count_{0};  // never below the semaphore's own count
};

// The seven option check boxes, in tab order, with the option bits they mirror.
enum class OptionBox {
    Polling,
    DeleteAll,
    DirectPrintout,
    ImeiFilename,
    OutputFile,
    Excel,
    Printout
};
inline constexpr std::array<OptionBox, 7> OPTION_BOXES = {
    OptionBox::Polling,    OptionBox::DeleteAll, OptionBox::DirectPrintout, OptionBox::ImeiFilename,
    OptionBox::OutputFile, OptionBox::Excel,     OptionBox::Printout};
uint32_t option_box_bit(OptionBox box);
std::string_view option_box_caption(OptionBox box);

// The output options as the window shows them when it opens: at least one output, and
// direct printout only with the printout. "Norvane Output File" is decided before "Direct
// Printout" adds the printout bit.
void apply_output_option_rules(uint32_t& options);

// The baud rate list: position = baud-rate index.
inline constexpr std::array<std::string_view, 4> BAUD_RATE_ENTRIES = {"38400", "19200", " 9600",
                                                                      " 4800"};

// Which controls take input. Cancel always does.
struct ControlState {
    bool ok = true;
    bool directory = false;
    bool print_setup = false;
    bool port_list = true;
    bool baud_list = true;
    bool operation_list = true;
    bool option_boxes = true;  // all seven

    bool operator==(const ControlState&) const = default;
};

// What the model tells the frontend to redraw.
inline constexpr uint32_t VIEW_CONTROLS = 0x01;       // enabled state of the controls
inline constexpr uint32_t VIEW_CHECK_BOXES = 0x02;    // check states
inline constexpr uint32_t VIEW_PORT_LIST = 0x04;      // entries and selection of the port list
inline constexpr uint32_t VIEW_SELECTIONS = 0x08;     // baud rate and operation selections
inline constexpr uint32_t VIEW_SCAN_FINISHED = 0x10;  // the port scan is over

// What the model needs of the window that shows it, besides the engine's WindowSurface.
class MainWindowFrontend {
  public:
    virtual ~MainWindowFrontend() = default;
    // Queues `work` to run on the user-interface thread after what is queued already.
    // Called from the port scan's thread too.
    virtual void post(std::function<void()> work) = 0;
    // The text the window shows in status part `part` (0..3).
    virtual std::string status_text(int part) = 0;
    // Something the window shows changed (VIEW_* bits): redraw it from the model.
    virtual void model_changed(uint32_t what) = 0;
    // Ends the window; the shell goes on with the run log and the next line.
    virtual void close_window() = 0;
};

// What the shell keeps for every main window of the process.
struct WindowShared {
    SettingsState& state;
    StartGate& gate;
    DeviceOpener& opener;
    // Status part 2 as the last window that closed on Cancel left it; the run log writes it.
    std::string run_result;
    // Where the settings file lives.
    std::filesystem::path directory = ".";
};

// How a start command ended.
enum class StartOutcome {
    Retry,       // the gate was not obtained in time: post the start command again
    Dropped,     // nothing started: a run state was pending (cleared now), a run is active,
                 // or the window is closed
    PortFailed,  // the port could not be opened (reported); the window stays open
    Closed,      // the port could not be opened in an automatic run: the window closed
    Started,     // the run is going
};

class MainWindowModel {
  public:
    static constexpr std::chrono::milliseconds START_WAIT{100};

    // `engine` runs on `frontend`'s timer and reports to the frontend's WindowSurface.
    MainWindowModel(WindowShared& shared, Engine& engine, PortScanner& scanner,
                    MainWindowFrontend& frontend,
                    std::chrono::milliseconds start_wait = START_WAIT);
    ~MainWindowModel();
    MainWindowModel(const MainWindowModel&) = delete;
    MainWindowModel& operator=(const MainWindowModel&) = delete;

    // When the window is created: "Scanning COM Ports", the scan started, run state idle,
    // lists and check boxes from the settings (with the output-option rules), the controls
    // the operation allows, and the automatic start when the settings and command line ask
    // for it.
    void initialise();

    // The start command: waits for the gate at most the start wait, then opens the port
    // and starts the selected operation.
    StartOutcome start_command();
    // Posts the start command; it posts itself again while it has to wait for the gate.
    void post_start_command();
    // OK: releases the gate once, then the start command (posted again if it must wait).
    StartOutcome ok();
    // Cancel (also Escape and the close box): breaks a running operation; otherwise writes
    // the settings, keeps status part 2 as the run result text, and closes the window.
    void cancel();

    // Notifications of the lists and check boxes, with the position or new check state.
    void port_selected(int position);
    void baud_selected(int position);
    void operation_selected(int position);
    void check_box_clicked(OptionBox box, bool checked);
    // An event of the port scan, on the user-interface thread.
    void scan_event(const ScanEvent& event);

    // The engine's calls through the WindowSurface.
    void enable_controls();
    void disable_controls();
    int selected_operation() const;

    // What the window shows.
    const ControlState& controls() const { return controls_; }
    bool checked(OptionBox box) const;
    const std::vector<PortEntry>& ports() const { return ports_; }
    int selected_port() const { return selected_port_; }
    int selected_baud() const;

    bool closed() const { return closed_; }
    bool scan_finished() const { return scan_finished_; }
    // The scan opened the configured port (and released the gate for it).
    bool configured_port_opened() const { return configured_port_opened_; }
    // A start command is posted and has not come to an end yet.
    bool start_pending() const { return pending_starts_ > 0; }
    // The window posted its own start command when it opened (the automatic start).
    bool started_by_itself() const { return started_by_itself_; }
    // A run was started in this window; one of them as an automatic run.
    bool run_started() const { return run_started_; }
    bool automatic_run_started() const { return automatic_run_started_; }

  private:
    void update_directory_button();
    void update_option_boxes();
    void update_print_setup_button();
    void apply_updates();
    bool automatic_start_wanted();
    void close();

    WindowShared& shared_;
    SettingsState& state_;
    Engine& engine_;
    PortScanner& scanner_;
    MainWindowFrontend& frontend_;
    std::chrono::milliseconds start_wait_;

    ControlState controls_;
    std::vector<PortEntry> ports_;
    int selected_port_ = -1;
    bool closed_ = false;
    bool scan_finished_ = false;
    bool configured_port_opened_ = false;
    int pending_starts_ = 0;
    bool started_by_itself_ = false;
    bool run_started_ = false;
    bool automatic_run_started_ = false;
};

}  // namespace trelvo
