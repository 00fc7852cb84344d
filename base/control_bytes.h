// Control bytes of the line and of the block transfer, and the packet sizes: defined here
// once for the port, the block transfer and the simulator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace trelvo {

inline constexpr uint8_t SOH = 0x01;  // 128-byte packet follows
inline constexpr uint8_t STX = 0x02;  // 1024-byte packet follows
inline constexpr uint8_t ETX = 0x03;  // ends a multi-line reply
inline constexpr uint8_t EOT = 0x04;  // end of transmission
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t XON = 0x11;   // software flow control: send again
inline constexpr uint8_t XOFF = 0x13;  // software flow control: hold
inline constexpr uint8_t NAK = 0x15;
inline constexpr uint8_t CAN = 0x18;          // cancel
inline constexpr uint8_t CRC_REQUEST = 0x43;  // "C": the receiver asks for CRC-16 packets
inline constexpr uint8_t SUB = 0x1A;          // padding of the last packet

inline constexpr int CANCEL_SEQUENCE_LENGTH = 8;

inline constexpr size_t SHORT_DATA_SIZE = 128;
inline constexpr size_t LONG_DATA_SIZE = 1024;
inline constexpr size_t PACKET_OVERHEAD = 5;  // header, number, complement, two CRC bytes
inline constexpr size_t SHORT_PACKET_SIZE = SHORT_DATA_SIZE + PACKET_OVERHEAD;  // 133
inline constexpr size_t LONG_PACKET_SIZE = LONG_DATA_SIZE + PACKET_OVERHEAD;    // 1029

// Room for the largest packet; packets are built in and sent from one of these.
using PacketBuffer = std::array<uint8_t, LONG_PACKET_SIZE>;

}  // namespace trelvo
