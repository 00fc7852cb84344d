// Packets of the block transfer, both directions: SOH (128 data bytes) or STX (1024), block
// number and its complement, data, CRC-16/XMODEM of the data high byte first. The file
// information block and the closing block are SOH packets numbered 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/control_bytes.h"

namespace trelvo {

// CRC-16/XMODEM: polynomial 0x1021, initial 0, not reflected, no final XOR.
uint16_t crc16(std::span<const uint8_t> data);
// Entry i of the CRC table: the CRC of the single byte i.
uint16_t crc16_table_entry(uint8_t index);

// Data size of a packet starting with `header` (SOH/STX), else 0.
size_t data_size_for(uint8_t header);
// Whole length of a packet starting with `header` (header, numbers, data and CRC), else 0.
size_t packet_size_for(uint8_t header);

// Builds a packet around `data` (at most the data size; the rest filled with `fill`);
// returns the packet's length.
size_t build_packet(PacketBuffer& packet, uint8_t header, uint32_t packet_number,
                    std::span<const uint8_t> data, uint8_t fill = SUB);

// The file information block: name (cut to 12 characters), NUL, size in decimal, a blank,
// the file time in octal; zeros to the end of the data field.
size_t build_file_info_block(PacketBuffer& packet, const std::string& name, uint32_t size,
                             uint32_t file_time = 0);
// The closing block: number 0, 128 zero bytes, CRC 0.
size_t build_closing_block(PacketBuffer& packet);

// Whether the CRC bytes after the data field match the data (`packet` holds the whole
// packet from its header on).
bool packet_crc_ok(std::span<const uint8_t> packet);

// What a file information block says: the name (at most 12 characters, as sent) and the
// size, read as a 64-bit number that stops at its largest value rather than wrapping (0,
// and size_given false, when no digits follow the name's NUL).
struct FileInfo {
    std::string name;
    uint64_t size = 0;
    bool size_given = false;
};
// Reads the name and size out of a file information block (`packet` from its header on).
FileInfo parse_file_info_block(std::span<const uint8_t> packet);

}  // namespace trelvo
