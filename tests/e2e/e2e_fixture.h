// Whole operations of the real step tables against the simulated tester: in-process on the
// virtual clock over a memory line, or in real time against the kv70sim program.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/virtual_clock.h"
#include "operations/operation_table.h"
#include "serial/tester_port.h"
#include "sim/clock_driver.h"
#include "sim/tester.h"
#include "tests/support/memory_device.h"
#include "tests/support/recording_window.h"

namespace trelvo::e2e {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string pattern(size_t size, uint32_t seed = 7) {
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    return bytes;
}

// Names of the files in `dir`, sorted.
inline std::vector<std::string> files_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class ScratchDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern_dir = (fs::temp_directory_path() / "trelvo-e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern_dir.data()), nullptr);
        dir = pattern_dir;
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "out");
    }
    void TearDown() override { fs::remove_all(dir); }

    // An automatic run whose command-line path is `path` (a file to send, or the directory
    // that receives).
    void automatic(int operation_position, const fs::path& path, uint32_t options = 0) {
        state.operation_index = static_cast<uint32_t>(operation_position);
        state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
        state.command_line_path = path.string();
        state.options = options;
        window.operation = operation_position;
    }
    std::string write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / "in" / name, std::ios::binary) << bytes;
        return (dir / "in" / name).string();
    }

    fs::path dir;
    testing::RecordingWindow window;
    SettingsState state;
};

// The engine on the virtual clock, the simulated tester at the other end of a memory line.
class SimulatedTesterTest : public ScratchDirTest {
  protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        state.port_number = 1;
        opener.provide(1, link.pc());
    }
    void TearDown() override {
        driver.reset();
        tester.reset();
        ScratchDirTest::TearDown();
    }

    sim::Tester& start_tester(sim::TesterConfig config = {}) {
        tester = std::make_unique<sim::Tester>(link.tester(), clock, std::move(config));
        driver = std::make_unique<sim::ClockDriver>(clock, *tester);
        return *tester;
    }

    // Opens the port as the main window does and starts the selected operation.
    void start_run() {
        auto port = open_tester_port(state, window, clock, opener);
        ASSERT_NE(port, nullptr);
        engine.clear_status();
        engine.step_index = 0;
        engine.start_run(std::move(port), operation_table[state.operation_index]);
    }
    static constexpr uint32_t SETTLE_MS = 50;
    // Runs the clock until the run has ended or `limit_ms` of virtual time passed.
    bool run_for(uint32_t limit_ms) {
        uint32_t until = clock.now_ms() + limit_ms;
        while (engine.run_active() && clock.now_ms() < until)
            clock.fire_next();
        if (engine.run_active()) return false;
        // Steps follow each other at once: let the tester take in what the run sent last.
        clock.advance_to(clock.now_ms() + SETTLE_MS);
        return true;
    }
    bool run() {
        start_run();
        return run_for(3'600'000);
    }
    // How the tester saw its last transfer end.
    sim::TransferState last_transfer() const {
        return tester->transfers().empty() ? sim::TransferState::Running
                                           : tester->transfers().back().outcome;
    }

    VirtualClock clock;
    MemoryLink link{clock};
    MemoryOpener opener;
    VirtualTimer timer{clock, [this](int identifier) {
                           engine.engine_tick(identifier);
                           if (after_tick) after_tick(identifier);
                       }};
    // Called after every engine tick with the tick's identifier.
    std::function<void(int identifier)> after_tick;
    Engine engine{state, window, clock, timer};
    std::unique_ptr<sim::Tester> tester;
    std::unique_ptr<sim::ClockDriver> driver;
};

}  // namespace trelvo::e2e
