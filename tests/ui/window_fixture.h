// The desktop window under test: a scratch directory for the settings file and the files a
// run writes, pseudo-terminals as serial ports reached through the settings' port map, and
// an answering machine for the modal dialogs the window opens while a test waits.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "serial/posix_serial_device.h"
#include "settings/settings_file.h"
#include "tests/support/recording_window.h"
#include "ui/main_window.h"
#include "window/main_window_model.h"

namespace trelvo::ui::testing {

namespace fs = std::filesystem;

// A pseudo-terminal pair: its far end is a serial port for the program; the test keeps the
// near end, so the port stays there for as long as the object lives.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) == 0) path_ = name;
    }
    ~PseudoTerminal() {
        if (master_ >= 0) ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& path() const { return path_; }
    // The port list's name for the device ("pts/3").
    std::string label() const { return device_label(path_); }

  private:
    int master_ = -1;
    std::string path_;
};

// Answers modal dialogs while the test's event loop runs. A message box is recorded and
// closed with OK. Every other dialog, each time it becomes the active modal window, goes
// to the next handler queued; with none left it is closed and counted as unexpected.
// Handlers must not block: a click that opens another dialog goes through click_later.
class ModalAnswers {
  public:
    ModalAnswers() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    void then(std::function<void(QWidget& dialog)> handler) {
        handlers_.push_back(std::move(handler));
    }
    bool handlers_done() const { return handlers_.empty(); }

    std::vector<std::string> messages;
    int unexpected = 0;

  private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            active_ = nullptr;
            return;
        }
        if (modal == active_) return;
        active_ = modal;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages.push_back(box->text().toStdString());
            box->accept();
            return;
        }
        if (handlers_.empty()) {
            ++unexpected;
            modal->close();
            return;
        }
        auto handler = std::move(handlers_.front());
        handlers_.pop_front();
        handler(*modal);
    }

    QTimer timer_;
    QPointer<QWidget> active_;
    std::deque<std::function<void(QWidget&)>> handlers_;
};

// Clicks `button` once the current handler has returned.
inline void click_later(QAbstractButton* button) {
    QTimer::singleShot(0, button, &QAbstractButton::click);
}

// Runs a shell command and gives its standard output.
inline std::string output_of(const std::string& command) {
    std::string text;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    ::pclose(pipe);
    return text;
}

class WindowTest : public ::testing::Test {
  public:
    template <class Widget>
    Widget& control(const char* name) {
        auto* widget = window->findChild<Widget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }

  protected:
    static constexpr int WAIT_MS = 5000;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trelvo-ui-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        // Ports outside the port map resolve below an empty folder: they are not there.
        fs::create_directories(dir / "dev");
        trelvo::testing::RecordingWindow quiet;
        load_settings(state, quiet, dir);
        opener = std::make_unique<PosixDeviceOpener>(state, (dir / "dev").string());
        shared = std::make_unique<WindowShared>(WindowShared{state, gate, *opener, {}, dir});
    }
    void TearDown() override {
        window.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Opens the window as the shell does, but shown without waiting, so the test drives it.
    MainWindow& open(MainWindowOptions options = {}) {
        window = std::make_unique<MainWindow>(*shared, options);
        window->start();
        if (!window->closed()) window->show();
        return *window;
    }

    bool wait_for(const std::function<bool()>& condition, int ms = WAIT_MS) {
        return QTest::qWaitFor(condition, ms);
    }
    bool wait_for_scan() {
        return wait_for([this] { return window->model().scan_finished(); });
    }

    bool settings_written() const { return fs::exists(dir / "trelvo.ini"); }

    fs::path dir;
    SettingsState state;
    StartGate gate;
    std::unique_ptr<PosixDeviceOpener> opener;
    std::unique_ptr<WindowShared> shared;
    ModalAnswers modals;
    std::unique_ptr<MainWindow> window;
};

}  // namespace trelvo::ui::testing
