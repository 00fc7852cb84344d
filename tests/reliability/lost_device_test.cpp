// A device that goes away during a run: the simulated tester hangs up its end of the memory
// line while the engine waits in each of its wait kinds, and the kv70sim program dies while
// the engine waits on the pseudo-terminal. Every run ends "Port lost" with a message or an
// error bit, the port is closed and nothing waits for ever.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "base/error_table.h"
#include "engine/event_loop.h"
#include "operations/operation_table.h"
#include "serial/posix_serial_device.h"
#include "sim/launch.h"
#include "sim/sample_data.h"
#include "tests/e2e/e2e_fixture.h"

namespace trelvo::e2e {
namespace {

size_t open_descriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

struct LostCase {
    const char* name;
    int operation;
    WaitEvent wait;
    int nth;  // the tester hangs up when the engine begins this wait for the nth time
    sim::FaultSet faults;
};

class LostDevice : public SimulatedTesterTest, public ::testing::WithParamInterface<LostCase> {
  protected:
    // Starts the case's operation and runs it until the engine begins its wait for the
    // nth time; true when it got there.
    bool run_to_the_wait() {
        const LostCase& c = GetParam();
        sim::TesterConfig config;
        config.faults = c.faults;
        std::string results;
        for (int i = 0; i < 6; ++i)
            results += sim::sample_result_list(72);
        config.results = results;  // long enough to be lost in the middle
        start_tester(config);
        if (c.operation == 0) automatic(0, write("FW.BIN", pattern(6000)));
        if (c.operation == 3) automatic(3, dir / "out", OPT_OUTPUT_FILE | OPT_DELETE_ALL);
        if (c.operation == 4) automatic(4, write("NEW.DLD", pattern(900)));
        if (c.wait == WE_WRITE) {  // a slow line and a small queue: writes stay pending
            link.set_timing({9600, 0});
            link.pc().set_write_capacity(64);
        }
        // A wait begins when a tick other than the wait's own leaves it armed; steps follow
        // each other within one moment of the clock, so the ticks are counted, not the moments.
        int seen = 0;
        after_tick = [&](int identifier) {
            if (identifier != c.wait && timer.armed() && timer.armed_identifier() == c.wait) ++seen;
        };
        start_run();
        while (engine.run_active() && clock.fire_next()) {
            if (seen == c.nth) return true;
        }
        return false;
    }
};

TEST_P(LostDevice, EndsTheWaitWithPortLost) {
    ASSERT_TRUE(run_to_the_wait());
    link.tester().hang_up();
    ASSERT_TRUE(run_for(10'000)) << "still waiting after the line went dead";
    EXPECT_EQ(window.status[2], "Port lost");
    // A list broken off in the middle is kept and named as partial.
    uint32_t partial = GetParam().wait == WE_BLOCK ? error_bit(ERR_TRANSFER_INCOMPLETE) : 0;
    EXPECT_EQ(state.error_flags, error_bit(ERR_PORT_LOST) | error_bit(ERR_RUN_FAILED) | partial);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(window.cancels, 1);
    EXPECT_FALSE(link.pc().is_open());
    EXPECT_EQ(engine.transfer.file, nullptr);
    EXPECT_FALSE(tester->results_cleared());
}

INSTANTIATE_TEST_SUITE_P(EveryWait, LostDevice,
                         ::testing::Values(LostCase{"ReplyLine", 0, WE_LINE, 1, {}},
                                           LostCase{
                                               "ReceiverStart", 0, WE_MATCH, 1, {sim::Fault::NoC}},
                                           LostCase{"Acknowledgement", 0, WE_BYTE, 3, {}},
                                           LostCase{"PendingWrite", 0, WE_WRITE, 2, {}},
                                           LostCase{"PacketMidTransfer", 3, WE_BLOCK, 4, {}},
                                           LostCase{"AutotestDirectory", 4, WE_LINES, 1, {}}),
                         [](const auto& info) { return info.param.name; });

using LostLine = SimulatedTesterTest;

TEST_F(LostLine, InteractiveRunSaysWhichPortWasLostAndWhy) {
    sim::TesterConfig config;
    config.faults = {sim::Fault::NoC};
    start_tester(config);
    window.file_answers.push_back(write("FW.BIN", pattern(500)));
    start_run();
    EXPECT_FALSE(run_for(30'000));  // waiting for the receiver, untimed
    link.tester().hang_up();
    ASSERT_TRUE(run_for(1'000));
    EXPECT_EQ(window.status[2], "Port lost");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "Connection to COM1 lost\nmemory:pc: device disconnected");
    EXPECT_EQ(window.cancels, 0);
    EXPECT_FALSE(link.pc().is_open());
}

// The kv70sim program on a pseudo-terminal, killed while the engine waits: the other side
// of the terminal goes away as an unplugged adapter does.
class LostProgram : public ScratchDirTest {
  protected:
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ScratchDirTest::TearDown();
    }

    void start_program(const std::vector<std::string>& options) {
        std::vector<std::string> args = {"--link", (dir / "line").string()};
        args.insert(args.end(), options.begin(), options.end());
        sim::Launched launched = sim::launch(std::string(TRELVO_BIN_DIR) + "/kv70sim", args);
        pid = launched.pid;
        ASSERT_GT(pid, 0);
        ASSERT_EQ(launched.first_line.rfind("ready ", 0), 0u);
        state.port_number = 1;
        state.port_map[1] = (dir / "line").string();
    }

    // Runs the selected operation in real time; kills the program once `lose_when` holds.
    void run_and_kill_when(const std::function<bool()>& lose_when) {
        PosixDeviceOpener opener(state);
        auto port = open_tester_port(state, window, clock, opener);
        ASSERT_NE(port, nullptr);
        engine.clear_status();
        engine.step_index = 0;
        engine.start_run(std::move(port), operation_table[state.operation_index]);
        ASSERT_TRUE(loop.run_until(lose_when, 20'000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = 0;
        EXPECT_TRUE(loop.run_until([this] { return !engine.run_active(); }, 5'000));
    }

    pid_t pid = 0;
    SystemClock clock;
    EventLoop loop{clock};
    Engine engine{state, window, clock, loop};
    void SetUp() override {
        ScratchDirTest::SetUp();
        loop.set_timer_handler([this](int identifier) { engine.engine_tick(identifier); });
    }
};

TEST_F(LostProgram, WaitForTheReceiverEndsWhenTheProgramDies) {
    start_program({"--fault", "no-c"});
    size_t descriptors = open_descriptors();
    automatic(0, write("FW.BIN", pattern(500)));
    run_and_kill_when([this] { return window.status[0] == "Waiting for receiver"; });
    EXPECT_EQ(window.status[2], "Port lost");
    EXPECT_EQ(state.error_flags, error_bit(ERR_PORT_LOST) | error_bit(ERR_RUN_FAILED));
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(LostProgram, ReceivingEndsWhenTheProgramDiesMidTransfer) {
    start_program({"--baud", "9600"});
    size_t descriptors = open_descriptors();
    automatic(2, dir / "out");
    run_and_kill_when([this] { return engine.transfer.packet_number >= 1; });
    EXPECT_EQ(window.status[2], "Port lost");
    EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace
}  // namespace trelvo::e2e
