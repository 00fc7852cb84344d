// The console window: the main window for a terminal, a script or a service, with no
// display. It runs the same model, engine and port scan as the desktop window; it shows
// the status changes, the tester found, the file line, the progress and the message boxes
// as lines on its output (stderr), takes Enter as OK and the end of input as Cancel, and
// takes the program's signals as WindowSignals says (Ctrl-C as the Cancel button). The file choice
// and the autotest slot choice ask on the terminal when the input is one, and count as Cancel
// otherwise.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "engine/event_loop.h"
#include "shell/program.h"
#include "window/main_window_model.h"
#include "window/port_scan.h"
#include "window/window_signals.h"

namespace trelvo {

// A message box as one line: line ends folded into single blanks, blanks around them
// dropped ("     Insufficient memory \n\nExcel ..." -> "Insufficient memory Excel ...").
std::string fold_message(std::string_view text);

// The progress bar as text. On a terminal it is redrawn in place on one line; elsewhere
// it gives a line at every tenth of the way. Each call returns what to write.
class ProgressText {
  public:
    explicit ProgressText(bool terminal) : terminal_(terminal) {}

    std::string set_range(int low, int high);
    std::string set_position(int position);
    void set_step(int step) { step_ = step; }
    std::string step_it() { return set_position(position_ + step_); }
    // Ends a bar drawn in place, so that another line can follow.
    std::string end_line();

  private:
    std::string render();

    bool terminal_;
    int low_ = 0;
    int high_ = 100;
    int position_ = 0;
    int step_ = 1;
    int shown_ = -1;  // percent last shown, -1 = none since the bar was reset
    bool drawn_ = false;
};

// The console's input, kept across the windows of a batch.
struct ConsoleInput {
    int fd = 0;
    bool terminal = false;
    bool ended = false;   // end of input seen
    std::string pending;  // read, not yet a whole line
};

struct ConsoleIo {
    ConsoleInput* input = nullptr;
    std::FILE* output = stderr;
    bool output_terminal = false;
    // The read end of the program's signal self-pipe (take_signal_requests); -1 = none.
    int signal_fd = -1;
};

class ConsoleWindow final : public WindowSurface, public MainWindowFrontend {
  public:
    ConsoleWindow(WindowShared& shared, ConsoleIo io);
    ~ConsoleWindow() override;

    // Opens the window and runs it until it closes.
    WindowEnd run();
    // The program was asked to end (SIGTERM, SIGHUP) while the window was open.
    bool terminating() const { return signals_.terminating(); }

    // WindowSurface.
    void set_status_text(int part, std::string_view text) override;
    void set_file_line(std::string_view text) override;
    void message_box(std::string_view text, MessageIcon icon) override;
    void enable_controls() override { model_.enable_controls(); }
    void disable_controls() override { model_.disable_controls(); }
    int selected_operation() override { return model_.selected_operation(); }
    void send_cancel() override { model_.cancel(); }
    void set_progress_range(int low, int high) override;
    void set_progress_position(int position) override;
    void set_progress_step(int step) override { progress_.set_step(step); }
    void progress_step_it() override;
    std::optional<std::string> file_dialog(std::span<const FileFilter> filters,
                                           std::string_view start_directory) override;
    AutotestChoice autotest_slot_dialog(std::string_view directory_text) override;

    // MainWindowFrontend.
    void post(std::function<void()> work) override { loop_.post(std::move(work)); }
    std::string status_text(int part) override;
    void model_changed(uint32_t) override {}
    void close_window() override { closed_ = true; }

  private:
    void poll();
    void take_signal(SignalRequest request);
    void show_prompt();
    // Reads what the input has; true when a whole line or the end of input came.
    bool read_input(bool& ended);
    // A dialog on the terminal: whether there is one to ask on (else the dialog is
    // cancelled, and says so under `what`).
    bool can_ask(std::string_view what);
    // Writes `prompt` and waits for a line; nothing at the end of input or on Ctrl-C,
    // which cancel the dialog.
    std::optional<std::string> ask(std::string_view prompt);
    void write_line(std::string_view text);
    void write_raw(const std::string& text);

    WindowShared& shared_;
    ConsoleIo io_;
    SystemClock clock_;
    EventLoop loop_{clock_};
    Engine engine_;
    ThreadedPortScanner scanner_;
    MainWindowModel model_;
    WindowSignals signals_;
    // A request to end that came while a terminal dialog was open, handled after it.
    SignalRequest held_signal_ = SignalRequest::None;

    std::string status_[4];
    std::string part0_shape_;  // part 0's text as last written, digits folded
    std::string file_line_;
    ProgressText progress_;
    bool closed_ = false;
    bool prompt_shown_ = false;
    bool confirmed_by_itself_ = false;
};

}  // namespace trelvo
