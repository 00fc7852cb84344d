#include "base/error_table.h"

namespace trelvo {

const std::array<std::string_view, 32> error_messages = {
    "Unable to open file.",
    "MS Type - Conversion failed.",
    "Invalid filename or file is write protected.",
    "Invalid filename or file is write protected - Conversion into Excel Format canceled.",
    "Renaming failed - Duplicate Filename.",
    "Renaming failed - Missing File.",
    "Renaming failed - Date and Time not available.",
    "Insufficient memory - Excel default columns selected.",
    "Insufficient memory - Excel default rows selected.",
    "Can't load dialog box!",
    "Invalid COM Port.",
    "Invalid DCB structure.",
    "Invalid Baudrate.",
    "",
    "User break.",
    "Invalid pathname or file is write protected. - File is stored in the program directory.",
    "Invalid pathname or file is write protected. - Excel File is stored in the program "
    "directory.",
    "Invalid filename or file is write protected - Conversion into Printout Format canceled.",
    "Invalid pathname or file is write protected. - Printout File is stored in the program "
    "directory.",
    "IMEI Filename: Invalid filename or file is write protected.",
    "IMEI Filename: Invalid pathname or file is write protected - File is stored in the "
    "program directory.",
    "Insufficient memory - Printout start default definition selected.",
    "Insufficient memory - Printout middle default definition selected.",
    "Insufficient memory - Printout end default definition selected.",
    "Insufficient memory - Printout table default definition selected.",
    "Transfer incomplete - the received file is not whole.",
    "Autotest directory incomplete - no slot chosen.",
    "Received name is reserved for the program's own files - stored under another name.",
    "Write error - disk full or file too large.",
    "COM Port lost.",
    "File changed while it was sent.",
    "Unable to set the modem control lines (DTR/RTS).",
};

void report_error(SettingsState& state, WindowSurface& window, int bit, std::string_view message,
                  MessageIcon icon) {
    if (state.automatic_run()) {
        state.error_flags |= error_bit(bit);
    } else {
        window.message_box(message, icon);
    }
}

void report_error_with_reason(SettingsState& state, WindowSurface& window, int bit,
                              std::string_view message, std::string_view reason, MessageIcon icon) {
    if (reason.empty()) {
        report_error(state, window, bit, message, icon);
    } else if (state.automatic_run()) {
        state.error_flags |= error_bit(bit);
        state.error_reasons[bit] = std::string(reason);
    } else {
        std::string text(message);
        if (!text.empty() && text.back() != '\n') text += '\n';
        window.message_box(text + std::string(reason), icon);
    }
}

}  // namespace trelvo
