#include "operations/operation_table.h"

#include "base/transfer_record.h"
#include "protocol/block_receive.h"
#include "protocol/block_send.h"
#include "protocol/tester_commands.h"
#include "results/conversion_steps.h"
#include "results/imei_split.h"
#include "results/ms_type_list.h"

namespace trelvo {
namespace {

// The file dialog's type lists: the operation's own type first, then every file.
constexpr FileFilter ALL_FILES{"All Files (*.*)", "*.*"};
constexpr FileFilter KV71_IMAGES[] = {{"KV71 Update (*.BIN)", "*.bin"}, ALL_FILES};
constexpr FileFilter KV72_IMAGES[] = {{"KV72 Update (*.BIN)", "*.bin"}, ALL_FILES};
constexpr FileFilter KV70_IMAGES[] = {{"KV70 Update (*.BIN)", "*.bin"}, ALL_FILES};
constexpr FileFilter MOBILE_LISTS[] = {{"Mobile List (*.AUT)", "*.aut"}, ALL_FILES};
constexpr FileFilter AUTOTESTS[] = {{"Autotest (*.DLD)", "*.dld"}, ALL_FILES};
// A plain name no file has, so that the dialog shows nothing but folders.
constexpr FileFilter NO_FILE[] = {{"No File", "~trelvo-no-file~"}};

constexpr ModelFilters firmware_filters[] = {
    {MODEL_KV71, KV71_IMAGES}, {MODEL_KV72, KV72_IMAGES}, {0, KV70_IMAGES}};
constexpr ModelFilters mobile_list_filters[] = {{0, MOBILE_LISTS}};
constexpr ModelFilters autotest_filters[] = {{0, AUTOTESTS}};
constexpr ModelFilters folder_only_filters[] = {{0, NO_FILE}};

// The step tables hold the rows whose routines exist; each ends with the null row. Steps
// jump by routine (jump_offset), never by row number, and the checks of the block send
// rely on the send they evaluate standing directly before them.

constexpr StepRow firmware_update_steps[] = {
    {step_query_identity, "Detect KV70"},
    {step_check_identity, "Detect KV70"},
    {step_select_file, "Select Firmware update"},
    {step_enable_update_mode, "Enable update mode"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_file_info, "Sending file information"},
    {step_check_ack, "Sending file information"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_packet, PACKET_TEXT},
    {step_check_packet_ack, PACKET_TEXT},
    {step_send_eot, "Sending EOT"},
    {step_check_ack, "Sending EOT"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_end_of_batch, "Close connection"},
    {step_check_ack, "Close connection"},
    {nullptr, nullptr},
};

constexpr StepRow mobile_list_download_steps[] = {
    {step_query_identity, "Detect KV70"},
    {step_check_identity, "Detect KV70"},
    {step_select_file, "Select MSTYPE list"},
    {step_convert_ms_type_list, "Conversion into model format"},
    {step_enable_list_download, "Enable download mode"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_file_info, "Sending file information"},
    {step_check_ack, "Sending file information"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_packet, PACKET_TEXT},
    {step_check_packet_ack, PACKET_TEXT},
    {step_send_eot, "Sending EOT"},
    {step_check_ack, "Sending EOT"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_end_of_batch, "Close connection"},
    {step_check_ack, "Close connection"},
    {nullptr, nullptr},
};

constexpr StepRow mobile_list_upload_steps[] = {
    {step_query_identity, "Detect KV70"},
    {step_check_identity, "Detect KV70"},
    {step_enable_list_upload, "Enable upload mode"},
    {step_start_receive, PACKET_TEXT},
    {step_receive_block, PACKET_TEXT},
    {nullptr, nullptr},
};

constexpr StepRow result_list_upload_steps[] = {
    {step_check_polling, "Detect KV70"},
    {step_query_identity, "Detect KV70"},
    {step_check_identity, "Detect KV70"},
    {step_query_result_status, "Read testresult status"},
    {step_check_result_status, "Read testresult status"},
    {step_enable_result_upload, "Enable upload mode"},
    {step_prepare_result_receive, "Enable upload mode"},
    {step_start_receive, PACKET_TEXT},
    {step_receive_block, PACKET_TEXT},
    {step_imei_begin, "Init IMEI Filename"},
    {step_imei_read, "Save IMEI Filename"},
    {step_imei_write, "Save IMEI Filename"},
    {step_convert_excel, "Conversion into excel format"},
    {step_convert_printout, "Conversion into printout format"},
    {step_imei_next, "Save IMEI Filename"},
    {step_delete_result_list, "Delete Result List"},
    {step_next_poll_cycle, PACKET_TEXT},
    {nullptr, nullptr},
};

constexpr StepRow autotest_download_steps[] = {
    {step_query_identity, "Detect KV70"},
    {step_check_identity, "Detect KV70"},
    {step_select_file, "Select Autotest"},
    {step_begin_autotest_directory, "Read autotest directory"},
    {step_query_autotest_directory, "Read autotest directory"},
    {step_next_autotest_page, "Read autotest directory"},
    {step_choose_autotest_slot, "Select Autotest"},
    {step_delete_autotest, "Delete Autotest"},
    {step_enable_autotest_download, "Enable download mode"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_file_info, "Sending file information"},
    {step_check_ack, "Sending file information"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_packet, PACKET_TEXT},
    {step_check_packet_ack, PACKET_TEXT},
    {step_send_eot, "Sending EOT"},
    {step_check_ack, "Sending EOT"},
    {step_wait_receiver, "Waiting for receiver"},
    {step_send_end_of_batch, "Close connection"},
    {step_check_ack, "Close connection"},
    {nullptr, nullptr},
};

// The result list is converted from a private copy and closed before the table ends, so
// that the engine's end of run never takes it for a received list to delete.
StepResult step_close_result_list(Engine&, TransferRecord& record) {
    close_file(record.file);
    return SR_NEXT;
}

constexpr StepRow conversion_steps[] = {
    {step_imei_begin, "Init IMEI Filename"},
    {step_imei_read, "Save IMEI Filename"},
    {step_imei_write, "Save IMEI Filename"},
    {step_convert_excel, "Conversion into excel format"},
    {step_convert_printout, "Conversion into printout format"},
    {step_imei_next, "Save IMEI Filename"},
    {step_close_result_list, "Close result list"},
    {nullptr, nullptr},
};

}  // namespace

constexpr std::array<Operation, OPERATION_COUNT + 1> operation_table = {{
    {OP_FIRMWARE_UPDATE, firmware_update_steps, "Firmware Update", FileChoice::FileToSend,
     DIR_FIRMWARE, firmware_filters},
    {OP_DOWNLOAD_MOBILE_LIST, mobile_list_download_steps, "Download Mobile List",
     FileChoice::FileToSend, DIR_DL_MS_TYPE, mobile_list_filters},
    {OP_UPLOAD_MOBILE_LIST, mobile_list_upload_steps, "Upload Mobile List",
     FileChoice::ReceivingFolder, DIR_UL_MS_TYPE, folder_only_filters},
    {OP_UPLOAD_RESULT_LIST, result_list_upload_steps, "Upload Result List",
     FileChoice::ReceivingFolder, DIR_UL_RESULT, folder_only_filters, true},
    {OP_DOWNLOAD_AUTOTEST, autotest_download_steps, "Download Autotest", FileChoice::FileToSend,
     DIR_DL_AUTOTEST, autotest_filters},
    {0, nullptr, nullptr},
}};

// The engine finds the selected operation by its number (operation_id_at).
static_assert([] {
    for (int position = 0; position < OPERATION_COUNT; ++position)
        if (operation_table[position].id != operation_id_at(position)) return false;
    return true;
}());

const Operation result_list_conversion = {OP_UPLOAD_RESULT_LIST, conversion_steps,
                                          "Convert Result List"};

const Operation* operation_at(int position) {
    if (position < 0 || position >= OPERATION_COUNT) return nullptr;
    return &operation_table[position];
}

}  // namespace trelvo
