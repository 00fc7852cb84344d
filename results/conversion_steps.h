// The two conversion steps of Upload Result List. Each converts the received result list,
// or with the IMEI Filename option the current block file, into its output file in the
// transfer record's directory (or, failing that, in the current directory), and ends the
// run when the file can be created nowhere.
#pragma once

#include <string>
#include <string_view>

#include "base/codes.h"

namespace trelvo {

class Engine;
struct TransferRecord;

// Longest output name (without directory) of the conversions.
inline constexpr size_t MAX_OUTPUT_NAME = 51;
// Longest output path (directory and name) of each conversion.
inline constexpr size_t MAX_EXCEL_PATH = 299;
inline constexpr size_t MAX_PRINTOUT_PATH = 999;

// The output name of a source: cut at its first "." and `extension` (".csv", ".txt")
// appended; a name without "." gets the extension appended, so the output never replaces
// the source. A base that would make the name longer than MAX_OUTPUT_NAME is cut.
std::string conversion_output_name(std::string_view source_name, std::string_view extension);

// Excel (*.csv) option: writes the spreadsheet file. Always SR_NEXT; RS_CANCEL when the
// file cannot be created at all.
StepResult step_convert_excel(Engine& engine, TransferRecord& record);

// Printout (*.txt) option: writes the printout file and, with the Direct Printout option
// and a printer, prints it. Always SR_NEXT; RS_CANCEL when the file cannot be created.
StepResult step_convert_printout(Engine& engine, TransferRecord& record);

}  // namespace trelvo
