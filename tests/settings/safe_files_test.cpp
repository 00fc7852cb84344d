#include "settings/safe_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/settings/settings_fixture.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using SafeFiles = SettingsFileTest;

// A link planted under an output's name is refused, and nothing is created or emptied
// through it; a FIFO is refused without waiting for a writer.
TEST_F(SafeFiles, CreateOutputFileRefusesLinksAndSpecialFiles) {
    put("target", "keep");
    fs::create_symlink(dir / "target", dir / "link");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const char* name : {"link", "dangling", "fifo"}) {
        errno = 0;
        EXPECT_EQ(create_output_file((dir / name).string()), nullptr) << name;
        EXPECT_NE(errno, 0) << name;
    }
    EXPECT_EQ(get("target"), "keep");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_EQ(file_reason(ELOOP, "out/R.csv"), std::string(std::strerror(ELOOP)) + ": out/R.csv");

    put("old", "old contents");
    std::FILE* file = create_output_file((dir / "old").string());
    ASSERT_NE(file, nullptr);
    std::fputs("new", file);
    std::fclose(file);
    EXPECT_EQ(get("old"), "new");
}

// Names that a tester may send or a conversion may make, against the program's own files.
TEST_F(SafeFiles, NamesOfTheProgramsOwnFilesGetASubstitute) {
    fs::create_directory(dir / "in");
    put("batch.txt", "-F3\n");
    put("trelvo.log", "log");
    SettingsState state;
    state.program_directory = dir;
    state.batch_script = dir / "batch.txt";
    const std::string home = dir.string() + "/";
    const std::string in = home + "in/";
    struct Case {
        std::string directory, name, stored;
    };
    for (const Case& c : {
             Case{home, "trelvo.ini", "_trelvo.ini"},
             Case{home, "trelvo.log", "_trelvo.log"},
             Case{home, "trelvoini3.old", "_trelvoini3.old"},
             Case{home, "batch.txt", "_batch.txt"},
             Case{in + "../", "trelvo.log", "_trelvo.log"},  // the same folder, spelt otherwise
             Case{home + "./", "batch.txt", "_batch.txt"},
             Case{in, "trelvo.ini", "trelvo.ini"},  // another folder: not ours
             Case{in, "batch.txt", "batch.txt"},
             Case{home, "trelvoini.old", "trelvoini.old"},  // not a backup name
             Case{home, "TRELVO.LOG", "TRELVO.LOG"},        // another file here
             Case{home, ".", "."},
         }) {
        bool substituted = true;
        EXPECT_EQ(unreserved_name(state, c.directory, c.name, substituted), c.stored)
            << c.directory << c.name;
        EXPECT_EQ(substituted, c.stored != c.name) << c.directory << c.name;
    }
    // The fallback to the current folder counts too, and a second name for the same file
    // (a hard link, a link to the folder) is the same file.
    fs::create_hard_link(dir / "trelvo.log", dir / "in" / "log.txt");
    fs::create_directory_symlink(dir, dir / "in" / "home");
    bool substituted = false;
    EXPECT_EQ(unreserved_name(state, in, "log.txt", substituted), "_log.txt");
    EXPECT_EQ(unreserved_name(state, in + "home/", "trelvo.ini", substituted), "_trelvo.ini");
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    EXPECT_EQ(unreserved_name(state, in, "trelvo.log", substituted), "_trelvo.log");
    fs::current_path(previous);
}

}  // namespace
}  // namespace trelvo
