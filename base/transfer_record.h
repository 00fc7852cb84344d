// The transfer record: the run's files and transfer counters, handed to every step.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace trelvo {

inline constexpr size_t MAX_TRANSFER_NAME = 12;

// Model codes the identification stores.
inline constexpr int32_t MODEL_KV71 = 71;
inline constexpr int32_t MODEL_KV72 = 72;

// State of the split of a result list into one block file per tested phone.
enum class SplitState { Seeking, Copying, BlockComplete, Finished };

inline constexpr size_t SPLIT_BUFFER_SIZE = 1000;

struct ImeiSplit {
    std::string block_name;  // current block file name without directory
    std::array<char, SPLIT_BUFFER_SIZE> buffer{};
    size_t line_position = 0;  // start of the next unprocessed line in buffer
    size_t held = 0;           // unprocessed bytes from line_position on
    size_t read_size = 0;      // bytes the next read asks for
    SplitState state = SplitState::Finished;
    // The bytes at line_position continue a line longer than the buffer, whose start has
    // already been handled (copied or skipped); they do not start a record.
    bool line_continues = false;
};

struct TransferRecord {
    std::FILE* file = nullptr;  // the file sent or received in this run; nullptr = none
    std::string file_name;      // without directory, at most MAX_TRANSFER_NAME characters
    std::string directory;      // ends with "/" unless empty (the current directory)
    uint32_t file_size = 0;     // during a transfer: bytes not yet sent or received
    uint32_t processed = 0;     // progress counter of the IMEI split
    uint32_t file_time = 0;     // modification time of the file information block
    uint32_t packet_number = 0;
    uint8_t retry_count = 0;           // retries of the current send
    uint32_t page_first_slot = 0;      // slot of the first entry of the autotest page being read
    uint8_t autotest_slot = 0;         // the slot chosen to store the autotest in or delete
    std::FILE* second_file = nullptr;  // the current IMEI block file; nullptr = none
    ImeiSplit imei;                    // the IMEI naming fields
    // Conversion outputs written whole from the received file; without one, the file is
    // never deleted in favour of its conversions.
    uint32_t outputs_written = 0;
    // A received file is open and its closing block has not come: a run that ends now
    // leaves a partial file, which the end of the run names.
    bool receive_open = false;
};

// Closes a run's file handle if open and sets it to none.
inline void close_file(std::FILE*& file) {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
}

}  // namespace trelvo
