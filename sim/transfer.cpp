#include "sim/transfer.h"

#include <array>

#include "base/control_bytes.h"

namespace trelvo::sim {

std::string_view transfer_state_text(TransferState state) {
    switch (state) {
        case TransferState::Running:
            return "running";
        case TransferState::Completed:
            return "completed";
        case TransferState::PcCancelled:
            return "cancelled by the PC";
        case TransferState::TesterCancelled:
            return "cancelled by the tester";
        case TransferState::OutOfSync:
            return "out of sync";
        case TransferState::GaveUp:
            return "given up";
        case TransferState::Refused:
            return "refused: the file cannot be stored";
        case TransferState::Abandoned:
            return "abandoned: back to local operation";
    }
    return "?";
}

void queue_cancel_sequence(OutputQueue& out) {
    std::array<uint8_t, CANCEL_SEQUENCE_LENGTH> cancel{};
    cancel.fill(CAN);
    out.push(cancel);
}

void queue_xoff_hold(OutputQueue& out) {
    out.push_byte(XOFF);
    out.push_byte(XON, XOFF_HOLD_MS);
}

}  // namespace trelvo::sim
