#include "protocol/packet.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace trelvo {
namespace {

constexpr std::array<uint16_t, 256> make_crc_table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> crc_table = make_crc_table();

constexpr size_t MAX_NAME = 12;

}  // namespace

uint16_t crc16_table_entry(uint8_t index) {
    return crc_table[index];
}

uint16_t crc16(std::span<const uint8_t> data) {
    uint16_t crc = 0;
    for (uint8_t byte : data) {
        crc = static_cast<uint16_t>((crc << 8) ^ crc_table[((crc >> 8) ^ byte) & 0xFF]);
    }
    return crc;
}

size_t data_size_for(uint8_t header) {
    return header == SOH ? SHORT_DATA_SIZE : header == STX ? LONG_DATA_SIZE : 0;
}

size_t packet_size_for(uint8_t header) {
    size_t data = data_size_for(header);
    return data == 0 ? 0 : data + PACKET_OVERHEAD;
}

size_t build_packet(PacketBuffer& packet, uint8_t header, uint32_t packet_number,
                    std::span<const uint8_t> data, uint8_t fill) {
    size_t size = data_size_for(header);
    if (size == 0) return 0;
    uint8_t number = static_cast<uint8_t>(packet_number & 0xFF);
    packet[0] = header;
    packet[1] = number;
    packet[2] = static_cast<uint8_t>(255 - number);
    size_t used = std::min(size, data.size());
    std::copy_n(data.begin(), used, packet.begin() + 3);
    std::fill(packet.begin() + 3 + used, packet.begin() + 3 + size, fill);
    uint16_t crc = crc16(std::span<const uint8_t>(packet.data() + 3, size));
    packet[3 + size] = static_cast<uint8_t>(crc >> 8);
    packet[4 + size] = static_cast<uint8_t>(crc & 0xFF);
    return size + PACKET_OVERHEAD;
}

size_t build_file_info_block(PacketBuffer& packet, const std::string& name, uint32_t size,
                             uint32_t file_time) {
    std::array<uint8_t, SHORT_DATA_SIZE> data{};
    std::string cut = name.substr(0, std::min(name.find('\0'), MAX_NAME));
    char digits[40];
    int length = std::snprintf(digits, sizeof digits, "%u %o", size, file_time);
    std::copy(cut.begin(), cut.end(), data.begin());
    // The name's NUL is already there (data is zeroed); the size follows it.
    std::copy_n(digits, length, data.begin() + cut.size() + 1);
    return build_packet(packet, SOH, 0, data, 0x00);
}

size_t build_closing_block(PacketBuffer& packet) {
    return build_packet(packet, SOH, 0, std::span<const uint8_t>(), 0x00);
}

bool packet_crc_ok(std::span<const uint8_t> packet) {
    if (packet.empty()) return false;
    size_t size = data_size_for(packet[0]);
    if (size == 0 || packet.size() < size + PACKET_OVERHEAD) return false;
    uint16_t crc = crc16(packet.subspan(3, size));
    return packet[3 + size] == (crc >> 8) && packet[4 + size] == (crc & 0xFF);
}

FileInfo parse_file_info_block(std::span<const uint8_t> packet) {
    FileInfo info;
    size_t size = packet.empty() ? 0 : data_size_for(packet[0]);
    if (size == 0 || packet.size() < 3 + size) return info;
    auto data = packet.subspan(3, size);
    size_t end = 0;
    while (end < data.size() && data[end] != 0)
        ++end;
    info.name.assign(data.begin(), data.begin() + std::min(end, MAX_NAME));
    constexpr uint64_t largest = std::numeric_limits<uint64_t>::max();
    for (size_t i = end + 1; i < data.size() && data[i] >= '0' && data[i] <= '9'; ++i) {
        uint64_t digit = data[i] - '0';
        info.size = info.size > (largest - digit) / 10 ? largest : info.size * 10 + digit;
        info.size_given = true;
    }
    return info;
}

}  // namespace trelvo
