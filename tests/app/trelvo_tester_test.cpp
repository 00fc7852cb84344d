// The real trelvo program in a scratch folder against kv70sim on a pseudo-terminal, reached
// as a COM number through the settings file's port map: what the command line and batch
// scripts start, what the run log records, and the exit statuses. One simulator serves the
// whole suite; each case has its own folder.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <memory>
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
using testing::SimulatorProcess;
using testing::write_file;

const std::string FIRMWARE = std::string(200, 'f') + "end of image";

class TrelvoWithTester : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tester_dir_ = std::make_unique<ScratchDir>();
        tester_ = std::make_unique<SimulatorProcess>(tester_dir_->path);
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(tester_->stop(), 0);
        tester_.reset();
        tester_dir_.reset();
    }
    void SetUp() override { ASSERT_FALSE(tester_->link().empty()) << "kv70sim did not start"; }

    fs::path dir() const { return scratch_.path; }
    static fs::path store() { return tester_dir_->path / "store"; }
    static const std::string& link() { return tester_->link(); }
    static fs::path tester_log() { return tester_dir_->path / "kv70sim.log"; }

    // A settings file of these sections whose port map leads `mapped` to the tester.
    void settings(const std::string& sections, const std::vector<int>& mapped = {1}) {
        std::string text = "[Version]\r\n410\r\n" + sections + "[Port map]\r\n";
        for (int port : mapped)
            text += "COM" + std::to_string(port) + "=" + link() + "\r\n";
        write_file(dir() / "trelvo.ini", text);
    }
    std::string settings_file() const { return read_file(dir() / "trelvo.ini"); }
    bool has_log() const { return fs::exists(dir() / "trelvo.log"); }

  private:
    ScratchDir scratch_;
    static inline std::unique_ptr<ScratchDir> tester_dir_;
    static inline std::unique_ptr<SimulatorProcess> tester_;
};

TEST_F(TrelvoWithTester, EmptyCommandLineWaitsOnTheSettingsAndLogsNothing) {
    settings("[Port]\r\nCOM1\r\n[Baudrate]\r\n2\r\n[Function]\r\n3\r\n");
    ProgramProcess trelvo(dir(), {});
    EXPECT_EQ(trelvo.wait(), 0);
    std::string err = trelvo.err();
    EXPECT_NE(err.find("Port: COM1 " + link() + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Baudrate: 9600\nFunction: Upload Result List\n"), std::string::npos);
    EXPECT_EQ(err.find("Detect KV70"), std::string::npos);
    EXPECT_FALSE(has_log());
}

TEST_F(TrelvoWithTester, OptionsOutOfRangeStartNothingAndKeepTheSettings) {
    settings("[Port]\r\nCOM2\r\n[Baudrate]\r\n1\r\n", {2});
    ProgramProcess trelvo(dir(), {"-F5", "-B1200", "-C0", "-C300"});
    EXPECT_EQ(trelvo.wait(), 0);
    std::string err = trelvo.err();
    EXPECT_NE(err.find("Port: COM2 " + link() + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Baudrate: 19200\n"), std::string::npos);
    EXPECT_EQ(err.find("Detect KV70"), std::string::npos);
    EXPECT_FALSE(has_log());
    EXPECT_NE(settings_file().find("[Port]\r\nCOM2\r\n[Baudrate]\r\n1\r\n"), std::string::npos);
}

TEST_F(TrelvoWithTester, PortAndBaudRateFromTheCommandLineRunAndLogOnce) {
    settings("[Port]\r\nCOM1\r\n[Baudrate]\r\n0\r\n", {2});
    ProgramProcess trelvo(dir(), {"-F3", "-C2", "-B9600"});
    EXPECT_EQ(trelvo.wait(), 0) << trelvo.err();
    EXPECT_EQ(log_lines(dir()),
              (std::vector<std::string>{"---->", "trelvo -F3 -C2 -B9600",
                                        "Upload Result List successful completed", ""}));
    EXPECT_EQ(read_file(dir() / "RESULTS.TXT"), sim::sample_result_list(72));
    EXPECT_NE(settings_file().find("[Port]\r\nCOM2\r\n[Baudrate]\r\n2\r\n"), std::string::npos);
}

// Under -MP polling mode starts only Upload Result List; the run that OK starts is still
// automatic: it closes the window by itself and is logged.
TEST_F(TrelvoWithTester, PollingOptionWithAnotherOperationWaitsForOkAndRunsAutomatically) {
    settings("[Port]\r\nCOM1\r\n");
    write_file(dir() / "KV72FW.BIN", FIRMWARE);
    ProgramProcess trelvo(dir(), {"-MP1", "-F0", "-P", "KV72FW.BIN"}, Input::Text, "\n");
    EXPECT_EQ(trelvo.wait(), 0) << trelvo.err();
    std::string err = trelvo.err();
    EXPECT_LT(err.find("Waiting for a line to start"), err.find("Detect KV70")) << err;
    EXPECT_EQ(log_lines(dir()),
              (std::vector<std::string>{"---->", "trelvo -MP1 -F0 -P \"KV72FW.BIN\"",
                                        "Firmware Update successful completed", ""}));
    EXPECT_EQ(read_file(store() / "KV72FW.BIN"), FIRMWARE);
}

// Under -MP Upload Result List starts by itself as an interactive run: Ctrl-C breaks it, the
// window stays open until the end of input, and nothing is logged.
TEST_F(TrelvoWithTester, PollingUploadStartsByItselfAsAnInteractiveRun) {
    settings("[Port]\r\nCOM1\r\n");
    ProgramProcess trelvo(dir(), {"-MP1", "-F3"});
    ASSERT_TRUE(trelvo.wait_for_stderr("Waiting for transmitter")) << trelvo.err();
    trelvo.signal(SIGINT);
    EXPECT_EQ(trelvo.wait(), 0);
    std::string err = trelvo.err();
    size_t aborted = err.find("Status: Aborted");
    ASSERT_NE(aborted, std::string::npos) << err;
    EXPECT_NE(err.find("Waiting for a line to start", aborted), std::string::npos) << err;
    EXPECT_FALSE(has_log());
}

TEST_F(TrelvoWithTester, PrintoutClearedWhileDirectPrintoutIsOnComesBack) {
    settings("[Port]\r\nCOM1\r\n[Upload Result mode]\r\n40\r\n");  // direct printout, printout
    ProgramProcess trelvo(dir(), {"-F3", "-MT0"});
    EXPECT_EQ(trelvo.wait(), 0) << trelvo.err();
    EXPECT_TRUE(fs::exists(dir() / "RESULTS.txt"));
    // The window also checked "Norvane Output File", as no output was left when it opened.
    EXPECT_NE(settings_file().find("[Upload Result mode]\r\n104\r\n"), std::string::npos);
}

// Lines without a valid -F change nothing that lasts; the command line's own -F3 never runs;
// a port that cannot be opened logs a run that never ran, with the reason; the last line
// runs without its line end.
TEST_F(TrelvoWithTester, ScriptRunsItsLinesThatAskForARun) {
    settings("[Port]\r\nCOM1\r\n");
    write_file(dir() / "list.AUT", sim::sample_mobile_list(72));
    write_file(dir() / "KV72FW.BIN", FIRMWARE);
    write_file(dir() / "batch.txt",
               "-f 1 -P\"list.AUT\"\n\n-C2\r\n-F2 -C200\n-F0 -P\"KV72FW.BIN\"");
    ProgramProcess trelvo(dir(), {"-S", "batch.txt", "-F3"});
    EXPECT_EQ(trelvo.wait(), 1) << trelvo.err();
    EXPECT_EQ(log_lines(dir()), (std::vector<std::string>{
                                    "---->", "trelvo -S \"batch.txt\" -F3 -> -f 1 -P\"list.AUT\"",
                                    "Download Mobile List successful completed", "", "---->",
                                    "trelvo -S \"batch.txt\" -F3 -> -F2 -C200",
                                    "Upload Mobile List Aborted", "Error: Invalid COM Port.",
                                    "       COM200: no device belongs to this port number", "",
                                    "---->", "trelvo -S \"batch.txt\" -F3 -> -F0 -P\"KV72FW.BIN\"",
                                    "Firmware Update successful completed", ""}));
    EXPECT_TRUE(fs::exists(store() / "list.AUT"));
    EXPECT_EQ(read_file(store() / "KV72FW.BIN"), FIRMWARE);
    EXPECT_NE(settings_file().find("[Port]\r\nCOM1\r\n"), std::string::npos);
}

TEST_F(TrelvoWithTester, MissingScriptLetsTheCommandLineRun) {
    settings("[Port]\r\nCOM1\r\n");
    ProgramProcess trelvo(dir(), {"-S", "missing.txt", "-F2"});
    EXPECT_EQ(trelvo.wait(), 0) << trelvo.err();
    EXPECT_EQ(log_lines(dir()),
              (std::vector<std::string>{"---->", "trelvo -S \"missing.txt\" -F2",
                                        "Upload Mobile List successful completed", ""}));
    bool received = false;
    for (const auto& entry : fs::directory_iterator(dir()))
        received = received || entry.path().extension() == ".AUT";
    EXPECT_TRUE(received);
}

// 1200 characters: the first 998 form a line, the 999th is lost ("-C9" would name a port
// that is not mapped), and the next line begins with the 1000th.
TEST_F(TrelvoWithTester, OverlongScriptLineRunsAsTwoLines) {
    settings("[Port]\r\nCOM1\r\n");
    fs::create_directories(dir() / "d1");
    fs::create_directories(dir() / "d2");
    std::string first = "-F2 -P\"d1\"";
    first.resize(996, ' ');
    first += "-C9";
    std::string second = "-F2 -P\"d2\"";
    second.resize(1200 - first.size(), ' ');
    write_file(dir() / "long.txt", first + second + "\n");
    ProgramProcess trelvo(dir(), {"-S", "long.txt"});
    EXPECT_EQ(trelvo.wait(), 0) << trelvo.err();
    std::vector<std::string> lines = log_lines(dir());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1].rfind("trelvo -S \"long.txt\" -> -F2 -P\"d1\"    ", 0), 0u);
    EXPECT_EQ(lines[2], "Upload Mobile List successful completed");
    EXPECT_EQ(lines[5], "trelvo -S \"long.txt\" -> " + second);
    EXPECT_EQ(lines[6], "Upload Mobile List successful completed");
    EXPECT_FALSE(fs::is_empty(dir() / "d1"));
    EXPECT_FALSE(fs::is_empty(dir() / "d2"));
}

// An interactive Download Autotest: Enter starts it, and the file and the slot are asked
// for on the terminal, again after an answer that does not do.
TEST_F(TrelvoWithTester, InteractiveRunAsksForTheFileAndTheSlotOnTheTerminal) {
    settings("[Port]\r\nCOM1\r\n[Function]\r\n4\r\n");
    const std::string autotest = "autotest steps\r\n" + std::string(300, 'a');
    write_file(dir() / "NEWTEST.DLD", autotest);
    ProgramProcess trelvo(dir(), {}, Input::Terminal);
    ASSERT_TRUE(trelvo.wait_for_stderr("Press Enter to start")) << trelvo.err();
    trelvo.type("\n");
    ASSERT_TRUE(trelvo.wait_for_stderr("File: ")) << trelvo.err();
    trelvo.type("MISSING.DLD\nNEWTEST.DLD\n");
    ASSERT_TRUE(trelvo.wait_for_stderr("Autotest: ")) << trelvo.err();
    trelvo.type("r\nr 2\n");
    ASSERT_TRUE(trelvo.wait_for_stderr("Status: Completed")) << trelvo.err();
    trelvo.type("\x04");
    EXPECT_EQ(trelvo.wait(), 0);
    std::string err = trelvo.err();
    EXPECT_NE(err.find("File: MISSING.DLD\ntrelvo: MISSING.DLD: no such file\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("  1  GSM BASIC\n  2  DUALBAND FULL\n  3  QUICK CHECK\n"),
              std::string::npos);
    EXPECT_NE(err.find("trelvo: Replacement error No autotest selected\n"), std::string::npos);
    EXPECT_EQ(read_file(store() / "NEWTEST.DLD"), autotest);
    EXPECT_NE(read_file(tester_log()).find("AUTotest 2\n"), std::string::npos);
    EXPECT_FALSE(has_log());
}

TEST_F(TrelvoWithTester, FileChoiceWithoutATerminalIsCancelled) {
    settings("[Port]\r\nCOM1\r\n[Function]\r\n4\r\n");
    ProgramProcess trelvo(dir(), {}, Input::Text, "\n");
    EXPECT_EQ(trelvo.wait(), 0);
    std::string err = trelvo.err();
    EXPECT_NE(err.find("File choice: cancelled, no terminal to ask on\nStatus: Aborted"),
              std::string::npos)
        << err;
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The list converted in the result list receiving directory, where an upload would have
// received it and deleted it after its conversions: the same files, and the list stays.
TEST_F(TrelvoWithTester, ConvertGivesTheFilesOfAnUploadOfTheSameList) {
    settings("[Port]\r\nCOM1\r\n[UL Result]\r\nconverted/\r\n[Upload Result mode]\r\n0\r\n");
    fs::create_directories(dir() / "uploaded");
    fs::create_directories(dir() / "converted");
    ProgramProcess upload(dir(), {"-F3", "-ME1", "-MT1", "-MI1", "-P", "uploaded"});
    ASSERT_EQ(upload.wait(), 0) << upload.err();
    std::string list = sim::sample_result_list(72);
    write_file(dir() / "converted" / "RESULTS.TXT", list);

    ProgramProcess convert(dir(), {"--convert", "converted/RESULTS.TXT", "-ME1", "-MT1", "-MI1"});
    EXPECT_EQ(convert.wait(), 0) << convert.err();
    EXPECT_EQ(convert.err().find("trelvo:"), std::string::npos) << convert.err();
    EXPECT_EQ(read_file(dir() / "converted" / "RESULTS.TXT"), list);
    fs::remove(dir() / "converted" / "RESULTS.TXT");
    std::vector<std::string> names = names_in(dir() / "uploaded");
    EXPECT_EQ(names.size(), 6u);  // a spreadsheet and a printout for each of three results
    EXPECT_EQ(names_in(dir() / "converted"), names);
    for (const std::string& name : names)
        EXPECT_EQ(read_file(dir() / "converted" / name), read_file(dir() / "uploaded" / name))
            << name;
}

// The model found by one run's identification stays for the runs after it: a batch line
// whose tester does not answer still gets the mobile list converted for that model, not the
// list as it is on disk.
TEST(TrelvoWithTwoTesters, ModelFoundByAnEarlierLineConvertsTheListForASilentTester) {
    ScratchDir answering_dir, silent_dir, scratch;
    SimulatorProcess answering(answering_dir.path, {"--model", "71"});
    SimulatorProcess silent(silent_dir.path, {"--model", "71", "--fault", "idn-timeout"});
    ASSERT_FALSE(answering.link().empty());
    ASSERT_FALSE(silent.link().empty());
    const fs::path dir = scratch.path;
    write_file(dir / "trelvo.ini", "[Version]\r\n410\r\n[Port map]\r\nCOM1=" + answering.link() +
                                       "\r\nCOM2=" + silent.link() + "\r\n");
    const std::string list = sim::sample_mobile_list(72);
    write_file(dir / "list.AUT", list);
    write_file(dir / "batch.txt", "-F1 -C1 -P\"list.AUT\"\n-F1 -C2 -P\"list.AUT\"\n");
    ProgramProcess trelvo(dir, {"-S", "batch.txt"});
    ASSERT_EQ(trelvo.wait(std::chrono::seconds(40)), 0) << trelvo.err();
    std::string err = trelvo.err();
    size_t first = err.find("Tester: 71");
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_NE(err.find("Tester: Timeout", first), std::string::npos) << err;

    std::string converted = read_file(answering_dir.path / "store" / "list.AUT");
    EXPECT_EQ(converted.size(), list.size());
    EXPECT_NE(converted, list) << "the models keep the list at different addresses";
    EXPECT_EQ(read_file(silent_dir.path / "store" / "list.AUT"), converted);
    EXPECT_EQ(answering.stop(), 0);
    EXPECT_EQ(silent.stop(), 0);
}

}  // namespace
}  // namespace trelvo
