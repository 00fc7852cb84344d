// The integer codes that step routines, the port routines and the engine exchange:
// step results (SR_), run states (RS_) and wait events (WE_, the engine timer identifiers).
#pragma once

#include <cstdint>

namespace trelvo {

using StepResult = int32_t;
inline constexpr StepResult SR_NEXT = 0;           // nothing to wait for; next row next tick
inline constexpr StepResult SR_WAIT_LINE = 1;      // a reply line; soft timeout
inline constexpr StepResult SR_WAIT_MATCH = 2;     // the expected byte; no timeout
inline constexpr StepResult SR_WAIT_BYTE = 3;      // any one byte; hard timeout
inline constexpr StepResult SR_WAIT_BLOCK = 4;     // a packet or a control byte; soft timeout
inline constexpr StepResult SR_WAIT_LINES = 5;     // a multi-line reply up to its ETX line
inline constexpr StepResult SR_WRITE_BUSY = 8;     // the pending write is still going
inline constexpr StepResult SR_WRITE_PENDING = 9;  // a write is pending; poll it
inline constexpr StepResult SR_CYCLE_DONE = 10;    // close the polling cycle's files, then next
// Our own addition: the device refused a write outright (or went away). The engine ends
// the run with a message instead of polling a write that can never complete.
inline constexpr StepResult SR_WRITE_FAILED = 11;

using RunState = int32_t;
inline constexpr RunState RS_IDLE = 0;
inline constexpr RunState RS_RUNNING = 1;
inline constexpr RunState RS_SYNC_LOST = 248;    // cancel sequence, then RS_OUT_OF_SYNC
inline constexpr RunState RS_OUT_OF_SYNC = 249;  // "Out of sync"
inline constexpr RunState RS_CANCEL = 250;       // cancel sequence, then RS_CANCELLED
inline constexpr RunState RS_CANCELLED = 251;    // "Aborted"
inline constexpr RunState RS_TIMEOUT = 253;      // "Timeout" (unless the wait was soft)
inline constexpr RunState RS_ABORTED = 254;      // "Aborted", no cancel sequence

using WaitEvent = int;
inline constexpr WaitEvent WE_LINE = 22;
inline constexpr WaitEvent WE_MATCH = 23;
inline constexpr WaitEvent WE_BYTE = 24;
inline constexpr WaitEvent WE_STEP = 25;
inline constexpr WaitEvent WE_WRITE = 26;
inline constexpr WaitEvent WE_BLOCK = 27;
inline constexpr WaitEvent WE_LINES = 28;

inline constexpr uint32_t TICK_PERIOD_MS = 50;

// Byte 0 of the reply buffer after a soft-timed wait expired without a reply.
inline constexpr uint8_t TIMEOUT_MARKER = 0xFD;

}  // namespace trelvo
