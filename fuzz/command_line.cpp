// The command line and batch scripts. The first input line holds the program's arguments,
// split where the input has NUL bytes; the rest of the input is the file "script.txt" in
// the current directory, which "-S" can name. Lines run as the outer loop runs them.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "shell/command_line.h"

using namespace trelvo;
using namespace trelvo::fuzz;

namespace {

// More lines than this and the script is taken to call itself for ever (its last line,
// without a line end, opening the script again), which is its author's choice.
constexpr int LINE_LIMIT = 2000;

void check(const SettingsState& state) {
    if (state.port_number > 255) broken("port number out of range");
    if (state.baud_index >= BAUD_RATES.size()) broken("baud-rate index out of range");
    if (state.operation_index > 4) broken("operation index out of range");
    if ((state.options & ~OPT_ALL) != 0) broken("unknown option bits");
    if (state.command_line_flags > 0x3F) broken("unknown command-line flag bits");
    if (state.command_line_path.size() > PATH_CAPACITY - 1) broken("command-line path too long");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input = as_text(data, size);
    size_t end = input.find('\n');
    std::string_view arguments = input.substr(0, end);
    std::string_view script_text = end == std::string_view::npos ? "" : input.substr(end + 1);

    const std::filesystem::path& dir = empty_scratch_dir();
    std::filesystem::current_path(dir);
    write_bytes(dir / "script.txt", script_text);

    std::vector<std::string> args;
    for (size_t from = 0; from <= arguments.size();) {
        size_t nul = arguments.find('\0', from);
        if (nul == std::string_view::npos) nul = arguments.size();
        args.emplace_back(arguments.substr(from, nul - from));
        from = nul + 1;
    }
    LongOptions options;
    std::string line = rebuild_command_line(args, options);

    SettingsState state;
    BatchScript script;
    parse_command_line(state, line, script);
    check(state);
    for (int lines = 0; script.is_open() && lines < LINE_LIMIT; ++lines) {
        std::string text;
        if (!script.read_line(text)) script.close();
        if (text.size() > COMMAND_LINE_CAPACITY - 2) broken("script line too long");
        parse_command_line(state, text, script);
        check(state);
    }
    return 0;
}
