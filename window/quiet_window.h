// A window surface that shows nothing: for runs nobody watches (benchmarks, fuzzing). It
// keeps the status bar texts and counts the message boxes; the dialogs answer Cancel.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/platform.h"

namespace trelvo {

class QuietWindow : public WindowSurface {
  public:
    void set_status_text(int part, std::string_view text) override {
        if (part >= 0 && part < static_cast<int>(status.size())) status[part] = text;
    }
    void set_file_line(std::string_view) override {}
    void message_box(std::string_view text, MessageIcon) override {
        ++messages;
        last_message = text;
    }
    void enable_controls() override {}
    void disable_controls() override {}
    int selected_operation() override { return operation; }
    void send_cancel() override {}
    void set_progress_range(int, int) override {}
    void set_progress_position(int) override {}
    void set_progress_step(int) override {}
    void progress_step_it() override {}

    std::array<std::string, 4> status;
    int operation = 0;  // position of the selected operation
    int messages = 0;
    std::string last_message;
};

}  // namespace trelvo
