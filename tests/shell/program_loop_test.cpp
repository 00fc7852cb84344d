// The outer loop: settings before every line, one window per run, batch scripts, the run
// log after every window, and the exit status.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/error_table.h"
#include "engine/virtual_clock.h"
#include "settings/settings_file.h"
#include "shell/program.h"
#include "tests/support/memory_device.h"
#include "tests/support/model_window.h"
#include "tests/support/recording_window.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;

// What one window saw when it opened.
struct Opened {
    uint32_t flags;
    uint32_t port;
    uint32_t baud;
    uint32_t operation;
    uint32_t options;
    std::string path;
};

class ProgramLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        std::setlocale(LC_TIME, "C");
        std::string pattern = (fs::temp_directory_path() / "trelvo-program-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        setup.directory = dir;
        setup.message_box = [this](std::string_view text) { messages.emplace_back(text); };
        setup.make_opener = [](const SettingsState&) { return std::make_unique<MemoryOpener>(); };
        setup.open_window = [this](WindowShared& shared) {
            SettingsState& s = shared.state;
            opened.push_back({s.command_line_flags, s.port_number, s.baud_index, s.operation_index,
                              s.options, s.command_line_path});
            return window(shared);
        };
    }
    void TearDown() override { fs::remove_all(dir); }

    int run(std::string line) {
        setup.command_line = std::move(line);
        return run_program(setup);
    }
    std::string read(const fs::path& name) {
        std::ifstream in(dir / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void write(const fs::path& name, std::string_view text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    std::string script(std::string_view text) {
        write("script.txt", text);
        return (dir / "script.txt").string();
    }
    // Log entries without their date lines.
    std::vector<std::string> log_lines() {
        std::vector<std::string> lines;
        std::string log = read("trelvo.log");
        for (size_t start = 0; start < log.size();) {
            size_t end = log.find("\r\n", start);
            if (end == std::string::npos) break;
            std::string line = log.substr(start, end - start);
            if (line.rfind("---->", 0) != 0) lines.push_back(line);
            start = end + 2;
        }
        return lines;
    }

    fs::path dir;
    ProgramSetup setup;
    std::vector<std::string> messages;
    std::vector<Opened> opened;
    // What the window does: by default an automatic run that completes, as the engine
    // and the window leave it (settings written, "Completed" kept).
    std::function<WindowEnd(WindowShared&)> window = [](WindowShared& shared) {
        testing::RecordingWindow surface;
        write_settings(shared.state, surface, shared.directory);
        shared.run_result = "Completed";
        return WindowEnd{true, shared.state.automatic_run()};
    };
};

TEST_F(ProgramLoop, EmptyCommandLineOpensOneWindowAndLogsNothing) {
    EXPECT_EQ(run(""), EXIT_RUNS_COMPLETED);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].flags, 0u);
    EXPECT_EQ(opened[0].port, 0u);
    EXPECT_FALSE(fs::exists(dir / "trelvo.log"));
    EXPECT_TRUE(fs::exists(dir / "trelvo.ini"));
}

TEST_F(ProgramLoop, AutomaticRunOpensTheWindowOnItsSettingsAndLogsOnce) {
    EXPECT_EQ(run("-F3 -C2 -B9600"), EXIT_RUNS_COMPLETED);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].flags, CMD_AUTOMATIC | CMD_PORT | CMD_BAUD);
    EXPECT_EQ(opened[0].port, 2u);
    EXPECT_EQ(opened[0].baud, 2u);
    EXPECT_EQ(opened[0].operation, 3u);
    EXPECT_EQ(log_lines(),
              (std::vector<std::string>{"trelvo -F3 -C2 -B9600",
                                        "Upload Result List successful completed", ""}));
}

TEST_F(ProgramLoop, OutOfRangeValuesLeaveTheSettingsFileValues) {
    write("trelvo.ini", "[Version]\n410\n[Port]\nCOM7\n[Baudrate]\n2\n[Function]\n1\n");
    EXPECT_EQ(run("-F5 -B1200 -C0 -C300"), EXIT_RUNS_COMPLETED);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].flags, 0u);
    EXPECT_EQ(opened[0].port, 7u);
    EXPECT_EQ(opened[0].baud, 2u);
    EXPECT_EQ(opened[0].operation, 1u);
    EXPECT_FALSE(fs::exists(dir / "trelvo.log"));
}

TEST_F(ProgramLoop, SettingsOfAnotherVersionAreSetAsideBeforeTheWindow) {
    write("trelvo.ini", "[Version]\n409\n[Port]\nCOM4\n");
    run("");
    EXPECT_TRUE(fs::exists(dir / "trelvoini1.old"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].port, 4u);
}

TEST_F(ProgramLoop, ScriptRunsEveryLineWithAValidFunctionOnce) {
    std::string path = script("-F1\n\n-C2\n");
    std::string line = "-S\"" + path + "\"";
    EXPECT_EQ(run(line), EXIT_RUNS_COMPLETED);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].operation, 1u);
    EXPECT_EQ(opened[0].port, 0u);  // -C2 changed nothing that lasts
    EXPECT_EQ(log_lines(),
              (std::vector<std::string>{"trelvo " + line + " -> -F1",
                                        "Download Mobile List successful completed", ""}));
}

TEST_F(ProgramLoop, ScriptLineStartsFromTheSettingsTheWindowBeforeWrote) {
    std::string path = script("-F1 -C9\r\n-F2\r\n");
    run("-S\"" + path + "\"");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1].port, 9u);
    EXPECT_EQ(opened[1].operation, 2u);
    EXPECT_EQ(log_lines().size(), 6u);
}

TEST_F(ProgramLoop, LastScriptLineWithoutLineEndStillRuns) {
    std::string path = script("-C3\n-F0");
    run("-S\"" + path + "\"");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].operation, 0u);
    EXPECT_EQ(opened[0].flags, CMD_AUTOMATIC);
}

TEST_F(ProgramLoop, MissingScriptLetsTheLineRunAsAnOrdinaryAutomaticRun) {
    std::string line = "-S\"" + (dir / "nothing.txt").string() + "\" -F2";
    run(line);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].operation, 2u);
    EXPECT_EQ(log_lines()[0], "trelvo " + line);
}

TEST_F(ProgramLoop, CommandLineWithAScriptRunsOnlyTheScript) {
    std::string path = script("-F4\n");
    run("-F3 -S\"" + path + "\"");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].operation, 4u);
}

TEST_F(ProgramLoop, ScriptWithoutAnyRunOpensNoWindow) {
    std::string path = script("-C2\n-B9600\n");
    EXPECT_EQ(run("-S\"" + path + "\""), EXIT_RUNS_COMPLETED);
    EXPECT_TRUE(opened.empty());
}

TEST_F(ProgramLoop, OverlongScriptLineIsReadAsTwoLines) {
    // Characters 1..998 make the first line; the 999th (the "2" of a late -F2) is dropped;
    // the second line begins with the 1000th.
    std::string first = "-F1 ";
    first.resize(996, 'a');
    first += "-F2";
    std::string second = "-F4 -P\"/data\"";
    second.resize(201, 'b');
    std::string path = script(first + second + "\n");
    run("-S\"" + path + "\"");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].operation, 1u);
    EXPECT_EQ(opened[1].operation, 4u);
    EXPECT_EQ(opened[1].path, "/data");
    EXPECT_EQ(log_lines().size(), 6u);
}

TEST_F(ProgramLoop, QuotedPathDoesNotStartAnything) {
    run("-C2 -P\"/data/run-F2\"");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].flags, CMD_PORT | CMD_PATH);
}

TEST_F(ProgramLoop, FailedAutomaticRunGivesExitStatusOneAndTheFailureEntry) {
    window = [](WindowShared& shared) {
        shared.state.error_flags |= error_bit(ERR_RUN_FAILED) | error_bit(ERR_PRINTOUT_BARE);
        shared.run_result = "Timeout";
        return WindowEnd{true, true};
    };
    EXPECT_EQ(run("-F3"), EXIT_RUN_FAILED);
    EXPECT_EQ(log_lines(), (std::vector<std::string>{
                               "trelvo -F3", "Upload Result List Timeout",
                               "Error: " + std::string(error_messages[ERR_PRINTOUT_BARE]), ""}));
}

TEST_F(ProgramLoop, PortFailureIsLoggedAsARunThatNeverRan) {
    window = [](WindowShared& shared) {
        if (shared.state.operation_index == 0) {
            shared.run_result = "Completed";
        } else {
            shared.state.error_flags |= error_bit(ERR_COM_PORT);
        }
        return WindowEnd{true, shared.state.operation_index == 0};
    };
    std::string path = script("-F0\n-F1\n");
    EXPECT_EQ(run("-S\"" + path + "\""), EXIT_RUN_FAILED);
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 7u);
    // Not the "Completed" of the window before: this run never ran.
    EXPECT_EQ(lines[4], "Download Mobile List Aborted");
    EXPECT_EQ(lines[5], "Error: Invalid COM Port.");
}

// The real main window on a port scan the test plays, whose run never starts; then the user
// presses Cancel.
struct NeverRan {
    const char* name;
    const char* line;
    std::function<void(const ScanEmit& emit)> scan;
};

class ProgramLoopNeverRan : public ProgramLoop, public ::testing::WithParamInterface<NeverRan> {};

TEST_P(ProgramLoopNeverRan, AutomaticRunClosedBeforeItsRunIsLoggedAsFailed) {
    window = [](WindowShared& shared) {
        VirtualClock clock;
        VirtualTimer timer{clock, [](int) {}};
        testing::ModelWindow surface;
        Engine engine{shared.state, surface, clock, timer};
        testing::FakeScanner scanner;
        MainWindowModel model{shared, engine, scanner, surface, std::chrono::milliseconds(0)};
        surface.model = &model;
        model.initialise();
        GetParam().scan(scanner.emit);
        for (int i = 0; i < 5; ++i)
            surface.run_queued();
        EXPECT_FALSE(model.run_started());
        model.cancel();
        return WindowEnd{true, model.automatic_run_started()};
    };
    EXPECT_EQ(run(GetParam().line), EXIT_RUN_FAILED);
    EXPECT_EQ(log_lines(),
              (std::vector<std::string>{"trelvo " + std::string(GetParam().line),
                                        "Firmware Update Aborted", "Error: User break.", ""}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramLoopNeverRan,
    ::testing::Values(
        NeverRan{"ConfiguredPortMissing", "-F0 -C3",
                 [](const ScanEmit& emit) {
                     emit({ScanEventKind::PortFound, {1, "COM1", false}, true});
                     emit({ScanEventKind::Finished, {}, false});
                 }},
        NeverRan{"ConfiguredPortHeld", "-F0 -C3",
                 [](const ScanEmit& emit) {
                     emit({ScanEventKind::PortFound, {3, "COM3", true}, true});
                     emit({ScanEventKind::Finished, {}, false});
                 }},
        NeverRan{"ScanStoppedEarlyAndDroppedTheStart", "-F0 -C3",
                 [](const ScanEmit& emit) {
                     emit({ScanEventKind::StoppedSlow, {}, false});
                     emit({ScanEventKind::Finished, {}, false});
                 }},
        // Under -MP only Upload Result List starts by itself; the user never pressed OK.
        NeverRan{"PollingOptionClosedWithoutOk", "-MP1 -F0",
                 [](const ScanEmit& emit) {
                     emit({ScanEventKind::Finished, {}, false});
                 }}),
    [](const auto& info) { return info.param.name; });

TEST_F(ProgramLoop, UserBreakIsNotLoggedButFailsTheExitStatus) {
    window = [](WindowShared& shared) {
        shared.state.command_line_flags = 0;
        shared.state.error_flags |= error_bit(ERR_USER_BREAK) | error_bit(ERR_RUN_FAILED);
        return WindowEnd{true, true};
    };
    EXPECT_EQ(run("-F2"), EXIT_RUN_FAILED);
    EXPECT_FALSE(fs::exists(dir / "trelvo.log"));
}

TEST_F(ProgramLoop, FailedInteractiveRunKeepsExitStatusZero) {
    window = [](WindowShared& shared) {
        shared.state.error_flags |= error_bit(ERR_RUN_FAILED);
        return WindowEnd{true, false};
    };
    EXPECT_EQ(run("-C2"), EXIT_RUNS_COMPLETED);
}

TEST_F(ProgramLoop, PollingRunUnderMpIsNeitherLoggedNorCounted) {
    window = [](WindowShared& shared) {
        shared.state.command_line_flags &= ~CMD_AUTOMATIC;  // the window's polling start
        shared.state.error_flags |= error_bit(ERR_USER_BREAK) | error_bit(ERR_RUN_FAILED);
        return WindowEnd{true, false};
    };
    EXPECT_EQ(run("-MP1 -F3"), EXIT_RUNS_COMPLETED);
    EXPECT_FALSE(fs::exists(dir / "trelvo.log"));
}

TEST_F(ProgramLoop, WindowThatCannotBeCreatedIsLoggedInAnAutomaticRun) {
    setup.open_window = [](WindowShared&) { return WindowEnd{false}; };
    EXPECT_EQ(run("-F0"), EXIT_RUN_FAILED);
    EXPECT_EQ(log_lines()[2], "Error: Can't load dialog box!");
    EXPECT_TRUE(messages.empty());
}

TEST_F(ProgramLoop, WindowThatCannotBeCreatedShowsAMessageOtherwise) {
    setup.open_window = [](WindowShared&) { return WindowEnd{false}; };
    EXPECT_EQ(run(""), EXIT_RUNS_COMPLETED);
    EXPECT_EQ(messages, std::vector<std::string>{"Can't load dialog box!\n"});
}

TEST_F(ProgramLoop, EveryWindowSharesOneStartGate) {
    std::vector<StartGate*> gates;
    window = [&gates](WindowShared& shared) {
        gates.push_back(&shared.gate);
        shared.gate.release();
        return WindowEnd{true, false};
    };
    std::string path = script("-F0\n-F0\n");
    run("-S\"" + path + "\"");
    ASSERT_EQ(gates.size(), 2u);
    EXPECT_EQ(gates[0], gates[1]);
    EXPECT_EQ(gates[1]->count(), 2);
}

TEST_F(ProgramLoop, PrepareRunReadsTheSettingsThenTheLine) {
    write("trelvo.ini", "[Version]\n410\n[Port]\nCOM7\n[Upload Result mode]\n4\n");
    SettingsState state;
    BatchScript none;
    testing::RecordingWindow surface;
    prepare_run(state, none, "-C3 -MI1", surface, dir);
    EXPECT_EQ(state.port_number, 3u);
    EXPECT_EQ(state.options, OPT_EXCEL | OPT_IMEI);
    EXPECT_EQ(state.command_line_flags, CMD_PORT | CMD_OPTIONS);
    prepare_run(state, none, "", surface, dir);
    EXPECT_EQ(state.port_number, 7u);
    EXPECT_EQ(state.command_line_flags, 0u);
}

}  // namespace
}  // namespace trelvo
