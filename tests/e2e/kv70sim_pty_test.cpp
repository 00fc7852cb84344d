// Every operation in real time through the termios device against the kv70sim program on a
// pseudo-terminal, reached as COM1 through the settings' port map.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "base/error_table.h"
#include "engine/event_loop.h"
#include "operations/operation_table.h"
#include "protocol/packet.h"
#include "protocol/tester_commands.h"
#include "serial/posix_serial_device.h"
#include "sim/launch.h"
#include "sim/sample_data.h"
#include "sim/trace.h"
#include "tests/e2e/e2e_fixture.h"

namespace trelvo::e2e {
namespace {

class Kv70simProgram : public ScratchDirTest {
  protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        loop.set_timer_handler([this](int identifier) {
            engine.engine_tick(identifier);
            if (after_tick && engine.run_active()) after_tick();
        });
    }
    void TearDown() override {
        stop();
        ScratchDirTest::TearDown();
    }

    // Starts kv70sim with `options` and waits for its "ready" line.
    void start(const std::vector<std::string>& options) {
        std::vector<std::string> args = {"--link", (dir / "line").string(), "--store",
                                         (dir / "store").string()};
        args.insert(args.end(), options.begin(), options.end());
        sim::Launched launched = sim::launch(std::string(TRELVO_BIN_DIR) + "/kv70sim", args,
                                             (dir / "kv70sim.log").string());
        pid = launched.pid;
        ASSERT_GT(pid, 0);
        const std::string& line = launched.first_line;
        ASSERT_EQ(line, "ready " + (dir / "line").string());
        state.port_number = 1;
        state.port_map[1] = (dir / "line").string();
    }
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = 0;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "line")));
    }

    // Opens COM1 as the main window does and runs the selected operation in real time.
    void run() {
        PosixDeviceOpener opener(state);
        auto port = open_tester_port(state, window, clock, opener);
        ASSERT_NE(port, nullptr) << (window.messages.empty() ? "" : window.messages[0].text);
        engine.clear_status();
        engine.step_index = 0;
        engine.start_run(std::move(port), operation_table[state.operation_index]);
        EXPECT_TRUE(loop.run_until([this] { return !engine.run_active(); }, 60'000));
    }

    // What the simulator logged: every command it took and what became of each autotest.
    std::string sim_log() const { return read_file(dir / "kv70sim.log"); }

    // The bytes the simulator took in, from its trace, once `tail` is among them or after
    // `limit_ms`.
    std::string received_by_tester(const std::string& tail, int limit_ms = 3000) {
        std::string bytes;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        do {
            bytes = sim::traced_bytes(read_file(dir / "trace"), sim::TraceDirection::In);
            if (bytes.find(tail) != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < until);
        return bytes;
    }

    std::function<void()> after_tick;  // after every tick of a running engine
    pid_t pid = 0;
    SystemClock clock;
    EventLoop loop{clock};
    Engine engine{state, window, clock, loop};
};

TEST_F(Kv70simProgram, FirmwareUpdate) {
    start({"--model", "71"});
    std::string image = pattern(2500);
    automatic(0, write("KV71FW.BIN", image));
    run();
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(window.status[3], "71 KV71 GSM Tester");
    EXPECT_EQ(read_file(dir / "store" / "KV71FW.BIN"), image);
}

TEST_F(Kv70simProgram, DownloadAndUploadMobileList) {
    start({});
    automatic(1, write("LIST.AUT", sim::sample_mobile_list(71)));
    run();
    EXPECT_EQ(window.status[2], "Completed");
    std::string stored = read_file(dir / "store" / "LIST.AUT");
    EXPECT_EQ(stored.size(), sim::sample_mobile_list(71).size());

    // The tester now holds the list it received and sends it back unchanged.
    automatic(2, dir / "out");
    run();
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(read_file(dir / "out" / "LIST.AUT"), stored);
}

TEST_F(Kv70simProgram, UploadResultListWithEveryConversion) {
    start({});
    automatic(3, dir / "out", OPT_EXCEL | OPT_PRINTOUT | OPT_IMEI | OPT_DELETE_ALL);
    run();
    EXPECT_EQ(window.status[2], "Completed");
    size_t csv = 0, txt = 0;
    for (const std::string& name : files_in(dir / "out")) {
        csv += name.ends_with(".csv");
        txt += name.ends_with(".txt");
    }
    EXPECT_EQ(csv, 3u);  // the simulator's three sample results
    EXPECT_EQ(txt, 3u);
    // Cleared: the next query finds nothing to upload.
    automatic(3, dir / "out", OPT_OUTPUT_FILE);
    run();
    EXPECT_EQ(window.status[2], "Aborted");
}

// A tester whose file information block announces too few or too many bytes: the run ends
// with the error bit, every byte that came is kept, and the tester's results are never
// deleted (its log of commands shows no delete).
TEST_F(Kv70simProgram, UploadResultListWithAWrongAnnouncedSize) {
    // The built-in list, as its packets carry it: the last one filled up with SUB.
    std::string list = sim::sample_result_list(72);
    list.append(
        (SHORT_DATA_SIZE - list.size() % LONG_DATA_SIZE % SHORT_DATA_SIZE) % SHORT_DATA_SIZE,
        '\x1A');
    for (const char* fault : {"size-short", "size-long"}) {
        SCOPED_TRACE(fault);
        start({"--fault", fault});
        state.error_flags = 0;
        automatic(3, dir / "out", OPT_EXCEL | OPT_DELETE_ALL);
        run();
        EXPECT_EQ(window.status[2], "Aborted");
        EXPECT_EQ(state.error_flags,
                  error_bit(ERR_TRANSFER_INCOMPLETE) | error_bit(ERR_RUN_FAILED));
        EXPECT_TRUE(read_file(dir / "out" / "RESULTS.TXT") == list);
        stop();
        std::string log = read_file(dir / "kv70sim.log");
        EXPECT_NE(log.find("< SYSTem:STATe:DOWN:TEST ALL_1"), std::string::npos) << log;
        EXPECT_EQ(log.find("CLEAR"), std::string::npos) << log;
        EXPECT_EQ(log.find("results cleared"), std::string::npos) << log;
    }
}

TEST_F(Kv70simProgram, DownloadAutotest) {
    start({"--autotests", "GSM BASIC,QUICK CHECK"});
    std::string autotest = pattern(700, 9);
    automatic(4, write("NEW.DLD", autotest));
    run();
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(read_file(dir / "store" / "NEW.DLD"), autotest);
}

// A directory far longer than the 3000-byte reply buffer is read to its end: the autotest
// goes into the first free slot, and no autotest of the tester is replaced.
TEST_F(Kv70simProgram, DownloadAutotestIntoTheFreeSlotAfterALongDirectory) {
    start({"--autotest-count", "230"});
    std::string autotest = pattern(900, 5);
    automatic(4, write("NEW.DLD", autotest));
    run();
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(read_file(dir / "store" / "NEW.DLD"), autotest);
    std::string log = sim_log();
    EXPECT_NE(log.find("< SYSTem:DIRectory:AUTotest? 231\n"), std::string::npos);
    EXPECT_NE(log.find("< SYSTem:STATe:UPLoad:AUTotest 231\n"), std::string::npos) << log;
    EXPECT_NE(log.find("autotest slot 231 new"), std::string::npos);
    EXPECT_EQ(log.find("replaced"), std::string::npos);
}

// A tester whose directory never ends: the run ends with the reason, and nothing is sent.
TEST_F(Kv70simProgram, DownloadAutotestFromAnEndlessDirectoryChoosesNoSlot) {
    start({"--autotest-count", "3", "--fault", "endless-directory"});
    automatic(4, write("NEW.DLD", pattern(900, 5)));
    run();
    EXPECT_EQ(window.status[2], "Aborted");
    EXPECT_NE(state.error_flags & error_bit(ERR_DIRECTORY_INCOMPLETE), 0u);
    EXPECT_EQ(state.error_reasons[ERR_DIRECTORY_INCOMPLETE],
              "The tester lists more than 255 autotests.");
    std::string log = sim_log();
    EXPECT_NE(log.find("< SYSTem:DIRectory:AUTotest? 251\n"), std::string::npos);
    EXPECT_EQ(log.find("UPLoad:AUTotest"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(dir / "store" / "NEW.DLD"));
}

const std::string LOCAL_COMMAND = "\nSYST:COMM:LOCAL\n";
const std::string CANCEL_SEQUENCE(8, '\x18');

// At 4800 baud a command line takes longer on the wire than the quiet after it: the "C"
// after the upload command would reach a tester still parsing it unless the quiet begins
// when the command's last byte has left.
TEST_F(Kv70simProgram, NothingFollowsACommandLineWhileTheTesterParsesIt) {
    start({"--baud", "4800", "--parse-ms", "30"});
    state.baud_index = 3;
    automatic(2, dir / "out");
    run();
    EXPECT_EQ(window.status[2], "Completed");
    std::string log = read_file(dir / "kv70sim.log");
    EXPECT_EQ(log.find("lost"), std::string::npos) << log;
    EXPECT_EQ(read_file(dir / "out" / std::string(sim::BUILT_IN_MOBILE_LIST_NAME)),
              sim::sample_mobile_list(72));
}

// Cancel the moment a command line has gone, while the quiet after it holds every write
// back, or while the write that follows it waits for the quiet: the eight CAN reach the
// tester all the same, after the quiet and ahead of the command back to local operation.
class CancelInTheQuiet : public Kv70simProgram {
  protected:
    std::string cancel_when(std::function<bool()> moment) {
        start({"--baud", "4800", "--parse-ms", "30", "--trace", (dir / "trace").string()});
        state.baud_index = 3;
        automatic(2, dir / "out");
        after_tick = [this, moment] {
            if (moment()) engine.user_break();
        };
        run();
        EXPECT_EQ(window.status[2], "Aborted");
        EXPECT_NE(state.error_flags & error_bit(ERR_USER_BREAK), 0u);
        return received_by_tester(LOCAL_COMMAND);
    }
};

TEST_F(CancelInTheQuiet, RightAfterACommandLine) {
    std::string received = cancel_when([this] { return engine.port().write_hold_ms() > 0; });
    EXPECT_NE(received.find("*IDN?\n" + CANCEL_SEQUENCE + LOCAL_COMMAND), std::string::npos)
        << received;
}

TEST_F(CancelInTheQuiet, WhileTheNextWriteIsPending) {
    std::string received = cancel_when([this] { return engine.port().write_pending(); });
    EXPECT_NE(received.find(std::string(LIST_UPLOAD_COMMAND) + CANCEL_SEQUENCE + LOCAL_COMMAND),
              std::string::npos)
        << received;
}

}  // namespace
}  // namespace trelvo::e2e
