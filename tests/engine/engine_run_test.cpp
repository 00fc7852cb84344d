// Whole runs of test step tables through the engine: waits, deadlines, breaks, run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "base/control_bytes.h"
#include "base/error_table.h"
#include "tests/support/engine_harness.h"

namespace trelvo {
namespace {

using testing::EngineHarness;

const std::string LOCAL_COMMAND = "\nSYST:COMM:LOCAL\n";

// The step routines of the test tables report to the test through this harness.
struct Probe {
    EngineHarness* h = nullptr;
    std::vector<std::string> calls;
    std::vector<uint32_t> times;
    uint8_t reply0 = 0;
    std::string line;
    RunState end_with = RS_ABORTED;
    uint32_t timeout = 2;
    int reruns = 0;
};
Probe probe;

void note(const char* name) {
    probe.calls.emplace_back(name);
    probe.times.push_back(probe.h->clock.now_ms());
}

StepResult wait_line(Engine& e, TransferRecord&) {
    note("wait_line");
    e.wait_timeout = probe.timeout;
    return SR_WAIT_LINE;
}
StepResult wait_line_keeping_timeout(Engine&, TransferRecord&) {
    note("wait_line_keeping_timeout");
    return SR_WAIT_LINE;
}
StepResult wait_byte(Engine& e, TransferRecord&) {
    note("wait_byte");
    e.wait_timeout = probe.timeout;
    return SR_WAIT_BYTE;
}
StepResult wait_match(Engine& e, TransferRecord&) {
    note("wait_match");
    e.port().expected_byte = 'C';
    return SR_WAIT_MATCH;
}
StepResult look(Engine& e, TransferRecord&) {
    note("look");
    probe.reply0 = e.port().reply[0];
    probe.line = std::string(e.port().reply_line());
    return SR_NEXT;
}
StepResult end_run(Engine& e, TransferRecord&) {
    note("end_run");
    e.run_state = probe.end_with;
    return SR_NEXT;
}
StepResult write_hello(Engine& e, TransferRecord&) {
    note("write_hello");
    return e.port().write_command("HELLO\n", SR_NEXT);
}
StepResult show_progress(Engine& e, TransferRecord&) {
    note("show_progress");
    e.show_file_line("Sending", "FIRMWARE.BIN");
    e.window.set_progress_range(0, 10);
    e.window.set_progress_position(7);
    return SR_NEXT;
}
StepResult rerun_twice(Engine& e, TransferRecord&) {
    note("rerun_twice");
    if (probe.reruns++ < 2) e.step_index -= 1;
    return SR_NEXT;
}
StepResult jump_to_look(Engine& e, TransferRecord&) {
    note("jump_to_look");
    e.step_index += e.jump_offset(e.step_index, look);
    return SR_NEXT;
}
StepResult never_reached(Engine&, TransferRecord&) {
    note("never_reached");
    return SR_NEXT;
}

constexpr StepRow empty_table[] = {{nullptr, nullptr}};
constexpr StepRow line_table[] = {{wait_line, "Detect"}, {look, "Look"}, {nullptr, nullptr}};
constexpr StepRow byte_table[] = {{wait_byte, "Byte"}, {look, "Look"}, {nullptr, nullptr}};
constexpr StepRow match_table[] = {{wait_match, "Match"}, {look, "Look"}, {nullptr, nullptr}};
constexpr StepRow end_table[] = {{end_run, "End"}, {never_reached, "Never"}, {nullptr, nullptr}};
constexpr StepRow write_table[] = {{write_hello, "Write"}, {look, "Look"}, {nullptr, nullptr}};
constexpr StepRow progress_table[] = {{show_progress, "Progress"}, {nullptr, nullptr}};
constexpr StepRow inherit_table[] = {{wait_line, "First"},
                                     {wait_line_keeping_timeout, "Second"},
                                     {look, "Look"},
                                     {nullptr, nullptr}};
constexpr StepRow jump_table[] = {{rerun_twice, "Rerun"},
                                  {jump_to_look, "Jump"},
                                  {never_reached, "Skipped"},
                                  {look, "Look"},
                                  {nullptr, nullptr}};

class EngineRun : public ::testing::Test {
  protected:
    // The engine keeps a pointer to its operation row: it must outlive the run.
    const Operation& op(const StepRow* steps, int32_t id = OP_FIRMWARE_UPDATE) {
        operation = Operation{id, steps, "Test"};
        return operation;
    }
    Operation operation{};
    void SetUp() override {
        probe = Probe{};
        probe.h = &h;
        h.state.port_number = 3;
    }
    int cancel_bytes() const {
        return static_cast<int>(std::count(h.wire.output.begin(), h.wire.output.end(), CAN));
    }
    EngineHarness h;
};

TEST_F(EngineRun, NullFirstRowCompletesOnTheFirstTick) {
    uint32_t start = h.clock.now_ms();
    h.start(op(empty_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.clock.now_ms() - start, TICK_PERIOD_MS + EngineHarness::SETTLE_MS);
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(h.window.status[0], "Idle");
    EXPECT_EQ(h.state.error_flags, 0u);
    EXPECT_EQ(h.wire.output_text(), LOCAL_COMMAND);
    EXPECT_EQ(h.engine.run_state, RS_IDLE);
    EXPECT_EQ(h.window.enabled, 1);
    EXPECT_FALSE(h.timer.armed());
}

TEST_F(EngineRun, ReplyLineArrivingInTimeIsHandedOn) {
    h.start(op(line_table));
    h.wire.feed_at(h.clock.now_ms() + 500, "IDN,72\r\n");
    ASSERT_TRUE(h.run());
    EXPECT_EQ(probe.line, "IDN,72");
    EXPECT_EQ(h.window.status[2], "Completed");
}

// The deadline test is "now greater than the deadline": a tick exactly on it is in time,
// one tick later is late, even when the reply is there on that tick.
struct DeadlineCase {
    const char* name;
    const StepRow* table;
    int32_t feed_offset_ms;  // after the wait started (the wait starts one tick after start)
    const char* final_text;
    bool marker;
};

class EngineDeadline : public EngineRun, public ::testing::WithParamInterface<DeadlineCase> {};

TEST_P(EngineDeadline, ReplyAroundTheDeadline) {
    const DeadlineCase& c = GetParam();
    probe.timeout = 2;
    uint32_t wait_start = h.clock.now_ms() + TICK_PERIOD_MS;  // first tick runs the step
    h.start(op(c.table));
    h.wire.feed_at(wait_start + c.feed_offset_ms, "OK\n");
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], c.final_text);
    if (std::string(c.final_text) == "Completed") {
        EXPECT_EQ(probe.reply0 == TIMEOUT_MARKER, c.marker);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Waits, EngineDeadline,
    ::testing::Values(
        // Ticks fall at wait_start + 50k; the deadline is wait_start + 2000.
        DeadlineCase{"LineOnTheDeadlineTick", line_table, 1990, "Completed", false},
        DeadlineCase{"LineOnTheTickAfter", line_table, 2010, "Completed", true},
        DeadlineCase{"LineNever", line_table, 100000, "Completed", true},
        DeadlineCase{"ByteOnTheDeadlineTick", byte_table, 1990, "Completed", false},
        DeadlineCase{"ByteOnTheTickAfter", byte_table, 2010, "Timeout", false},
        DeadlineCase{"ByteNever", byte_table, 100000, "Timeout", false}),
    [](const auto& info) { return info.param.name; });

TEST_F(EngineRun, HardTimeoutSetsTheRunFailedBit) {
    h.start(op(byte_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Timeout");
    EXPECT_EQ(h.state.error_flags, error_bit(ERR_RUN_FAILED));
    EXPECT_EQ(probe.calls, std::vector<std::string>{"wait_byte"});
}

TEST_F(EngineRun, WaitWithoutItsOwnTimeoutInheritsTheLastOne) {
    probe.timeout = 3;
    h.start(op(inherit_table));
    ASSERT_TRUE(h.run());
    ASSERT_EQ(probe.calls.size(), 3u);
    // Second wait: started when its step ran, marker seen on the first tick past 3 s.
    uint32_t waited = probe.times[2] - probe.times[1];
    EXPECT_GT(waited, 3000u);
    EXPECT_LE(waited, 3000u + 2 * TICK_PERIOD_MS);
    EXPECT_EQ(probe.reply0, TIMEOUT_MARKER);
}

TEST_F(EngineRun, LongTimeoutCostsNoRealTime) {
    probe.timeout = 300;
    h.start(op(byte_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Timeout");
    EXPECT_GE(h.clock.now_ms(), 300'000u);
}

TEST_F(EngineRun, MatchWaitHasNoDeadlineAndEndsOnCancel) {
    h.start(op(match_table));
    h.wire.feed("xyz");  // other bytes are dropped
    EXPECT_FALSE(h.run(600'000));
    EXPECT_EQ(h.window.status[0], "Match");
    h.engine.user_break();
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Aborted");
    EXPECT_EQ(cancel_bytes(), CANCEL_SEQUENCE_LENGTH);
}

TEST_F(EngineRun, MatchWaitEndsOnTheExpectedByte) {
    h.start(op(match_table));
    h.wire.feed_at(h.clock.now_ms() + 10'000, "xxC");
    ASSERT_TRUE(h.run());
    EXPECT_EQ(probe.reply0, 'C');
    EXPECT_EQ(h.window.status[2], "Completed");
}

struct EndCase {
    const char* name;
    RunState state;
    const char* final_text;
    int cancel_bytes;
};

class EngineEnd : public EngineRun, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EngineEnd, StepEndsTheRun) {
    const EndCase& c = GetParam();
    probe.end_with = c.state;
    h.start(op(end_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], c.final_text);
    EXPECT_EQ(cancel_bytes(), c.cancel_bytes);
    EXPECT_EQ(h.state.error_flags, error_bit(ERR_RUN_FAILED));
    EXPECT_EQ(probe.calls, std::vector<std::string>{"end_run"});
    // The cancel bytes go before the local command.
    std::string out = h.wire.output_text();
    EXPECT_EQ(out.substr(out.size() - LOCAL_COMMAND.size()), LOCAL_COMMAND);
    EXPECT_EQ(h.engine.run_state, RS_IDLE);
}

INSTANTIATE_TEST_SUITE_P(States, EngineEnd,
                         ::testing::Values(EndCase{"Aborted", RS_ABORTED, "Aborted", 0},
                                           EndCase{"Cancel", RS_CANCEL, "Aborted", 8},
                                           EndCase{"SyncLost", RS_SYNC_LOST, "Out of sync", 8},
                                           EndCase{"Timeout", RS_TIMEOUT, "Timeout", 0},
                                           EndCase{"Other", 100, "Unknown", 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(EngineRun, CancelWhileAWriteIsPendingAbandonsItAndSendsTheCancelSequence) {
    h.state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
    h.start(op(write_table));
    h.wire.hold_writes = true;
    EXPECT_FALSE(h.run(1000));  // the write stays pending, polled every tick
    EXPECT_EQ(h.window.status[0], "Write");
    h.engine.user_break();
    h.wire.hold_writes = false;
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Aborted");
    EXPECT_EQ(h.state.error_flags, error_bit(ERR_USER_BREAK) | error_bit(ERR_RUN_FAILED));
    EXPECT_EQ(h.state.command_line_flags, 0u);
    EXPECT_EQ(h.window.cancels, 0);  // no longer an automatic run: the window stays open
    EXPECT_EQ(h.wire.output_text(), std::string(8, char(CAN)) + LOCAL_COMMAND);
    EXPECT_EQ(probe.calls, std::vector<std::string>{"write_hello"});
}

TEST_F(EngineRun, PendingWriteCompletesAndTheKeptResultTakesEffect) {
    h.start(op(write_table));
    h.wire.hold_writes = true;
    EXPECT_FALSE(h.run(500));
    h.wire.hold_writes = false;
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Completed");
    EXPECT_EQ(h.wire.output_text(), "HELLO\n" + LOCAL_COMMAND);
    EXPECT_EQ(probe.calls, (std::vector<std::string>{"write_hello", "look"}));
}

TEST_F(EngineRun, WriteRefusedByTheDeviceEndsTheRunWithAMessage) {
    for (bool pending_first : {false, true}) {
        SCOPED_TRACE(pending_first ? "refused while pending" : "refused at once");
        h.window.messages.clear();
        probe.calls.clear();
        h.wire.fail_writes = !pending_first;
        h.wire.hold_writes = pending_first;
        h.start(op(write_table));
        if (pending_first) {
            EXPECT_FALSE(h.run(200));
            h.wire.fail_writes = true;
        }
        ASSERT_TRUE(h.run(10'000));
        EXPECT_EQ(h.window.status[2], "Port lost");
        ASSERT_EQ(h.window.messages.size(), 1u);
        EXPECT_EQ(h.window.messages[0].text,
                  "Connection to COM3 lost\nscripted device: write refused");
        EXPECT_EQ(probe.calls, std::vector<std::string>{"write_hello"});
        h.wire.hold_writes = false;
    }
}

TEST_F(EngineRun, DeviceLostDuringAWaitEndsTheRunInsteadOfWaitingForEver) {
    h.state.command_line_flags = CMD_AUTOMATIC;
    h.start(op(match_table));
    EXPECT_FALSE(h.run(1000));
    h.wire.lost = true;
    ASSERT_TRUE(h.run(10'000));
    EXPECT_EQ(h.window.status[2], "Port lost");
    EXPECT_TRUE(h.window.messages.empty());
    EXPECT_EQ(h.state.error_flags, error_bit(ERR_PORT_LOST) | error_bit(ERR_RUN_FAILED));
    EXPECT_EQ(h.state.error_reasons[ERR_PORT_LOST], "scripted device: lost");
    EXPECT_EQ(h.window.cancels, 1);
}

TEST_F(EngineRun, AutomaticRunClosesTheWindowAtTheEnd) {
    h.state.command_line_flags = CMD_AUTOMATIC;
    h.start(op(empty_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.cancels, 1);
}

TEST_F(EngineRun, InteractiveRunLeavesTheWindowOpen) {
    h.start(op(empty_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.cancels, 0);
}

TEST_F(EngineRun, FileLineAndProgressBarAreResetAtTheEnd) {
    h.start(op(progress_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.file_line, "");
    EXPECT_EQ(h.window.progress, 0);
    EXPECT_EQ(h.window.status[2], "Completed");
}

TEST_F(EngineRun, StepsMoveTheIndexToRerunAndToJump) {
    h.start(op(jump_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(probe.calls, (std::vector<std::string>{"rerun_twice", "rerun_twice", "rerun_twice",
                                                     "jump_to_look", "look"}));
}

TEST_F(EngineRun, StatusPartZeroShowsEachRowAndIdleAtTheEnd) {
    h.start(op(line_table));
    h.wire.feed("x\n");
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status_history, (std::vector<std::string>{"Detect", "Look", "Idle"}));
}

TEST_F(EngineRun, PacketTextRowsShowTheTextAsItIsNow) {
    static constexpr StepRow table[] = {{[](Engine& e, TransferRecord&) -> StepResult {
                                             e.packet_text = "Packet 1";
                                             e.wait_timeout = 1;
                                             return SR_WAIT_BYTE;
                                         },
                                         PACKET_TEXT},
                                        {nullptr, nullptr}};
    h.start(op(table));
    h.engine.packet_text = "Waiting for transmitter";
    EXPECT_FALSE(h.run(TICK_PERIOD_MS));
    EXPECT_EQ(h.window.status[0], "Waiting for transmitter");
    h.run(TICK_PERIOD_MS);
    EXPECT_EQ(h.window.status[0], "Packet 1");
}

TEST_F(EngineRun, ReadyStepsFollowAtOnceButNothingFollowsACommandLineWithinFiftyMs) {
    h.start(op(write_table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.wire.output_text(), "HELLO\n" + LOCAL_COMMAND);
    ASSERT_EQ(probe.times.size(), 2u);
    EXPECT_EQ(probe.times[1], probe.times[0]);  // "look" ran in the same moment
    ASSERT_EQ(h.wire.write_ms.size(), 2u);
    EXPECT_EQ(h.wire.write_ms[1] - h.wire.write_ms[0], 50u);  // the end waited for the quiet
}

TEST_F(EngineRun, ForeignTimerIdentifiersAreIgnored) {
    h.start(op(match_table));
    EXPECT_FALSE(h.run(200));
    int32_t index = h.engine.step_index;
    for (int id : {0, 21, 29, 233})
        h.engine.engine_tick(id);
    EXPECT_EQ(h.engine.step_index, index);
    EXPECT_TRUE(h.timer.armed());
}

TEST_F(EngineRun, JumpOutsideTheTableEndsTheRunInsteadOfReadingPastIt) {
    static constexpr StepRow table[] = {{[](Engine& e, TransferRecord&) -> StepResult {
                                             e.step_index += 40;
                                             return SR_NEXT;
                                         },
                                         "Bad jump"},
                                        {nullptr, nullptr}};
    h.start(op(table));
    ASSERT_TRUE(h.run());
    EXPECT_EQ(h.window.status[2], "Aborted");
}

// --idle-timeout: an unattended run whose tester stays silent ends "Timeout" after the
// cancel sequence and the way back to local; bytes from the tester and the time spent
// inside steps (a long conversion) do not count as silence.
StepResult slow_step(Engine&, TransferRecord&) {
    note("slow_step");
    probe.h->clock.advance(60'000);
    return SR_NEXT;
}
constexpr StepRow slow_table[] = {{slow_step, "Slow"}, {wait_match, "Match"}, {nullptr, nullptr}};

struct IdleCase {
    const char* name;
    const StepRow* table;
    uint32_t command_line_flags;
    uint32_t options;
    bool hold_writes;
    uint32_t chatter_until_ms;  // a stray byte every 20 s until then
    uint32_t ends_after_ms;     // 0: still running after ten minutes
};

void PrintTo(const IdleCase& c, std::ostream* os) {
    *os << c.name;
}

class EngineIdle : public EngineRun, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(EngineIdle, SilentTesterEndsAnUnattendedRun) {
    const IdleCase& c = GetParam();
    h.state.idle_timeout_s = 30;
    h.state.command_line_flags = c.command_line_flags;
    h.state.options = c.options;
    h.wire.hold_writes = c.hold_writes;
    uint32_t start = h.clock.now_ms();
    for (uint32_t at = 20'000; at <= c.chatter_until_ms; at += 20'000)
        h.wire.feed_at(start + at, "x");
    h.start(op(c.table));
    bool ended = h.run(600'000);
    if (c.ends_after_ms == 0) {
        EXPECT_FALSE(ended);
        return;
    }
    ASSERT_TRUE(ended);
    uint32_t took = h.clock.now_ms() - EngineHarness::SETTLE_MS - start;
    EXPECT_GT(took, c.ends_after_ms);
    // A tester that holds every write back also holds back the local command, which gives
    // up after its own 2 s.
    EXPECT_LT(took, c.ends_after_ms + (c.hold_writes ? 3000 : 1000));
    EXPECT_EQ(h.window.status[2], "Timeout");
    EXPECT_EQ(h.state.error_flags, error_bit(ERR_RUN_FAILED));
    EXPECT_EQ(h.window.cancels, 1);
    if (!c.hold_writes) {
        EXPECT_EQ(h.wire.output_text(), std::string(8, char(CAN)) + LOCAL_COMMAND);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineIdle,
    ::testing::Values(
        IdleCase{"WaitWithoutDeadline", match_table, CMD_AUTOMATIC, 0, false, 0, 30'000},
        IdleCase{"WriteHeldOff", write_table, CMD_AUTOMATIC, 0, true, 0, 30'000},
        IdleCase{"BytesKeepItAlive", match_table, CMD_AUTOMATIC, 0, false, 100'000, 130'000},
        IdleCase{"TimeInsideAStepIsNotSilence", slow_table, CMD_AUTOMATIC, 0, false, 0, 90'000},
        IdleCase{"InteractiveRun", match_table, 0, 0, false, 0, 0},
        IdleCase{"PollingMode", match_table, CMD_AUTOMATIC, OPT_POLLING, false, 0, 0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace trelvo
