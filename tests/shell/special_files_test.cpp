// The program's own files (batch script, run log, settings file) when something other than
// a regular file stands under their names: refused with a message, never waited on.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/settings_file.h"
#include "shell/command_line.h"
#include "shell/run_log.h"
#include "tests/support/recording_window.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;

enum class Kind { Fifo, DevZero, Directory, LinkToFile, DanglingLink };

struct SpecialCase {
    const char* what;
    Kind kind;
};

void PrintTo(const SpecialCase& c, std::ostream* out) {
    *out << c.what;
}

class SpecialFile : public ::testing::TestWithParam<SpecialCase> {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trelvo-special-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        // A FIFO that is opened for reading would wait for a writer for ever: the limit turns
        // that hang into a quick failure.
        ::alarm(20);
    }
    void TearDown() override {
        ::alarm(0);
        fs::remove_all(dir);
    }

    // Puts the case's kind of file under `name`; a link to a file points at "real", which
    // holds `contents`.
    void plant(const std::string& name, const std::string& contents) {
        const fs::path path = dir / name;
        switch (GetParam().kind) {
            case Kind::Fifo:
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
                break;
            case Kind::DevZero:
                fs::create_symlink("/dev/zero", path);
                break;
            case Kind::Directory:
                fs::create_directory(path);
                break;
            case Kind::LinkToFile:
                std::ofstream(dir / "real", std::ios::binary) << contents;
                fs::create_symlink(dir / "real", path);
                break;
            case Kind::DanglingLink:
                fs::create_symlink(dir / "real", path);
                break;
        }
    }
    std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool usable() const { return GetParam().kind == Kind::LinkToFile; }

    fs::path dir;
    SettingsState state;
    testing::RecordingWindow window;
};

TEST_P(SpecialFile, BatchScriptIsOpenedOnlyWhenItIsARegularFile) {
    plant("batch.txt", "-F2\n");
    BatchScript script;
    parse_command_line(state, "-S\"" + (dir / "batch.txt").string() + "\" -F1", script, &window);
    EXPECT_EQ(script.is_open(), usable());
    if (usable()) {
        EXPECT_TRUE(window.messages.empty());
        std::string line;
        EXPECT_TRUE(script.read_line(line));
        EXPECT_EQ(line, "-F2");
    } else {
        // The line runs on as with a script that is missing, after the message.
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_TRUE(window.messages[0].text.starts_with("Cannot open the batch script\n\n"))
            << window.messages[0].text;
        EXPECT_NE(window.messages[0].text.find("batch.txt"), std::string::npos);
        EXPECT_TRUE(state.automatic_run());
    }
}

TEST_P(SpecialFile, RunLogEntryGoesOnlyIntoARegularFile) {
    plant("trelvo.log", "earlier\r\n");
    state.command_line_flags = CMD_AUTOMATIC;
    ::testing::internal::CaptureStderr();
    write_run_log(state, "-F2", "-F2", "Completed", dir);
    const std::string said = ::testing::internal::GetCapturedStderr();
    if (usable()) {
        EXPECT_TRUE(read(dir / "real").starts_with("earlier\r\n----> "));
        EXPECT_TRUE(fs::is_symlink(dir / "trelvo.log"));
        EXPECT_EQ(said, "");
    } else {
        EXPECT_TRUE(said.starts_with("trelvo: run log entry not written: ")) << said;
        EXPECT_FALSE(fs::exists(dir / "real"));  // not created at a dangling link's end
    }
}

TEST_P(SpecialFile, SettingsFileIsReadOnlyWhenItIsARegularFile) {
    plant("trelvo.ini", "[Version]\r\n410\r\n[Port]\r\nCOM7\r\n");
    load_settings(state, window, dir);
    EXPECT_EQ(state.port_number, usable() ? 7u : 0u);
    const bool told = GetParam().kind != Kind::LinkToFile && GetParam().kind != Kind::DanglingLink;
    ASSERT_EQ(window.messages.size(), told ? 1u : 0u);
    if (told) {
        EXPECT_TRUE(window.messages[0].text.starts_with("Cannot read INI-File\n\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpecialFile,
                         ::testing::Values(SpecialCase{"Fifo", Kind::Fifo},
                                           SpecialCase{"DevZero", Kind::DevZero},
                                           SpecialCase{"Directory", Kind::Directory},
                                           SpecialCase{"LinkToFile", Kind::LinkToFile},
                                           SpecialCase{"DanglingLink", Kind::DanglingLink}),
                         [](const auto& info) { return std::string(info.param.what); });

// "-S/dev/zero" itself: a device that never ends is no script.
TEST(SpecialScript, DeviceIsRefusedAtOnce) {
    SettingsState state;
    testing::RecordingWindow window;
    BatchScript script;
    parse_command_line(state, "-S\"/dev/zero\" -F1", script, &window);
    EXPECT_FALSE(script.is_open());
    EXPECT_EQ(window.messages.size(), 1u);
}

}  // namespace
}  // namespace trelvo
