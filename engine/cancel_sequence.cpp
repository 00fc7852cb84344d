#include "engine/cancel_sequence.h"

#include <array>

#include "base/control_bytes.h"

namespace trelvo {

StepResult send_cancel_sequence(TesterPort& port, TransferRecord& /*record*/) {
    std::array<uint8_t, CANCEL_SEQUENCE_LENGTH> bytes;
    bytes.fill(CAN);
    return port.write_block(bytes.data(), bytes.size(), SR_NEXT);
}

}  // namespace trelvo
