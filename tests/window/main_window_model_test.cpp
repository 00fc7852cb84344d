// The main window's rules without a toolkit: output options at opening, the automatic
// start, the start command and its gate, Cancel, the notifications and the controls.
#include "window/main_window_model.h"
#include "operations/operation_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <thread>

#include "base/error_table.h"
#include "engine/virtual_clock.h"
#include "settings/settings_file.h"
#include "tests/support/recording_window.h"
#include "tests/window/model_fixture.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;

class MainWindow : public testing::ModelFixture {
  protected:
    bool settings_written() { return fs::exists(shared.directory / SETTINGS_FILE_NAME); }
    std::string settings_text() {
        std::ifstream in(shared.directory / SETTINGS_FILE_NAME, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Lets the run reach the end of its table at once (no tester answers here) and ticks
    // the engine until the run has finished.
    void finish_run() {
        int32_t rows = 0;
        while (engine.operation->steps[rows].routine != nullptr)
            ++rows;
        if (engine.run_state == RS_RUNNING) engine.step_index = rows;
        for (int ticks = 0; ticks < 100 && engine.run_active() && clock.fire_next(); ++ticks) {
        }
    }
    void found(uint32_t number, std::string text, bool select) {
        model.scan_event({ScanEventKind::PortFound, {number, std::move(text), false}, select});
    }
    // Opens the window and lets a start command it posted obtain the gate.
    void open_and_start() {
        model.initialise();
        gate.release();
        window.run_queued();
    }
};

bool invariants_hold(uint32_t options) {
    bool some_output = (options & (OPT_EXCEL | OPT_PRINTOUT | OPT_OUTPUT_FILE)) != 0;
    bool direct_with_printout = (options & OPT_DIRECT_PRINT) == 0 || (options & OPT_PRINTOUT) != 0;
    return some_output && direct_with_printout;
}

// ---- Opening ----

struct OpeningOptions {
    uint32_t stored;
    uint32_t shown;
};
void PrintTo(const OpeningOptions& c, std::ostream* os) {
    *os << "stored " << c.stored;
}

class MainWindowOpeningOptions : public MainWindow,
                                 public ::testing::WithParamInterface<OpeningOptions> {};

TEST_P(MainWindowOpeningOptions, OutputBoxesFollowTheRules) {
    state.options = GetParam().stored;
    model.initialise();
    EXPECT_EQ(state.options, GetParam().shown);
    for (OptionBox box : OPTION_BOXES)
        EXPECT_EQ(model.checked(box), (GetParam().shown & option_box_bit(box)) != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainWindowOpeningOptions,
    ::testing::Values(OpeningOptions{0x00, 0x40},  // no output: the output file
                      OpeningOptions{0x01, 0x41}, OpeningOptions{0x04, 0x04},
                      OpeningOptions{0x08, 0x08}, OpeningOptions{0x40, 0x40},
                      OpeningOptions{0x4c, 0x4c},
                      // Direct printout forces the printout, after the output file was decided
                      OpeningOptions{0x20, 0x68}, OpeningOptions{0x24, 0x2c},
                      OpeningOptions{0x7f, 0x7f}));

TEST_F(MainWindow, OpeningShowsScanningStartsTheScanAndIdlesTheRunState) {
    engine.run_state = RS_TIMEOUT;
    model.initialise();
    EXPECT_EQ(window.status[0], "Scanning COM Ports");
    EXPECT_EQ(scanner.started_for, 3u);
    EXPECT_EQ(engine.run_state, RS_IDLE);
    EXPECT_TRUE(window.changes & VIEW_CONTROLS);
    EXPECT_FALSE(model.started_by_itself());
    EXPECT_TRUE(window.queue.empty());
}

TEST_F(MainWindow, OpeningWithDirectPrintoutTheTesterOutputOffDirectPrintoutDisablesNothing) {
    state.options = OPT_DIRECT_PRINT | OPT_PRINTOUT;
    model.initialise();
    ControlState expected{true, true, true, true, true, true, true};
    EXPECT_EQ(model.controls(), expected);
}

struct AutomaticStart {
    uint32_t command_flags;
    uint32_t options;
    uint32_t operation;
    bool starts;
    bool automatic_after;
};
void PrintTo(const AutomaticStart& c, std::ostream* os) {
    *os << "flags " << c.command_flags << " options " << c.options << " operation " << c.operation;
}

class MainWindowAutomaticStart : public MainWindow,
                                 public ::testing::WithParamInterface<AutomaticStart> {};

TEST_P(MainWindowAutomaticStart, FollowsTheStartTable) {
    const AutomaticStart& row = GetParam();
    state.command_line_flags = row.command_flags;
    state.options = row.options | OPT_OUTPUT_FILE;
    state.operation_index = row.operation;
    model.initialise();
    EXPECT_EQ(model.started_by_itself(), row.starts);
    EXPECT_EQ(window.queue.size(), row.starts ? 1u : 0u);
    EXPECT_EQ(state.automatic_run(), row.automatic_after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainWindowAutomaticStart,
    ::testing::Values(
        // -MP with polling on: only Upload Result List, and as an interactive run
        AutomaticStart{CMD_POLLING | CMD_AUTOMATIC, OPT_POLLING, 3, true, false},
        AutomaticStart{CMD_POLLING, OPT_POLLING, 3, true, false},
        AutomaticStart{CMD_POLLING | CMD_AUTOMATIC, OPT_POLLING, 0, false, true},
        // -MP with polling off: a valid -F starts
        AutomaticStart{CMD_POLLING | CMD_AUTOMATIC, 0, 0, true, true},
        AutomaticStart{CMD_POLLING, 0, 3, false, false},
        // without -MP: a valid -F, or polling with Upload Result List
        AutomaticStart{CMD_AUTOMATIC, 0, 1, true, true},
        AutomaticStart{CMD_AUTOMATIC, OPT_POLLING, 0, true, true},
        AutomaticStart{0, OPT_POLLING, 3, true, false},
        AutomaticStart{0, OPT_POLLING, 2, false, false}, AutomaticStart{0, 0, 3, false, false}));

// ---- Start command ----

TEST_F(MainWindow, StartWaitsForTheGateAndPostsItselfAgain) {
    state.command_line_flags = CMD_AUTOMATIC;
    model.initialise();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(window.run_queued(), 1u);
        EXPECT_TRUE(model.start_pending());
    }
    EXPECT_TRUE(opener.requests().empty());
    gate.release();
    window.run_queued();
    EXPECT_FALSE(model.start_pending());
    EXPECT_TRUE(engine.run_active());
    EXPECT_EQ(gate.count(), 0);
}

TEST_F(MainWindow, ScanOpeningTheConfiguredPortReleasesTheGateAndShowsIdle) {
    model.initialise();
    scanner.emit({ScanEventKind::ConfiguredPortOpened, {}, false});
    EXPECT_EQ(gate.count(), 1);
    EXPECT_EQ(window.status[0], "Scanning COM Ports");  // shown once the window gets to it
    window.run_queued();
    EXPECT_EQ(window.status[0], "Idle");
    EXPECT_TRUE(model.configured_port_opened());
}

TEST_F(MainWindow, SlowScanDropsThePendingStartOnce) {
    state.command_line_flags = CMD_AUTOMATIC;
    model.initialise();
    model.scan_event({ScanEventKind::StoppedSlow, {}, false});
    EXPECT_EQ(engine.run_state, RS_RUNNING);
    EXPECT_EQ(gate.count(), 1);
    EXPECT_EQ(window.status[0], "Idle");
    window.run_queued();
    EXPECT_EQ(engine.run_state, RS_IDLE);
    EXPECT_FALSE(engine.run_active());
    EXPECT_FALSE(model.start_pending());
    EXPECT_TRUE(opener.requests().empty());
    EXPECT_FALSE(model.closed());
}

TEST_F(MainWindow, SlowScanWithNoStartWaitingLeavesTheNextOkAlone) {
    model.initialise();
    model.scan_event({ScanEventKind::StoppedSlow, {}, false});
    EXPECT_EQ(engine.run_state, RS_IDLE);
    EXPECT_EQ(model.ok(), StartOutcome::Started);
}

TEST_F(MainWindow, OkReleasesTheGateItselfAndStarts) {
    model.initialise();
    EXPECT_EQ(model.ok(), StartOutcome::Started);
    EXPECT_EQ(gate.count(), 0);
    EXPECT_TRUE(engine.run_active());
    EXPECT_EQ(engine.operation, &operation_table[3]);
}

TEST_F(MainWindow, StartClearsTheStatusAndStepIndexAndDisablesTheControls) {
    model.initialise();
    window.status = {"x", "01:02", "Timeout", "KV71"};
    engine.step_index = 7;
    model.ok();
    EXPECT_EQ(window.status[1], "");
    EXPECT_EQ(window.status[2], "");
    EXPECT_EQ(window.status[3], "");
    EXPECT_EQ(engine.step_index, 0);
    EXPECT_EQ(model.controls(), (ControlState{false, false, false, false, false, false, false}));
    EXPECT_EQ(link.pc().applied_settings()->baud, 38400u);
}

TEST_F(MainWindow, PortThatCannotOpenKeepsAnInteractiveWindowOpen) {
    state.port_number = 4;
    model.initialise();
    EXPECT_EQ(model.ok(), StartOutcome::PortFailed);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text.rfind("Invalid Port COM4\n", 0), 0u);
    EXPECT_FALSE(model.closed());
    EXPECT_TRUE(model.controls().ok);
    EXPECT_FALSE(settings_written());
}

TEST_F(MainWindow, PortThatCannotOpenClosesAnAutomaticRunWithoutSaving) {
    state.port_number = 4;
    state.command_line_flags = CMD_AUTOMATIC;
    shared.run_result = "Timeout";  // left by an earlier window
    open_and_start();
    EXPECT_TRUE(model.closed());
    EXPECT_EQ(window.closes, 1);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(state.error_flags, error_bit(ERR_COM_PORT));
    EXPECT_FALSE(settings_written());
    EXPECT_EQ(shared.run_result, "Timeout");
    EXPECT_FALSE(model.run_started());
}

TEST_F(MainWindow, AutomaticRunClosesItselfSavesAndKeepsTheResultText) {
    state.command_line_flags = CMD_AUTOMATIC;
    open_and_start();
    EXPECT_TRUE(model.automatic_run_started());
    finish_run();
    EXPECT_EQ(window.cancels, 1);
    EXPECT_TRUE(model.closed());
    EXPECT_TRUE(settings_written());
    EXPECT_EQ(shared.run_result, "Completed");
    EXPECT_EQ(scanner.stops, 1);
}

TEST_F(MainWindow, InteractiveRunEndsWithTheControlsEnabledAndTheWindowOpen) {
    state.operation_index = 0;
    model.initialise();
    model.ok();
    finish_run();
    EXPECT_FALSE(model.closed());
    EXPECT_EQ(model.controls(), (ControlState{true, false, false, true, true, true, false}));
    EXPECT_EQ(window.status[2], "Completed");
}

TEST_F(MainWindow, StartRequestDuringARunLeavesTheRunAlone) {
    model.initialise();
    model.ok();
    gate.release();
    EXPECT_EQ(model.start_command(), StartOutcome::Dropped);
    EXPECT_TRUE(engine.run_active());
    EXPECT_EQ(engine.run_state, RS_RUNNING);
    EXPECT_EQ(gate.count(), 1);
}

TEST_F(MainWindow, PendingStartIsDroppedOnceTheWindowClosed) {
    state.command_line_flags = CMD_AUTOMATIC;
    model.initialise();
    model.cancel();
    gate.release();
    window.run_queued();
    EXPECT_FALSE(model.start_pending());
    EXPECT_TRUE(opener.requests().empty());
}

// ---- Cancel ----

TEST_F(MainWindow, CancelDuringARunBreaksItAndNeverCloses) {
    state.command_line_flags = CMD_AUTOMATIC | CMD_PORT;
    open_and_start();
    model.cancel();
    EXPECT_EQ(state.command_line_flags, 0u);
    EXPECT_EQ(state.error_flags & error_bit(ERR_USER_BREAK), error_bit(ERR_USER_BREAK));
    EXPECT_EQ(engine.run_state, RS_CANCEL);
    EXPECT_FALSE(model.closed());
    finish_run();
    EXPECT_EQ(window.status[2], "Aborted");
    EXPECT_FALSE(model.closed());  // no longer an automatic run
    model.cancel();
    EXPECT_TRUE(model.closed());
    EXPECT_EQ(shared.run_result, "Aborted");
}

TEST_F(MainWindow, CancelOutsideARunWritesTheSettingsAndCloses) {
    model.initialise();
    window.status[2] = "Timeout";
    model.cancel();
    EXPECT_TRUE(model.closed());
    EXPECT_TRUE(settings_written());
    EXPECT_EQ(shared.run_result, "Timeout");
    EXPECT_EQ(window.closes, 1);
}

TEST_F(MainWindow, SettingsKeepTheSelectedPortEntry) {
    state.port_number = 5;
    model.initialise();
    found(1, "COM1 ttyS0", true);
    found(3, "COM3 ttyS2", false);
    model.cancel();
    EXPECT_NE(settings_text().find("[Port]\r\nCOM1\r\n"), std::string::npos);
}

TEST_F(MainWindow, SettingsWithoutAnyPortReadBackAsComOne) {
    state.port_number = 5;
    model.initialise();
    model.cancel();
    SettingsState read;
    testing::RecordingWindow messages;
    load_settings(read, messages, shared.directory);
    EXPECT_EQ(read.port_number, 1u);
}

// ---- Notifications ----

TEST_F(MainWindow, PortListSelectionSetsThePortNumber) {
    model.initialise();
    found(1, "COM1 ttyS0", true);
    found(33, "COM33 ttyUSB0", false);
    model.port_selected(1);
    EXPECT_EQ(state.port_number, 33u);
    EXPECT_EQ(model.selected_port(), 1);
    model.scan_event({ScanEventKind::PortFound, {0, "LPT1", false}, false});
    model.port_selected(2);
    EXPECT_EQ(state.port_number, 33u);
    model.port_selected(7);  // no such entry
    EXPECT_EQ(model.selected_port(), 2);
}

TEST_F(MainWindow, ScanEntriesKeepTheirOrderAndSelection) {
    state.port_number = 3;
    model.initialise();
    found(1, "COM1", true);
    found(3, "COM3", true);
    found(7, "COM7", false);
    ASSERT_EQ(model.ports().size(), 3u);
    EXPECT_EQ(model.ports()[2].text, "COM7");
    EXPECT_EQ(model.selected_port(), 1);
    EXPECT_TRUE(window.changes & VIEW_PORT_LIST);
}

TEST_F(MainWindow, BaudListSelectionSetsTheBaudRateIndex) {
    model.initialise();
    model.baud_selected(2);
    EXPECT_EQ(state.baud_index, 2u);
    model.baud_selected(4);
    EXPECT_EQ(state.baud_index, 2u);
    model.ok();
    EXPECT_EQ(link.pc().applied_settings()->baud, 9600u);
}

struct OperationControls {
    int operation;
    bool directory;
    bool option_boxes;
    bool print_setup;
};
void PrintTo(const OperationControls& c, std::ostream* os) {
    *os << "operation " << c.operation;
}

class MainWindowOperationControls : public MainWindow,
                                    public ::testing::WithParamInterface<OperationControls> {};

TEST_P(MainWindowOperationControls, OperationDecidesDirectoryOptionsAndPrintSetup) {
    state.options = OPT_DIRECT_PRINT | OPT_PRINTOUT;
    state.operation_index = 0;
    model.initialise();
    model.operation_selected(GetParam().operation);
    EXPECT_EQ(state.operation_index, static_cast<uint32_t>(GetParam().operation));
    EXPECT_EQ(model.controls().directory, GetParam().directory);
    EXPECT_EQ(model.controls().option_boxes, GetParam().option_boxes);
    EXPECT_EQ(model.controls().print_setup, GetParam().print_setup);
    EXPECT_TRUE(model.controls().ok);
}

INSTANTIATE_TEST_SUITE_P(Table, MainWindowOperationControls,
                         ::testing::Values(OperationControls{0, false, false, false},
                                           OperationControls{1, false, false, false},
                                           OperationControls{2, true, false, false},
                                           OperationControls{3, true, true, true},
                                           OperationControls{4, false, false, false}));

struct CheckBoxRule {
    uint32_t before;
    OptionBox box;
    bool checked;
    uint32_t after;
};
void PrintTo(const CheckBoxRule& c, std::ostream* os) {
    *os << option_box_caption(c.box) << (c.checked ? " checked" : " unchecked") << " from "
        << c.before;
}

class MainWindowCheckBoxRule : public MainWindow,
                               public ::testing::WithParamInterface<CheckBoxRule> {};

TEST_P(MainWindowCheckBoxRule, ClickAppliesItsRule) {
    state.options = GetParam().before;
    model.initialise();
    ASSERT_EQ(state.options, GetParam().before);
    model.check_box_clicked(GetParam().box, GetParam().checked);
    EXPECT_EQ(state.options, GetParam().after);
    EXPECT_EQ(model.controls().print_setup, (GetParam().after & OPT_DIRECT_PRINT) != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainWindowCheckBoxRule,
    ::testing::Values(CheckBoxRule{0x40, OptionBox::Polling, true, 0x41},
                      CheckBoxRule{0x41, OptionBox::Polling, false, 0x40},
                      CheckBoxRule{0x40, OptionBox::DeleteAll, true, 0x42},
                      CheckBoxRule{0x50, OptionBox::ImeiFilename, false, 0x40},
                      CheckBoxRule{0x40, OptionBox::Excel, true, 0x44},
                      // the last output box unchecked falls back to another one
                      CheckBoxRule{0x04, OptionBox::Excel, false, 0x40},
                      CheckBoxRule{0x0c, OptionBox::Excel, false, 0x08},
                      CheckBoxRule{0x08, OptionBox::Printout, false, 0x40},
                      CheckBoxRule{0x0c, OptionBox::Printout, false, 0x04},
                      CheckBoxRule{0x40, OptionBox::OutputFile, false, 0x08},
                      CheckBoxRule{0x44, OptionBox::OutputFile, false, 0x04},
                      CheckBoxRule{0x04, OptionBox::OutputFile, true, 0x44},
                      // direct printout and printout go together
                      CheckBoxRule{0x2c, OptionBox::Printout, false, 0x04},
                      CheckBoxRule{0x28, OptionBox::Printout, false, 0x40},
                      CheckBoxRule{0x04, OptionBox::DirectPrintout, true, 0x2c},
                      CheckBoxRule{0x28, OptionBox::DirectPrintout, false, 0x08},
                      CheckBoxRule{0x40, OptionBox::Printout, true, 0x48}));

TEST_F(MainWindow, NoClickEverBreaksTheOutputInvariants) {
    model.initialise();
    for (uint32_t before = 0; before <= OPT_ALL; ++before) {
        if (!invariants_hold(before)) continue;
        for (OptionBox box : OPTION_BOXES) {
            for (bool checked : {false, true}) {
                state.options = before;
                model.check_box_clicked(box, checked);
                EXPECT_TRUE(invariants_hold(state.options))
                    << "options " << before << " box " << static_cast<int>(box) << " " << checked;
            }
        }
    }
}

TEST_F(MainWindow, DisabledControlsTakeNoClicks) {
    model.initialise();
    model.disable_controls();
    uint32_t before = state.options;
    model.check_box_clicked(OptionBox::Excel, true);
    model.operation_selected(0);
    model.baud_selected(3);
    EXPECT_EQ(state.options, before);
    EXPECT_EQ(state.operation_index, 3u);
    EXPECT_EQ(state.baud_index, 0u);
    EXPECT_EQ(model.ok(), StartOutcome::Dropped);
    model.enable_controls();
    EXPECT_EQ(model.controls(), (ControlState{true, true, false, true, true, true, true}));
}

// ---- Start gate ----

TEST(StartGate, ReleaseBeyondTenFailsWithoutEffect) {
    StartGate gate;
    for (int i = 0; i < StartGate::MAX_COUNT; ++i)
        EXPECT_TRUE(gate.release());
    EXPECT_FALSE(gate.release());
    EXPECT_EQ(gate.count(), 10);
    for (int i = 0; i < StartGate::MAX_COUNT; ++i)
        EXPECT_TRUE(gate.try_acquire_for(std::chrono::milliseconds(0)));
    EXPECT_FALSE(gate.try_acquire_for(std::chrono::milliseconds(0)));
    EXPECT_EQ(gate.count(), 0);
}

TEST(StartGate, WaitEndsWhenAnotherThreadReleases) {
    StartGate gate;
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.release();
    });
    EXPECT_TRUE(gate.try_acquire_for(std::chrono::milliseconds(2000)));
    releaser.join();
    EXPECT_FALSE(gate.try_acquire_for(std::chrono::milliseconds(10)));
}

}  // namespace
}  // namespace trelvo
