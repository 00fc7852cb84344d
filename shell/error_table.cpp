#include "shell/error_table.h"

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
    "Unknown (25)",
    "Unknown (26)",
    "Unknown (27)",
    "Unknown (28)",
    "Unknown (29)",
    "Unknown (30)",
    "Unknown (31)",
};

void report_error(SettingsState& state, WindowSurface& window, int bit, std::string_view message,
                  MessageIcon icon) {
    if (state.automatic_run()) {
        state.error_flags |= error_bit(bit);
    } else {
        window.message_box(message, icon);
    }
}

}  // namespace trelvo
