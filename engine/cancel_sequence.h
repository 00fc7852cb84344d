// The cancel sequence that breaks off a block transfer: eight CAN bytes.
#pragma once

#include "base/codes.h"
#include "base/transfer_record.h"
#include "serial/tester_port.h"

namespace trelvo {

// Writes the eight cancel bytes; SR_NEXT, or SR_WRITE_PENDING while they go out.
StepResult send_cancel_sequence(TesterPort& port, TransferRecord& record);

}  // namespace trelvo
