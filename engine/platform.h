// Platform seams of the core: the small interfaces that each frontend (desktop window,
// console window, tests) implements. The core never sees a widget, a timer handle or a
// file descriptor of the frontend; it calls these.
#pragma once

#include <cstdint>
#include <string_view>

namespace trelvo {

// Milliseconds since an arbitrary start; wraps after about 49.7 days like the tester's
// own counter arithmetic expects (unsigned differences stay right across a wrap).
class TickCounter {
  public:
    virtual ~TickCounter() = default;
    virtual uint32_t now_ms() = 0;
};

// The one engine timer. `arm` schedules a single call of the engine's tick with the given
// identifier after `period_ms`, replacing any earlier arming; `kill` cancels it. The
// frontend calls Engine::engine_tick(identifier) when it fires, on the user-interface thread.
class EngineTimer {
  public:
    virtual ~EngineTimer() = default;
    virtual void arm(int identifier, uint32_t period_ms) = 0;
    virtual void kill() = 0;
};

enum class MessageIcon { None, Error, Warning, Information };

// Progress bar operations the steps use; the range is [low, high].
struct ProgressBar {
    virtual ~ProgressBar() = default;
    virtual void set_progress_range(int low, int high) = 0;
    virtual void set_progress_position(int position) = 0;
    virtual void set_progress_step(int step) = 0;
    virtual void progress_step_it() = 0;
};

// What the core needs of the main window: status bar parts 0-3, the two-line file line,
// the progress bar, message boxes, the controls, the selected operation and the Cancel
// command. Dialogs (file choice, autotest slot) are added by the issues that need them.
class WindowSurface : public ProgressBar {
  public:
    virtual void set_status_text(int part, std::string_view text) = 0;
    virtual void set_file_line(std::string_view text) = 0;
    // A message box owned by the main window, OK button only, no caption of its own.
    virtual void message_box(std::string_view text, MessageIcon icon) = 0;
    virtual void enable_controls() = 0;
    virtual void disable_controls() = 0;
    // Position (0..4) of the entry selected in the operation list.
    virtual int selected_operation() = 0;
    // Sends the Cancel command to the window and returns once it has been handled (the
    // window then saves the settings and closes).
    virtual void send_cancel() = 0;
};

}  // namespace trelvo
