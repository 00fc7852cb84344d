// The operation engine: runs one operation's table of steps on the engine timer (a ready step
// at once, a wait polled every 50 ms), and owns the end of every run. Everything runs on
// the user-interface thread; nothing here blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "base/codes.h"
#include "base/platform.h"
#include "base/protocol_state.h"
#include "base/settings_state.h"
#include "base/transfer_record.h"
#include "engine/operation.h"
#include "serial/tester_port.h"

namespace trelvo {

class Printer;

class Engine {
  public:
    Engine(SettingsState& state, WindowSurface& window, TickCounter& clock, EngineTimer& timer);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Starts `operation` on an open port: both file handles none, RS_RUNNING, run start
    // time now, first tick after 50 ms. The caller has cleared the status bar and set the
    // step index to 0. Precondition: no run is active. A table whose steps never talk to the
    // tester (the conversions of a result list on disk) runs without a port (nullptr).
    void start_run(std::unique_ptr<TesterPort> port, const Operation& operation);

    // The timer callback: acts on identifiers WE_LINE..WE_LINES, ignores everything else.
    void engine_tick(int identifier);

    // Turns a step result into the next wait (or the next step).
    void dispatch_result(StepResult result);

    // What a step adds to the step index so that the row holding `routine` runs next;
    // -1 when the current operation's table has no such row.
    int32_t jump_offset(int32_t index, StepRoutine routine) const;

    // Status bar text of `part` (0..3); refreshes the elapsed time in part 1 while running.
    void show_status(std::string_view text, int part);
    // Empties status parts 1, 2 and 3.
    void clear_status();
    // The two-line file line: the text on the second line when label and text are short.
    void show_file_line(std::string_view label, std::string_view text);
    // Deletes the raw result list when the user asked only for converted output.
    void delete_tester_output_file(TransferRecord& record);

    // The Cancel button during a run: clears the command-line flag word, sets "User break."
    // and RS_CANCEL; the running wait ends on its next tick.
    void user_break();

    bool run_active() const { return active_; }
    TesterPort& port() { return *port_; }
    const StepRow& current_row() const { return operation->steps[step_index]; }

    SettingsState& state;
    WindowSurface& window;
    TickCounter& clock;

    // Engine state, read and written by the step routines.
    RunState run_state = RS_IDLE;
    int32_t step_index = 0;
    const Operation* operation = nullptr;
    uint32_t wait_timeout = 0;  // seconds; kept until a step sets it again
    uint32_t deadline = 0;      // tick count at which a timed wait expires
    uint32_t run_start = 0;
    std::string packet_text;  // shown by rows whose status text is PACKET_TEXT
    TransferRecord transfer;
    // The block transfer's packet buffer and end-of-data flag.
    ProtocolState protocol;

    // The main window's printer for the direct printout; nullptr when there is none.
    Printer* printer = nullptr;

  private:
    void arm(WaitEvent event);
    void tick_step();
    void tick_wait(WaitEvent event);
    void tick_write();
    void finish_run();
    void report_port_failure();
    // A run that ends while a received file is still open: says the file is partial.
    void report_partial_file();
    // --idle-timeout: breaks an unattended run whose tester has been silent too long.
    void check_idle_limit();
    const char* row_status_text() const;
    bool row_in_table() const;

    EngineTimer& timer_;
    std::unique_ptr<TesterPort> port_;
    bool active_ = false;
    bool port_failure_reported_ = false;
    // Silence of the tester counts from here; time spent inside steps (conversions) moves
    // it on, as nobody waits for the tester then.
    uint32_t idle_from_ = 0;
    bool idle_expired_ = false;
    int32_t row_count_ = 0;  // rows of the current table before its null row
};

}  // namespace trelvo
