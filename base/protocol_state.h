// What the block transfer keeps between its steps besides the transfer record: the packet
// buffer every packet and answer is built in and sent from (a repeated packet goes out
// again from it unchanged), whether the sender has ended its data with EOT, and how the
// data received compares with the size the sender announced.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/control_bytes.h"

namespace trelvo {

// Receiving: the size the file information block announced against the data stored.
struct ReceivedData {
    std::optional<uint64_t> announced;  // none: the block gave no size
    uint64_t stored = 0;                // data bytes written to the file
    // A data packet lay wholly beyond the announced size: the size was short.
    bool beyond_size = false;
    // The bytes of the last packet past the announced size: its fill if the size was
    // right, data if another packet follows; written then, so that nothing is lost.
    std::vector<uint8_t> held_back;
    // The closing block came after exactly the announced bytes: the list in the tester
    // may be cleared.
    bool complete = false;
};

struct ProtocolState {
    PacketBuffer packet{};
    // Receiving: EOT has come since the last accepted packet, so a block numbered 0 is
    // the closing block and not a data packet or a repeated file information block.
    bool end_of_transmission = false;
    ReceivedData received;
};

}  // namespace trelvo
