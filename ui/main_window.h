// The main window on the desktop: the window of resources/main_window.ui showing the main
// window model. It turns clicks and list choices into the model's calls and redraws what
// the model says has changed; it hosts the engine's timer on its event loop, the status
// bar, the file line and the progress bar that the steps report to, the message boxes, the
// file and folder dialogs, the autotest slot dialog and the printer of the direct printout.
#pragma once

#include <QDialog>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/platform.h"
#include "engine/engine.h"
#include "engine/event_loop.h"
#include "shell/program.h"
#include "ui/engine_timer.h"
#include "ui/printing.h"
#include "window/main_window_model.h"
#include "window/port_scan.h"
#include "window/window_signals.h"

class QCheckBox;

namespace Ui {
class MainWindow;
}

namespace trelvo::ui {

class StatusBar;

struct MainWindowOptions {
    // How long one start command waits for the port scan before it posts itself again.
    std::chrono::milliseconds start_wait = MainWindowModel::START_WAIT;
    // Where the printers come from; the system's printers when null.
    PrinterSource* printers = nullptr;
    // The read end of the program's signal self-pipe (take_signal_requests); -1 = none.
    int signal_fd = -1;
};

inline constexpr std::string_view INVALID_PRINTER = "Invalid Printer\n";

class MainWindow final : public QDialog, public WindowSurface, public MainWindowFrontend {
    Q_OBJECT

  public:
    explicit MainWindow(WindowShared& shared, MainWindowOptions options = {});
    ~MainWindow() override;

    // What happens as the window opens: the default printer, then the model's start (the
    // port scan, lists and check boxes from the settings, the automatic start); the window
    // is placed in the middle of the screen. It is not shown yet.
    void start();
    // start(), then the window as a modal dialog until it closes.
    WindowEnd run();

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
    void set_progress_step(int step) override { progress_step_ = step; }
    void progress_step_it() override;
    std::optional<std::string> file_dialog(std::span<const FileFilter> filters,
                                           std::string_view start_directory) override;
    std::optional<std::string> folder_dialog(std::string_view title,
                                             std::string_view start_directory) override;
    AutotestChoice autotest_slot_dialog(std::string_view directory_text) override;

    // MainWindowFrontend.
    void post(std::function<void()> work) override;
    std::string status_text(int part) override;
    void model_changed(uint32_t what) override;
    void close_window() override;

    const MainWindowModel& model() const { return model_; }
    const Engine& engine() const { return engine_; }
    const StatusBar& status_bar() const;
    // The printer of the direct printout; nullptr when there is none.
    QtPrinter* printer() const { return printer_.get(); }
    bool closed() const { return closed_; }
    // The program was asked to end (SIGTERM, SIGHUP) while the window was open.
    bool terminating() const { return signals_.terminating(); }

  protected:
    // Escape and the close box arrive as Cancel.
    void reject() override;

  private:
    void connect_controls();
    void watch_signals();
    void lay_out();
    void fill_lists();
    void show_controls();
    void show_check_boxes();
    void show_port_list();
    void choose_receiving_directory();
    void print_setup();
    std::unique_ptr<QtPrinter> choose_printer(bool default_wanted, bool quiet);
    QCheckBox* check_box(OptionBox box) const;

    WindowShared& shared_;
    MainWindowOptions options_;
    SystemPrinters system_printers_;
    SystemClock clock_;
    EngineTimerQt timer_;
    std::unique_ptr<QtPrinter> printer_;
    Engine engine_;
    ThreadedPortScanner scanner_;
    MainWindowModel model_;
    WindowSignals signals_;
    std::unique_ptr<Ui::MainWindow> form_;
    std::array<std::string, 4> status_;
    int progress_step_ = 1;
    bool closed_ = false;
};

// Opens one main window and runs it until it closes. A QApplication must exist.
WindowEnd open_main_window(WindowShared& shared);

}  // namespace trelvo::ui
