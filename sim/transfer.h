// What the tester's two block-transfer roles share: where they send, the clock, the faults
// to play, how a transfer ended and what it counted.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/platform.h"
#include "sim/config.h"
#include "sim/output_queue.h"

namespace trelvo::sim {

struct TransferContext {
    OutputQueue& out;
    TickCounter& clock;
    const FaultSet& faults;
};

enum class TransferState {
    Running,
    Completed,        // closing block acknowledged
    PcCancelled,      // two CAN bytes in a row from the PC
    TesterCancelled,  // the "can" fault: the tester sent the cancel sequence
    OutOfSync,        // an unexpected block number: the tester sent the cancel sequence
    GaveUp,           // too many errors or too long a silence
    Refused,          // the received file cannot be created: cancel sequence
    Abandoned,        // the PC sent the tester back to local operation meanwhile
};

std::string_view transfer_state_text(TransferState state);

struct TransferStats {
    int blocks_sent = 0;   // blocks the tester put on the line, repeats included
    int repeats_sent = 0;  // of those, blocks sent again after NAK or a repeated request
    int naks_received = 0;
    int packets_received = 0;  // data packets accepted and stored
    int naks_sent = 0;
    int crc_errors = 0;  // damaged packets received
    int duplicates = 0;  // repeats of the packet accepted last, acknowledged again
    int timeouts = 0;    // packets that stalled, or silences answered with a request
};

// Timing shared by both roles.
inline constexpr uint32_t PACKET_PAUSE_LIMIT_MS = 1000;  // silence inside a packet
inline constexpr uint32_t REQUEST_AGAIN_MS = 10000;      // silence before asking again
inline constexpr int QUIET_ROUNDS_LIMIT = 6;             // then the transfer is given up
inline constexpr int ERROR_LIMIT = 10;                   // bad packets / NAKs in a row
inline constexpr uint32_t STALL_MS = 2000;               // the "stall-in-block" pause
inline constexpr uint32_t XOFF_HOLD_MS = 1000;           // the "xoff" hold
inline constexpr size_t STALL_AFTER_BYTES = 67;          // header, number, complement, 64

// Queues the cancel sequence: eight CAN bytes.
void queue_cancel_sequence(OutputQueue& out);
// Queues XOFF, then XON a second later (the "xoff" fault).
void queue_xoff_hold(OutputQueue& out);

}  // namespace trelvo::sim
