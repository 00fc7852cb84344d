// The program's signals carried out on a main window, the same way in the console window
// and the desktop window. SIGINT is the Cancel button. SIGTERM and SIGHUP ask the program to
// end: a running run is broken through the Cancel button's path (the cancel sequence, the
// tester back to local operation) but stays an automatic run, so that it is logged in its
// failure form and the program's exit status says so; then the window closes.
#pragma once

#include "base/settings_state.h"
#include "engine/engine.h"
#include "engine/event_loop.h"
#include "window/main_window_model.h"

namespace trelvo {

class WindowSignals {
  public:
    WindowSignals(SettingsState& state, Engine& engine, MainWindowModel& model)
        : state_(state), engine_(engine), model_(model) {}

    void handle(SignalRequest request);
    // After every engine tick: the window of a program that was asked to end closes once
    // its run is over.
    void after_tick();
    // The program was asked to end while this window was open.
    bool terminating() const { return terminating_; }

  private:
    void terminate();

    SettingsState& state_;
    Engine& engine_;
    MainWindowModel& model_;
    bool terminating_ = false;
};

}  // namespace trelvo
