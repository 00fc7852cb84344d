#include "protocol/file_choice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "base/error_table.h"
#include "engine/operation.h"
#include "protocol/tester_commands.h"

namespace trelvo {
namespace {

constexpr size_t MAX_PATH_TEXT = 511;  // paths and directories live in 512-character buffers

constexpr std::string_view INVALID_FILE = "Invalid filename or file is write protected\n";

void set_file_to_send(TransferRecord& record, std::string_view name, uint32_t size) {
    record.file_name = std::string(name.substr(0, MAX_TRANSFER_NAME));
    record.file_size = size;
    record.file_time = 0;
}

std::FILE* choose_file_to_send(SettingsState& state, WindowSurface& window, TransferRecord& record,
                               const Operation& operation) {
    std::string& directory = state.directories[operation.directory];
    std::span<const FileFilter> filters = file_filters(operation, state.model_code);
    for (;;) {
        std::optional<std::string> chosen = window.file_dialog(filters, directory);
        if (!chosen) return nullptr;
        std::string chosen_directory = directory_of(*chosen);
        ensure_trailing_separator(chosen_directory);
        if (chosen_directory.size() <= MAX_PATH_TEXT) directory = chosen_directory;
        uint32_t size = 0;
        std::FILE* file = open_file_to_send(*chosen, size);
        set_file_to_send(record, name_of(*chosen), size);
        if (file != nullptr) return file;
        window.message_box(INVALID_FILE, MessageIcon::None);
    }
}

void choose_receiving_folder(SettingsState& state, WindowSurface& window, TransferRecord& record,
                             const Operation& operation) {
    std::string& directory = state.directories[operation.directory];
    std::optional<std::string> folder = window.folder_dialog(operation.name, directory);
    if (folder && folder->size() <= MAX_PATH_TEXT) {
        directory = *folder;
        ensure_trailing_separator(directory);
    }
    record.directory = directory;
}

}  // namespace

std::string directory_of(std::string_view path) {
    size_t last = path.rfind('/');
    if (last == std::string_view::npos) return std::string();
    if (last == 0) return "/";
    return std::string(path.substr(0, last));
}

std::string_view name_of(std::string_view path) {
    size_t last = path.rfind('/');
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

void ensure_trailing_separator(std::string& directory) {
    if (directory.size() < 2) {
        if (directory != "/") directory.clear();
        return;
    }
    if (directory.back() != '/') directory.push_back('/');
}

std::span<const FileFilter> file_filters(const Operation& operation, int32_t model_code) {
    for (const ModelFilters& row : operation.filters) {
        if (row.model_code == model_code || row.model_code == 0) return row.filters;
    }
    return {};
}

std::FILE* open_file_to_send(const std::string& path, uint32_t& size) {
    size = 0;
    // Non-blocking, so that a FIFO under the chosen name cannot hang the window.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                  info.st_size <= std::numeric_limits<uint32_t>::max() &&
                  ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    if (usable) usable = ::fcntl(fd, F_SETFL, 0) == 0;
    std::FILE* file = usable ? ::fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        ::close(fd);
        return nullptr;
    }
    size = static_cast<uint32_t>(info.st_size);
    return file;
}

std::FILE* choose_file(SettingsState& state, WindowSurface& window, TransferRecord& record,
                       const Operation& operation) {
    if ((state.command_line_flags & (CMD_AUTOMATIC | CMD_PATH)) == (CMD_AUTOMATIC | CMD_PATH)) {
        uint32_t size = 0;
        std::FILE* file = open_file_to_send(state.command_line_path, size);
        if (file == nullptr) {
            state.error_flags |= error_bit(ERR_OPEN_FILE);
            return nullptr;
        }
        set_file_to_send(record, name_of(state.command_line_path), size);
        return file;
    }
    switch (operation.file_choice) {
        case FileChoice::FileToSend:
            return choose_file_to_send(state, window, record, operation);
        case FileChoice::ReceivingFolder:
            choose_receiving_folder(state, window, record, operation);
            return nullptr;
        case FileChoice::None:
            return nullptr;
    }
    return nullptr;
}

std::vector<std::string> autotest_entries(std::string_view directory_text) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < directory_text.size()) {
        size_t end = directory_text.find('\n', start);
        if (end == std::string_view::npos) end = directory_text.size();
        std::string_view line = directory_text.substr(start, end - start);
        size_t name = 0;
        for (int field = 0; field < 4; ++field) {
            size_t comma = line.find(',', name);
            if (comma == std::string_view::npos) return entries;
            name = comma + 1;
        }
        if (name < line.size()) entries.emplace_back(line.substr(name));
        start = end + 1;
    }
    return entries;
}

AutotestPress autotest_button(int button, size_t entry_count, int selected, uint8_t slot) {
    AutotestPress press;
    switch (button) {
        case AUTOTEST_NEW:
            // The next slot after the list is free; with every slot taken there is none.
            if (entry_count >= AUTOTEST_SLOTS) {
                press.message = NEW_WITHOUT_FREE_SLOT;
                return press;
            }
            press.closes = true;
            press.choice = {AUTOTEST_NEW, static_cast<uint8_t>(entry_count + 1)};
            return press;
        case AUTOTEST_REPLACE:
        case AUTOTEST_DELETE:
            if (selected < 0 || static_cast<size_t>(selected) >= entry_count) {
                press.message = button == AUTOTEST_REPLACE ? REPLACE_WITHOUT_SELECTION
                                                           : DELETE_WITHOUT_SELECTION;
                return press;
            }
            press.closes = true;
            press.choice = {button, static_cast<uint8_t>(selected + 1)};
            return press;
        default:
            press.closes = true;
            press.choice = {AUTOTEST_CANCEL, slot};
            return press;
    }
}

}  // namespace trelvo
