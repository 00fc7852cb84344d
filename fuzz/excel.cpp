// The spreadsheet conversion of any result list, with the built-in lists or with the lists
// of a settings file in front of it (see split_settings).
#include <stdio.h>

#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "results/excel_conversion.h"

using namespace trelvo;
using namespace trelvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SettingsAndData input = split_settings(as_text(data, size));
    SettingsState state = settings_from(input.settings);
    std::FILE* source = open_bytes(input.data);
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = ::open_memstream(&text, &length);
    write_excel(source, out, state);
    std::fclose(out);
    std::fclose(source);
    std::string_view written(text, length);
    // Every line ends with CR LF.
    for (size_t at = written.find('\n'); at != std::string_view::npos;
         at = written.find('\n', at + 1)) {
        if (at == 0 || written[at - 1] != '\r') broken("a line without CR before its LF");
    }
    if (!written.empty() && !written.ends_with("\r\n")) broken("the last line has no CR LF");
    std::free(text);
    return 0;
}
