// Helpers of the split and MS type list tests: a fresh temporary working directory per test
// (with an output directory "out/"), and a real engine on a virtual clock over an
// in-memory line that runs a test table of steps.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/virtual_clock.h"
#include "results/imei_split.h"
#include "serial/tester_port.h"
#include "tests/support/memory_device.h"
#include "tests/support/recording_window.h"

namespace trelvo {

inline std::string read_back(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string content;
    char chunk[512];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        content.append(chunk, got);
    return content;
}

struct SeenBlock {
    std::string name;
    std::string content;
};

// What the conversions find between the split steps: a complete block (or the last one)
// in an open block file. Each counts as one output written, as a conversion of it would.
inline void look_at_block(TransferRecord& record, std::vector<SeenBlock>& seen) {
    SplitState split = record.imei.state;
    if (record.second_file != nullptr &&
        (split == SplitState::BlockComplete || split == SplitState::Finished)) {
        seen.push_back({record.imei.block_name, read_back(record.second_file)});
        ++record.outputs_written;
    }
}

class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "trelvo-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_);
        std::filesystem::create_directory("out");
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(directory_);
    }

    static void write_file(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string read_file(const std::string& path) {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
    static std::string data_file(const std::string& name) {
        return read_file(std::string(TRELVO_TEST_DATA) + "/split/" + name);
    }

    std::filesystem::path directory_;

  private:
    std::filesystem::path previous_;
};

// A window that also keeps the history of the file line and the progress bar, and what
// the stand-in steps of a test table saw.
struct StepWindow : testing::RecordingWindow {
    void set_file_line(std::string_view text) override {
        RecordingWindow::set_file_line(text);
        file_lines.emplace_back(text);
    }
    void set_progress_position(int position) override {
        RecordingWindow::set_progress_position(position);
        positions.push_back(position);
    }
    std::vector<std::string> file_lines;
    std::vector<int> positions;
    std::vector<SeenBlock> seen;
};

// A real engine on a virtual clock over an in-memory line; notes the row of every step.
struct StepRun {
    // Runs `steps` as operation `id` on `file` until the run has finished.
    bool run(int32_t id, const StepRow* steps, std::FILE* file) {
        operation = {id, steps, "test"};
        engine.clear_status();
        engine.step_index = 0;
        engine.start_run(std::make_unique<TesterPort>(link.pc().open_handle(), clock), operation);
        engine.transfer.file = file;  // the run starts without files; the steps bring them
        for (int ticks = 0; ticks < 100000 && engine.run_active(); ++ticks)
            clock.fire_next();
        return !engine.run_active();
    }

    VirtualClock clock;
    StepWindow window;
    SettingsState state;
    std::vector<int32_t> rows;
    MemoryLink link{clock};
    Operation operation{};
    VirtualTimer timer{clock, [this](int identifier) {
                           if (identifier == WE_STEP) rows.push_back(engine.step_index);
                           engine.engine_tick(identifier);
                       }};
    Engine engine{state, window, clock, timer};
};

}  // namespace trelvo
