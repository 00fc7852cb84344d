// Control bytes of the block transfer.
#pragma once

#include <cstdint>

namespace trelvo {

inline constexpr uint8_t SOH = 0x01;  // 128-byte packet follows
inline constexpr uint8_t STX = 0x02;  // 1024-byte packet follows
inline constexpr uint8_t EOT = 0x04;  // end of transmission
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t NAK = 0x15;
inline constexpr uint8_t CAN = 0x18;          // cancel
inline constexpr uint8_t CRC_REQUEST = 0x43;  // "C": the receiver asks for CRC-16 packets
inline constexpr uint8_t SUB = 0x1A;          // padding of the last packet

inline constexpr int CANCEL_SEQUENCE_LENGTH = 8;

}  // namespace trelvo
