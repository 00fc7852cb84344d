// Each fault the tester can be told to show, seen from the PC's side of the line.
#include <gtest/gtest.h>

#include "sim/sample_data.h"
#include "tests/sim/sim_fixture.h"

namespace trelvo::sim::testing {
namespace {

class TesterFaults : public SimTest {
  protected:
    Tester& start_with(Fault fault) {
        TesterConfig config;
        config.faults.add(fault);
        return start(config);
    }
    Reception upload_results() {
        pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\n");
        return pc_.receive_file();
    }
    Delivery download_firmware(std::string_view data, uint32_t answer_timeout = 5000) {
        pc_.send("SYSTem:STATe:UPLoad:UPDate\n");
        return pc_.send_file("FW.BIN", data, {}, answer_timeout);
    }
};

TEST(FaultNames, EveryFaultParsesBackFromItsName) {
    std::vector<Fault> faults = all_faults();
    ASSERT_EQ(faults.size(), FAULT_COUNT);
    for (Fault fault : faults)
        EXPECT_EQ(fault_from_name(fault_name(fault)), fault) << fault_name(fault);
    EXPECT_FALSE(fault_from_name("nak"));
}

// Identity and result-count faults are pinned with the commands; this one also empties the
// list that is sent.
TEST_F(TesterFaults, NoResultsCountsZeroAndSendsAnEmptyList) {
    start_with(Fault::NoResults);
    pc_.send("SYSTem:DIRectory:TESTresult:STATe?\n");
    EXPECT_EQ(pc_.read_line(), "0,1000");
    Reception reception = upload_results();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.info.name, "RESULTS.TXT");
    EXPECT_EQ(reception.info.size, 0u);
    EXPECT_EQ(reception.packets.size(), 2u);  // information and closing block only
}

// --- Faults of the tester as receiver -----------------------------------------------------

TEST_F(TesterFaults, NakPacketRejectsTheSecondDataPacketThreeTimes) {
    start_with(Fault::NakPacket);
    const std::string data = pattern_file(3 * 128);
    Delivery delivery = download_firmware(data);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(delivery.naks, 3);
    EXPECT_EQ(delivery.packets_sent, 6);
    EXPECT_EQ(tester().files().at("FW.BIN"), data);
}

TEST_F(TesterFaults, NakForeverRejectsEveryTransmissionUntilThePcGivesUp) {
    start_with(Fault::NakForever);
    Delivery delivery = download_firmware(pattern_file(300));
    EXPECT_EQ(delivery.failure, "too many NAKs");
    EXPECT_EQ(delivery.packets_sent, 11);
    EXPECT_EQ(delivery.naks, 11);
    pc_.send("\nSYST:COMM:LOCAL\n");
    pc_.read_for(10);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::Abandoned);
    EXPECT_TRUE(tester().received().empty());
}

TEST_F(TesterFaults, CanAnswersTheFirstDataPacketWithTheCancelSequence) {
    start_with(Fault::Can);
    Delivery delivery = download_firmware(pattern_file(300));
    EXPECT_TRUE(delivery.cancelled);
    EXPECT_EQ(delivery.packets_sent, 1);
    std::string rest = pc_.read_for(50);
    EXPECT_EQ(rest, std::string(7, static_cast<char>(CAN)));
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::TesterCancelled);
}

TEST_F(TesterFaults, SilentAfterPacketNeverAnswersTheFirstDataPacket) {
    start_with(Fault::SilentAfterPacket);
    Delivery delivery = download_firmware(pattern_file(300), 30'000);
    EXPECT_EQ(delivery.failure, "no answer");
    EXPECT_EQ(delivery.packets_sent, 1);
    EXPECT_EQ(tester().mode(), TesterMode::Receiving);
}

TEST_F(TesterFaults, NoCNeverRequestsABlock) {
    start_with(Fault::NoC);
    Delivery delivery = download_firmware(pattern_file(300), 45'000);
    EXPECT_EQ(delivery.failure, "no request");
    EXPECT_TRUE(delivery.answers.empty());
}

TEST_F(TesterFaults, XoffHoldsThePcOffForASecondBeforeAnsweringThePacket) {
    start_with(Fault::Xoff);
    const std::string data = pattern_file(300);
    Delivery delivery = download_firmware(data);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    // C, ACK C (information block), then XOFF, XON a second later, ACK.
    ASSERT_GE(delivery.answers.size(), 6u);
    EXPECT_EQ(delivery.answers[3], XOFF);
    EXPECT_EQ(delivery.answers[4], XON);
    EXPECT_EQ(delivery.answers[5], ACK);
    uint32_t held = delivery.answer_times[4] - delivery.answer_times[3];
    EXPECT_GE(held, 1000u);
    EXPECT_LE(held, 1005u);
    EXPECT_EQ(tester().files().at("FW.BIN"), data);
}

TEST_F(TesterFaults, NakEotRefusesTheFirstEotOnlyAndTheFileArrives) {
    start_with(Fault::NakEot);
    const std::string data = pattern_file(300);
    Delivery delivery = download_firmware(data);
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    EXPECT_EQ(delivery.naks, 1);
    EXPECT_EQ(delivery.packets_sent, 3);  // no data packet was repeated
    EXPECT_EQ(tester().files().at("FW.BIN"), data);
}

// --- Faults of the tester as sender -------------------------------------------------------

// The list goes out in the packets its true size needs; only the announced size lies.
class SizeFaults : public TesterFaults, public ::testing::WithParamInterface<Fault> {};

TEST_P(SizeFaults, AnnounceAnotherSizeThanTheDataSent) {
    const std::string list = sample_result_list(72);
    size_t tail = list.size() % LONG_DATA_SIZE;
    size_t last_packet = tail == 0 ? LONG_DATA_SIZE : (tail - 1) % SHORT_DATA_SIZE + 1;
    // Information block, 1024-byte packets, 128-byte packets for the rest, closing block.
    size_t packets =
        2 + list.size() / LONG_DATA_SIZE + (tail + SHORT_DATA_SIZE - 1) / SHORT_DATA_SIZE;
    start_with(GetParam());
    Reception reception = upload_results();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.info.size, GetParam() == Fault::SizeShort ? list.size() - last_packet
                                                                  : list.size() + SHORT_DATA_SIZE);
    EXPECT_EQ(reception.packets.size(), packets);
}

INSTANTIATE_TEST_SUITE_P(Sender, SizeFaults, ::testing::Values(Fault::SizeShort, Fault::SizeLong),
                         [](const auto& info) {
                             return info.param == Fault::SizeShort ? "Short" : "Long";
                         });

TEST_F(TesterFaults, CanCancelsTheSendingAfterTheFirstDataPacket) {
    start_with(Fault::Can);
    Reception reception = upload_results();
    EXPECT_TRUE(reception.cancelled);
    EXPECT_EQ(reception.packets.size(), 2u);  // information block and packet 1
    EXPECT_EQ(pc_.read_for(50), std::string(7, static_cast<char>(CAN)));
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::TesterCancelled);
}

TEST_F(TesterFaults, SilentAfterPacketSendsNothingAfterTheFirstDataPacket) {
    start_with(Fault::SilentAfterPacket);
    Reception reception = upload_results();
    EXPECT_EQ(reception.failure, "silence");
    EXPECT_EQ(reception.packets.size(), 2u);
    EXPECT_GE(reception.naks_sent, 3);
}

TEST_F(TesterFaults, CrcErrorDamagesOneBlockWhoseRepeatIsGood) {
    start_with(Fault::CrcError);
    Reception reception = upload_results();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.crc_errors, 1);
    EXPECT_EQ(reception.naks_sent, 1);
    EXPECT_EQ(reception.data, sample_result_list(72));
    const std::vector<uint8_t>& damaged = reception.packets[1].bytes;
    const std::vector<uint8_t>& repeat = reception.packets[2].bytes;
    ASSERT_EQ(damaged.size(), repeat.size());
    EXPECT_EQ(damaged.back(), static_cast<uint8_t>(repeat.back() ^ 0xFF));
    EXPECT_TRUE(std::equal(damaged.begin(), damaged.end() - 1, repeat.begin()));
}

TEST_F(TesterFaults, WrongBlockSendsTheFirstDataPacketUnderNumberTwo) {
    start_with(Fault::WrongBlock);
    Reception reception = upload_results();
    EXPECT_EQ(reception.failure, "out of sync");
    ASSERT_EQ(reception.packets.size(), 2u);
    EXPECT_EQ(reception.packets[1].bytes[1], 2);
    EXPECT_EQ(reception.packets[1].bytes[2], 253);
    EXPECT_TRUE(packet_crc_ok(reception.packets[1].bytes));
    pc_.read_for(10);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::PcCancelled);
}

TEST_F(TesterFaults, StallInBlockPausesTwoSecondsInsideTheFirstDataPacket) {
    start_with(Fault::StallInBlock);
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\nC");
    ASSERT_EQ(pc_.read_block(1000).kind, Block::Packet);
    pc_.send_bytes(std::vector<uint8_t>{ACK, CRC_REQUEST});
    EXPECT_EQ(pc_.read_for(1000).size(), STALL_AFTER_BYTES);
    EXPECT_EQ(pc_.read_for(990), "");
    EXPECT_EQ(pc_.read_for(20).size(), LONG_PACKET_SIZE - STALL_AFTER_BYTES);
}

TEST_F(TesterFaults, StalledPacketIsRepeatedAfterThePcsNakAndTheListArrives) {
    start_with(Fault::StallInBlock);
    Reception reception = upload_results();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_GE(reception.timeouts, 1);
    EXPECT_EQ(reception.data, sample_result_list(72));
}

TEST_F(TesterFaults, XoffHoldsThePcOffForASecondBetweenPackets) {
    start_with(Fault::Xoff);
    Reception reception = upload_results();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.stray, (std::vector<uint8_t>{XOFF, XON}));
    EXPECT_EQ(reception.data, sample_result_list(72));
    ASSERT_GE(reception.packets.size(), 3u);
    EXPECT_GE(reception.packets[2].start_ms - reception.packets[1].end_ms, 1000u);
}

TEST_F(TesterFaults, XoffStopsAPcThatHonoursFlowControl) {
    start_with(Fault::Xoff);
    link_.pc().set_output_flow_control(true);
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\nC");
    ASSERT_EQ(pc_.read_block(1000).kind, Block::Packet);
    pc_.send_bytes(std::vector<uint8_t>{ACK, CRC_REQUEST});
    ASSERT_EQ(pc_.read_block(1000).kind, Block::Packet);
    pc_.send_byte(ACK);
    pc_.read_for(5);
    EXPECT_TRUE(link_.pc().held_off());
    pc_.read_for(1000);
    EXPECT_FALSE(link_.pc().held_off());
}

}  // namespace
}  // namespace trelvo::sim::testing
