// scripts/demo without a display: it runs the result list upload against the simulator in a
// folder of its own, lists the files and the run log entry, and stops the simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/app/program_process.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::ScratchDir;

TEST(Demo, RunsTheUploadHeadlessAndListsWhatItMade) {
    ScratchDir scratch;
    fs::path root = fs::path(TRELVO_TEST_DATA) / ".." / "..";
    fs::path build = fs::path(TRELVO_BIN_DIR) / "..";
    fs::path out = scratch.path / "demo.out";
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR='" + scratch.path.string() +
                          "' '" + (root / "scripts" / "demo").string() + "' --build-dir '" +
                          build.string() + "' >'" + out.string() + "' 2>&1";
    int status = std::system(command.c_str());
    std::string text = read_file(out);
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), 0) << text;
    EXPECT_NE(text.find("_12032024.csv\n"), std::string::npos) << text;
    EXPECT_NE(text.find("_12032024.txt\n"), std::string::npos);
    EXPECT_NE(text.find("\n  Upload Result List successful completed\n"), std::string::npos);
    // The simulator stopped: it logged so and took its link away.
    int folders = 0;
    for (const auto& entry : fs::directory_iterator(scratch.path)) {
        if (!entry.path().filename().string().starts_with("trelvo-demo.")) continue;
        ++folders;
        EXPECT_NE(read_file(entry.path() / "kv70sim.log").find("kv70sim: stopped"),
                  std::string::npos);
        EXPECT_FALSE(fs::exists(fs::symlink_status(entry.path() / "kv70")));
    }
    EXPECT_EQ(folders, 1);
}

}  // namespace
}  // namespace trelvo
