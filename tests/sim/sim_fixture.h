// The simulated tester on the virtual clock over a memory line, with the test's PC at the
// other end, and a scratch directory for stored files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/virtual_clock.h"
#include "sim/clock_driver.h"
#include "sim/tester.h"
#include "tests/sim/pc_side.h"
#include "tests/support/memory_device.h"

namespace trelvo::sim::testing {

class SimTest : public ::testing::Test {
  protected:
    void TearDown() override {
        driver_.reset();
        tester_.reset();
        if (!scratch_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(scratch_, ignored);
        }
    }

    Tester& start(TesterConfig config = {}) {
        driver_.reset();
        tester_ = std::make_unique<Tester>(link_.tester(), clock_, std::move(config));
        driver_ = std::make_unique<ClockDriver>(clock_, *tester_);
        return *tester_;
    }

    // A fresh directory, removed after the test.
    const std::filesystem::path& scratch() {
        if (scratch_.empty()) {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "kv70sim-test-XXXXXX").string();
            char* made = mkdtemp(pattern.data());
            EXPECT_NE(made, nullptr);
            scratch_ = pattern;
        }
        return scratch_;
    }

    static std::string file_contents(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    Tester& tester() { return *tester_; }
    // Lets the tester take in what the PC sent last (the final ACK of a transfer).
    void settle() { clock_.advance(5); }

    VirtualClock clock_;
    MemoryLink link_{clock_};
    PcSide pc_{link_.pc(), clock_};
    std::unique_ptr<Tester> tester_;
    std::unique_ptr<ClockDriver> driver_;
    std::filesystem::path scratch_;
};

// A file whose bytes run through every value, so that misplaced bytes show.
inline std::string pattern_file(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return data;
}

}  // namespace trelvo::sim::testing
