// --convert FILE: the processing that Upload Result List gives a received result list (IMEI
// split, spreadsheet, printout, direct printout), on a result list already on disk. The
// engine runs the upload's own conversion steps on a table of their own, without a port and
// on a virtual clock, so the output is byte for byte what an upload of the same list gives.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace trelvo {

class Printer;

struct ConversionSetup {
    // The command line without our long options: its -M letters choose the outputs on top
    // of the settings file, its -P the output directory (else the result list receiving
    // directory of the settings file). Other options are applied but start nothing.
    std::string command_line;
    std::string file;                       // the result list; read, never changed
    std::filesystem::path directory = ".";  // where the settings file is
    Printer* printer = nullptr;             // for the direct printout; none: no printing
    // A message for the user: messages of the conversion and its errors ("Error: ...").
    std::function<void(std::string_view text)> message;
    // The file line: "Creating <name>" for every output file.
    std::function<void(std::string_view text)> file_line;
};

// Returns EXIT_RUNS_COMPLETED when everything was converted without an error, otherwise
// EXIT_RUN_FAILED (also when FILE cannot be read).
int convert_result_list(const ConversionSetup& setup);

}  // namespace trelvo
