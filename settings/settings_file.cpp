#include "settings/settings_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/error_table.h"
#include "settings/builtin_tables.h"
#include "settings/piece_reader.h"
#include "settings/replace_file.h"
#include "settings/safe_files.h"

namespace trelvo {

namespace {

// A line is read in pieces of at most this many characters (a 500-byte line buffer).
constexpr std::size_t PIECE_LIMIT = 499;

// A list section that grows beyond these bounds is treated as running out of memory, so
// that a damaged or hostile file cannot take all of it.
constexpr std::size_t LIST_ENTRY_LIMIT = 10000;
constexpr std::size_t LIST_TEXT_LIMIT = 4u * 1024u * 1024u;

constexpr uint32_t PORT_MIN = 1;
constexpr uint32_t PORT_MAX = 255;

enum class Section {
    None,
    Port,
    Baudrate,
    Function,
    Firmware,
    DlMsType,
    DlAutotest,
    UlMsType,
    UlResult,
    ExcelColumn,
    ExcelRow,
    UploadResultMode,
    PrintoutStart,
    PrintoutMiddle,
    PrintoutEnd,
    PrintoutTable,
    Version,
    PortMap,
};

// The file's text is built with LF line ends, as it is handed to a text-mode write.
void add_line(std::string& text, std::string_view value) {
    text += value;
    text += '\n';
}

// "%i" of the settings file.
std::string number_text(uint32_t value) {
    return std::to_string(static_cast<int32_t>(value));
}

void write_version(const SettingsState&, std::string& text) {
    add_line(text, std::to_string(SETTINGS_VERSION));
}

void write_port(const SettingsState& state, std::string& text) {
    add_line(text, state.port_number >= PORT_MIN && state.port_number <= PORT_MAX
                       ? "COM" + std::to_string(state.port_number)
                       : std::string());
}

void write_baudrate(const SettingsState& state, std::string& text) {
    add_line(text, number_text(state.baud_index));
}

void write_function(const SettingsState& state, std::string& text) {
    add_line(text, number_text(state.operation_index));
}

template <int Directory>
void write_directory(const SettingsState& state, std::string& text) {
    add_line(text, state.directories[Directory]);
}

void write_options(const SettingsState& state, std::string& text) {
    add_line(text, number_text(state.options));
}

// The Excel entries keep the line ends they were read with. A last entry without one (a
// hand-edited file) gets one, so that it does not run into the next header; earlier pieces
// of a long line join with their rest.
void write_excel_entries(const std::vector<std::string>& entries, std::string& text) {
    for (const std::string& entry : entries)
        text += entry;
    if (!entries.empty() && !entries.back().ends_with('\n')) text += '\n';
}

void write_excel_columns(const SettingsState& state, std::string& text) {
    write_excel_entries(state.excel_columns.entries, text);
}

void write_excel_rows(const SettingsState& state, std::string& text) {
    write_excel_entries(state.excel_rows.entries, text);
}

void write_printout_start(const SettingsState& state, std::string& text) {
    for (const std::string& entry : state.printout_start.entries)
        add_line(text, entry);
}

void write_printout_middle(const SettingsState& state, std::string& text) {
    for (const MiddleLine& entry : state.printout_middle.entries)
        add_line(text, std::to_string(entry.key) + "," + entry.text);
}

void write_printout_end(const SettingsState& state, std::string& text) {
    for (const std::string& entry : state.printout_end.entries)
        add_line(text, entry);
}

void write_printout_tables(const SettingsState& state, std::string& text) {
    int table_number = 1;
    for (const TranslationTable& table : state.printout_tables.entries) {
        int entry_number = 0;
        for (const std::string& entry : table) {
            add_line(text, std::to_string(table_number) + "," + std::to_string(entry_number) +
                               ",{" + entry + "}");
            ++entry_number;
        }
        ++table_number;
    }
}

void write_port_map(const SettingsState& state, std::string& text) {
    for (const auto& [port, path] : state.port_map) {
        if (port < PORT_MIN || port > PORT_MAX || path.empty()) continue;
        add_line(text, "COM" + std::to_string(port) + "=" + path);
    }
}

struct SectionRow {
    std::string_view header;
    Section section;
    void (*write_values)(const SettingsState&, std::string&);
    bool written_when_empty;  // false: the header only appears above values
};

// The sections in the order they are written. Headers are matched by their beginning,
// case-sensitively; none is the beginning of another, so the order does not matter there.
constexpr std::array<SectionRow, 17> section_rows = {{
    {"[Version]", Section::Version, write_version, true},
    {"[Port]", Section::Port, write_port, true},
    {"[Baudrate]", Section::Baudrate, write_baudrate, true},
    {"[Function]", Section::Function, write_function, true},
    {"[Firmware]", Section::Firmware, write_directory<DIR_FIRMWARE>, true},
    {"[DL MSType]", Section::DlMsType, write_directory<DIR_DL_MS_TYPE>, true},
    {"[DL Autotest]", Section::DlAutotest, write_directory<DIR_DL_AUTOTEST>, true},
    {"[UL MSType]", Section::UlMsType, write_directory<DIR_UL_MS_TYPE>, true},
    {"[UL Result]", Section::UlResult, write_directory<DIR_UL_RESULT>, true},
    {"[Upload Result mode]", Section::UploadResultMode, write_options, true},
    {"[Excel column]", Section::ExcelColumn, write_excel_columns, true},
    {"[Excel row]", Section::ExcelRow, write_excel_rows, true},
    {"[Printout Start]", Section::PrintoutStart, write_printout_start, true},
    {"[Printout Middle]", Section::PrintoutMiddle, write_printout_middle, true},
    {"[Printout End]", Section::PrintoutEnd, write_printout_end, true},
    {"[Printout Table]", Section::PrintoutTable, write_printout_tables, true},
    {"[Port map]", Section::PortMap, write_port_map, false},
}};

// What a list falls back to when it cannot be read: its error bit and message box text.
struct ListFailure {
    int bit;
    std::string_view message;
};

constexpr ListFailure excel_columns_failure = {
    ERR_EXCEL_COLUMNS_MEMORY, "     Insufficient memory      \n\nExcel default columns selected\n"};
constexpr ListFailure excel_rows_failure = {
    ERR_EXCEL_ROWS_MEMORY, "     Insufficient memory   \n\nExcel default rows selected\n"};
constexpr ListFailure printout_start_failure = {
    ERR_PRINTOUT_START_MEMORY,
    "          Insufficient memory   \n\nPrintout Start default definition selected\n"};
constexpr ListFailure printout_middle_failure = {
    ERR_PRINTOUT_MIDDLE_MEMORY,
    "          Insufficient memory   \n\nPrintout Middle default definition selected\n"};
constexpr ListFailure printout_end_failure = {
    ERR_PRINTOUT_END_MEMORY,
    "          Insufficient memory   \n\nPrintout End default definition selected\n"};
constexpr ListFailure printout_table_failure = {
    ERR_PRINTOUT_TABLE_MEMORY,
    "          Insufficient memory   \n\nPrintout Table default definition selected\n"};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Leading blanks, an optional sign and decimal digits; 0 without digits. Saturates at the
// limits of a signed 32-bit number.
int32_t parse_integer(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
    }
    if (negative) return static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

// The text up to its first CR or LF.
std::string_view up_to_line_end(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

uint32_t parse_port_line(std::string_view line, uint32_t port) {
    if (line.substr(0, 3) != "COM") return PORT_MIN;
    std::size_t i = 3;
    while (i < line.size() && line[i] == ' ')
        ++i;
    if (i < line.size() && is_digit(line[i])) {
        uint32_t value = 0;
        for (; i < line.size() && is_digit(line[i]); ++i) {
            value = value * 10 + static_cast<uint32_t>(line[i] - '0');
            if (value > PORT_MAX) value = PORT_MAX + 1;  // out of range however long
        }
        port = value;
    }
    return port < PORT_MIN || port > PORT_MAX ? PORT_MIN : port;
}

// The first character as a digit; out of 0..highest gives 0.
uint32_t parse_index(std::string_view line, uint32_t highest) {
    if (line.empty()) return 0;
    const uint32_t value = static_cast<uint32_t>(static_cast<unsigned char>(line[0])) - '0';
    return value > highest ? 0 : value;
}

uint32_t parse_options(std::string_view line) {
    uint32_t value = 0;  // wraps; only the low seven bits survive the mask
    for (std::size_t i = 0; i < line.size() && is_digit(line[i]); ++i)
        value = value * 10 + static_cast<uint32_t>(line[i] - '0');
    return value & OPT_ALL;
}

// The text of a translation table entry: after the comma and the character behind it (the
// opening brace) up to the next "}"; empty when either is missing.
std::string table_entry_text(std::string_view part) {
    const std::size_t comma = part.find(',');
    if (comma == std::string_view::npos || comma + 2 > part.size()) return {};
    const std::string_view rest = part.substr(comma + 2);
    const std::size_t close = rest.find('}');
    if (close == std::string_view::npos) return {};
    return std::string(rest.substr(0, close));
}

// Reads one settings file into the state, piece by piece.
class SettingsReader {
  public:
    SettingsReader(SettingsState& state, WindowSurface& window) : state_(state), window_(window) {}

    // `starts_line`: the piece begins a line; `ends_line`: the line ends with it.
    void handle(std::string_view piece, bool starts_line, bool ends_line) {
        if (piece[0] == '[') {
            start_section(piece);
        } else if (!starts_line && piece == "\n" && drops_bare_line_end()) {
            // Only the line end is left of a line that filled a whole piece. In the lists
            // whose entries are written one per line it would become an empty entry that
            // grows by one more each time the file is written and read again.
        } else {
            value_line(piece, starts_line && ends_line);
        }
    }

  private:
    bool drops_bare_line_end() const {
        return section_ == Section::PrintoutStart || section_ == Section::PrintoutMiddle ||
               section_ == Section::PrintoutEnd;
    }

    void start_section(std::string_view header) {
        section_ = Section::None;
        for (const SectionRow& row : section_rows) {
            if (header.substr(0, row.header.size()) == row.header) {
                section_ = row.section;
                break;
            }
        }
        // A list keeps its current head until the section's first value line arrives.
        list_started_ = false;
        list_entries_ = 0;
        list_text_ = 0;
        table_number_ = 0;
    }

    void value_line(std::string_view line, bool whole_line) {
        switch (section_) {
            case Section::None:
                break;
            case Section::Port:
                state_.port_number = parse_port_line(line, state_.port_number);
                break;
            case Section::Baudrate:
                state_.baud_index = parse_index(line, 3);
                break;
            case Section::Function:
                state_.operation_index = parse_index(line, 4);
                break;
            case Section::Firmware:
                state_.directories[DIR_FIRMWARE] = up_to_line_end(line);
                break;
            case Section::DlMsType:
                state_.directories[DIR_DL_MS_TYPE] = up_to_line_end(line);
                break;
            case Section::DlAutotest:
                state_.directories[DIR_DL_AUTOTEST] = up_to_line_end(line);
                break;
            case Section::UlMsType:
                state_.directories[DIR_UL_MS_TYPE] = up_to_line_end(line);
                break;
            case Section::UlResult:
                state_.directories[DIR_UL_RESULT] = up_to_line_end(line);
                break;
            case Section::UploadResultMode:
                state_.options = parse_options(line);
                break;
            case Section::Version:
                state_.version = parse_integer(line);
                break;
            case Section::ExcelColumn:
                append(state_.excel_columns, excel_columns_failure, line.size(),
                       [&] { return std::string(line); });
                break;
            case Section::ExcelRow:
                append(state_.excel_rows, excel_rows_failure, line.size(),
                       [&] { return std::string(line); });
                break;
            case Section::PrintoutStart:
                append(state_.printout_start, printout_start_failure, line.size(),
                       [&] { return std::string(up_to_line_end(line)); });
                break;
            case Section::PrintoutEnd:
                append(state_.printout_end, printout_end_failure, line.size(),
                       [&] { return std::string(up_to_line_end(line)); });
                break;
            case Section::PrintoutMiddle:
                append(state_.printout_middle, printout_middle_failure, line.size(),
                       [&] { return middle_line(line); });
                break;
            case Section::PrintoutTable:
                table_line(line);
                break;
            case Section::PortMap:
                if (whole_line) port_map_line(line);
                break;
        }
    }

    static MiddleLine middle_line(std::string_view piece) {
        const std::string line = std::string(up_to_line_end(piece));
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos) return {};
        return {parse_integer(std::string_view(line).substr(0, comma)), line.substr(comma + 1)};
    }

    void table_line(std::string_view piece) {
        std::string line;
        try {
            line = std::string(up_to_line_end(piece));
        } catch (const std::bad_alloc&) {
            fail(state_.printout_tables, printout_table_failure);
            return;
        }
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos) return;
        const int32_t number = parse_integer(std::string_view(line).substr(0, comma));
        const std::string_view part = std::string_view(line).substr(comma + 1);
        if (number != table_number_) {
            table_number_ = number;
            append(state_.printout_tables, printout_table_failure, part.size(),
                   [&] { return TranslationTable{table_entry_text(part)}; });
        } else if (number != 0) {
            // A table number other than 0 equal to the current one: a table exists already.
            if (!grow(part.size())) {
                fail(state_.printout_tables, printout_table_failure);
                return;
            }
            try {
                state_.printout_tables.entries.back().push_back(table_entry_text(part));
            } catch (const std::bad_alloc&) {
                fail(state_.printout_tables, printout_table_failure);
            }
        }
    }

    void port_map_line(std::string_view piece) {
        const std::string_view line = up_to_line_end(piece);
        if (line.substr(0, 3) != "COM") return;
        std::size_t i = 3;
        uint32_t port = 0;
        for (; i < line.size() && is_digit(line[i]) && port <= PORT_MAX; ++i)
            port = port * 10 + static_cast<uint32_t>(line[i] - '0');
        if (i == 3 || port < PORT_MIN || port > PORT_MAX) return;
        if (i + 1 >= line.size() || line[i] != '=') return;
        try {
            state_.port_map[port] = std::string(line.substr(i + 1));
        } catch (const std::bad_alloc&) {
            // The map is small by construction; an entry that cannot be stored is dropped.
        }
    }

    // Counts one more entry of `size` characters against the bounds of the current list.
    bool grow(std::size_t size) {
        ++list_entries_;
        list_text_ += size;
        return list_entries_ <= LIST_ENTRY_LIMIT && list_text_ <= LIST_TEXT_LIMIT;
    }

    template <class Entry, class MakeEntry>
    void append(DefinitionList<Entry>& list, const ListFailure& failure, std::size_t size,
                MakeEntry make_entry) {
        if (!grow(size)) {
            fail(list, failure);
            return;
        }
        try {
            Entry entry = make_entry();
            if (!list_started_) {
                list.entries.clear();
                list.from_file = true;
                list_started_ = true;
            }
            list.entries.push_back(std::move(entry));
        } catch (const std::bad_alloc&) {
            fail(list, failure);
        }
    }

    // The list goes back to its built-in default, the rest of the section is ignored and
    // the failure is reported.
    template <class Entry>
    void fail(DefinitionList<Entry>& list, const ListFailure& failure) {
        list.entries.clear();
        list.entries.shrink_to_fit();
        list.from_file = false;
        try {
            SettingsState defaults;
            set_builtin_definitions(defaults);
            if constexpr (std::is_same_v<Entry, MiddleLine>) {
                list = std::move(defaults.printout_middle);
            } else if constexpr (std::is_same_v<Entry, TranslationTable>) {
                list = std::move(defaults.printout_tables);
            } else if (&list == &state_.excel_columns) {
                list = std::move(defaults.excel_columns);
            } else if (&list == &state_.excel_rows) {
                list = std::move(defaults.excel_rows);
            } else if (&list == &state_.printout_start) {
                list = std::move(defaults.printout_start);
            } else {
                list = std::move(defaults.printout_end);
            }
        } catch (const std::bad_alloc&) {
            // Not even the defaults fit: the list stays empty.
        }
        section_ = Section::None;
        report_error(state_, window_, failure.bit, failure.message);
    }

    SettingsState& state_;
    WindowSurface& window_;
    Section section_ = Section::None;
    bool list_started_ = false;  // the current list section has had a value line
    std::size_t list_entries_ = 0;
    std::size_t list_text_ = 0;
    int32_t table_number_ = 0;
};

// Opens the file for reading and writing, as the settings file is opened; only a regular
// file counts (a pipe or a device could block the reader).
int open_settings_file(const std::filesystem::path& file) {
    return open_regular_file(file, O_RDWR);
}

// The file's text with LF line ends, as it is handed to a text-mode write.
std::string settings_text(const SettingsState& state) {
    std::string text;
    for (const SectionRow& row : section_rows) {
        std::string values;
        row.write_values(state, values);
        if (values.empty() && !row.written_when_empty) continue;
        add_line(text, row.header);
        text += values;
    }
    return text;
}

// Every LF becomes CR LF, as a text-mode write does.
std::string with_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

void reset_settings(SettingsState& state, bool keep_values) {
    if (!keep_values) {
        state.version = 0;
        state.port_number = 0;
        state.baud_index = 0;
        state.options = 0;
        for (std::string& directory : state.directories)
            directory.clear();
        state.port_map.clear();
    }
    try {
        set_builtin_definitions(state);
    } catch (const std::bad_alloc&) {
        // No memory for the defaults: empty lists, still marked as not read from the file.
        state.excel_columns = {};
        state.excel_rows = {};
        state.printout_start = {};
        state.printout_middle = {};
        state.printout_end = {};
        state.printout_tables = {};
    }
}

void load_settings(SettingsState& state, WindowSurface& window,
                   const std::filesystem::path& directory) {
    reset_settings(state, false);
    state.program_directory = directory;
    int fd = -1;
    try {
        const std::filesystem::path file = directory / SETTINGS_FILE_NAME;
        fd = open_settings_file(file);
        if (fd < 0) {
            // Missing or unreadable: the reset state stands. Something that is not a file at
            // all under that name would surprise the user; say so.
            if (errno == EINVAL || errno == EISDIR)
                window.message_box(
                    "Cannot read INI-File\n\n" + file_reason(errno, file.string()) + "\n",
                    MessageIcon::Error);
            return;
        }
        PieceReader reader(fd);
        SettingsReader settings(state, window);
        std::string piece;
        piece.reserve(PIECE_LIMIT);
        bool at_line_start = true;
        while (reader.read_piece(piece, PIECE_LIMIT)) {
            settings.handle(piece, at_line_start, piece.back() == '\n' || reader.at_end());
            at_line_start = piece.back() == '\n';
        }
    } catch (const std::bad_alloc&) {
        // Out of memory outside a list: what has been read so far stays.
    }
    if (fd >= 0) ::close(fd);
}

void check_settings_version(SettingsState& state, const std::filesystem::path& directory) {
    if (state.version == SETTINGS_VERSION) return;
    try {
        move_to_numbered_backup(directory / SETTINGS_FILE_NAME, directory, SETTINGS_BACKUP_STEM,
                                SETTINGS_BACKUP_EXTENSION);
    } catch (const std::bad_alloc&) {
        // The file stays where it is; the lists still go back to their defaults.
    }
    reset_settings(state, true);
}

bool write_settings(SettingsState& state, WindowSurface& window,
                    const std::filesystem::path& directory) {
    bool written = false;
    try {
        written = replace_file(directory / SETTINGS_FILE_NAME, with_crlf(settings_text(state)));
    } catch (const std::bad_alloc&) {
        written = false;
    }
    if (!written) window.message_box("Cannot create INI-File", MessageIcon::None);
    reset_settings(state, true);
    return written;
}

}  // namespace trelvo
