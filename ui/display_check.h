// Whether the desktop window can start: the display connection and Qt's platform plugin
// are tried before the Qt application is made, since Qt ends the whole process when its
// platform cannot start.
#pragma once

#include <memory>
#include <string>

namespace trelvo::ui {

struct WindowPlatform {
    std::string name;            // the Qt platform to start on ("xcb", "wayland", "offscreen", ...)
    std::string problem;         // empty when `name` can start; otherwise why no window can open
    std::shared_ptr<void> held;  // the display connection tried, to close once Qt has its own
};

// The first platform that can start: QT_QPA_PLATFORM's list when it is set, else the X
// display (DISPLAY) and the Wayland display (WAYLAND_DISPLAY) that are set, the session's
// kind first.
WindowPlatform window_platform();

}  // namespace trelvo::ui
