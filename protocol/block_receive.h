// The receiving side of the block transfer: mobile lists and result lists come from the
// tester. step_start_receive asks for the transfer; step_receive_block judges every packet
// or control byte that arrives, stores and answers it, and runs again until the closing
// block has come. The received file stays open for the steps that follow.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "base/codes.h"
#include "base/transfer_record.h"

namespace trelvo {

class Engine;

inline constexpr uint32_t RECEIVE_TIMEOUT_S = 5;  // silence before C or NAK goes out again

// Stands in for a name that leaves nothing usable ("", ".", "..").
inline constexpr const char* FALLBACK_RECEIVED_NAME = "RECEIVED.DAT";

// The name a received file is created under, from the name in a file information block:
// only what follows the last "/" or "\", control characters replaced by "_", cut to 12
// characters; FALLBACK_RECEIVED_NAME when that leaves "", "." or "..". The result never
// names a file outside the receiving directory.
std::string bare_received_name(std::span<const uint8_t> sent_name);

// Creates (or empties) `path` for reading and writing and locks it against other writers.
// A symbolic link or anything but a regular file under that name is refused: nullptr.
std::FILE* create_received_file(const std::string& path);

// set_output_flow_control off, packet number 0, sends "C"; waits up to 5 s for a block.
StepResult step_start_receive(Engine& engine, TransferRecord& record);
// Evaluates what read_block delivered and answers it; SR_WAIT_BLOCK while the transfer
// goes on, SR_NEXT once the closing block has been acknowledged or the run ends.
StepResult step_receive_block(Engine& engine, TransferRecord& record);

}  // namespace trelvo
