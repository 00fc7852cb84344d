// A window surface that records everything the core shows, for assertions in tests.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/platform.h"

namespace trelvo::testing {

class RecordingWindow : public WindowSurface {
  public:
    struct Message {
        std::string text;
        MessageIcon icon;
    };

    void set_status_text(int part, std::string_view text) override;
    void set_file_line(std::string_view text) override;
    void message_box(std::string_view text, MessageIcon icon) override;
    void enable_controls() override {
        ++enabled;
        controls_enabled = true;
    }
    void disable_controls() override {
        ++disabled;
        controls_enabled = false;
    }
    int selected_operation() override { return operation; }
    void send_cancel() override;
    void set_progress_range(int low, int high) override {
        progress_low = low, progress_high = high;
    }
    void set_progress_position(int position) override { progress = position; }
    void set_progress_step(int step) override { progress_step = step; }
    void progress_step_it() override { progress += progress_step; }

    // The dialogs answer from the scripts below; a dialog whose script has run out answers
    // as if the user had cancelled.
    std::optional<std::string> file_dialog(std::span<const FileFilter> filters,
                                           std::string_view start_directory) override;
    std::optional<std::string> folder_dialog(std::string_view title,
                                             std::string_view start_directory) override;
    AutotestChoice autotest_slot_dialog(std::string_view directory_text) override;

    struct FileDialogCall {
        std::vector<FileFilter> filters;
        std::string start_directory;
    };
    struct FolderDialogCall {
        std::string title;
        std::string start_directory;
    };
    // One press in the autotest slot dialog: a button (AUTOTEST_*) with the entry selected
    // at that moment (-1: none).
    struct AutotestPressing {
        int button;
        int selected = -1;
    };

    // Each file dialog takes the next answer: a path (OK) or nothing (Cancel).
    std::deque<std::optional<std::string>> file_answers;
    std::vector<FileDialogCall> file_dialogs;
    // Each folder chooser takes the next answer: a folder (OK) or nothing (Cancel).
    std::deque<std::optional<std::string>> folder_answers;
    std::vector<FolderDialogCall> folder_dialogs;
    // Each slot dialog takes the next list of presses and plays them as the dialog does
    // until one closes it; the lists it showed are kept.
    std::deque<std::vector<AutotestPressing>> autotest_answers;
    std::vector<std::vector<std::string>> autotest_lists;

    // Every text part 0 ever showed, in order (repeats collapsed).
    std::vector<std::string> status_history;
    std::array<std::string, 4> status;
    std::string file_line;
    std::vector<Message> messages;
    int progress_low = 0, progress_high = 100, progress = 0, progress_step = 1;
    int enabled = 0, disabled = 0;
    bool controls_enabled = true;
    int operation = 0;
    int cancels = 0;
    std::function<void()> on_cancel;  // what the window does with its Cancel command
};

}  // namespace trelvo::testing
