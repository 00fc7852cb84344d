// Platform seams of the core: the small interfaces that each frontend (desktop window,
// console window, tests) implements. The core never sees a widget, a timer handle or a
// file descriptor of the frontend; it calls these.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace trelvo {

// Milliseconds since an arbitrary start; wraps after about 49.7 days like the tester's
// own counter arithmetic expects (unsigned differences stay right across a wrap).
class TickCounter {
  public:
    virtual ~TickCounter() = default;
    virtual uint32_t now_ms() = 0;
};

// A descriptor whose readiness may end an armed period early: input has arrived
// (`output` false) or the device takes more output (`output` true).
struct WakeOn {
    int fd = -1;
    bool output = false;
};

// The one engine timer. `arm` schedules a single call of the engine's tick with the given
// identifier after `period_ms`, replacing any earlier arming; `kill` cancels it. The
// frontend calls Engine::engine_tick(identifier) when it fires, on the user-interface thread.
class EngineTimer {
  public:
    virtual ~EngineTimer() = default;
    virtual void arm(int identifier, uint32_t period_ms) = 0;
    // Like `arm`, but fires as soon as `wake.fd` is ready, so that a reply is taken the
    // moment it arrives. A timer that cannot watch descriptors keeps to the period.
    virtual void arm_or_wake(int identifier, uint32_t period_ms, WakeOn wake) {
        (void)wake;
        arm(identifier, period_ms);
    }
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

// One entry of a file dialog's type list: what the user reads and the pattern it selects.
struct FileFilter {
    std::string_view description;  // "KV72 Update (*.BIN)"
    std::string_view pattern;      // "*.bin"
};

// The buttons of the autotest slot dialog, numbered as the dialog's results.
inline constexpr int AUTOTEST_NEW = 0;
inline constexpr int AUTOTEST_REPLACE = 1;
inline constexpr int AUTOTEST_CANCEL = 2;
inline constexpr int AUTOTEST_DELETE = 3;

// How the autotest slot dialog ended: one of AUTOTEST_*, and the tester slot the next
// autotest command refers to (left as it was after Cancel).
struct AutotestChoice {
    int result = AUTOTEST_CANCEL;
    uint8_t slot = 0;
};

// What the core needs of the main window: status bar parts 0-3, the two-line file line,
// the progress bar, message boxes, the controls, the selected operation, the Cancel
// command and the three modal dialogs of the file and slot choice.
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

    // Modal dialogs. A frontend without dialogs keeps these defaults, which answer as if
    // the user had cancelled.

    // The open-file dialog of the downloads: the file and its folder must exist, the first
    // filter is selected, it starts in `start_directory` (empty: the frontend's choice) and
    // leaves the process's current directory alone. The chosen path, or nothing.
    virtual std::optional<std::string> file_dialog(std::span<const FileFilter> filters,
                                                   std::string_view start_directory) {
        (void)filters, (void)start_directory;
        return std::nullopt;
    }
    // The folder chooser of the uploads, titled `title`: starts in `start_directory`, shows
    // the current folder while the user moves about, and answers the folder only on OK.
    virtual std::optional<std::string> folder_dialog(std::string_view title,
                                                     std::string_view start_directory) {
        (void)title, (void)start_directory;
        return std::nullopt;
    }
    // The autotest slot dialog: lists the entries of `directory_text` (autotest_entries in
    // protocol/file_choice.h) and ends on New, Replace, Delete or Cancel (autotest_button
    // there says what each button does).
    virtual AutotestChoice autotest_slot_dialog(std::string_view directory_text) {
        (void)directory_text;
        return AutotestChoice{};
    }
};

}  // namespace trelvo
