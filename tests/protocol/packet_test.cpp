#include "protocol/packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trelvo {
namespace {

std::span<const uint8_t> bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Crc16, CheckValueAndTableEntries) {
    EXPECT_EQ(crc16(bytes("123456789")), 0x31C3);
    EXPECT_EQ(crc16_table_entry(0), 0x0000);
    EXPECT_EQ(crc16_table_entry(1), 0x1021);
    EXPECT_EQ(crc16_table_entry(255), 0x1EF0);
    EXPECT_EQ(crc16({}), 0x0000);
}

TEST(BuildPacket, ShortPacketIsFilledWithSubAndCarriesTheCrcHighByteFirst) {
    PacketBuffer packet;
    std::vector<uint8_t> data(127, 'x');
    ASSERT_EQ(build_packet(packet, SOH, 1, data), SHORT_PACKET_SIZE);
    EXPECT_EQ(packet[0], SOH);
    EXPECT_EQ(packet[1], 1);
    EXPECT_EQ(packet[2], 254);
    EXPECT_EQ(packet[3 + 126], 'x');
    EXPECT_EQ(packet[3 + 127], SUB);
    uint16_t crc = crc16(std::span<const uint8_t>(packet.data() + 3, 128));
    EXPECT_EQ(packet[131], crc >> 8);
    EXPECT_EQ(packet[132], crc & 0xFF);
    EXPECT_TRUE(packet_crc_ok(std::span<const uint8_t>(packet.data(), SHORT_PACKET_SIZE)));
}

TEST(BuildPacket, The256thPacketIsNumberedZero) {
    PacketBuffer packet;
    std::vector<uint8_t> data(1024, 0x55);
    ASSERT_EQ(build_packet(packet, STX, 256, data), LONG_PACKET_SIZE);
    EXPECT_EQ(packet[1], 0x00);
    EXPECT_EQ(packet[2], 0xFF);
}

TEST(PacketCrcOk, SwappedCrcBytesAreRefused) {
    PacketBuffer packet;
    std::vector<uint8_t> data(1024, 0x12);
    data[5] = 0x99;
    build_packet(packet, STX, 3, data);
    std::swap(packet[1027], packet[1028]);
    EXPECT_FALSE(packet_crc_ok(std::span<const uint8_t>(packet.data(), LONG_PACKET_SIZE)));
    EXPECT_FALSE(packet_crc_ok(std::span<const uint8_t>(packet.data(), 100)));  // too short
}

TEST(FileInfoBlock, HoldsNameNulSizeBlankAndTime) {
    PacketBuffer packet;
    ASSERT_EQ(build_file_info_block(packet, "FIRMWARE.BIN", 1100), SHORT_PACKET_SIZE);
    EXPECT_EQ(packet[0], 0x01);
    EXPECT_EQ(packet[1], 0x00);
    EXPECT_EQ(packet[2], 0xFF);
    std::string expected = std::string("FIRMWARE.BIN") + '\0' + "1100 0";
    EXPECT_EQ(std::string(packet.begin() + 3, packet.begin() + 3 + expected.size()), expected);
    for (size_t i = 3 + expected.size(); i <= 130; ++i)
        EXPECT_EQ(packet[i], 0) << i;
    EXPECT_TRUE(packet_crc_ok(std::span<const uint8_t>(packet.data(), SHORT_PACKET_SIZE)));
}

TEST(FileInfoBlock, ParsesBackNameAndSizeAndCutsLongNames) {
    PacketBuffer packet;
    build_file_info_block(packet, "ABCDEFGHIJKLMNOPQRST", 2048);
    FileInfo info = parse_file_info_block(std::span<const uint8_t>(packet.data(), 133));
    EXPECT_EQ(info.name, "ABCDEFGHIJKL");
    EXPECT_EQ(info.size, 2048u);
}

// The size field as a 64-bit number: no digits is no size; beyond 64 bits it stays at the
// largest value instead of wrapping.
TEST(FileInfoBlock, SizeIsReadAs64BitsAndNoDigitsGiveNoSize) {
    struct Case {
        std::string field;
        uint64_t size;
        bool given;
    };
    for (const Case& c :
         {Case{" 0", 0, false}, Case{"0 0", 0, true}, Case{"4294967296 0", uint64_t{1} << 32, true},
          Case{"18446744073709551615", UINT64_MAX, true},
          Case{"99999999999999999999999", UINT64_MAX, true}}) {
        PacketBuffer packet;
        build_packet(packet, SOH, 0, bytes(std::string("RESULT.TXT") + '\0' + c.field), 0);
        FileInfo info = parse_file_info_block(std::span<const uint8_t>(packet.data(), 133));
        EXPECT_EQ(info.size, c.size) << c.field;
        EXPECT_EQ(info.size_given, c.given) << c.field;
    }
}

TEST(ClosingBlock, IsAllZeroWithZeroCrc) {
    PacketBuffer packet;
    ASSERT_EQ(build_closing_block(packet), SHORT_PACKET_SIZE);
    EXPECT_EQ(packet[0], SOH);
    EXPECT_EQ(packet[1], 0x00);
    EXPECT_EQ(packet[2], 0xFF);
    for (size_t i = 3; i < SHORT_PACKET_SIZE; ++i)
        EXPECT_EQ(packet[i], 0) << i;
}

}  // namespace
}  // namespace trelvo
