// A fresh temporary working directory per test (with an output directory "out/"), and a
// driver that runs the split as the result list upload table does, recording what the
// conversions would see of each block.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/transfer_record.h"
#include "results/imei_split.h"
#include "shell/settings_state.h"
#include "tests/support/recording_window.h"

namespace trelvo {

class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "trelvo-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_);
        std::filesystem::create_directory("out");
        record.directory = "out/";
    }
    void TearDown() override {
        close_file(record.file);
        close_file(record.second_file);
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
    void open_list(const std::string& path) {
        record.file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(record.file, nullptr) << path;
    }
    void open_text(const std::string& text) {
        write_file("received.txt", text);
        open_list("received.txt");
    }

    struct Seen {
        std::string name;
        std::string content;
    };

    // Where the conversions run: a complete block (or the last one) in an open block file.
    void look_at_block() {
        SplitState split = record.imei.state;
        if (record.second_file == nullptr ||
            (split != SplitState::BlockComplete && split != SplitState::Finished))
            return;
        std::fflush(record.second_file);
        std::rewind(record.second_file);
        std::string content;
        char chunk[512];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, record.second_file)) > 0;)
            content.append(chunk, got);
        seen.push_back({record.imei.block_name, content});
    }

    // begin, read, write, (conversions), next, jumping back as next says.
    void run_split(uint32_t options) {
        state.options = options;
        begin_split(record, options, window);
        SplitMove move = SplitMove::ReadMore;
        for (int rounds = 0; rounds < 100000; ++rounds) {
            if (move == SplitMove::ReadMore) read_split(record);
            write_split(record, state, window);
            look_at_block();
            move = next_split(record, options, window);
            progress.push_back(window.progress);
            if (move == SplitMove::NextRow) return;
        }
        FAIL() << "the split does not end";
    }

    TransferRecord record;
    SettingsState state;
    testing::RecordingWindow window;
    std::vector<Seen> seen;
    std::vector<int> progress;

  private:
    std::filesystem::path directory_;
    std::filesystem::path previous_;
};

}  // namespace trelvo
