// What the engine runs: an operation is a table of steps. The rows themselves (the five
// operations and the conversion of a result list on disk) are in operations/.
#pragma once

#include <cstdint>
#include <span>

#include "base/codes.h"
#include "base/platform.h"
#include "base/settings_state.h"

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

// How a run of the operation chooses its file.
enum class FileChoice : uint8_t {
    None,             // no choice: the row converts a file already chosen
    FileToSend,       // the file dialog, for the file a download sends
    ReceivingFolder,  // the folder chooser, for the folder an upload writes into
};

// The file dialog's type list for the tester model `model_code`. A table of them ends with
// model code 0, which stands for every other model (and for no answer yet).
struct ModelFilters {
    int32_t model_code;
    std::span<const FileFilter> filters;
};

// A row of the operation table; the all-zero row ends it. After the steps come the facts
// that differ by operation; a row that leaves them out chooses no file, receives into the
// result list folder and keeps the option boxes off.
struct Operation {
    int32_t id;
    const StepRow* steps;
    const char* name;
    FileChoice file_choice = FileChoice::None;
    // Its folder in SettingsState::directories: where the file dialog starts, or where the
    // upload writes. The folder chooser's title is the row's name.
    int directory = DIR_UL_RESULT;
    std::span<const ModelFilters> filters = {};
    // The option check boxes (polling among them) and Print Setup belong to it.
    bool takes_options = false;
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
