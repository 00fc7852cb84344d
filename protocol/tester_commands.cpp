#include "protocol/tester_commands.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/error_table.h"
#include "base/settings_state.h"
#include "engine/engine.h"
#include "protocol/file_choice.h"

namespace trelvo {
namespace {

StepResult write_command(Engine& engine, std::string_view text, StepResult next) {
    return engine.port().write_command(text, next);
}

StepResult write_with_number(Engine& engine, const char* format, unsigned number, StepResult next) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return engine.port().write_command(text, next);
}

bool timed_out(Engine& engine) {
    return engine.port().reply[0] == TIMEOUT_MARKER;
}

bool polling(const Engine& engine) {
    return (engine.state.options & OPT_POLLING) != 0;
}

// The tester answers "*IDN?" with comma-separated fields; the second names the model and
// begins with its two digits. Returns false when the reply has no second field.
bool model_field(std::string_view reply, std::string_view& field) {
    size_t first = reply.find(',');
    if (first == std::string_view::npos) return false;
    size_t second = reply.find(',', first + 1);
    if (second == std::string_view::npos) return false;
    field = reply.substr(first + 1, second - first - 1);
    return true;
}

// Whether the leading decimal number of `text` (blanks skipped, a sign allowed, reading
// stops at the first non-digit, no digits read as 0) is other than 0.
bool leading_number_nonzero(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (text[at] != '0') return true;
    }
    return false;
}

void prepare_receive(Engine& engine, TransferRecord& record) {
    engine.packet_text = "Waiting for transmitter";
    std::string& directory = receive_directory_setting(engine);
    ensure_trailing_separator(directory);
    record.directory = directory;
}

// Every line of the autotest directory must list an entry; "" when it does, else why not.
std::string unlisted_line_reason(const TesterPort& port) {
    size_t listed = autotest_entries(port.directory_text).size();
    if (listed == port.directory_lines) return {};
    return "Line " + std::to_string(listed + 1) + " of " + std::to_string(port.directory_lines) +
           " names no autotest.";
}

// The directory was not taken in whole: no slot may be chosen from it, so the run ends.
void directory_incomplete(Engine& engine, const std::string& reason) {
    std::string message(error_messages[ERR_DIRECTORY_INCOMPLETE]);
    report_error_with_reason(engine.state, engine.window, ERR_DIRECTORY_INCOMPLETE, message + "\n",
                             reason, MessageIcon::Error);
    engine.run_state = RS_ABORTED;
}

}  // namespace

std::string visible_text(std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            shown += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7f) {
            shown += c;
        } else {
            shown += "\\x";
            shown += HEX[byte >> 4];
            shown += HEX[byte & 0x0f];
        }
    }
    return shown;
}

std::string packet_text_for(uint32_t number) {
    char text[32];
    std::snprintf(text, sizeof text, "Packet %u", number);
    return text;
}

std::string& receive_directory_setting(Engine& engine) {
    SettingsState& state = engine.state;
    if (state.automatic_run() && (state.command_line_flags & CMD_PATH) != 0) {
        return state.command_line_path;
    }
    return state
        .directories[engine.operation != nullptr ? engine.operation->directory : DIR_UL_RESULT];
}

StepResult step_query_identity(Engine& engine, TransferRecord&) {
    engine.wait_timeout = IDENTITY_TIMEOUT_S;
    return write_command(engine, IDENTITY_QUERY, SR_WAIT_LINE);
}

StepResult step_check_identity(Engine& engine, TransferRecord&) {
    if (timed_out(engine)) {
        engine.show_status("Timeout", 3);
        return SR_NEXT;
    }
    std::string_view field;
    if (!model_field(engine.port().reply_line(), field)) {
        engine.show_status("Unknown", 3);
        return SR_NEXT;
    }
    // The two leading characters are taken as digits without a check; a short field
    // contributes NULs, which can never make 71 or 72.
    int c0 = field.size() > 0 ? static_cast<unsigned char>(field[0]) : 0;
    int c1 = field.size() > 1 ? static_cast<unsigned char>(field[1]) : 0;
    int32_t& model_code = engine.state.model_code;
    model_code = 10 * (c0 - '0') + (c1 - '0');
    bool known = model_code == MODEL_KV71 || model_code == MODEL_KV72;
    // The field is the tester's own text: control bytes in it must not reach a terminal.
    engine.show_status(known ? visible_text(field) : "Unknown", 3);
    return SR_NEXT;
}

StepResult step_select_file(Engine& engine, TransferRecord& record) {
    record.file = choose_file(engine.state, engine.window, record, *engine.operation);
    record.packet_number = 1;
    engine.packet_text = packet_text_for(1);
    if (record.file == nullptr || record.file_size == 0) {
        engine.run_state = RS_ABORTED;
        return SR_NEXT;
    }
    engine.show_file_line("Sending", record.file_name);
    uint64_t units = (uint64_t{record.file_size} + SHORT_DATA_SIZE - 1) / SHORT_DATA_SIZE;
    engine.window.set_progress_range(0, static_cast<int>(units));
    // The elapsed time counts the transfer, not the time spent in the file dialog.
    engine.run_start = engine.clock.now_ms();
    engine.port().set_output_flow_control(false);
    return SR_NEXT;
}

StepResult step_enable_update_mode(Engine& engine, TransferRecord&) {
    // A tester that did not answer the identification gets no mode command: the transfer
    // starts as soon as it asks for the file.
    if (timed_out(engine)) return SR_NEXT;
    return write_command(engine, UPDATE_MODE_COMMAND, SR_NEXT);
}

StepResult step_enable_list_download(Engine& engine, TransferRecord&) {
    return write_command(engine, LIST_DOWNLOAD_COMMAND, SR_NEXT);
}

StepResult step_enable_list_upload(Engine& engine, TransferRecord& record) {
    prepare_receive(engine, record);
    return write_command(engine, LIST_UPLOAD_COMMAND, SR_NEXT);
}

StepResult step_check_polling(Engine& engine, TransferRecord&) {
    if (polling(engine)) {
        engine.step_index += engine.jump_offset(engine.step_index, step_prepare_result_receive);
    }
    return SR_NEXT;
}

StepResult step_query_result_status(Engine& engine, TransferRecord&) {
    return write_command(engine, RESULT_STATUS_QUERY, SR_WAIT_LINE);
}

StepResult step_check_result_status(Engine& engine, TransferRecord&) {
    if (timed_out(engine)) {
        // The upload is attempted all the same.
        engine.show_status("Timeout", 3);
        return SR_NEXT;
    }
    std::string_view reply = engine.port().reply_line();
    size_t comma = reply.find(',');
    if (comma == std::string_view::npos || !leading_number_nonzero(reply.substr(0, comma))) {
        engine.run_state = RS_ABORTED;  // nothing to upload
    }
    return SR_NEXT;
}

StepResult step_enable_result_upload(Engine& engine, TransferRecord& record) {
    prepare_receive(engine, record);
    return write_command(engine, RESULT_UPLOAD_COMMAND, SR_NEXT);
}

StepResult step_prepare_result_receive(Engine& engine, TransferRecord& record) {
    // In polling mode the tester starts on its own when it is asked for a block.
    if (polling(engine)) prepare_receive(engine, record);
    return SR_NEXT;
}

StepResult step_delete_result_list(Engine& engine, TransferRecord& record) {
    if ((engine.state.options & OPT_DELETE_ALL) == 0) return SR_NEXT;
    // Only a list known to be whole may be cleared in the tester. One received against the
    // size it announced either was, or ended the run; one without a size cannot be checked.
    if (!engine.protocol.received.complete) {
        report_error_with_reason(
            engine.state, engine.window, ERR_TRANSFER_INCOMPLETE,
            "The results in the tester are not deleted\n",
            record.directory + record.file_name + ": the tester announced no size to check it by",
            MessageIcon::Error);
        return SR_NEXT;
    }
    engine.port().set_output_flow_control(true);
    return write_command(engine, DELETE_RESULTS_COMMAND, SR_NEXT);
}

StepResult step_next_poll_cycle(Engine& engine, TransferRecord&) {
    if (!polling(engine)) return SR_NEXT;
    engine.step_index += engine.jump_offset(engine.step_index, step_prepare_result_receive);
    return SR_CYCLE_DONE;
}

StepResult step_begin_autotest_directory(Engine& engine, TransferRecord& record) {
    TesterPort& port = engine.port();
    record.page_first_slot = 1;
    port.directory_lines = 0;
    port.directory_text.clear();
    port.set_output_flow_control(true);
    return SR_NEXT;
}

StepResult step_query_autotest_directory(Engine& engine, TransferRecord& record) {
    // A page lists at most ten entries, and no entry lies beyond the last slot: more lines
    // than that mean the tester lists what it does not hold (an endless directory).
    uint32_t limit = record.page_first_slot - 1 + AUTOTEST_PAGE;
    engine.port().begin_lines(std::min<uint32_t>(limit, AUTOTEST_SLOTS));
    return write_with_number(engine, AUTOTEST_DIRECTORY_QUERY, record.page_first_slot,
                             SR_WAIT_LINES);
}

StepResult step_next_autotest_page(Engine& engine, TransferRecord& record) {
    if (engine.run_state != RS_RUNNING) return SR_NEXT;
    TesterPort& port = engine.port();
    const uint32_t first = record.page_first_slot;
    std::string reason;
    switch (port.lines_end) {
        case TesterPort::LinesEnd::Etx:
            // A full page ends at entry first slot + 9: ask for the next one.
            if (port.directory_lines == first - 1 + AUTOTEST_PAGE) {
                record.page_first_slot = first + AUTOTEST_PAGE;
                engine.step_index -= 2;
                return SR_NEXT;
            }
            break;
        case TesterPort::LinesEnd::TooManyLines:
            reason =
                first - 1 + AUTOTEST_PAGE > AUTOTEST_SLOTS
                    ? "The tester lists more than " + std::to_string(AUTOTEST_SLOTS) + " autotests."
                    : "The page from slot " + std::to_string(first) + " lists more than " +
                          std::to_string(AUTOTEST_PAGE) + " autotests.";
            break;
        case TesterPort::LinesEnd::OutOfTime:
        case TesterPort::LinesEnd::Reading:
            reason = "The page from slot " + std::to_string(first) + " did not end within " +
                     std::to_string(LINES_LIMIT_MS / 1000) + " s.";
            break;
    }
    if (!reason.empty()) {
        directory_incomplete(engine, reason);
        return SR_NEXT;
    }
    port.set_output_flow_control(false);
    return SR_NEXT;
}

StepResult step_choose_autotest_slot(Engine& engine, TransferRecord& record) {
    TesterPort& port = engine.port();
    // The list's positions are the slots: a line that lists no entry would shift every
    // slot after it, and "New" would land on a used one.
    std::string reason = unlisted_line_reason(port);
    if (!reason.empty()) {
        directory_incomplete(engine, reason);
        return SR_NEXT;
    }
    AutotestChoice choice;
    if (engine.state.automatic_run()) {
        // An automatic run always stores the autotest in a new slot, and never in a used one.
        AutotestPress press =
            autotest_button(AUTOTEST_NEW, port.directory_lines, -1, record.autotest_slot);
        if (!press.closes) {
            directory_incomplete(engine, "The tester has no free slot.");
            return SR_NEXT;
        }
        choice = press.choice;
    } else {
        choice = engine.window.autotest_slot_dialog(port.directory_text);
    }
    if (choice.result != AUTOTEST_CANCEL) record.autotest_slot = choice.slot;
    if (choice.result == AUTOTEST_CANCEL) engine.run_state = RS_ABORTED;
    // Delete runs the next row; everything else goes on to the download command.
    if (choice.result != AUTOTEST_DELETE) {
        engine.step_index += engine.jump_offset(engine.step_index, step_enable_autotest_download);
    }
    return SR_NEXT;
}

StepResult step_delete_autotest(Engine& engine, TransferRecord& record) {
    // The joined identification query gives the tester's answer line; the directory is
    // read again whatever it says.
    engine.step_index += engine.jump_offset(engine.step_index, step_begin_autotest_directory);
    return write_with_number(engine, DELETE_AUTOTEST_COMMAND, record.autotest_slot, SR_WAIT_LINE);
}

StepResult step_enable_autotest_download(Engine& engine, TransferRecord& record) {
    return write_with_number(engine, AUTOTEST_DOWNLOAD_COMMAND, record.autotest_slot, SR_NEXT);
}

}  // namespace trelvo
