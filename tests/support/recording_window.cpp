#include "tests/support/recording_window.h"

#include "protocol/file_choice.h"

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

std::optional<std::string> RecordingWindow::file_dialog(std::span<const FileFilter> filters,
                                                        std::string_view start_directory) {
    file_dialogs.push_back(
        {std::vector<FileFilter>(filters.begin(), filters.end()), std::string(start_directory)});
    if (file_answers.empty()) return std::nullopt;
    std::optional<std::string> answer = file_answers.front();
    file_answers.pop_front();
    return answer;
}

std::optional<std::string> RecordingWindow::folder_dialog(std::string_view title,
                                                          std::string_view start_directory) {
    folder_dialogs.push_back({std::string(title), std::string(start_directory)});
    if (folder_answers.empty()) return std::nullopt;
    std::optional<std::string> answer = folder_answers.front();
    folder_answers.pop_front();
    return answer;
}

AutotestChoice RecordingWindow::autotest_slot_dialog(std::string_view directory_text) {
    std::vector<std::string> entries = autotest_entries(directory_text);
    autotest_lists.push_back(entries);
    std::vector<AutotestPressing> presses;
    if (!autotest_answers.empty()) {
        presses = autotest_answers.front();
        autotest_answers.pop_front();
    }
    uint8_t slot = 0;
    for (const AutotestPressing& pressing : presses) {
        AutotestPress press =
            autotest_button(pressing.button, entries.size(), pressing.selected, slot);
        if (press.closes) return press.choice;
        message_box(press.message, MessageIcon::None);
    }
    return autotest_button(AUTOTEST_CANCEL, entries.size(), -1, slot).choice;
}

}  // namespace trelvo::testing
