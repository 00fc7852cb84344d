#include "window/main_window_model.h"

#include "base/error_table.h"
#include "operations/operation_table.h"
#include "serial/tester_port.h"
#include "settings/settings_file.h"

namespace trelvo {

// ---- Start gate ----

bool StartGate::release() {
    int count = count_.load();
    do {
        if (count >= MAX_COUNT) return false;
    } while (!count_.compare_exchange_weak(count, count + 1));
    semaphore_.release();
    return true;
}

bool StartGate::try_acquire_for(std::chrono::milliseconds wait) {
    if (!semaphore_.try_acquire_for(wait)) return false;
    count_.fetch_sub(1);
    return true;
}

// ---- Check boxes ----

uint32_t option_box_bit(OptionBox box) {
    switch (box) {
        case OptionBox::Polling:
            return OPT_POLLING;
        case OptionBox::DeleteAll:
            return OPT_DELETE_ALL;
        case OptionBox::DirectPrintout:
            return OPT_DIRECT_PRINT;
        case OptionBox::ImeiFilename:
            return OPT_IMEI;
        case OptionBox::OutputFile:
            return OPT_OUTPUT_FILE;
        case OptionBox::Excel:
            return OPT_EXCEL;
        case OptionBox::Printout:
            return OPT_PRINTOUT;
    }
    return 0;
}

std::string_view option_box_caption(OptionBox box) {
    switch (box) {
        case OptionBox::Polling:
            return "Polling mode";
        case OptionBox::DeleteAll:
            return "Delete All";
        case OptionBox::DirectPrintout:
            return "Direct Printout";
        case OptionBox::ImeiFilename:
            return "IMEI Filename";
        case OptionBox::OutputFile:
            return "Norvane Output File";
        case OptionBox::Excel:
            return "Excel (*.csv)";
        case OptionBox::Printout:
            return "Printout (*.txt)";
    }
    return "";
}

void apply_output_option_rules(uint32_t& options) {
    if ((options & OPT_OUTPUT_FILE) != 0 || (options & (OPT_EXCEL | OPT_PRINTOUT)) == 0)
        options |= OPT_OUTPUT_FILE;
    if ((options & OPT_DIRECT_PRINT) != 0) options |= OPT_PRINTOUT;
}

// ---- The window ----

MainWindowModel::MainWindowModel(WindowShared& shared, Engine& engine, PortScanner& scanner,
                                 MainWindowFrontend& frontend, std::chrono::milliseconds start_wait)
    : shared_(shared),
      state_(shared.state),
      engine_(engine),
      scanner_(scanner),
      frontend_(frontend),
      start_wait_(start_wait) {}

MainWindowModel::~MainWindowModel() {
    scanner_.stop();
}

void MainWindowModel::initialise() {
    engine_.show_status("Scanning COM Ports", 0);
    // Runs on the scan's thread: the events go through the window's queue, so that they
    // reach the window in the order the scan made them. The gate is released right away
    // for the configured port, so that a start command waiting for it goes ahead at once.
    scanner_.start(state_.port_number, [this](const ScanEvent& event) {
        frontend_.post([this, event] { scan_event(event); });
        if (event.kind == ScanEventKind::ConfiguredPortOpened) shared_.gate.release();
    });
    engine_.run_state = RS_IDLE;
    if (state_.baud_index >= BAUD_RATE_ENTRIES.size()) state_.baud_index = 0;
    if (operation_at(static_cast<int>(state_.operation_index)) == nullptr)
        state_.operation_index = 0;

    apply_output_option_rules(state_.options);

    controls_ = ControlState{};
    apply_updates();
    frontend_.model_changed(VIEW_CONTROLS | VIEW_CHECK_BOXES | VIEW_PORT_LIST | VIEW_SELECTIONS);
    if (automatic_start_wanted()) {
        started_by_itself_ = true;
        post_start_command();
    }
}

// The automatic start: a valid -F starts the run, and so does polling mode with Upload
// Result List. Under -MP with polling mode on only Upload Result List starts, and it runs
// as an interactive run.
bool MainWindowModel::automatic_start_wanted() {
    const bool command_polling = (state_.command_line_flags & CMD_POLLING) != 0;
    const bool polling = (state_.options & OPT_POLLING) != 0;
    const bool automatic = state_.automatic_run();
    const Operation* operation = operation_at(selected_operation());
    const bool polls = operation != nullptr && operation->takes_options;
    if (command_polling) {
        if (polling && polls) {
            state_.command_line_flags &= ~CMD_AUTOMATIC;
            return true;
        }
        return !polling && automatic;
    }
    return automatic || (polling && polls);
}

StartOutcome MainWindowModel::start_command() {
    if (closed_) return StartOutcome::Dropped;
    // A start request while a run is going leaves that run alone.
    if (engine_.run_active()) return StartOutcome::Dropped;
    if (!shared_.gate.try_acquire_for(start_wait_)) return StartOutcome::Retry;
    // The scan's early stop leaves a run state behind to drop a pending start.
    if (engine_.run_state != RS_IDLE) {
        engine_.run_state = RS_IDLE;
        return StartOutcome::Dropped;
    }
    engine_.clear_status();
    engine_.step_index = 0;
    const Operation* operation = operation_at(selected_operation());
    std::unique_ptr<TesterPort> port =
        open_tester_port(state_, engine_.window, engine_.clock, shared_.opener);
    if (!port || operation == nullptr) {
        if (!state_.automatic_run()) return StartOutcome::PortFailed;
        // Closed without writing the settings: the shell logs the error and goes on.
        close();
        return StartOutcome::Closed;
    }
    disable_controls();
    run_started_ = true;
    if (state_.automatic_run()) automatic_run_started_ = true;
    engine_.start_run(std::move(port), *operation);
    return StartOutcome::Started;
}

void MainWindowModel::post_start_command() {
    ++pending_starts_;
    frontend_.post([this] {
        --pending_starts_;
        if (start_command() == StartOutcome::Retry) post_start_command();
    });
}

StartOutcome MainWindowModel::ok() {
    if (closed_ || !controls_.ok) return StartOutcome::Dropped;
    shared_.gate.release();
    StartOutcome outcome = start_command();
    if (outcome == StartOutcome::Retry) post_start_command();
    return outcome;
}

void MainWindowModel::cancel() {
    if (closed_) return;
    if (engine_.run_active() && engine_.run_state == RS_RUNNING) {
        engine_.user_break();
        return;
    }
    // An automatic run whose window the user closes before its run began is broken off all
    // the same: the log must not call it completed.
    if (state_.automatic_run() && !automatic_run_started_)
        state_.error_flags |= error_bit(ERR_USER_BREAK);
    // The port list's selection is what the settings file keeps; none reads back as COM1.
    uint32_t port_number = 0;
    if (selected_port_ >= 0) port_number_of_entry(ports_[selected_port_].text, port_number);
    state_.port_number = port_number;
    write_settings(state_, engine_.window, shared_.directory);
    shared_.run_result = frontend_.status_text(2);
    close();
}

void MainWindowModel::close() {
    closed_ = true;
    scanner_.stop();
    frontend_.close_window();
}

void MainWindowModel::port_selected(int position) {
    if (!controls_.port_list || position < 0 || position >= static_cast<int>(ports_.size())) return;
    selected_port_ = position;
    uint32_t number = 0;
    if (port_number_of_entry(ports_[position].text, number)) state_.port_number = number;
    frontend_.model_changed(VIEW_PORT_LIST);
}

void MainWindowModel::baud_selected(int position) {
    if (!controls_.baud_list || position < 0 ||
        position >= static_cast<int>(BAUD_RATE_ENTRIES.size()))
        return;
    state_.baud_index = static_cast<uint32_t>(position);
    frontend_.model_changed(VIEW_SELECTIONS);
}

void MainWindowModel::operation_selected(int position) {
    if (!controls_.operation_list || operation_at(position) == nullptr) return;
    state_.operation_index = static_cast<uint32_t>(position);
    apply_updates();
    frontend_.model_changed(VIEW_SELECTIONS | VIEW_CONTROLS);
}

void MainWindowModel::check_box_clicked(OptionBox box, bool checked) {
    if (!controls_.option_boxes) return;
    uint32_t& options = state_.options;
    switch (box) {
        case OptionBox::Polling:
        case OptionBox::DeleteAll:
        case OptionBox::ImeiFilename:
            options = checked ? options | option_box_bit(box) : options & ~option_box_bit(box);
            break;
        case OptionBox::Excel:
            if (checked) {
                options |= OPT_EXCEL;
            } else {
                if ((options & (OPT_PRINTOUT | OPT_OUTPUT_FILE)) == 0) options |= OPT_OUTPUT_FILE;
                options &= ~OPT_EXCEL;
            }
            break;
        case OptionBox::Printout:
            if (checked) {
                options |= OPT_PRINTOUT;
            } else {
                options &= ~(OPT_PRINTOUT | OPT_DIRECT_PRINT);
                if ((options & (OPT_EXCEL | OPT_OUTPUT_FILE)) == 0) options |= OPT_OUTPUT_FILE;
            }
            break;
        case OptionBox::DirectPrintout:
            options =
                checked ? options | OPT_DIRECT_PRINT | OPT_PRINTOUT : options & ~OPT_DIRECT_PRINT;
            break;
        case OptionBox::OutputFile:
            if (checked) {
                options |= OPT_OUTPUT_FILE;
            } else {
                options &= ~OPT_OUTPUT_FILE;
                if ((options & (OPT_EXCEL | OPT_PRINTOUT)) == 0) options |= OPT_PRINTOUT;
            }
            break;
    }
    if (box == OptionBox::Printout || box == OptionBox::DirectPrintout) update_print_setup_button();
    frontend_.model_changed(VIEW_CHECK_BOXES | VIEW_CONTROLS);
}

void MainWindowModel::scan_event(const ScanEvent& event) {
    if (closed_) return;
    switch (event.kind) {
        case ScanEventKind::PortFound:
            ports_.push_back(event.entry);
            if (event.select) selected_port_ = static_cast<int>(ports_.size()) - 1;
            frontend_.model_changed(VIEW_PORT_LIST);
            break;
        case ScanEventKind::ConfiguredPortOpened:
            configured_port_opened_ = true;
            engine_.show_status("Idle", 0);
            break;
        case ScanEventKind::StoppedSlow:
            engine_.show_status("Idle", 0);
            // The run state drops a start that waits for the gate; with none waiting it would
            // only drop the user's next OK, or pass a Cancel off as a break of no run.
            if (start_pending() && !engine_.run_active()) engine_.run_state = RS_RUNNING;
            shared_.gate.release();
            break;
        case ScanEventKind::Finished:
            scan_finished_ = true;
            frontend_.model_changed(VIEW_SCAN_FINISHED);
            break;
    }
}

void MainWindowModel::enable_controls() {
    controls_.ok = true;
    controls_.operation_list = true;
    controls_.port_list = true;
    controls_.baud_list = true;
    apply_updates();
    frontend_.model_changed(VIEW_CONTROLS);
}

void MainWindowModel::disable_controls() {
    controls_ = ControlState{false, false, false, false, false, false, false};
    frontend_.model_changed(VIEW_CONTROLS);
}

int MainWindowModel::selected_operation() const {
    return static_cast<int>(state_.operation_index);
}

bool MainWindowModel::checked(OptionBox box) const {
    return (state_.options & option_box_bit(box)) != 0;
}

int MainWindowModel::selected_baud() const {
    return static_cast<int>(state_.baud_index);
}

void MainWindowModel::apply_updates() {
    update_directory_button();
    update_option_boxes();
    update_print_setup_button();
}

// "Directory" chooses the receiving directory of an operation that receives (the uploads).
void MainWindowModel::update_directory_button() {
    const Operation* operation = operation_at(selected_operation());
    controls_.directory =
        operation != nullptr && operation->file_choice == FileChoice::ReceivingFolder;
}

// The options belong to the operation whose row takes them (Upload Result List).
void MainWindowModel::update_option_boxes() {
    const Operation* operation = operation_at(selected_operation());
    controls_.option_boxes = operation != nullptr && operation->takes_options;
}

// The printer matters only for the direct printout of an operation that takes options.
void MainWindowModel::update_print_setup_button() {
    const Operation* operation = operation_at(selected_operation());
    controls_.print_setup = operation != nullptr && operation->takes_options &&
                            (state_.options & OPT_DIRECT_PRINT) != 0;
}

}  // namespace trelvo
