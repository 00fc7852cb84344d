// The real trelvo program against kv70sim when nobody is at the window: signals that ask
// it to end, and a tester that falls silent. The simulated tester says nothing more after
// the first data packet of the result list; what it received is read back from its trace.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/trace.h"
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

const std::string EIGHT_CAN(8, '\x18');
const std::string LOCAL_COMMAND = "\nSYST:COMM:LOCAL\n";

class TrelvoUnattended : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tester_.link().empty()) << "kv70sim did not start";
        write_file(
            dir() / "trelvo.ini",
            "[Version]\r\n410\r\n[Port]\r\nCOM1\r\n[Port map]\r\nCOM1=" + tester_.link() + "\r\n");
    }
    fs::path dir() const { return scratch_.path; }

    // The bytes the tester read from the line, in order.
    std::string tester_received() const {
        return sim::traced_bytes(read_file(tester_dir_.path / "trace.txt"),
                                 sim::TraceDirection::In);
    }

    // The cancel sequence went out, and the way back to local after it.
    void expect_cancelled_and_local() const {
        std::string received = tester_received();
        size_t cancel = received.find(EIGHT_CAN);
        ASSERT_NE(cancel, std::string::npos);
        EXPECT_NE(received.find(LOCAL_COMMAND, cancel), std::string::npos);
    }

  private:
    ScratchDir scratch_;
    ScratchDir tester_dir_;
    SimulatorProcess tester_{
        tester_dir_.path,
        {"--fault", "silent-after-packet", "--trace", (tester_dir_.path / "trace.txt").string()}};
};

const char* const PARTIAL_ERROR = "Error: Transfer incomplete - the received file is not whole.";
const char* const PARTIAL_REASON =
    "       RESULTS.TXT: broken off before its end; the bytes received are kept";

struct SignalCase {
    const char* name;
    std::vector<int> signals;  // sent one after the other
    bool logged;               // SIGINT is the Cancel button: the run is no longer automatic
};
void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class TrelvoSignal : public TrelvoUnattended, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(TrelvoSignal, BreaksTheTransferAndReturnsTheTesterToLocal) {
    ProgramProcess trelvo(dir(), {"-F3"});
    ASSERT_TRUE(trelvo.wait_for_stderr("Packet 1\n")) << trelvo.err();
    for (int number : GetParam().signals)
        trelvo.signal(number);
    EXPECT_EQ(trelvo.wait(std::chrono::seconds(10)), 1) << trelvo.err();
    EXPECT_NE(trelvo.err().find("Status: Aborted"), std::string::npos) << trelvo.err();
    expect_cancelled_and_local();
    if (GetParam().logged) {
        // The list broken off is kept, and named as partial.
        EXPECT_EQ(log_lines(dir()), (std::vector<std::string>{
                                        "---->", "trelvo -F3", "Upload Result List Aborted",
                                        "Error: User break.", PARTIAL_ERROR, PARTIAL_REASON, ""}));
    } else {
        EXPECT_FALSE(fs::exists(dir() / "trelvo.log"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TrelvoSignal,
    ::testing::Values(SignalCase{"SIGTERM", {SIGTERM}, true}, SignalCase{"SIGHUP", {SIGHUP}, true},
                      SignalCase{"SIGTERM_then_more", {SIGTERM, SIGINT, SIGHUP}, true},
                      SignalCase{"SIGINT", {SIGINT}, false}),
    [](const auto& info) { return info.param.name; });

// The lines after the one that was asked to end are not run.
TEST_F(TrelvoUnattended, SigtermEndsABatchScript) {
    write_file(dir() / "batch.txt", "-F3\n-F2\n");
    ProgramProcess trelvo(dir(), {"-S", "batch.txt"});
    ASSERT_TRUE(trelvo.wait_for_stderr("Packet 1\n")) << trelvo.err();
    trelvo.signal(SIGTERM);
    EXPECT_EQ(trelvo.wait(std::chrono::seconds(10)), 1) << trelvo.err();
    EXPECT_EQ(log_lines(dir()).size(), 7u);
    EXPECT_EQ(trelvo.err().find("Upload Mobile List"), std::string::npos);
    EXPECT_NE(trelvo.err().find("trelvo: asked to end; the rest of the batch script is not run"),
              std::string::npos)
        << trelvo.err();
}

TEST_F(TrelvoUnattended, IdleTimeoutEndsARunWhoseTesterFellSilent) {
    auto start = std::chrono::steady_clock::now();
    ProgramProcess trelvo(dir(), {"-F3", "--idle-timeout", "2"});
    EXPECT_EQ(trelvo.wait(std::chrono::seconds(15)), 1) << trelvo.err();
    auto took = std::chrono::steady_clock::now() - start;
    // Detection, the first packet, 2 s of silence, then the way back to local.
    EXPECT_LT(took, std::chrono::seconds(6));
    EXPECT_GT(took, std::chrono::seconds(2));
    std::string err = trelvo.err();
    EXPECT_NE(err.find("Packet 1\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Status: Timeout"), std::string::npos) << err;
    expect_cancelled_and_local();
    EXPECT_EQ(log_lines(dir()),
              (std::vector<std::string>{"---->", "trelvo -F3", "Upload Result List Timeout",
                                        PARTIAL_ERROR, PARTIAL_REASON, ""}));
}

}  // namespace
}  // namespace trelvo
