// The sending side of the block transfer: firmware images, converted mobile lists and
// autotests go to the tester, which paces the transfer with single control bytes. The
// steps stand in each sending table in this order:
//
//   step_wait_receiver, step_send_file_info, step_check_ack,
//   step_wait_receiver, step_send_packet, step_check_packet_ack,
//   step_send_eot, step_check_ack,
//   step_wait_receiver, step_send_end_of_batch, step_check_ack
//
// Each check evaluates the send that stands directly before it; step_check_packet_ack
// goes back to step_send_packet while file bytes remain.
#pragma once

#include <cstdint>

#include "base/codes.h"
#include "base/transfer_record.h"

namespace trelvo {

class Engine;

inline constexpr uint8_t MAX_RETRIES = 10;             // repetitions of one send
inline constexpr uint32_t FILE_INFO_TIMEOUT_S = 5;     // answer to the file information
inline constexpr uint32_t PACKET_TIMEOUT_S = 300;      // answer to a data packet
inline constexpr uint32_t EOT_TIMEOUT_S = 1;           // answer to EOT
inline constexpr uint32_t END_OF_BATCH_TIMEOUT_S = 5;  // answer to the closing block

// Waits, without a time limit, for the tester's "C"; other bytes are dropped.
StepResult step_wait_receiver(Engine& engine, TransferRecord& record);
// The file information block: name, size, file time; answer within 5 s.
StepResult step_send_file_info(Engine& engine, TransferRecord& record);
// The answer to the file information block, to EOT or to the closing block: ACK goes on,
// CAN gives up, anything else sends EOT again, at most 10 times.
StepResult step_check_ack(Engine& engine, TransferRecord& record);
// The next data packet: 1024 bytes while at least 1024 remain, else 128; answer within
// 300 s.
StepResult step_send_packet(Engine& engine, TransferRecord& record);
// The answer to a data packet: ACK sends the next one, NAK repeats it (at most 10 times),
// CAN gives up, any other byte is ignored.
StepResult step_check_packet_ack(Engine& engine, TransferRecord& record);
// One EOT; answer within 1 s.
StepResult step_send_eot(Engine& engine, TransferRecord& record);
// The empty closing block; answer within 5 s.
StepResult step_send_end_of_batch(Engine& engine, TransferRecord& record);

}  // namespace trelvo
