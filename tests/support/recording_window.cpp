#include "tests/support/recording_window.h"

namespace trelvo::testing {

void RecordingWindow::set_status_text(int part, std::string_view text) {
    if (part < 0 || part > 3) return;
    status[part] = std::string(text);
    if (part == 0 && (status_history.empty() || status_history.back() != text))
        status_history.emplace_back(text);
}

void RecordingWindow::set_file_line(std::string_view text) {
    file_line = std::string(text);
}

void RecordingWindow::message_box(std::string_view text, MessageIcon icon) {
    messages.push_back({std::string(text), icon});
}

void RecordingWindow::send_cancel() {
    ++cancels;
    if (on_cancel) on_cancel();
}

}  // namespace trelvo::testing
