// The step "Conversion into model format" of the mobile list download.
#include "base/error_table.h"
#include "engine/engine.h"
#include "results/ms_type_list.h"

namespace trelvo {

namespace {

void report_failure(Engine& engine) {
    report_error(engine.state, engine.window, ERR_MS_CONVERSION, "Conversion failed\n",
                 MessageIcon::Error);
}

}  // namespace

StepResult step_convert_ms_type_list(Engine& engine, TransferRecord& record) {
    if (record.file == nullptr) return SR_NEXT;
    OffsetTable table;
    MsListResult result = collect_ms_type_chains(record.file, engine.state.model_code, table);
    if (result != MsListResult::Converted) {
        // A damaged list would load garbage links into the tester: send nothing.
        report_failure(engine);
        engine.run_state = RS_ABORTED;
        return SR_NEXT;
    }
    std::FILE* converted = open_temporary_file();
    if (converted == nullptr) {
        // Without a place for the conversion the chosen list goes out as it is (the
        // collection left it at its start).
        report_failure(engine);
        return SR_NEXT;
    }
    result = write_converted_ms_type_list(record.file, engine.state.model_code, table, converted);
    if (result != MsListResult::Converted) {
        std::fclose(converted);
        report_failure(engine);
        engine.run_state = RS_ABORTED;
        return SR_NEXT;
    }
    // The file name stays: the tester is told the chosen file's name.
    close_file(record.file);
    record.file = converted;
    return SR_NEXT;
}

}  // namespace trelvo
