// The settings file is replaced whole or not at all, and a link named trelvo.ini is kept.
#include <gtest/gtest.h>

#include "tests/results/file_size_limit.h"
#include "tests/settings/settings_fixture.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using SettingsFileSafety = SettingsFileTest;

// A write that fails once the file is open (a full disk, here a file-size limit) leaves the
// old file as it was, byte for byte, and says so.
TEST_F(SettingsFileSafety, FailedWriteLeavesTheOldFileUnchanged) {
    const std::string old =
        "[Version]\r\n410\r\n[Port]\r\nCOM3\r\n[Function]\r\n2\r\n"
        "[UL Result]\r\n/data/results\r\n";
    put("trelvo.ini", old);
    SettingsState state = load(old);
    bool written = true;
    {
        testing::FileSizeLimit limit(old.size() + 8);
        written = write_settings(state, window, dir);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(get("trelvo.ini"), old);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "Cannot create INI-File");
    EXPECT_EQ(files(), 1);  // no temporary file left behind
}

// A link named trelvo.ini is written through to its target, which is replaced beside it;
// the link stays a link. A dangling one is not written through.
TEST_F(SettingsFileSafety, LinkNamedLikeTheSettingsFileKeepsPointingAtItsTarget) {
    fs::create_directory(dir / "keep");
    std::ofstream(dir / "keep" / "real.ini", std::ios::binary) << "[Port]\r\nCOM3\r\n";
    fs::create_symlink("keep/real.ini", dir / "trelvo.ini");
    SettingsState state;
    load_settings(state, window, dir);
    EXPECT_EQ(state.port_number, 3u);
    state.port_number = 9;
    EXPECT_TRUE(write_settings(state, window, dir));
    EXPECT_TRUE(fs::is_symlink(dir / "trelvo.ini"));
    EXPECT_TRUE(get("trelvo.ini").starts_with("[Version]\r\n410\r\n[Port]\r\nCOM9\r\n"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "keep"), {}), 1);
    EXPECT_EQ(files(), 2);

    fs::remove(dir / "keep" / "real.ini");
    EXPECT_FALSE(write_settings(state, window, dir));
    EXPECT_FALSE(fs::exists(dir / "keep" / "real.ini"));
    EXPECT_TRUE(fs::is_symlink(dir / "trelvo.ini"));
    EXPECT_EQ(window.messages.size(), 1u);
}

}  // namespace
}  // namespace trelvo
