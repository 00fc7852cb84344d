// What the engine runs: an operation is a table of steps. The rows themselves (the five
// operations and the conversion of a result list on disk) are in operations/.
#pragma once

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

// The operation the window lists at `position` (0..4): the operation table holds them in
// the order of their numbers. 0 for any other position.
constexpr int32_t operation_id_at(int position) {
    return position >= 0 && position < OPERATION_COUNT ? position + 1 : 0;
}

}  // namespace trelvo
