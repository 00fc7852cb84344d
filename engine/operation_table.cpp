#include "engine/operation_table.h"

namespace trelvo {
namespace {

// The step tables hold the rows whose routines exist; each ends with the null row.
constexpr StepRow firmware_update_steps[] = {
    {nullptr, nullptr},
};

constexpr StepRow mobile_list_download_steps[] = {
    {nullptr, nullptr},
};

constexpr StepRow mobile_list_upload_steps[] = {
    {nullptr, nullptr},
};

constexpr StepRow result_list_upload_steps[] = {
    {nullptr, nullptr},
};

constexpr StepRow autotest_download_steps[] = {
    {nullptr, nullptr},
};

}  // namespace

const std::array<Operation, OPERATION_COUNT + 1> operation_table = {{
    {OP_FIRMWARE_UPDATE, firmware_update_steps, "Firmware Update"},
    {OP_DOWNLOAD_MOBILE_LIST, mobile_list_download_steps, "Download Mobile List"},
    {OP_UPLOAD_MOBILE_LIST, mobile_list_upload_steps, "Upload Mobile List"},
    {OP_UPLOAD_RESULT_LIST, result_list_upload_steps, "Upload Result List"},
    {OP_DOWNLOAD_AUTOTEST, autotest_download_steps, "Download Autotest"},
    {0, nullptr, nullptr},
}};

const Operation* operation_at(int position) {
    if (position < 0 || position >= OPERATION_COUNT) return nullptr;
    return &operation_table[position];
}

}  // namespace trelvo
