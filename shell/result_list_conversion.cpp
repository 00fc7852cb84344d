#include "shell/result_list_conversion.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/error_table.h"
#include "engine/engine.h"
#include "engine/virtual_clock.h"
#include "operations/operation_table.h"
#include "protocol/file_choice.h"
#include "shell/program.h"
#include "window/main_window_model.h"

namespace trelvo {
namespace {

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

constexpr size_t COPY_CHUNK = 64 * 1024;

// Copies `from` (from its current position) to `to`; false on a read or write error.
bool copy_stream(std::FILE* from, std::FILE* to) {
    std::array<char, COPY_CHUNK> chunk;
    size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), from)) > 0) {
        if (std::fwrite(chunk.data(), 1, got, to) != got) return false;
    }
    return std::ferror(from) == 0;
}

// Whether the two files hold the same bytes from their current positions on.
bool same_contents(std::FILE* a, std::FILE* b) {
    std::array<char, COPY_CHUNK> chunk_a, chunk_b;
    for (;;) {
        size_t got = std::fread(chunk_a.data(), 1, chunk_a.size(), a);
        if (std::fread(chunk_b.data(), 1, chunk_b.size(), b) != got) return false;
        if (got == 0) return std::ferror(a) == 0 && std::ferror(b) == 0;
        if (std::memcmp(chunk_a.data(), chunk_b.data(), got) != 0) return false;
    }
}

// The result list as a private copy: an unnamed temporary file positioned at its start.
// nullptr on failure, with `what` telling which side failed.
std::FILE* private_copy(const std::string& path, std::string& what) {
    std::FILE* list = std::fopen(path.c_str(), "rb");
    std::FILE* copy = list != nullptr ? std::tmpfile() : nullptr;
    bool copied = copy != nullptr && copy_stream(list, copy) && std::fflush(copy) == 0 &&
                  std::fseek(copy, 0, SEEK_SET) == 0;
    int error = errno;
    bool unread = list == nullptr || std::ferror(list) != 0;
    if (list != nullptr) std::fclose(list);
    if (copied) return copy;
    if (copy != nullptr) std::fclose(copy);
    what = unread ? path + ": cannot read the result list: "
                  : std::string("cannot make a working copy of the result list: ");
    what += std::strerror(error);
    return nullptr;
}

// Puts the result list back from `kept` (a second descriptor of the private copy) when
// the run changed or removed it; true when it had to.
bool restore_result_list(const std::string& path, int kept) {
    std::FILE* original = ::fdopen(kept, "rb");
    if (original == nullptr) {
        ::close(kept);
        return false;
    }
    std::rewind(original);
    bool changed = true;
    if (std::FILE* now = std::fopen(path.c_str(), "rb")) {
        changed = !same_contents(original, now);
        std::fclose(now);
    }
    if (changed) {
        std::rewind(original);
        if (std::FILE* restored = std::fopen(path.c_str(), "wb")) {
            copy_stream(original, restored);
            std::fclose(restored);
        }
    }
    std::fclose(original);
    return changed;
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

    std::string failure;
    std::FILE* source = private_copy(setup.file, failure);
    if (source == nullptr) {
        say(failure);
        return EXIT_RUN_FAILED;
    }
    // The run closes `source`; this descriptor keeps the copy for the check at the end.
    int kept = ::dup(::fileno(source));

    VirtualClock clock;
    Engine* running = nullptr;
    VirtualTimer timer(clock, [&running](int identifier) { running->engine_tick(identifier); });
    Engine engine(state, window, clock, timer);
    running = &engine;
    engine.printer = setup.printer;

    TransferRecord& record = engine.transfer;
    engine.clear_status();
    engine.step_index = 0;
    engine.start_run(nullptr, result_list_conversion);
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
    if (kept >= 0 && restore_result_list(setup.file, kept))
        say(setup.file + ": the conversion wrote over or removed the result list; it is restored");

    for (int bit = 0; bit < 32; ++bit) {
        if ((state.error_flags & error_bit(bit)) != 0 && !error_messages[bit].empty())
            say("Error: " + std::string(error_messages[bit]));
    }
    return state.error_flags == 0 ? EXIT_RUNS_COMPLETED : EXIT_RUN_FAILED;
}

}  // namespace trelvo
