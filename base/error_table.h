// The error flag word's bits and the texts the run log writes for them.
#pragma once

#include <array>
#include <string_view>

#include "base/platform.h"
#include "base/settings_state.h"

namespace trelvo {

enum ErrorBit : int {
    ERR_OPEN_FILE = 0,             // file named by the command-line path cannot be opened
    ERR_MS_CONVERSION = 1,         // mobile list conversion failed
    ERR_RECEIVE_FILE = 2,          // received file cannot be created at all; run aborted
    ERR_EXCEL_FILE = 3,            // spreadsheet file cannot be created at all; run aborted
    ERR_EXCEL_COLUMNS_MEMORY = 7,  // Excel column list fell back to its default
    ERR_EXCEL_ROWS_MEMORY = 8,     // Excel row list fell back to its default
    ERR_DIALOG = 9,                // main window cannot be created
    ERR_COM_PORT = 10,             // serial port cannot be opened (or was lost)
    ERR_DCB = 11,                  // port configuration cannot be read
    ERR_BAUDRATE = 12,             // port refuses the line settings
    ERR_RUN_FAILED = 13,           // final status other than "Completed" (any run)
    ERR_USER_BREAK = 14,           // user cancelled a running operation (any run)
    ERR_RECEIVE_BARE = 15,         // received file stored under its bare name
    ERR_EXCEL_BARE = 16,           // spreadsheet file stored under its bare name
    ERR_PRINTOUT_FILE = 17,        // printout file cannot be created at all; run aborted
    ERR_PRINTOUT_BARE = 18,        // printout file stored under its bare name
    ERR_IMEI_FILE = 19,            // IMEI block file cannot be created at all
    ERR_IMEI_BARE = 20,            // IMEI block file stored under its bare name
    ERR_PRINTOUT_START_MEMORY = 21,
    ERR_PRINTOUT_MIDDLE_MEMORY = 22,
    ERR_PRINTOUT_END_MEMORY = 23,
    ERR_PRINTOUT_TABLE_MEMORY = 24,
    // Bits of our own: causes that the texts above would name wrongly.
    ERR_TRANSFER_INCOMPLETE = 25,   // received file not whole: size differs, or broken off
    ERR_DIRECTORY_INCOMPLETE = 26,  // autotest directory not taken in whole; no slot chosen
    ERR_NAME_RESERVED = 27,         // received or output name is one of the program's files
    ERR_WRITE_FAILED = 28,          // a file could not be written to its end (disk full)
    ERR_PORT_LOST = 29,             // the serial device went away during the run
    ERR_FILE_CHANGED = 30,          // the file being sent changed size while it was sent
    ERR_MODEM_LINES = 31,           // DTR/RTS could not be set
};

// Entry n is the run log's text for bit n; entry 13 is empty.
extern const std::array<std::string_view, 32> error_messages;

inline constexpr uint32_t error_bit(int bit) {
    return uint32_t{1} << bit;
}

// The one reporting pattern: in an automatic run OR the bit into the error flag word,
// otherwise show `message` in a message box of the main window. What follows (fall back,
// abort) is the caller's business and the same on both paths.
void report_error(SettingsState& state, WindowSurface& window, int bit, std::string_view message,
                  MessageIcon icon = MessageIcon::None);

// The same, with the cause's reason ("Permission denied: ..."): the message box shows it on
// a second line, the run log under the bit's text. An empty reason adds nothing.
void report_error_with_reason(SettingsState& state, WindowSurface& window, int bit,
                              std::string_view message, std::string_view reason,
                              MessageIcon icon = MessageIcon::None);

}  // namespace trelvo
