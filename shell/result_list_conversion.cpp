#include "shell/result_list_conversion.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "engine/engine.h"
#include "engine/main_window_model.h"
#include "engine/virtual_clock.h"
#include "protocol/file_choice.h"
#include "results/conversion_steps.h"
#include "results/imei_split.h"
#include "shell/error_table.h"
#include "shell/program.h"

namespace trelvo {
namespace {

// The result list is converted from a private copy and closed before the table ends, so
// that the engine's end of run never takes it for a received list to delete.
StepResult step_close_result_list(Engine&, TransferRecord& record) {
    close_file(record.file);
    return SR_NEXT;
}

// The rows of the result list upload that follow the receive, in the same order.
constexpr StepRow conversion_steps[] = {
    {step_imei_begin, "Init IMEI Filename"},
    {step_imei_read, "Save IMEI Filename"},
    {step_imei_write, "Save IMEI Filename"},
    {step_convert_excel, "Conversion into excel format"},
    {step_convert_printout, "Conversion into printout format"},
    {step_imei_next, "Save IMEI Filename"},
    {step_close_result_list, "Close result list"},
    {nullptr, nullptr},
};

constexpr Operation conversion = {OP_UPLOAD_RESULT_LIST, conversion_steps, "Convert Result List"};

// A window without controls: messages and file lines go to the setup's callbacks. No
// operation is selected in it, so the end of the run deletes nothing.
class ConversionWindow : public OwnerlessMessages {
  public:
    explicit ConversionWindow(const ConversionSetup& setup)
        : OwnerlessMessages(setup.message), setup_(setup) {}
    void set_file_line(std::string_view text) override {
        if (setup_.file_line && !text.empty()) setup_.file_line(text);
    }
    int selected_operation() override { return -1; }

  private:
    const ConversionSetup& setup_;
};

bool read_whole_file(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// An unnamed temporary file holding `bytes`, positioned at its start; nullptr on failure.
std::FILE* private_copy(const std::string& bytes) {
    std::FILE* copy = std::tmpfile();
    if (copy == nullptr) return nullptr;
    if (std::fwrite(bytes.data(), 1, bytes.size(), copy) != bytes.size() ||
        std::fflush(copy) != 0 || std::fseek(copy, 0, SEEK_SET) != 0) {
        std::fclose(copy);
        return nullptr;
    }
    return copy;
}

}  // namespace

int convert_result_list(const ConversionSetup& setup) {
    ConversionWindow window(setup);
    auto say = [&setup](const std::string& text) {
        if (setup.message) setup.message(text);
    };

    SettingsState state;
    BatchScript script;
    prepare_run(state, script, setup.command_line, window, setup.directory);
    script.close();
    apply_output_option_rules(state.options);
    // Errors are recorded, as in an automatic run, and reported at the end.
    state.command_line_flags |= CMD_AUTOMATIC;
    state.error_flags = 0;

    std::string original;
    if (!read_whole_file(setup.file, original)) {
        say(setup.file + ": cannot read the result list: " + std::strerror(errno));
        return EXIT_RUN_FAILED;
    }

    VirtualClock clock;
    Engine* running = nullptr;
    VirtualTimer timer(clock, [&running](int identifier) { running->engine_tick(identifier); });
    Engine engine(state, window, clock, timer);
    running = &engine;
    engine.printer = setup.printer;

    TransferRecord& record = engine.transfer;
    std::FILE* source = private_copy(original);
    if (source == nullptr) {
        say(std::string("cannot make a working copy of the result list: ") + std::strerror(errno));
        return EXIT_RUN_FAILED;
    }
    engine.clear_status();
    engine.step_index = 0;
    engine.start_run(nullptr, conversion);
    // The output directory as the upload takes its receiving directory.
    record.directory = (state.command_line_flags & CMD_PATH) != 0
                           ? state.command_line_path
                           : state.directories[DIR_UL_RESULT];
    ensure_trailing_separator(record.directory);
    record.file = source;
    record.file_name = std::string(name_of(setup.file));
    while (engine.run_active() && clock.fire_next()) {
    }

    // An output or block file named like the result list in the same folder must not cost
    // the user the list.
    std::string now;
    if (!read_whole_file(setup.file, now) || now != original) {
        std::ofstream(setup.file, std::ios::binary | std::ios::trunc) << original;
        say(setup.file + ": the conversion wrote over or removed the result list; it is restored");
    }

    for (int bit = 0; bit < 32; ++bit) {
        if ((state.error_flags & error_bit(bit)) != 0 && !error_messages[bit].empty())
            say("Error: " + std::string(error_messages[bit]));
    }
    return state.error_flags == 0 ? EXIT_RUNS_COMPLETED : EXIT_RUN_FAILED;
}

}  // namespace trelvo
