// The split of an uploaded result list into one block file per tested phone, named after
// the phone's IMEI and the time and date of its test ("<IMEI>_<time>_<date>.res").
//
// The list is streamed through the transfer record's 1000-byte split buffer by four steps
// that jump back within the operation's table, so that the spreadsheet and printout
// conversions run on every block file between blocks:
//
//   step_imei_begin -> step_imei_read -> step_imei_write -> (conversions) -> step_imei_next
//
// step_imei_next goes back to step_imei_write when a block is complete (the next block's
// A01 line waits unconsumed in the buffer), back to step_imei_read when the buffer needs
// more data, and on to the next row when the list is done.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/codes.h"
#include "base/platform.h"
#include "base/settings_state.h"
#include "base/transfer_record.h"

namespace trelvo {

class Engine;

// The conversions name their outputs after the block file ("<base>.csv", "<base>.txt") in
// names of at most 51 characters; block names are kept to the same length.
inline constexpr size_t MAX_BLOCK_NAME = 51;
// Longest path (output directory and block name) a block file is created under.
inline constexpr size_t MAX_BLOCK_PATH = 511;

// The block file name for the result block that starts at the A01 record at the start of
// `block_text`: the leading digits of A02 value 2 (or "Unknown"), "_", the digits of A01
// value 1 (or "xxxxxx"), "_", the digits of A01 value 2 (or "xxxxxxxx"), ".res". Overlong
// parts are cut, the longest first, so that the name fits MAX_BLOCK_NAME. The name holds
// nothing but digits, "_", the placeholder letters and ".res".
std::string make_block_name(std::string_view block_text);

// Creates `directory` + `name` for reading and writing, replacing an existing file but never
// a link or one of the program's own files (`name` then becomes a substitute, reported).
// When that fails, reports it and creates `name` in the current directory instead; when
// that fails too, reports it and returns nullptr.
std::FILE* create_block_file(std::string& name, const std::string& directory, SettingsState& state,
                             WindowSurface& window);

// Writes one line (or one piece of an overlong line) into the block file in one call.
bool copy_line(std::FILE* block_file, const char* line, size_t length);

// What step_imei_next does next.
enum class SplitMove {
    NextRow,    // the list is done: the table goes on
    ReadMore,   // the buffer holds no complete line: read the next piece of the list
    NextBlock,  // a block is complete: start the next one from its waiting A01 line
};

// The split's work, one function per step and free of the engine. `options` is the
// option flag word; the progress bar shows percent of the list processed.
// Measures the received list for the progress bar and, with the IMEI option and a list
// open, starts seeking the first block at the list's beginning.
void begin_split(TransferRecord& record, uint32_t options, ProgressBar& progress);
// Reads the next piece of the list into the split buffer; at the list's end the split is
// finished.
void read_split(TransferRecord& record);
// What one write_split call did: created a block file (for the "Creating" file line), or
// failed to write one (reported; the split is over and the run has to end).
struct SplitWrite {
    bool created = false;
    bool failed = false;
};
// Copies the complete lines of the buffer into the current block file, creating it at a
// block's first line, and flushes it.
SplitWrite write_split(TransferRecord& record, SettingsState& state, WindowSurface& window);
// Closes the block file of a complete block (removed again unless block files are to
// stay), keeps the unprocessed rest of the buffer, moves the progress bar and says what
// comes next.
SplitMove next_split(TransferRecord& record, uint32_t options, ProgressBar& progress);

// The step routines of the result list upload table; each returns SR_NEXT.
StepResult step_imei_begin(Engine& engine, TransferRecord& record);
StepResult step_imei_read(Engine& engine, TransferRecord& record);
StepResult step_imei_write(Engine& engine, TransferRecord& record);
StepResult step_imei_next(Engine& engine, TransferRecord& record);

}  // namespace trelvo
