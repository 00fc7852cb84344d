// The tester as receiver: firmware, mobile lists and autotests.
#include <gtest/gtest.h>

#include "sim/file_names.h"
#include "sim/sample_data.h"
#include "tests/sim/sim_fixture.h"

namespace trelvo::sim::testing {
namespace {

class TesterReceiving : public SimTest {};

struct ReceiveCase {
    const char* name;
    const char* command;
    TransferKind kind;
    const char* file_name;
    size_t size;
};
void PrintTo(const ReceiveCase& c, std::ostream* out) {
    *out << c.name;
}

class TesterReceivesFiles : public SimTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(TesterReceivesFiles, StoresTheFileByteExactUnderItsAnnouncedName) {
    TesterConfig config;
    config.store_dir = scratch().string();
    start(config);
    const std::string data = pattern_file(GetParam().size);
    pc_.send(GetParam().command);
    Delivery delivery = pc_.send_file(GetParam().file_name, data);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(delivery.naks, 0);
    EXPECT_EQ(file_contents(scratch() / GetParam().file_name), data);
    ASSERT_EQ(tester().received().size(), 1u);
    const ReceivedFile& file = tester().received()[0];
    EXPECT_EQ(file.kind, GetParam().kind);
    EXPECT_EQ(file.name, GetParam().file_name);
    EXPECT_TRUE(file.stored);
    EXPECT_EQ(tester().files().at(GetParam().file_name), data);
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TesterReceivesFiles,
    ::testing::Values(ReceiveCase{"Firmware", "SYSTem:STATe:UPLoad:UPDate\n",
                                  TransferKind::Firmware, "KV72V422.BIN", 1100},
                      ReceiveCase{"FirmwareOfTwoKilobytes", "SYSTem:STATe:UPLoad:UPDate\n",
                                  TransferKind::Firmware, "FW.BIN", 2048},
                      ReceiveCase{"MobileList", "SYSTem:STATe:UPLoad:SECTor\n",
                                  TransferKind::MobileListIn, "MSTYPE.AUT", 127},
                      ReceiveCase{"Autotest", "SYSTem:STATe:UPLoad:AUTotest 4\n",
                                  TransferKind::AutotestIn, "QUICK.DLD", 600}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TesterReceiving, ReceivedFilesAreKeptInMemoryWithoutAStoreDirectory) {
    start();
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Delivery delivery = pc_.send_file("FW.BIN", "firmware");
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(tester().files().at("FW.BIN"), "firmware");
    EXPECT_FALSE(tester().received()[0].stored);
    EXPECT_EQ(tester().firmware_name(), "FW.BIN");
}

struct HostileName {
    const char* announced;
    const char* stored;
};
void PrintTo(const HostileName& c, std::ostream* out) {
    *out << "name " << ::testing::PrintToString(std::string(c.announced));
}

class TesterHostileNames : public SimTest, public ::testing::WithParamInterface<HostileName> {};

TEST_P(TesterHostileNames, StayInsideTheStoreDirectory) {
    const std::filesystem::path store = scratch() / "store";
    std::filesystem::create_directory(store);
    TesterConfig config;
    config.store_dir = store.string();
    start(config);
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Delivery delivery = pc_.send_file(GetParam().announced, "payload");
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(file_contents(store / GetParam().stored), "payload");
    size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch())) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().parent_path(), store) << entry.path();
            ++files;
        }
    }
    EXPECT_EQ(files, 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, TesterHostileNames,
                         ::testing::Values(HostileName{"../../ev.bin", "ev.bin"},
                                           HostileName{"..\\..\\x.bin", "x.bin"},
                                           HostileName{"/etc/passwd", "passwd"},
                                           HostileName{"..", "unnamed"},
                                           HostileName{"sub/dir/", "unnamed"},
                                           HostileName{"a\x01\x1f"
                                                       "b.bin",
                                                       "ab.bin"}));

TEST(BareFileName, KeepsOnlyTheLastPartWithoutControlCharacters) {
    EXPECT_EQ(bare_file_name("FIRMWARE.BIN"), "FIRMWARE.BIN");
    EXPECT_EQ(bare_file_name("C:\\dir\\A.DLD"), "A.DLD");
    EXPECT_EQ(bare_file_name("x/../y"), "y");
    EXPECT_EQ(bare_file_name("."), "unnamed");
    EXPECT_EQ(bare_file_name(""), "unnamed");
    EXPECT_EQ(bare_file_name("\x7f\n"), "unnamed");
    EXPECT_EQ(bare_file_name("..."), "...");
}

TEST_F(TesterReceiving, UnwritableStoreDirectoryRefusesTheFileWithTheCancelSequence) {
    TesterConfig config;
    config.store_dir = (scratch() / "missing" / "deeper").string();
    start(config);
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Delivery delivery = pc_.send_file("FW.BIN", "firmware");
    EXPECT_TRUE(delivery.cancelled);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::Refused);
    EXPECT_TRUE(tester().received().empty());
}

TEST_F(TesterReceiving, DamagedPacketIsAnsweredWithNakAndTheRepeatStoredOnce) {
    start();
    const std::string data = pattern_file(1100);
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Tamper tamper;
    tamper.packet = 2;
    tamper.bad_crc = true;
    Delivery delivery = pc_.send_file("FW.BIN", data, tamper);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(delivery.naks, 1);
    EXPECT_EQ(tester().files().at("FW.BIN"), data);
    EXPECT_EQ(tester().transfers().back().stats.crc_errors, 1);
}

TEST_F(TesterReceiving, RepeatOfTheAcceptedPacketIsAcknowledgedAndNotStoredTwice) {
    start();
    const std::string data = pattern_file(400);
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Tamper tamper;
    tamper.packet = 1;
    tamper.send_twice = true;
    Delivery delivery = pc_.send_file("FW.BIN", data, tamper);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(tester().files().at("FW.BIN"), data);
    EXPECT_EQ(tester().transfers().back().stats.duplicates, 1);
}

TEST_F(TesterReceiving, UnexpectedBlockNumberBreaksOffWithEightCans) {
    start();
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Tamper tamper;
    tamper.packet = 2;
    tamper.renumber = 3;
    Delivery delivery = pc_.send_file("FW.BIN", pattern_file(400), tamper);
    EXPECT_TRUE(delivery.cancelled);
    std::string rest = pc_.read_for(100);
    EXPECT_EQ(std::count(delivery.answers.begin(), delivery.answers.end(), CAN) +
                  std::count(rest.begin(), rest.end(), static_cast<char>(CAN)),
              8);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::OutOfSync);
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
    EXPECT_TRUE(tester().received().empty());
}

TEST_F(TesterReceiving, BlockZeroBeforeEotIsTheTwoHundredFiftySixthDataPacket) {
    start();
    const std::string data = pattern_file(299 * 1024 + 100);  // packets 1..300
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Delivery delivery = pc_.send_file("BIG.BIN", data);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(delivery.packets_sent, 300);
    EXPECT_EQ(tester().files().at("BIG.BIN"), data);
}

TEST_F(TesterReceiving, ClosingBlockAfterTwoHundredFiftyFivePacketsEndsTheTransfer) {
    start();
    // After packet 255 the next expected number is 0, which the closing block also carries.
    const std::string data = pattern_file(254 * 1024 + 100);
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    Delivery delivery = pc_.send_file("EDGE.BIN", data);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(delivery.packets_sent, 255);
    EXPECT_EQ(tester().files().at("EDGE.BIN"), data);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::Completed);
}

TEST_F(TesterReceiving, InformationBlockWithoutSizeKeepsEveryDataByte) {
    start();
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    ASSERT_EQ(pc_.read_byte(100), CRC_REQUEST);
    PacketBuffer packet{};
    std::vector<uint8_t> info = {'N', 'O', 'S', 'I', 'Z', 'E', 0};
    size_t size = build_packet(packet, SOH, 0, info, 0);
    pc_.send_bytes(std::span<const uint8_t>(packet.data(), size));
    EXPECT_EQ(pc_.read_for(50), "\x06\x43");
    std::vector<uint8_t> data(100, 'x');
    size = build_packet(packet, SOH, 1, data);
    pc_.send_bytes(std::span<const uint8_t>(packet.data(), size));
    EXPECT_EQ(pc_.read_for(50), "\x06");
    pc_.send_byte(EOT);
    EXPECT_EQ(pc_.read_for(50), "\x06\x43");
    size = build_closing_block(packet);
    pc_.send_bytes(std::span<const uint8_t>(packet.data(), size));
    EXPECT_EQ(pc_.read_for(50), "\x06");
    EXPECT_EQ(tester().files().at("NOSIZE"), std::string(100, 'x') + std::string(28, '\x1a'));
}

TEST_F(TesterReceiving, RepeatedInformationBlockIsAnsweredAgainWithAckC) {
    start();
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    ASSERT_EQ(pc_.read_byte(100), CRC_REQUEST);
    PacketBuffer packet{};
    size_t size = build_file_info_block(packet, "FW.BIN", 3);
    pc_.send_bytes(std::span<const uint8_t>(packet.data(), size));
    EXPECT_EQ(pc_.read_for(50), "\x06\x43");
    pc_.send_bytes(std::span<const uint8_t>(packet.data(), size));
    EXPECT_EQ(pc_.read_for(50), "\x06\x43");
    size = build_packet(packet, SOH, 1, std::vector<uint8_t>{'a', 'b', 'c'});
    pc_.send_bytes(std::span<const uint8_t>(packet.data(), size));
    EXPECT_EQ(pc_.read_for(50), "\x06");
    pc_.send_byte(EOT);
    EXPECT_EQ(pc_.read_for(50), "\x06\x43");
    size = build_closing_block(packet);
    pc_.send_bytes(std::span<const uint8_t>(packet.data(), size));
    EXPECT_EQ(pc_.read_for(50), "\x06");
    EXPECT_EQ(tester().files().at("FW.BIN"), "abc");
    EXPECT_EQ(tester().transfers().back().stats.duplicates, 1);
}

TEST_F(TesterReceiving, ReceivedMobileListIsTheOneSentAfterwards) {
    start();
    const std::string list = pattern_file(500);
    pc_.send("SYSTem:STATe:UPLoad:SECTor\n");
    ASSERT_TRUE(pc_.send_file("NEW.AUT", list).completed);
    pc_.send("SYSTem:STATe:DOWNload:SECTor\n");
    Reception reception = pc_.receive_file();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.info.name, "NEW.AUT");
    EXPECT_EQ(reception.data, list);
}

TEST_F(TesterReceiving, SilenceAfterTheRequestAsksAgainAndThenGivesUp) {
    start();
    pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
    std::string heard = pc_.read_for(61'000);
    EXPECT_EQ(heard, std::string(6, static_cast<char>(CRC_REQUEST)));  // at 0 s and every 10 s
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::GaveUp);
}

}  // namespace
}  // namespace trelvo::sim::testing
