// A main window for tests without a toolkit: records what the engine shows and hands the
// control calls to the model, as a real frontend does; posted work waits in a queue the test
// runs. With a scan that the test plays by hand.
#pragma once

#include <deque>
#include <functional>
#include <optional>

#include "tests/support/recording_window.h"
#include "window/main_window_model.h"
#include "window/port_scan.h"

namespace trelvo::testing {

struct ModelWindow : RecordingWindow, MainWindowFrontend {
    MainWindowModel* model = nullptr;
    std::deque<std::function<void()>> queue;
    uint32_t changes = 0;
    int closes = 0;

    void enable_controls() override {
        RecordingWindow::enable_controls();
        model->enable_controls();
    }
    void disable_controls() override {
        RecordingWindow::disable_controls();
        model->disable_controls();
    }
    int selected_operation() override { return model->selected_operation(); }
    void send_cancel() override {
        RecordingWindow::send_cancel();
        model->cancel();
    }
    void post(std::function<void()> work) override { queue.push_back(std::move(work)); }
    std::string status_text(int part) override { return status[part]; }
    void model_changed(uint32_t what) override { changes |= what; }
    void close_window() override { ++closes; }

    // Runs what is queued now (not what that work queues); the count run.
    size_t run_queued() {
        size_t count = queue.size();
        for (size_t i = 0; i < count; ++i) {
            auto work = std::move(queue.front());
            queue.pop_front();
            work();
        }
        return count;
    }
};

struct FakeScanner : PortScanner {
    std::optional<uint32_t> started_for;
    ScanEmit emit;
    int stops = 0;
    void start(uint32_t configured_port, ScanEmit e) override {
        started_for = configured_port;
        emit = std::move(e);
    }
    void stop() override { ++stops; }
};

}  // namespace trelvo::testing
