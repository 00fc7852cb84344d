#include "window/window_signals.h"

#include "base/error_table.h"

namespace trelvo {

void WindowSignals::handle(SignalRequest request) {
    if (request == SignalRequest::Terminate) {
        terminate();
        return;
    }
    if (request != SignalRequest::Cancel || terminating_ || model_.closed()) return;
    // A run already winding down (cancel sequence, local command) is left to finish: Cancel
    // now would close the window under it, with the tester still in remote mode.
    if (engine_.run_active() && engine_.run_state != RS_RUNNING) return;
    model_.cancel();
}

void WindowSignals::terminate() {
    // A second request while the run winds down changes nothing; the winding down is
    // bounded by the local command's own limit.
    if (terminating_ || model_.closed()) return;
    terminating_ = true;
    if (engine_.run_active()) {
        if (engine_.run_state == RS_RUNNING) {
            // The Cancel button's break, but the run stays what it was: an automatic run
            // keeps its log entry and closes its window at the end.
            uint32_t flags = state_.command_line_flags;
            engine_.user_break();
            state_.command_line_flags = flags;
        }
        return;
    }
    // An automatic run that has not started yet did not complete either.
    if (state_.automatic_run()) state_.error_flags |= error_bit(ERR_USER_BREAK);
    model_.cancel();
}

void WindowSignals::after_tick() {
    if (terminating_ && !engine_.run_active() && !model_.closed()) model_.cancel();
}

}  // namespace trelvo
