// A fresh temporary directory per test, with helpers to read a settings file through
// load_settings and to get back the bytes write_settings produced.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/settings_file.h"
#include "tests/support/recording_window.h"

namespace trelvo {

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "trelvo-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void put(const std::string& name, std::string_view bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    std::string get(const std::string& name) {
        std::ifstream in(dir / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    long files() { return std::distance(std::filesystem::directory_iterator(dir), {}); }

    SettingsState load(std::string_view ini, uint32_t command_line_flags = 0) {
        put("trelvo.ini", ini);
        SettingsState state;
        state.command_line_flags = command_line_flags;
        load_settings(state, window, dir);
        return state;
    }
    std::string written(SettingsState state) {
        EXPECT_TRUE(write_settings(state, window, dir));
        return get("trelvo.ini");
    }

    std::filesystem::path dir;
    testing::RecordingWindow window;
};

}  // namespace trelvo
