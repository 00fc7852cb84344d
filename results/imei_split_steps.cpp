// The four steps of the split in the result list upload table. They only move the step
// index; the split itself lives in imei_split.cpp.
#include "engine/engine.h"
#include "results/imei_split.h"

namespace trelvo {

StepResult step_imei_begin(Engine& engine, TransferRecord& record) {
    begin_split(record, engine.state.options, engine.window);
    return SR_NEXT;
}

StepResult step_imei_read(Engine&, TransferRecord& record) {
    read_split(record);
    return SR_NEXT;
}

StepResult step_imei_write(Engine& engine, TransferRecord& record) {
    SplitWrite written = write_split(record, engine.state, engine.window);
    // A block that could not be written ends the run; the received list stays.
    if (written.failed) engine.run_state = RS_CANCEL;
    // Block files only stay on disk with the output-file option; only then are they named.
    if (written.created && (engine.state.options & OPT_OUTPUT_FILE) != 0)
        engine.show_file_line("Creating", record.imei.block_name);
    return SR_NEXT;
}

StepResult step_imei_next(Engine& engine, TransferRecord& record) {
    StepRoutine target = nullptr;
    switch (next_split(record, engine.state.options, engine.window)) {
        case SplitMove::NextRow:
            return SR_NEXT;
        case SplitMove::ReadMore:
            target = step_imei_read;
            break;
        case SplitMove::NextBlock:
            target = step_imei_write;
            break;
    }
    // -1 means the table lacks the row (the row of this step is never the target): go on
    // with the next row rather than run this step again and again.
    int32_t offset = engine.jump_offset(engine.step_index, target);
    if (offset != -1) engine.step_index += offset;
    return SR_NEXT;
}

}  // namespace trelvo
