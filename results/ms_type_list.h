// Conversion of a mobile-station type list (*.AUT) into the memory layout of the connected
// tester model.
//
// The list is a memory image of two linked record chains; every link and every further
// address in a record is an address in the tester's memory, and the KV71 and KV72 place the
// list at different bases. The conversion rewrites each address for the connected model
// (bits 20 to 23 become the model's nibble), copies every other byte unchanged, and puts
// the new checksum in front. The converted file has the size of the chosen one.
//
// File layout, numbers big-endian:
//   0   2  checksum: 1 + the sum of the bytes from offset 2 on as signed 8-bit numbers
//   2   4  link to the first list 1 record, or 0xFFFFFFFF
//   6   4  link to the first list 2 record, or 0xFFFFFFFF
//   10  .. records and other bytes
//   list 1 record, 46 bytes: link to the next at 0; addresses at 4, 8, 12, 16
//   list 2 record, 22 bytes: link to the next at 0; addresses at 10, 14, 18
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "base/codes.h"
#include "base/transfer_record.h"

namespace trelvo {

class Engine;
struct TransferRecord;

inline constexpr size_t MS_LIST_HEADER_SIZE = 10;
inline constexpr size_t MS_LIST1_RECORD_SIZE = 46;
inline constexpr size_t MS_LIST2_RECORD_SIZE = 22;
inline constexpr uint32_t MS_NO_LINK = 0xFFFFFFFF;  // ends a chain; never converted

// Where a tester model keeps the list: file offset = address - base.
struct ModelLayout {
    uint32_t base;
    uint32_t nibble;  // bits 20 to 23 of every address
};
// The layout of the KV71 or KV72; none for any other model code.
std::optional<ModelLayout> model_layout(int32_t model_code);
// `address` with the model's nibble; MS_NO_LINK unchanged.
uint32_t convert_address(uint32_t address, const ModelLayout& layout);

// The file offsets of the records of both chains. At most 499 records fit (the table has
// room for 500 entries including its end).
class OffsetTable {
  public:
    static constexpr size_t CAPACITY = 500;
    static constexpr uint32_t LIST_EMPTY = 0xFFFFFFFF;  // next(): the list has no record
    static constexpr uint32_t LIST_DONE = 0xFFFFFFFE;   // next(): all records handed out

    // Enters a record of list 1 or 2; false when the table is full.
    bool add(uint32_t offset, int list);
    bool contains(uint32_t offset, int list) const;
    // The smallest offset of `list` not yet handed out, marked as handed out now.
    uint32_t next(int list);
    size_t size() const { return count_; }

  private:
    struct Entry {
        uint32_t offset;
        int list;
        bool handed_out;
    };
    std::array<Entry, CAPACITY - 1> entries_{};
    size_t count_ = 0;
};

enum class MsListResult {
    Converted,
    TooManyRecords,  // the chains hold more records than the offset table
    ChainLoops,      // a chain comes back to one of its own records
    Truncated,       // the file ends inside the header or a record
    WriteFailed,     // the converted file could not be written
};

// Follows both chains of `list` for `model_code` into `table`, then rewinds `list`. Any
// model but KV71 and KV72 has empty chains.
MsListResult collect_ms_type_chains(std::FILE* list, int32_t model_code, OffsetTable& table);

// Writes the converted list into `target` (empty, opened for reading and writing), with
// its checksum, and leaves `target` at its start. `table` is the collected one.
MsListResult write_converted_ms_type_list(std::FILE* list, int32_t model_code, OffsetTable& table,
                                          std::FILE* target);

// Both of the above.
MsListResult convert_ms_type_list(std::FILE* list, int32_t model_code, std::FILE* target);

// A new file "tmp..." in the temporary directory ($TMPDIR, else /tmp), open for reading and
// writing; it has no name left, so it disappears when closed. nullptr on failure.
std::FILE* open_temporary_file();

// The step "Conversion into model format": replaces the transfer record's file (the chosen
// list) by its converted copy. Returns SR_NEXT.
StepResult step_convert_ms_type_list(Engine& engine, TransferRecord& record);

}  // namespace trelvo
