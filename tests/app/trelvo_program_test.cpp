// The real trelvo program in a scratch folder, for everything that needs no tester: the
// settings written on Cancel, runs whose port is missing, the rebuilt
// command line, the console's prompt and Ctrl-C, exit statuses, and the port listing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "sim/sample_data.h"
#include "tests/app/program_process.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using testing::Input;
using testing::log_lines;
using testing::ProgramProcess;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// COM200 has no device under the port-number convention: a port that does not exist.
const std::string MISSING_PORT = "-C200";
// Why it cannot be opened, as the run log gives it under the error.
const std::string REASON = "       COM200: no device belongs to this port number";

class TrelvoProgram : public ::testing::Test {
  protected:
    fs::path dir() const { return scratch.path; }
    bool settings_written() const { return fs::exists(dir() / "trelvo.ini"); }
    ScratchDir scratch;
};

TEST_F(TrelvoProgram, EmptyCommandLineWithInputClosedWritesTheSettings) {
    ProgramProcess trelvo(dir(), {});
    EXPECT_EQ(trelvo.wait(), 0);
    std::string ini = read_file(dir() / "trelvo.ini");
    EXPECT_EQ(ini.rfind("[Version]\r\n410\r\n[Port]\r\n", 0), 0u) << ini.substr(0, 60);
    EXPECT_NE(ini.find("[Upload Result mode]\r\n64\r\n"), std::string::npos);
    EXPECT_NE(ini.find("[Printout Table]\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir() / "trelvo.log"));
    EXPECT_NE(trelvo.err().find("Scanning COM Ports\n"), std::string::npos);
}

TEST_F(TrelvoProgram, AutomaticRunOnAMissingPortLogsInvalidComPort) {
    ProgramProcess trelvo(dir(), {"-F3", MISSING_PORT}, Input::Text);
    EXPECT_EQ(trelvo.wait(), 1);
    EXPECT_EQ(log_lines(dir()),
              (std::vector<std::string>{"---->", "trelvo -F3 -C200", "Upload Result List Aborted",
                                        "Error: Invalid COM Port.", REASON, ""}));
    EXPECT_FALSE(settings_written());
    EXPECT_NE(trelvo.err().find("trelvo: Error: Invalid COM Port.\n  " + REASON.substr(7) + "\n"),
              std::string::npos)
        << trelvo.err();
}

TEST_F(TrelvoProgram, UnreachableDisplayMeansTheConsoleWithANote) {
    if (fs::exists("/tmp/.X11-unix/X99")) GTEST_SKIP() << "an X server listens on :99";
    ProgramProcess trelvo(dir(), {"-F3", MISSING_PORT}, Input::Text, {}, ":99");
    EXPECT_EQ(trelvo.wait(), 1);
    const std::string err = trelvo.err();
    EXPECT_EQ(err.rfind("trelvo: cannot open a window on the display :99; running in the "
                        "terminal\nScanning COM Ports\n",
                        0),
              0u)
        << err;
    EXPECT_NE(err.find("trelvo: Error: Invalid COM Port.\n"), std::string::npos) << err;
    EXPECT_EQ(log_lines(dir()).at(3), "Error: Invalid COM Port.");
}

TEST_F(TrelvoProgram, LogGrowsByOneEntryPerAutomaticRun) {
    for (int i = 0; i < 2; ++i) {
        ProgramProcess trelvo(dir(), {"-F0", MISSING_PORT});
        EXPECT_EQ(trelvo.wait(), 1);
    }
    EXPECT_EQ(log_lines(dir()).size(), 12u);
}

struct Rebuilt {
    std::vector<std::string> args;
    const char* logged;
};
void PrintTo(const Rebuilt& c, std::ostream* os) {
    *os << c.args.size() << " arguments";
}

class TrelvoArguments : public TrelvoProgram, public ::testing::WithParamInterface<Rebuilt> {};

TEST_P(TrelvoArguments, ThreeSpellingsOfOnePathMeanTheSame) {
    ProgramProcess trelvo(dir(), GetParam().args);
    EXPECT_EQ(trelvo.wait(), 1);
    std::vector<std::string> lines = log_lines(dir());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], GetParam().logged);
    EXPECT_EQ(lines[2], "Upload Result List Aborted");
}

INSTANTIATE_TEST_SUITE_P(Table, TrelvoArguments,
                         ::testing::Values(Rebuilt{{"-F3", "-P", "/data/results", MISSING_PORT},
                                                   "trelvo -F3 -P \"/data/results\" -C200"},
                                           Rebuilt{{"-F3", "-P/data/results", MISSING_PORT},
                                                   "trelvo -F3 -P\"/data/results\" -C200"},
                                           Rebuilt{{"-F3 -P\"/data/results\"", MISSING_PORT},
                                                   "trelvo -F3 -P\"/data/results\" -C200"}));

TEST_F(TrelvoProgram, QuotedPathIsNeverSearchedForOptions) {
    ProgramProcess trelvo(dir(), {MISSING_PORT, "-P", "/data/run-F2"});
    EXPECT_EQ(trelvo.wait(), 0);
    EXPECT_FALSE(fs::exists(dir() / "trelvo.log"));
    EXPECT_TRUE(settings_written());
}

TEST_F(TrelvoProgram, EnterIsOkAndTheEndOfInputIsCancel) {
    ProgramProcess trelvo(dir(), {MISSING_PORT, "-B9600", "-F7"}, Input::Text, "\n");
    EXPECT_EQ(trelvo.wait(), 0);
    std::string err = trelvo.err();
    EXPECT_NE(err.find("Port: COM200 (not found)\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Baudrate: 9600\n"), std::string::npos);
    EXPECT_NE(err.find("Function: Firmware Update\n"), std::string::npos);
    EXPECT_NE(err.find("Options: Norvane Output File\n"), std::string::npos);
    EXPECT_NE(
        err.find("trelvo: Invalid Port COM200 COM200: no device belongs to this port number\n"),
        std::string::npos)
        << err;
    // The prompt again after the failed start, then the end of input closes.
    EXPECT_NE(err.find("Function:", err.find("trelvo: Invalid Port")), std::string::npos);
    EXPECT_TRUE(settings_written());
    EXPECT_FALSE(fs::exists(dir() / "trelvo.log"));
}

TEST_F(TrelvoProgram, CtrlCOutsideARunSavesAndCloses) {
    ProgramProcess trelvo(dir(), {"-C5"}, Input::OpenPipe);
    ASSERT_TRUE(trelvo.wait_for_stderr("Waiting for a line to start")) << trelvo.err();
    EXPECT_FALSE(settings_written());
    trelvo.signal(SIGINT);
    EXPECT_EQ(trelvo.wait(std::chrono::seconds(10)), 0);
    EXPECT_TRUE(settings_written());
    EXPECT_NE(trelvo.err().find("Cancel\n"), std::string::npos);
}

struct Unusable {
    std::vector<std::string> args;
    const char* message;
};
void PrintTo(const Unusable& c, std::ostream* os) {
    *os << c.args.back();
}

class TrelvoUnusableOption : public TrelvoProgram,
                             public ::testing::WithParamInterface<Unusable> {};

TEST_P(TrelvoUnusableOption, ExitsWithStatusTwoBeforeAnything) {
    ProgramProcess trelvo(dir(), GetParam().args);
    EXPECT_EQ(trelvo.wait(), 2);
    EXPECT_NE(trelvo.err().find(GetParam().message), std::string::npos) << trelvo.err();
    EXPECT_FALSE(settings_written());
    EXPECT_FALSE(fs::exists(dir() / "trelvo.log"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrelvoUnusableOption,
    ::testing::Values(Unusable{{"--frobnicate"}, "trelvo: unknown option --frobnicate\n"},
                      Unusable{{"-F3", "--convert"}, "trelvo: --convert needs a file\n"}));

TEST_F(TrelvoProgram, HelpAndVersionWriteToStdout) {
    ProgramProcess help(dir(), {"--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_EQ(help.out().rfind("Usage: trelvo", 0), 0u);
    ProgramProcess version(dir(), {"--version"});
    EXPECT_EQ(version.wait(), 0);
    EXPECT_EQ(version.out(), "trelvo 4.21\n");
    EXPECT_FALSE(settings_written());
}

// A list named like the block file of its first phone, converted with IMEI names into its
// own folder: the split writes over the list and then removes it. The conversion works on
// a copy and puts the list back byte for byte, also past the first 64 KiB.
TEST_F(TrelvoProgram, ConvertPutsBackAListThatTheSplitWroteOver) {
    const std::string name = "350123451234560_091437_12032024.res";  // IMEI_time_date
    std::string list;
    while (list.size() < 200 * 1024)
        list += sim::sample_result_list(72);
    write_file(dir() / name, list);
    ProgramProcess convert(dir(), {"--convert", name, "-ME1", "-MI1"});
    EXPECT_EQ(convert.wait(), 0) << convert.err();
    EXPECT_NE(convert.err().find(name + ": the conversion wrote over or removed the result list; "
                                        "it is restored"),
              std::string::npos)
        << convert.err();
    EXPECT_TRUE(read_file(dir() / name) == list);
}

// A pseudo-terminal whose slave side stands for a serial port.
struct Pty {
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = ::ptsname(master);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    int master = -1;
    std::string path;
};

TEST_F(TrelvoProgram, ListPortsShowsMappedPortsIncludingOneInUse) {
    Pty free_port, held_port;
    ASSERT_FALSE(free_port.path.empty());
    ASSERT_FALSE(held_port.path.empty());
    int holder = ::open(held_port.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    write_file(dir() / "trelvo.ini", "[Version]\n410\n[Port map]\nCOM201=" + free_port.path +
                                         "\nCOM202=" + held_port.path +
                                         "\nCOM203=/nonexistent/tty\n");
    ProgramProcess trelvo(dir(), {"--list-ports"});
    EXPECT_EQ(trelvo.wait(), 0);
    std::string out = trelvo.out();
    EXPECT_NE(out.find("COM201 " + free_port.path.substr(5) + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("COM202 " + held_port.path.substr(5) + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("COM203"), std::string::npos);
    ::close(holder);
}

// The scan opens the configured port and releases the gate; the posted start obtains it,
// opens the port and runs. Ctrl-C breaks the run: no longer automatic, the window stays
// open until the end of input closes it, and nothing is logged.
TEST_F(TrelvoProgram, AutomaticRunStartsOnceTheScanOpenedItsPortAndCtrlCBreaksIt) {
    Pty tester;
    ASSERT_FALSE(tester.path.empty());
    write_file(dir() / "trelvo.ini", "[Version]\n410\n[Port map]\nCOM201=" + tester.path + "\n");
    ProgramProcess trelvo(dir(), {"-F3", "-C201"});
    ASSERT_TRUE(trelvo.wait_for_stderr("Detect KV70\n")) << trelvo.err();
    trelvo.signal(SIGINT);
    EXPECT_EQ(trelvo.wait(), 1);
    std::string err = trelvo.err();
    EXPECT_NE(err.find("Scanning COM Ports\nIdle\nDetect KV70\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Cancel: breaking the run\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Status: Aborted"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir() / "trelvo.log"));
    EXPECT_NE(read_file(dir() / "trelvo.ini").find("[Port]\r\nCOM201\r\n"), std::string::npos);
}

}  // namespace
}  // namespace trelvo
