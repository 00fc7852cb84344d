#include "engine/engine.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/error_table.h"
#include "engine/cancel_sequence.h"

namespace trelvo {

namespace {

constexpr size_t FILE_LINE_SIZE = 200;
constexpr size_t DELETE_PATH_SIZE = 1000;

bool timed_wait(WaitEvent event) {
    return event == WE_LINE || event == WE_BYTE || event == WE_BLOCK;
}

// Soft waits hand the timeout to the next step through the reply buffer's marker.
bool soft_timeout(WaitEvent event) {
    return event == WE_LINE || event == WE_BLOCK;
}

const char* final_text(RunState state) {
    switch (state) {
        case RS_IDLE:
            return "Completed";
        case RS_OUT_OF_SYNC:
            return "Out of sync";
        case RS_CANCELLED:
        case RS_ABORTED:
            return "Aborted";
        case RS_TIMEOUT:
            return "Timeout";
        default:
            return "Unknown";
    }
}

}  // namespace

Engine::Engine(SettingsState& state_, WindowSurface& window_, TickCounter& clock_,
               EngineTimer& timer)
    : state(state_), window(window_), clock(clock_), timer_(timer) {}

Engine::~Engine() {
    timer_.kill();
    close_file(transfer.file);
    close_file(transfer.second_file);
}

void Engine::start_run(std::unique_ptr<TesterPort> port, const Operation& op) {
    port_ = std::move(port);
    active_ = true;
    row_count_ = 0;
    while (op.steps[row_count_].routine != nullptr)
        ++row_count_;
    port_failure_reported_ = false;
    close_file(transfer.file);
    close_file(transfer.second_file);
    transfer.outputs_written = 0;
    transfer.receive_open = false;
    run_state = RS_RUNNING;
    operation = &op;
    run_start = clock.now_ms();
    idle_from_ = run_start;
    idle_expired_ = false;
    // The first step waits one tick: the port has just been opened and configured.
    timer_.arm(WE_STEP, TICK_PERIOD_MS);
}

void Engine::arm(WaitEvent event) {
    // The next step is ready now: it runs on the next pass of the event loop.
    if (event == WE_STEP) {
        timer_.arm(event, 0);
        return;
    }
    // A write held back after a command line goes when the quiet is over.
    uint32_t hold = event == WE_WRITE ? port_->write_hold_ms() : 0;
    if (hold > 0) {
        timer_.arm(event, std::min(hold, TICK_PERIOD_MS));
        return;
    }
    // Waits and pending writes are looked at every tick period, and at once when the
    // device has input for them or room for the write.
    timer_.arm_or_wake(event, TICK_PERIOD_MS, WakeOn{port_->wait_handle(), event == WE_WRITE});
}

bool Engine::row_in_table() const {
    return step_index >= 0 && step_index <= row_count_;
}

const char* Engine::row_status_text() const {
    if (!row_in_table()) return "";
    const char* text = current_row().status_text;
    return text == PACKET_TEXT ? packet_text.c_str() : text;
}

void Engine::engine_tick(int identifier) {
    if (identifier < WE_LINE || identifier > WE_LINES || !run_active()) return;
    timer_.kill();
    switch (identifier) {
        case WE_STEP:
            tick_step();
            break;
        case WE_WRITE:
            tick_write();
            break;
        default:
            tick_wait(identifier);
            break;
    }
    if (identifier != WE_STEP) check_idle_limit();
}

void Engine::tick_step() {
    if (run_state == RS_CANCEL || run_state == RS_SYNC_LOST) {
        RunState breaking = run_state;
        if (port_ != nullptr) {
            dispatch_result(send_cancel_sequence(*port_, transfer));
        } else {
            arm(WE_STEP);
        }
        run_state = idle_expired_ ? RS_TIMEOUT : breaking | 1;
        return;
    }
    // A jump outside the table is a fault of the table, not of the tester: end the run.
    if (!row_in_table() && run_state == RS_RUNNING) run_state = RS_ABORTED;
    StepRoutine routine = row_in_table() ? current_row().routine : nullptr;
    if (routine != nullptr && run_state == RS_RUNNING) {
        show_status(row_status_text(), 0);
        uint32_t began = clock.now_ms();
        StepResult result = routine(*this, transfer);
        idle_from_ += clock.now_ms() - began;
        dispatch_result(result);
        return;
    }
    if (routine == nullptr && run_state == RS_RUNNING) run_state = RS_IDLE;
    // The end-of-run command must not follow a command line too closely either.
    uint32_t hold = port_ != nullptr && !port_->failed() ? port_->write_hold_ms() : 0;
    if (hold > 0) {
        timer_.arm(WE_STEP, hold);
        return;
    }
    finish_run();
}

void Engine::tick_wait(WaitEvent event) {
    show_status(row_status_text(), 0);
    // Only a running wait times out: a Cancel pressed since the last tick must not be
    // overwritten (a soft timeout would then start the wait all over again). A line or
    // packet that began to arrive in time is read to its end (or its silence) first.
    if (timed_wait(event) && run_state == RS_RUNNING && !port_->receiving() &&
        static_cast<int32_t>(clock.now_ms() - deadline) > 0) {
        run_state = RS_TIMEOUT;
    }
    int done = 0;
    switch (event) {
        case WE_LINE:
            done = port_->read_line();
            break;
        case WE_MATCH:
            done = port_->read_expected_byte();
            break;
        case WE_BYTE:
            done = port_->read_byte();
            break;
        case WE_BLOCK:
            done = port_->read_block();
            break;
        case WE_LINES:
            done = port_->read_lines();
            break;
    }
    if (port_->failed()) report_port_failure();
    if (done > 0 || run_state != RS_RUNNING) {
        if (soft_timeout(event) && run_state == RS_TIMEOUT) {
            port_->reply[0] = TIMEOUT_MARKER;
            run_state = RS_RUNNING;
        }
        ++step_index;
        arm(WE_STEP);
        return;
    }
    arm(event);
}

void Engine::tick_write() {
    show_status(row_status_text(), 0);
    if (run_state == RS_RUNNING) {
        dispatch_result(port_->poll_write());
        return;
    }
    // Past a break the pending write is the cancel sequence, which is never dropped: it
    // waits out the quiet after a command line here, and what the tester still holds back
    // goes ahead of the end-of-run command.
    if (run_state == RS_CANCELLED || run_state == RS_OUT_OF_SYNC) {
        StepResult result = port_->poll_write();
        if (result == SR_WRITE_BUSY && port_->write_hold_ms() > 0) {
            arm(WE_WRITE);
            return;
        }
        if (result == SR_WRITE_FAILED) report_port_failure();
        ++step_index;
        arm(WE_STEP);
        return;
    }
    // A step's write is abandoned: the run is over.
    port_->release_write_event();
    ++step_index;
    arm(WE_STEP);
}

void Engine::report_port_failure() {
    // A timeout noticed in the same tick gives way: the port is gone, not the tester slow.
    if (run_state == RS_RUNNING || run_state == RS_TIMEOUT) run_state = RS_ABORTED;
    if (port_failure_reported_) return;
    port_failure_reported_ = true;
    char first[64];
    std::snprintf(first, sizeof first, "Connection to COM%u lost\n", state.port_number);
    report_error_with_reason(state, window, ERR_PORT_LOST, first, port_->failure_text(),
                             MessageIcon::Error);
}

void Engine::check_idle_limit() {
    if (state.idle_timeout_s == 0 || !state.automatic_run() || run_state != RS_RUNNING) return;
    // Polling mode waits for the next list by design, however long the tester is quiet.
    if ((state.options & OPT_POLLING) != 0 || port_ == nullptr) return;
    uint32_t now = clock.now_ms();
    uint32_t last_input = port_->last_input_ms();
    if (static_cast<int32_t>(last_input - idle_from_) > 0) idle_from_ = last_input;
    if (static_cast<int32_t>(now - idle_from_) <= 0 ||
        now - idle_from_ <= state.idle_timeout_s * 1000u)
        return;
    // Ends as Cancel does (the cancel sequence, then the way back to local), but as "Timeout".
    idle_expired_ = true;
    run_state = RS_CANCEL;
}

void Engine::dispatch_result(StepResult result) {
    switch (result) {
        case SR_WAIT_LINE:
        case SR_WAIT_BYTE:
        case SR_WAIT_BLOCK:
            deadline = clock.now_ms() + wait_timeout * 1000;
            port_->begin_wait();
            arm(result == SR_WAIT_LINE ? WE_LINE : result == SR_WAIT_BYTE ? WE_BYTE : WE_BLOCK);
            return;
        case SR_WAIT_MATCH:
            port_->begin_wait();
            arm(WE_MATCH);
            return;
        case SR_WAIT_LINES:
            port_->begin_wait();
            arm(WE_LINES);
            return;
        case SR_WRITE_BUSY:
        case SR_WRITE_PENDING:
            arm(WE_WRITE);
            return;
        case SR_WRITE_FAILED:
            // The device refused the write: the run cannot go on, and polling a write that
            // can never complete would hang it.
            report_port_failure();
            break;
        case SR_CYCLE_DONE:
            window.set_file_line("");
            window.set_progress_position(0);
            if (transfer.file != nullptr) {
                close_file(transfer.file);
                delete_tester_output_file(transfer);
            }
            close_file(transfer.second_file);
            transfer.outputs_written = 0;
            break;
        default:
            break;
    }
    ++step_index;
    arm(WE_STEP);
}

int32_t Engine::jump_offset(int32_t index, StepRoutine routine) const {
    for (int32_t row = 0; operation->steps[row].routine != nullptr; ++row) {
        if (operation->steps[row].routine == routine) return row - index - 1;
    }
    return -1;
}

void Engine::show_status(std::string_view text, int part) {
    window.set_status_text(part, text);
    if (run_state != RS_RUNNING) return;
    uint32_t elapsed = clock.now_ms() - run_start;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u", elapsed / 60000, (elapsed % 60000) / 1000);
    window.set_status_text(1, buffer);
}

void Engine::clear_status() {
    for (int part = 1; part <= 3; ++part)
        window.set_status_text(part, "");
}

void Engine::show_file_line(std::string_view label, std::string_view text) {
    std::string line;
    if (label.size() + text.size() < 36) line = "\r\n";
    line.append(label).append(" ").append(text);
    if (line.size() > FILE_LINE_SIZE - 1) line.resize(FILE_LINE_SIZE - 1);
    window.set_file_line(line);
}

void Engine::delete_tester_output_file(TransferRecord& record) {
    // The operation selected in the window decides; it is the running one, as the controls
    // are disabled during a run. The running table is left alone so that a run can never
    // continue on another table's rows.
    if (operation_id_at(window.selected_operation()) != OP_UPLOAD_RESULT_LIST) return;
    if ((state.options & OPT_OUTPUT_FILE) != 0) return;
    if ((state.options & (OPT_EXCEL | OPT_PRINTOUT)) == 0) return;
    // A list that converted into nothing (no phone in it, say) stays as it came.
    if (record.outputs_written == 0) return;
    if (record.file_name.empty()) return;
    std::string path = record.directory + record.file_name;
    if (path.size() >= DELETE_PATH_SIZE) return;
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void Engine::user_break() {
    if (run_state != RS_RUNNING) return;
    state.command_line_flags = 0;
    state.error_flags |= error_bit(ERR_USER_BREAK);
    run_state = RS_CANCEL;
}

void Engine::report_partial_file() {
    transfer.receive_open = false;
    report_error_with_reason(state, window, ERR_TRANSFER_INCOMPLETE, "Transfer incomplete\n",
                             transfer.directory + transfer.file_name +
                                 ": broken off before its end; the bytes received are kept",
                             MessageIcon::Error);
}

void Engine::finish_run() {
    // A port that failed during the run (lost, or refusing writes) ends it as "Port lost"
    // whatever the run state says; the message or error bit went out when it failed. A run
    // without a port (a conversion of a list on disk) has nothing to return to local.
    bool port_lost = port_ != nullptr && port_->failed();
    if (port_ != nullptr) port_->return_to_local();
    show_status(port_lost ? "Port lost" : final_text(run_state), 2);
    if (run_state != RS_IDLE || port_lost) state.error_flags |= error_bit(ERR_RUN_FAILED);
    window.set_file_line("");
    window.set_progress_position(0);
    if (transfer.receive_open) report_partial_file();
    if (transfer.file != nullptr) {
        close_file(transfer.file);
        // Only a completed run's converted output stands in for the received list: after a
        // break, a timeout or a failed conversion the list itself is all there is.
        if (run_state == RS_IDLE && !port_lost) delete_tester_output_file(transfer);
    }
    close_file(transfer.second_file);
    transfer.outputs_written = 0;
    port_.reset();
    active_ = false;
    show_status("Idle", 0);
    window.enable_controls();
    run_state = RS_IDLE;
    if (state.automatic_run()) window.send_cancel();
}

}  // namespace trelvo
