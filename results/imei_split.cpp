#include "results/imei_split.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include "base/error_table.h"
#include "results/result_records.h"
#include "settings/safe_files.h"

namespace trelvo {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::string leading_digits(std::string_view value) {
    size_t count = 0;
    while (count < value.size() && is_digit(value[count]))
        ++count;
    return std::string(value.substr(0, count));
}

std::string all_digits(std::string_view value) {
    std::string digits;
    for (char c : value) {
        if (is_digit(c)) digits += c;
    }
    return digits;
}

constexpr std::string_view BLOCK_EXTENSION = ".res";

// Extensions that the conversions put in place of ".res"; the longest decides the budget.
constexpr size_t OUTPUT_EXTENSION_LENGTH = 4;  // ".csv", ".txt"

constexpr std::string_view BARE_MESSAGE =
    "IMEI Filename: Invalid pathname or file is write Protected\n\n"
    "           File is stored in the program directory.\n";
constexpr std::string_view FAILED_MESSAGE =
    "IMEI Filename: Invalid filename or file is write protected\n\n";

constexpr std::string_view NAME_RESERVED =
    "IMEI Filename: the name is reserved for the program's own files\n";
constexpr std::string_view WRITE_FAILED = "Write error - disk full or file too large.\n";

// A regular file of our own, never written through a link planted under its name.
std::FILE* create_replacing(const std::string& path) {
    if (path.empty() || path.size() > MAX_BLOCK_PATH) return nullptr;
    return create_output_file(path);
}

bool starts_record(const char* line, size_t length, std::string_view id) {
    return length >= id.size() && std::memcmp(line, id.data(), id.size()) == 0;
}

// The unprocessed bytes lie within the split buffer. Only the split sets these fields; a
// record that breaks this ends the split rather than the buffer.
bool stop_unless_in_buffer(ImeiSplit& split) {
    if (split.line_position <= SPLIT_BUFFER_SIZE &&
        split.held <= SPLIT_BUFFER_SIZE - split.line_position)
        return true;
    split.state = SplitState::Finished;
    split.line_position = split.held = 0;
    return false;
}

// Moves the unprocessed bytes to the start of the split buffer.
void compact(ImeiSplit& split) {
    std::memmove(split.buffer.data(), split.buffer.data() + split.line_position, split.held);
    split.line_position = 0;
}

size_t read_into(std::FILE* list, ImeiSplit& split, size_t wanted) {
    if (list == nullptr) return 0;
    wanted = std::min(wanted, SPLIT_BUFFER_SIZE - split.line_position - split.held);
    if (wanted == 0) return 0;
    return std::fread(split.buffer.data() + split.line_position + split.held, 1, wanted, list);
}

// Closes the block and, unless the blocks are kept, removes it: the file written, in the
// receiving folder or, after a fallback, in the current one; never a link or another file
// that stands under its name in the other folder.
void close_block(TransferRecord& record, uint32_t options) {
    struct stat written {};
    bool known =
        record.second_file != nullptr && ::fstat(::fileno(record.second_file), &written) == 0;
    close_file(record.second_file);
    const std::string& name = record.imei.block_name;
    if ((options & OPT_OUTPUT_FILE) != 0 || !known || name.empty()) return;
    for (const std::string& path : {record.directory + name, name}) {
        struct stat there {};
        if (path.size() <= MAX_BLOCK_PATH && ::lstat(path.c_str(), &there) == 0 &&
            there.st_dev == written.st_dev && there.st_ino == written.st_ino) {
            std::remove(path.c_str());
            return;
        }
    }
}

}  // namespace

std::string make_block_name(std::string_view block_text) {
    std::optional<std::string_view> imei = value_at(find_record(block_text, "A02"), 2);
    std::optional<std::string_view> time = value_at(block_text, 1);
    std::optional<std::string_view> date = value_at(block_text, 2);

    std::array<std::string, 3> parts = {
        imei ? leading_digits(*imei) : "Unknown",
        time ? all_digits(*time) : "xxxxxx",
        date ? all_digits(*date) : "xxxxxxxx",
    };

    // Every output name "<parts joined by _><extension>" must fit; cut the longest part
    // (the later one of equals) until the parts fit their budget.
    constexpr size_t budget = MAX_BLOCK_NAME - OUTPUT_EXTENSION_LENGTH - 2;
    size_t total = parts[0].size() + parts[1].size() + parts[2].size();
    while (total > budget) {
        size_t longest = 2;
        for (size_t i : {size_t{1}, size_t{0}}) {
            if (parts[i].size() > parts[longest].size()) longest = i;
        }
        parts[longest].pop_back();
        --total;
    }
    std::string name = parts[0] + "_" + parts[1] + "_" + parts[2];
    name += BLOCK_EXTENSION;
    return name;
}

std::FILE* create_block_file(std::string& name, const std::string& directory, SettingsState& state,
                             WindowSurface& window) {
    bool substituted = false;
    std::string wanted = name;
    name = unreserved_name(state, directory, wanted, substituted);
    if (substituted) {
        report_error_with_reason(state, window, ERR_NAME_RESERVED, NAME_RESERVED,
                                 wanted + " is stored as " + name, MessageIcon::Error);
    }
    if (std::FILE* file = create_replacing(directory + name)) return file;
    report_error(state, window, ERR_IMEI_BARE, BARE_MESSAGE, MessageIcon::Error);
    if (std::FILE* file = create_replacing(name)) return file;
    report_error(state, window, ERR_IMEI_FILE, FAILED_MESSAGE, MessageIcon::Error);
    return nullptr;
}

bool copy_line(std::FILE* block_file, const char* line, size_t length) {
    if (block_file == nullptr) return false;
    return std::fwrite(line, 1, length, block_file) == length;
}

void begin_split(TransferRecord& record, uint32_t options, ProgressBar& progress) {
    ImeiSplit& split = record.imei;
    record.file_size = 0;
    if (record.file != nullptr) {
        long position = std::ftell(record.file);
        if (std::fseek(record.file, 0, SEEK_END) == 0) {
            long size = std::ftell(record.file);
            if (size > 0)
                record.file_size = static_cast<uint32_t>(std::min<long>(size, UINT32_MAX));
        }
        if (position >= 0) std::fseek(record.file, position, SEEK_SET);
    }
    record.processed = 0;
    progress.set_progress_position(0);
    progress.set_progress_step(1);
    progress.set_progress_range(0, 100);

    split.state = SplitState::Finished;
    if ((options & OPT_IMEI) == 0 || record.file == nullptr) return;
    std::fseek(record.file, 0, SEEK_SET);
    split.read_size = SPLIT_BUFFER_SIZE;
    split.line_position = 0;
    split.held = 0;
    split.line_continues = false;
    split.state = SplitState::Seeking;
}

void read_split(TransferRecord& record) {
    ImeiSplit& split = record.imei;
    if (split.state == SplitState::Finished || !stop_unless_in_buffer(split)) return;
    split.line_position = 0;
    size_t got = read_into(record.file, split, split.read_size);
    if (got == 0) {
        split.state = SplitState::Finished;
        return;
    }
    split.held += got;
}

namespace {

// A block file that cannot take its lines: said once, the block file closed, the split over.
void block_write_failed(TransferRecord& record, SettingsState& state, WindowSurface& window,
                        SplitWrite& result) {
    int error = errno != 0 ? errno : EIO;
    report_error_with_reason(state, window, ERR_WRITE_FAILED, WRITE_FAILED,
                             file_reason(error, record.imei.block_name), MessageIcon::Error);
    close_file(record.second_file);
    record.imei.state = SplitState::Finished;
    record.imei.line_position = record.imei.held = 0;
    result.failed = true;
}

void copy_block(TransferRecord& record, SettingsState& state, WindowSurface& window,
                SplitWrite& result) {
    ImeiSplit& split = record.imei;
    stop_unless_in_buffer(split);
    while (split.state != SplitState::Finished && split.held > 0) {
        const char* line = split.buffer.data() + split.line_position;
        const void* lf = std::memchr(line, '\n', split.held);
        size_t length = 0;
        if (lf != nullptr) {
            length = static_cast<const char*>(lf) - line + 1;
        } else if (split.held == SPLIT_BUFFER_SIZE) {
            length = split.held;  // a line longer than the buffer: handle it piece by piece
        } else {
            return;  // the line's end is not in the buffer yet
        }
        bool a01 = !split.line_continues && starts_record(line, length, "A01");

        if (split.state == SplitState::Seeking && a01) {
            // Bring the records behind the A01 line into the buffer for the name.
            if (split.held < SPLIT_BUFFER_SIZE) {
                compact(split);
                split.held += read_into(record.file, split, SPLIT_BUFFER_SIZE - split.held);
                line = split.buffer.data();
            }
            split.state = SplitState::Finished;
            split.block_name = make_block_name(std::string_view(line, split.held));
            close_file(record.second_file);
            record.second_file =
                create_block_file(split.block_name, record.directory, state, window);
            if (record.second_file != nullptr) {
                result.created = true;
                split.state = SplitState::Copying;
                if (!copy_line(record.second_file, line, length)) {
                    block_write_failed(record, state, window, result);
                    return;
                }
            }
        } else if (split.state == SplitState::Copying) {
            if (a01) {
                split.state = SplitState::BlockComplete;
                return;  // the A01 line waits for the next block
            }
            if (!copy_line(record.second_file, line, length)) {
                block_write_failed(record, state, window, result);
                return;
            }
        }
        split.line_position += length;
        split.held -= length;
        split.line_continues = lf == nullptr;
    }
}

}  // namespace

SplitWrite write_split(TransferRecord& record, SettingsState& state, WindowSurface& window) {
    SplitWrite result;
    errno = 0;
    copy_block(record, state, window, result);
    // The block is flushed before the conversions read it, so that a full disk shows here.
    if (!result.failed && record.second_file != nullptr &&
        (std::ferror(record.second_file) != 0 || std::fflush(record.second_file) != 0))
        block_write_failed(record, state, window, result);
    return result;
}

SplitMove next_split(TransferRecord& record, uint32_t options, ProgressBar& progress) {
    if ((options & OPT_IMEI) == 0) return SplitMove::NextRow;
    ImeiSplit& split = record.imei;
    stop_unless_in_buffer(split);
    size_t held = split.held;
    SplitMove move = SplitMove::NextRow;
    switch (split.state) {
        case SplitState::BlockComplete:
            close_block(record, options);
            split.state = SplitState::Seeking;
            move = SplitMove::NextBlock;
            break;
        case SplitState::Finished:
            if (record.second_file != nullptr) close_block(record, options);
            break;
        case SplitState::Seeking:
        case SplitState::Copying:
            split.read_size = SPLIT_BUFFER_SIZE - held;
            compact(split);
            move = SplitMove::ReadMore;
            break;
    }
    record.processed += static_cast<uint32_t>(SPLIT_BUFFER_SIZE - held);
    if (record.file_size > 0) {
        uint64_t percent = uint64_t{record.processed} * 100 / record.file_size;
        progress.set_progress_position(static_cast<int>(std::min<uint64_t>(percent, 100)));
    }
    return move;
}

}  // namespace trelvo
