#include "results/conversion_steps.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "base/error_table.h"
#include "base/printer.h"
#include "engine/engine.h"
#include "results/excel_conversion.h"
#include "results/print_file.h"
#include "results/printout_conversion.h"
#include "settings/safe_files.h"

namespace trelvo {

namespace {

struct Source {
    std::FILE* file;
    std::string_view name;
};

// With the IMEI Filename option the current block file, and only once the split has a
// complete block (or has finished) and the block file is open; else the received list.
std::optional<Source> conversion_source(const Engine& engine, const TransferRecord& record) {
    if ((engine.state.options & OPT_IMEI) != 0) {
        SplitState split = record.imei.state;
        if (split != SplitState::BlockComplete && split != SplitState::Finished) return {};
        if (record.second_file == nullptr) return {};
        return Source{record.second_file, record.imei.block_name};
    }
    if (record.file == nullptr) return {};
    return Source{record.file, record.file_name};
}

struct OutputKind {
    std::string_view extension;
    size_t max_path;
    int bare_bit;
    std::string_view bare_message;
    int failed_bit;
    std::string_view failed_message;
};

const OutputKind EXCEL_OUTPUT = {
    ".csv",
    MAX_EXCEL_PATH,
    ERR_EXCEL_BARE,
    "Excel File: Invalid pathname or file is write Protected\n\n      File is stored in the "
    "program directory.\n",
    ERR_EXCEL_FILE,
    "Invalid filename or file is write protected\n\nConversion into Excel Format canceled\n",
};

const OutputKind PRINTOUT_OUTPUT = {
    ".txt",
    MAX_PRINTOUT_PATH,
    ERR_PRINTOUT_BARE,
    "Printout File: Invalid pathname or file is write Protected\n\n       File is stored in the "
    "program directory.\n",
    ERR_PRINTOUT_FILE,
    "Invalid filename or file is write protected\n\nConversion into Printout Format canceled\n",
};

constexpr std::string_view NAME_RESERVED =
    "The output file's name is reserved for the program's own files\n";
constexpr std::string_view WRITE_FAILED = "Write error - disk full or file too large.\n";

// Creates `path` as a regular file, never through a link; a path longer than the
// conversion's limit cannot be created.
std::FILE* create_file(const std::string& path, const OutputKind& kind) {
    if (path.empty() || path.size() > kind.max_path) return nullptr;
    return create_output_file(path);
}

// The output name of `source`; a source that already carries the output's extension
// ("R.csv") keeps its whole name before the extension, so that it is never replaced.
std::string output_name(const Source& source, const OutputKind& kind) {
    std::string name = conversion_output_name(source.name, kind.extension);
    if (name != source.name) return name;
    name.assign(source.name.substr(0, MAX_OUTPUT_NAME - kind.extension.size()));
    return name.append(kind.extension);
}

// Creates the output file in the record's directory, else under its bare name in the current
// directory, reporting each failure; the run is cancelled when both fail. Shows "Creating".
std::FILE* create_output(Engine& engine, const TransferRecord& record, std::string& name,
                         const OutputKind& kind) {
    // An output named like the batch script ("batch.txt" from a list "batch.res") would
    // replace it: it is stored under a substitute name.
    bool substituted = false;
    std::string wanted = name;
    name = unreserved_name(engine.state, record.directory, wanted, substituted);
    if (substituted) {
        report_error_with_reason(engine.state, engine.window, ERR_NAME_RESERVED, NAME_RESERVED,
                                 wanted + " is stored as " + name, MessageIcon::Error);
    }
    std::FILE* out = create_file(record.directory + name, kind);
    if (out == nullptr) {
        report_error(engine.state, engine.window, kind.bare_bit, kind.bare_message,
                     MessageIcon::Error);
        out = create_file(name, kind);
    }
    if (out == nullptr) {
        report_error(engine.state, engine.window, kind.failed_bit, kind.failed_message,
                     MessageIcon::Error);
        engine.run_state = RS_CANCEL;
        return nullptr;
    }
    engine.show_file_line("Creating", name);
    return out;
}

// Closes a finished output. A write that failed (a full disk, a file too large) ends the
// run, so that the received list is kept rather than deleted in favour of a damaged
// conversion.
void finish_output(Engine& engine, TransferRecord& record, std::FILE* out,
                   const std::string& name) {
    // A failed buffered write leaves its errno behind; the flush may find the failure itself.
    bool failed = std::ferror(out) != 0;
    int error = failed ? errno : 0;
    if (!failed && std::fflush(out) != 0) {
        failed = true;
        error = errno;
    }
    if (std::fclose(out) != 0 && !failed) {
        failed = true;
        error = errno;
    }
    if (!failed) {
        ++record.outputs_written;
        return;
    }
    report_error_with_reason(engine.state, engine.window, ERR_WRITE_FAILED, WRITE_FAILED,
                             file_reason(error != 0 ? error : EIO, name), MessageIcon::Error);
    engine.run_state = RS_CANCEL;
}

}  // namespace

std::string conversion_output_name(std::string_view source_name, std::string_view extension) {
    std::string_view base = source_name.substr(0, source_name.find('.'));
    size_t room = MAX_OUTPUT_NAME > extension.size() ? MAX_OUTPUT_NAME - extension.size() : 0;
    std::string name(base.substr(0, room));
    name.append(extension);
    return name;
}

StepResult step_convert_excel(Engine& engine, TransferRecord& record) {
    std::optional<Source> source = conversion_source(engine, record);
    if (!source || (engine.state.options & OPT_EXCEL) == 0) return SR_NEXT;
    std::string name = output_name(*source, EXCEL_OUTPUT);
    std::FILE* out = create_output(engine, record, name, EXCEL_OUTPUT);
    if (out == nullptr) return SR_NEXT;
    write_excel(source->file, out, engine.state);
    finish_output(engine, record, out, name);
    return SR_NEXT;
}

StepResult step_convert_printout(Engine& engine, TransferRecord& record) {
    std::optional<Source> source = conversion_source(engine, record);
    if (!source || (engine.state.options & OPT_PRINTOUT) == 0) return SR_NEXT;
    std::string name = output_name(*source, PRINTOUT_OUTPUT);
    std::FILE* out = create_output(engine, record, name, PRINTOUT_OUTPUT);
    if (out == nullptr) return SR_NEXT;
    write_printout(source->file, out, engine.state);
    if ((engine.state.options & OPT_DIRECT_PRINT) != 0 && engine.printer != nullptr) {
        std::fflush(out);
        if (std::fseek(out, 0, SEEK_SET) == 0) print_file(*engine.printer, out, name);
    }
    finish_output(engine, record, out, name);
    return SR_NEXT;
}

}  // namespace trelvo
