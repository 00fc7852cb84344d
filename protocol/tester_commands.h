// The tester's command set and the steps that send the commands and evaluate the replies:
// identification and model code, result status, the mode commands that start a block
// transfer, the choice of the file to send, the preparation of a receive, the autotest
// directory with the choice of a slot, and the polling cycle of the result list upload.
// Every routine is a step of the operation engine and reaches the line only through the
// tester port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/codes.h"
#include "base/transfer_record.h"

namespace trelvo {

class Engine;

inline constexpr std::string_view IDENTITY_QUERY = "\n*IDN?\n";
inline constexpr std::string_view UPDATE_MODE_COMMAND = "SYSTem:STATe:UPLoad:UPDate\n";
inline constexpr std::string_view LIST_DOWNLOAD_COMMAND = "SYSTem:STATe:UPLoad:SECTor\n";
inline constexpr std::string_view LIST_UPLOAD_COMMAND = "SYSTem:STATe:DOWNload:SECTor\n";
inline constexpr std::string_view RESULT_STATUS_QUERY = "SYSTem:DIRectory:TESTresult:STATe?\n";
inline constexpr std::string_view RESULT_UPLOAD_COMMAND = "SYSTem:STATe:DOWN:TEST ALL_1\n";
inline constexpr std::string_view DELETE_RESULTS_COMMAND = "SYSTem:CLEAR:TESTresult ALL\n";
inline constexpr const char* AUTOTEST_DIRECTORY_QUERY = "SYSTem:DIRectory:AUTotest? %u\n";
inline constexpr const char* DELETE_AUTOTEST_COMMAND = "SYSTem:CLEar:AUTotest %u;*idn?\n";
inline constexpr const char* AUTOTEST_DOWNLOAD_COMMAND = "SYSTem:STATe:UPLoad:AUTotest %u\n";

inline constexpr uint32_t IDENTITY_TIMEOUT_S = 2;
inline constexpr uint8_t AUTOTEST_PAGE = 10;  // entries per directory page

// "Packet %u" with `number`.
std::string packet_text_for(uint32_t number);

// Text from the tester as it may be shown: control bytes and bytes outside ASCII as "\x1b",
// a backslash doubled, so that nothing it sends can act on a terminal or a status bar.
std::string visible_text(std::string_view text);

// The directory string a receive of the running operation uses: the command-line path in
// an automatic run that gave one, else the receiving directory of Upload Mobile List or
// of Upload Result List. The receive empties it when it had to fall back to the current
// directory.
std::string& receive_directory_setting(Engine& engine);

// Sends "*IDN?" and waits up to IDENTITY_TIMEOUT_S for the answer line (SR_WAIT_LINE).
StepResult step_query_identity(Engine& engine, TransferRecord& record);
// Takes the model code from the answer's second field and shows it, "Unknown" or "Timeout"
// in the status line; the run goes on either way (SR_NEXT).
StepResult step_check_identity(Engine& engine, TransferRecord& record);
// Lets the user choose the file to send and opens it; no file or an empty one aborts the
// run. Sets up the packet counter and the progress range (SR_NEXT).
StepResult step_select_file(Engine& engine, TransferRecord& record);
// Sends the update mode command, unless the identification timed out (SR_NEXT).
StepResult step_enable_update_mode(Engine& engine, TransferRecord& record);
// Sends the command that makes the tester receive a mobile list (SR_NEXT).
StepResult step_enable_list_download(Engine& engine, TransferRecord& record);
// Sets up the receiving folder and sends the command that makes the tester send its
// mobile list (SR_NEXT).
StepResult step_enable_list_upload(Engine& engine, TransferRecord& record);
// In polling mode jumps ahead to step_prepare_result_receive, past the status query and
// the upload command (SR_NEXT).
StepResult step_check_polling(Engine& engine, TransferRecord& record);
// Asks for the result status and waits for its line (SR_WAIT_LINE).
StepResult step_query_result_status(Engine& engine, TransferRecord& record);
// Ends the run as aborted when the status counts no results; a timeout shows "Timeout" and
// the upload is tried all the same (SR_NEXT).
StepResult step_check_result_status(Engine& engine, TransferRecord& record);
// Sets up the receiving folder and sends the result upload command (SR_NEXT).
StepResult step_enable_result_upload(Engine& engine, TransferRecord& record);
// In polling mode sets up the receiving folder; the tester sends when asked for a block
// (SR_NEXT).
StepResult step_prepare_result_receive(Engine& engine, TransferRecord& record);
// With the delete option, sends the command that clears the results in the tester, but only
// after a list received whole against its announced size; otherwise reports why not (SR_NEXT).
StepResult step_delete_result_list(Engine& engine, TransferRecord& record);
// In polling mode jumps back to step_prepare_result_receive for the next list
// (SR_CYCLE_DONE); otherwise the run goes on to its end (SR_NEXT).
StepResult step_next_poll_cycle(Engine& engine, TransferRecord& record);
// Starts reading the autotest directory at slot 1 with flow control on output (SR_NEXT).
StepResult step_begin_autotest_directory(Engine& engine, TransferRecord& record);
// Asks for the directory page from the record's first page slot and waits for its lines,
// at most one page and never beyond the last slot (SR_WAIT_LINES).
StepResult step_query_autotest_directory(Engine& engine, TransferRecord& record);
// After a full page goes back for the next one; a page with too many lines or one that
// did not end reports the directory incomplete and aborts the run (SR_NEXT).
StepResult step_next_autotest_page(Engine& engine, TransferRecord& record);
// Has the slot chosen (the dialog; an automatic run takes a new slot) into the record's
// autotest slot. Delete goes on to the next row, New and Replace to the download command,
// Cancel aborts the run (SR_NEXT).
StepResult step_choose_autotest_slot(Engine& engine, TransferRecord& record);
// Sends the delete command for the chosen slot joined with "*idn?" and waits for the
// answer line, then reads the directory again (SR_WAIT_LINE).
StepResult step_delete_autotest(Engine& engine, TransferRecord& record);
// Sends the command that makes the tester receive an autotest into the chosen slot
// (SR_NEXT).
StepResult step_enable_autotest_download(Engine& engine, TransferRecord& record);

}  // namespace trelvo
