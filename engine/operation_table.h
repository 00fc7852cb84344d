// The operation table and the step tables: data a reader can compare row by row with the
// operations they describe.
#pragma once

#include <array>
#include <cstdint>

#include "base/codes.h"

namespace trelvo {

class Engine;
struct TransferRecord;

// A step: sends a command or a block, evaluates a reply or converts a file, and returns
// the step result that names what to wait for next.
using StepRoutine = StepResult (*)(Engine& engine, TransferRecord& record);

// A row of a step table; a row with a null routine ends the table.
struct StepRow {
    StepRoutine routine;
    const char* status_text;  // PACKET_TEXT: show the engine's packet status text
};
inline constexpr const char* PACKET_TEXT = nullptr;

// A row of the operation table; the all-zero row ends it.
struct Operation {
    int32_t id;
    const StepRow* steps;
    const char* name;
};

inline constexpr int32_t OP_FIRMWARE_UPDATE = 1;
inline constexpr int32_t OP_DOWNLOAD_MOBILE_LIST = 2;
inline constexpr int32_t OP_UPLOAD_MOBILE_LIST = 3;
inline constexpr int32_t OP_UPLOAD_RESULT_LIST = 4;
inline constexpr int32_t OP_DOWNLOAD_AUTOTEST = 5;

inline constexpr int OPERATION_COUNT = 5;
extern const std::array<Operation, OPERATION_COUNT + 1> operation_table;

// The row at `position` (0..4), or nullptr for any other position.
const Operation* operation_at(int position);

}  // namespace trelvo
