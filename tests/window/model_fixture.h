// A main window model in a scratch folder, on the in-memory line and the virtual clock:
// COM3 is there, Upload Result List is selected, and nothing answers on the line.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "engine/virtual_clock.h"
#include "tests/support/memory_device.h"
#include "tests/support/model_window.h"
#include "window/main_window_model.h"

namespace trelvo::testing {

class ModelFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "trelvo-window-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        shared.directory = pattern;
        window.model = &model;
        state.port_number = 3;
        opener.provide(3, link.pc());
        state.operation_index = 3;
    }
    void TearDown() override { std::filesystem::remove_all(shared.directory); }
    // Called after every engine tick.
    virtual void after_tick() {}

    VirtualClock clock;
    ModelWindow window;
    SettingsState state;
    StartGate gate;
    MemoryLink link{clock};
    MemoryOpener opener;
    WindowShared shared{state, gate, opener, {}, "."};
    VirtualTimer timer{clock, [this](int identifier) {
                           engine.engine_tick(identifier);
                           after_tick();
                       }};
    Engine engine{state, window, clock, timer};
    FakeScanner scanner;
    MainWindowModel model{shared, engine, scanner, window, std::chrono::milliseconds(0)};
};

}  // namespace trelvo::testing
