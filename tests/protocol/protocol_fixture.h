// A run of the real step tables against a scripted tester, in a fresh temporary directory
// that is also the current directory (where received files fall back to).
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/control_bytes.h"
#include "operations/operation_table.h"
#include "tests/protocol/scripted_tester.h"
#include "tests/support/engine_harness.h"

namespace trelvo::testing {

namespace fs = std::filesystem;

class ProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trelvo-protocol-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        previous = fs::current_path();
        fs::current_path(dir);
        h.state.port_number = 3;
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(dir);
    }

    // Writes `content` to `name` in the temporary directory; returns the path.
    std::string write_file(const std::string& name, const std::string& content) {
        fs::path path = dir / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    static std::string read_file(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::string pattern(size_t size) {
        std::string text(size, '\0');
        for (size_t i = 0; i < size; ++i)
            text[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        return text;
    }

    // An automatic run of `operation` with `path` from the command line.
    void start_automatic(int32_t operation, const std::string& path) {
        h.state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
        h.state.command_line_path = path;
        h.start(operation_table[operation - 1]);
    }
    void start(int32_t operation) { h.start(operation_table[operation - 1]); }

    size_t count_sent(Sent::Kind kind) const {
        return std::count_if(tester.sent.begin(), tester.sent.end(),
                             [kind](const Sent& s) { return s.kind == kind; });
    }

    fs::path dir, previous;
    EngineHarness h;
    ScriptedTester tester{h};
};

}  // namespace trelvo::testing
