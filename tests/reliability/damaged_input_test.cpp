// The damaged-input corpus: every file of tests/data/bad/<folder>/ goes through the reader of
// its folder, in a scratch directory that is also the current directory, and must come out
// with the outcome that tests/data/bad/outcomes.txt lists for it. None may crash (the suite
// runs under the sanitizers too) and nothing may be written outside the scratch directory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "operations/operation_table.h"
#include "protocol/block_receive.h"
#include "results/imei_split.h"
#include "results/ms_type_list.h"
#include "settings/settings_file.h"
#include "shell/program.h"
#include "tests/support/engine_harness.h"
#include "tests/support/memory_device.h"

namespace trelvo {
namespace {

namespace fs = std::filesystem;
using testing::EngineHarness;

const fs::path CORPUS = fs::path(TRELVO_TEST_DATA) / "bad";

// A fresh directory that is the current one while it lives, with "out/" for the outputs.
struct Scratch {
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "trelvo-bad-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
        previous = fs::current_path();
        fs::current_path(path);
        fs::create_directory(path / "out");
    }
    ~Scratch() {
        fs::current_path(previous);
        fs::remove_all(path);
    }
    // The files in "out/" as "name size" in name order, and anything else in the directory.
    std::string files() const {
        std::map<std::string, uintmax_t> found;
        for (const auto& entry : fs::recursive_directory_iterator(path)) {
            if (entry.is_regular_file())
                found[fs::relative(entry.path(), path / "out").string()] = entry.file_size();
        }
        std::string text;
        for (const auto& [name, size] : found)
            text += " " + name + " " + std::to_string(size);
        return text.empty() ? " nothing" : text;
    }
    fs::path path, previous;
};

// The rows of operation `position` from the one that holds `first` on.
Operation rows_from(int position, StepRoutine first) {
    Operation operation = operation_table[position];
    while (operation.steps->routine != first)
        ++operation.steps;
    return operation;
}

std::string settings_outcome(const fs::path& file) {
    Scratch scratch;
    fs::copy_file(file, scratch.path / SETTINGS_FILE_NAME);
    SettingsState state;
    testing::RecordingWindow window;
    BatchScript script;
    prepare_run(state, script, "", window, scratch.path);
    int lists = state.excel_columns.from_file + state.excel_rows.from_file +
                state.printout_start.from_file + state.printout_middle.from_file +
                state.printout_end.from_file + state.printout_tables.from_file;
    char text[200];
    std::snprintf(text, sizeof text, "COM%u, baud index %u, operation %u, options %#x, %d lists",
                  state.port_number, state.baud_index, state.operation_index, state.options, lists);
    std::string outcome = text;
    if (fs::exists(scratch.path / "trelvoini1.old")) outcome += ", set aside";
    if (!window.messages.empty())
        outcome += ", " + std::to_string(window.messages.size()) + " messages";
    if (!write_settings(state, window, scratch.path)) outcome += ", not written";
    return outcome;
}

// Converted as Upload Result List converts a received list: IMEI names, spreadsheet and
// printout; the raw list goes once converted.
std::string result_list_outcome(const fs::path& file) {
    Scratch scratch;
    fs::copy_file(file, scratch.path / "out" / "RESULTS.TXT");
    EngineHarness h;
    reset_settings(h.state, false);  // the built-in definition lists
    h.state.options = OPT_EXCEL | OPT_PRINTOUT | OPT_IMEI;
    h.window.operation = 3;
    h.engine.transfer.directory = (scratch.path / "out").string() + "/";
    h.engine.transfer.file_name = "RESULTS.TXT";
    Operation conversions = rows_from(3, step_imei_begin);
    h.start(conversions);
    h.engine.transfer.file = std::fopen((scratch.path / "out" / "RESULTS.TXT").c_str(), "r+b");
    if (!h.run()) return "does not end";
    return h.window.status[2] + ":" + scratch.files();
}

std::string ms_type_list_outcome(const fs::path& file) {
    std::FILE* list = std::fopen(file.c_str(), "rb");
    std::FILE* target = std::tmpfile();
    MsListResult result = convert_ms_type_list(list, MODEL_KV72, target);
    std::fseek(target, 0, SEEK_END);
    bool same_size = std::ftell(target) == static_cast<long>(fs::file_size(file));
    std::fclose(list);
    std::fclose(target);
    switch (result) {
        case MsListResult::Converted:
            return same_size ? "converted" : "converted to another size";
        case MsListResult::TooManyRecords:
            return "too many records";
        case MsListResult::ChainLoops:
            return "chain loops";
        case MsListResult::Truncated:
            return "truncated";
        case MsListResult::WriteFailed:
            return "write failed";
    }
    return "unknown";
}

// The script named by -S on the command line: the windows the outer loop opens.
std::string script_outcome(const fs::path& file) {
    Scratch scratch;
    ProgramSetup setup;
    setup.command_line = "-S\"" + file.string() + "\"";
    setup.directory = scratch.path;
    setup.message_box = [](std::string_view) {};
    setup.make_opener = [](const SettingsState&) { return std::make_unique<MemoryOpener>(); };
    std::string windows;
    setup.open_window = [&windows](WindowShared& shared) {
        bool automatic = shared.state.automatic_run();
        windows += automatic ? " -F" + std::to_string(shared.state.operation_index) : " window";
        return WindowEnd{true, automatic};
    };
    run_program(setup);
    return windows.empty() ? "no window" : "windows:" + windows;
}

// What the tester sends after the PC's first C, received as Upload Mobile List receives.
// A run still waiting a minute after the stream is broken off with Cancel.
std::string packet_stream_outcome(const fs::path& file) {
    Scratch scratch;
    std::ifstream in(file, std::ios::binary);
    std::string stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EngineHarness h;
    h.window.operation = 2;
    h.engine.transfer.directory = (scratch.path / "out").string() + "/";
    Operation receive = rows_from(2, step_start_receive);
    h.start(receive);
    while (h.wire.output.empty() && h.clock.fire_next()) {
    }
    h.wire.feed(stream);
    std::string outcome;
    if (!h.run(60'000)) {
        outcome = "waits, Cancel: ";
        h.engine.user_break();
        if (!h.run(10'000)) return "does not end";
    }
    return outcome + h.window.status[2] + ":" + scratch.files();
}

std::map<std::string, std::string> listed_outcomes() {
    std::map<std::string, std::string> listed;
    std::ifstream in(CORPUS / "outcomes.txt");
    for (std::string line; std::getline(in, line);) {
        size_t colon = line.find(": ");
        if (!line.empty() && line[0] != '#' && colon != std::string::npos)
            listed[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return listed;
}

void check_folder(const std::string& folder,
                  const std::function<std::string(const fs::path&)>& reader) {
    std::map<std::string, std::string> listed = listed_outcomes();
    std::map<std::string, fs::path> files;
    for (const auto& entry : fs::directory_iterator(CORPUS / folder))
        files[folder + "/" + entry.path().filename().string()] = entry.path();
    ASSERT_FALSE(files.empty());
    for (const auto& [name, path] : files) {
        std::string outcome = reader(path);
        auto it = listed.find(name);
        if (it == listed.end()) {
            ADD_FAILURE() << "not in outcomes.txt: " << name << ": " << outcome;
        } else {
            EXPECT_EQ(outcome, it->second) << name;
        }
    }
}

TEST(DamagedInput, SettingsFiles) {
    check_folder("settings", settings_outcome);
}
TEST(DamagedInput, ResultLists) {
    check_folder("result_lists", result_list_outcome);
}
TEST(DamagedInput, MsTypeLists) {
    check_folder("ms_type_lists", ms_type_list_outcome);
}
TEST(DamagedInput, BatchScripts) {
    check_folder("scripts", script_outcome);
}
TEST(DamagedInput, PacketStreams) {
    check_folder("packet_streams", packet_stream_outcome);
}

TEST(DamagedInput, EveryListedFileIsThere) {
    for (const auto& [name, outcome] : listed_outcomes())
        EXPECT_TRUE(fs::exists(CORPUS / name)) << name;
}

}  // namespace
}  // namespace trelvo
