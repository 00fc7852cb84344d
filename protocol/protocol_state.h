// What the block transfer keeps between its steps besides the transfer record: the packet
// buffer every packet and answer is built in and sent from (a repeated packet goes out
// again from it unchanged), and whether the sender has ended its data with EOT.
#pragma once

#include "protocol/packet.h"

namespace trelvo {

struct ProtocolState {
    PacketBuffer packet{};
    // Receiving: EOT has come since the last accepted packet, so a block numbered 0 is
    // the closing block and not a data packet or a repeated file information block.
    bool end_of_transmission = false;
};

}  // namespace trelvo
