// A window surface that records everything the core shows, for assertions in tests.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "engine/platform.h"

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
