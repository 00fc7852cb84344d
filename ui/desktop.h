// The desktop session of the program: the Qt application, the main windows it opens, and
// message boxes before any window exists. The program makes one when a display is there.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "shell/program.h"
#include "ui/display_check.h"
#include "window/main_window_model.h"

class QApplication;

namespace trelvo::ui {

class Desktop {
  public:
    // Connects to the display through Qt's `platform`, which must be able to start (see
    // window_platform). The program's arguments stay its own: Qt sees none of them.
    Desktop(std::string program_name, WindowPlatform platform);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // One main window, run until it closes; it takes the program's signals from the
    // self-pipe whose read end is `signal_fd` (-1: none).
    WindowEnd open_window(WindowShared& shared, int signal_fd = -1);
    // The last window was asked by a signal to end the program.
    bool terminated() const { return terminated_; }
    // A message box without owner.
    void message_box(std::string_view text);

  private:
    std::string program_name_;
    std::string platform_;
    int argc_ = 3;
    char platform_option_[10] = "-platform";
    char* argv_[4] = {nullptr, nullptr, nullptr, nullptr};
    std::unique_ptr<QApplication> application_;
    bool terminated_ = false;
};

// The session for a program that has a display; nullptr when there is none, or none to
// connect to: then `problem` says so in a line for the user.
std::unique_ptr<Desktop> make_desktop(const char* program_name, std::string& problem);

}  // namespace trelvo::ui
