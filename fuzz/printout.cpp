// The printout renderer: a template line (the first input line) against the records that
// follow it, and the whole printout conversion of the input as a result list, with the
// built-in definitions or with those of a settings file in front (see split_settings).
#include <stdio.h>

#include <algorithm>
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "results/printout_conversion.h"
#include "results/render_line.h"

using namespace trelvo;
using namespace trelvo::fuzz;

namespace {

void check_printout(std::string_view written) {
    size_t start = 0;
    while (start < written.size()) {
        // Form feeds separate reports; sections may be empty, so several can meet.
        start = std::min(written.find_first_not_of('\f', start), written.size());
        if (start == written.size()) break;
        size_t end = written.find("\r\n", start);
        if (end == std::string_view::npos) broken("the printout does not end with CR LF");
        std::string_view line = written.substr(start, end - start);
        if (line.size() > static_cast<size_t>(PRINTOUT_COLUMNS)) broken("a line beyond 90 columns");
        start = end + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SettingsAndData input = split_settings(as_text(data, size));
    SettingsState state = settings_from(input.settings);

    size_t end = input.data.find('\n');
    std::string_view template_line = input.data.substr(0, end);
    std::string_view records = end == std::string_view::npos ? "" : input.data.substr(end + 1);
    RenderedLine rendered = render_template(template_line, records, state.printout_tables.entries);
    if (rendered.text.size() > static_cast<size_t>(PRINTOUT_COLUMNS))
        broken("a rendered line beyond 90 columns");

    std::FILE* source = open_bytes(input.data);
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = ::open_memstream(&text, &length);
    write_printout(source, out, state);
    std::fclose(out);
    std::fclose(source);
    check_printout(std::string_view(text, length));
    std::free(text);
    return 0;
}
