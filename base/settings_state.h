// The process-wide settings state: port, baud rate, operation, options, stored directories,
// the definition lists of the conversions, and the three flag words. The entry routine
// creates one and passes it by reference; nothing here is a global.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace trelvo {

// Option flag word: one bit per check box of the main window and letter of -M.
inline constexpr uint32_t OPT_POLLING = 0x01;       // "Polling mode", -MP
inline constexpr uint32_t OPT_DELETE_ALL = 0x02;    // "Delete All", -MD
inline constexpr uint32_t OPT_EXCEL = 0x04;         // "Excel (*.csv)", -ME
inline constexpr uint32_t OPT_PRINTOUT = 0x08;      // "Printout (*.txt)", -MT
inline constexpr uint32_t OPT_IMEI = 0x10;          // "IMEI Filename", -MI
inline constexpr uint32_t OPT_DIRECT_PRINT = 0x20;  // "Direct Printout", -MO (implies 0x08)
inline constexpr uint32_t OPT_OUTPUT_FILE = 0x40;   // "Norvane Output File", -MN
inline constexpr uint32_t OPT_ALL = 0x7f;

// Command-line flag word: what the current command line supplied.
inline constexpr uint32_t CMD_PORT = 0x01;       // -C gave a valid port number
inline constexpr uint32_t CMD_BAUD = 0x02;       // -B gave a valid baud rate
inline constexpr uint32_t CMD_AUTOMATIC = 0x04;  // -F gave a valid operation: automatic run
inline constexpr uint32_t CMD_PATH = 0x08;       // -P gave a quoted path
inline constexpr uint32_t CMD_POLLING = 0x10;    // -MP gave a value
inline constexpr uint32_t CMD_OPTIONS = 0x20;    // another -M letter gave a value

// Baud rates by baud-rate index 0..3.
inline constexpr std::array<uint32_t, 4> BAUD_RATES = {38400, 19200, 9600, 4800};

// The five stored directories, in the order of their sections.
enum DirectoryIndex : int {
    DIR_FIRMWARE = 0,  // [Firmware]
    DIR_DL_MS_TYPE,    // [DL MSType]
    DIR_DL_AUTOTEST,   // [DL Autotest]
    DIR_UL_MS_TYPE,    // [UL MSType]: receives uploaded mobile lists
    DIR_UL_RESULT,     // [UL Result]: receives uploaded result lists
    DIRECTORY_COUNT
};

// A definition list: the built-in default or the entries read from the settings file.
template <class Entry>
struct DefinitionList {
    std::vector<Entry> entries;
    bool from_file = false;
};

// One line of the printout middle section: the record number it is rendered for.
struct MiddleLine {
    int32_t key = 0;
    std::string text;
    bool operator==(const MiddleLine&) const = default;
};

using TranslationTable = std::vector<std::string>;

struct SettingsState {
    int32_t version = 0;
    uint32_t port_number = 0;      // 1..255 (COMn); 0 until set
    uint32_t baud_index = 0;       // 0..3, see BAUD_RATES
    uint32_t operation_index = 0;  // 0..4, row of the operation table
    uint32_t options = 0;          // option flag word
    std::array<std::string, DIRECTORY_COUNT> directories;

    // Excel lists keep each line with its own line end, as read.
    DefinitionList<std::string> excel_columns;
    DefinitionList<std::string> excel_rows;
    DefinitionList<std::string> printout_start;
    DefinitionList<MiddleLine> printout_middle;
    DefinitionList<std::string> printout_end;
    DefinitionList<TranslationTable> printout_tables;

    // "[Port map]": COMn -> device path, overriding the built-in device convention.
    std::map<uint32_t, std::string> port_map;

    std::string command_line_path;                  // -P, at most 511 characters
    std::filesystem::path batch_script;             // the open -S script, as it was opened
    std::filesystem::path program_directory = ".";  // where the settings file and run log are
    uint32_t command_line_flags = 0;                // CMD_* bits
    uint32_t error_flags = 0;                       // bit n: error_messages[n]
    std::map<int, std::string> error_reasons;       // bit n: why, for the run log's entry

    // --idle-timeout: an automatic run outside polling mode ends "Timeout" after this many
    // seconds without a byte from the tester; 0 = never. Not kept in the settings file.
    uint32_t idle_timeout_s = 0;

    // The tester model found by the last identification that answered (71, 72, or another
    // code); 0 until one did. It outlives the run and the window: a later run whose
    // identification stays silent still converts and filters for the model found before.
    int32_t model_code = 0;

    bool automatic_run() const { return (command_line_flags & CMD_AUTOMATIC) != 0; }
};

}  // namespace trelvo
