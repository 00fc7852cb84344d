// The real trelvo program running a batch script against kv70sim on a pseudo-terminal, the
// tester sending a mobile list named like one of the program's own files into the working
// folder: the run log and the script survive, the list is stored under another name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error_table.h"
#include "sim/sample_data.h"
#include "tests/app/program_process.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using testing::log_lines;
using testing::ProgramProcess;
using testing::read_file;
using testing::ScratchDir;
using testing::SimulatorProcess;
using testing::write_file;

class ReservedNameFromTester : public ::testing::TestWithParam<const char*> {};

TEST_P(ReservedNameFromTester, RunLogAndScriptSurvive) {
    const std::string sent = GetParam();
    const std::string list = sim::sample_mobile_list(72);
    ScratchDir tester_dir, work;
    fs::create_directory(tester_dir.path / "lists");
    write_file(tester_dir.path / "lists" / sent, list);  // the name the tester announces
    SimulatorProcess tester(tester_dir.path,
                            {"--mslist", (tester_dir.path / "lists" / sent).string()});
    ASSERT_FALSE(tester.link().empty()) << "kv70sim did not start";

    const std::string earlier = "----> earlier entry\r\n\r\n";
    const std::string script = "-F2\n";
    write_file(
        work.path / "trelvo.ini",
        "[Version]\r\n410\r\n[Port]\r\nCOM1\r\n[Port map]\r\nCOM1=" + tester.link() + "\r\n");
    write_file(work.path / "trelvo.log", earlier);
    write_file(work.path / "batch.txt", script);

    ProgramProcess trelvo(work.path, {"-S", "batch.txt"});
    EXPECT_EQ(trelvo.wait(), 1) << trelvo.err();  // the run recorded an error bit

    EXPECT_EQ(read_file(work.path / "batch.txt"), script);
    EXPECT_EQ(read_file(work.path / ("_" + sent)), list);
    std::vector<std::string> lines = log_lines(work.path);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"---->", "", "---->", "trelvo -S \"batch.txt\" -> -F2",
                                        "Upload Mobile List Completed",
                                        "Error: " + std::string(error_messages[ERR_NAME_RESERVED]),
                                        "       " + sent + " is stored as _" + sent, ""}));
    EXPECT_EQ(tester.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Names, ReservedNameFromTester,
                         ::testing::Values("trelvo.log", "batch.txt"), [](const auto& info) {
                             return std::string(info.param[0] == 't' ? "RunLog" : "Script");
                         });

}  // namespace
}  // namespace trelvo
