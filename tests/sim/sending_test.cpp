// The tester as sender: result list and mobile list.
#include <gtest/gtest.h>

#include "sim/sample_data.h"
#include "tests/sim/sim_fixture.h"

namespace trelvo::sim::testing {
namespace {

class TesterSending : public SimTest {};

Reception upload_results(PcSide& pc) {
    pc.send("SYSTem:STATe:DOWN:TEST ALL_1\n");
    return pc.receive_file();
}

TEST_F(TesterSending, ResultListArrivesByteExactUnderItsNameAndSize) {
    start();
    Reception reception = upload_results(pc_);
    ASSERT_TRUE(reception.completed) << reception.failure;
    settle();
    const std::string sample = sample_result_list(72);
    EXPECT_EQ(reception.info.name, "RESULTS.TXT");
    EXPECT_EQ(reception.info.size, sample.size());
    EXPECT_EQ(reception.data, sample);
    EXPECT_EQ(reception.naks_sent, 0);
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
    ASSERT_EQ(tester().transfers().size(), 1u);
    EXPECT_EQ(tester().transfers()[0].outcome, TransferState::Completed);
    EXPECT_EQ(tester().transfers()[0].kind, TransferKind::ResultsOut);
}

TEST_F(TesterSending, BuiltInResultsAreThreeBlocksWithFifteenDigitImeis) {
    const std::string sample = sample_result_list(72);
    EXPECT_EQ(count_results(sample), 3u);
    size_t imeis = 0;
    for (size_t at = sample.find("A02;"); at != std::string::npos;
         at = sample.find("A02;", at + 1)) {
        size_t start = sample.find(',', at) + 1;
        std::string imei = sample.substr(start, sample.find(',', start) - start);
        EXPECT_EQ(imei.size(), 15u) << imei;
        EXPECT_EQ(imei.find_first_not_of("0123456789"), std::string::npos) << imei;
        ++imeis;
    }
    EXPECT_EQ(imeis, 3u);
    EXPECT_NE(sample.find("A03;KV72,"), std::string::npos);
    EXPECT_NE(sample_result_list(71).find("A03;KV71,"), std::string::npos);
}

// Packet sizes: 1024 while at least 1024 remain, then 128, the last filled with SUB.
struct SizeCase {
    size_t size;
    std::vector<uint8_t> headers;
};
void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.size << " bytes";
}

class TesterPacketSizes : public SimTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(TesterPacketSizes, LongPacketsWhileAKilobyteRemainsThenShortOnes) {
    TesterConfig config;
    config.results = pattern_file(GetParam().size);
    start(config);
    Reception reception = upload_results(pc_);
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.data, *config.results);
    // Information block, the data packets, the closing block.
    ASSERT_EQ(reception.packets.size(), GetParam().headers.size() + 2);
    for (size_t i = 0; i < GetParam().headers.size(); ++i) {
        const std::vector<uint8_t>& packet = reception.packets[i + 1].bytes;
        EXPECT_EQ(packet[0], GetParam().headers[i]) << "packet " << i + 1;
        EXPECT_EQ(packet[1], i + 1);
        EXPECT_EQ(packet[2], 254 - i);
    }
    size_t padding = 0;
    if (!GetParam().headers.empty()) {
        const std::vector<uint8_t>& last = reception.packets[GetParam().headers.size()].bytes;
        size_t data_end = last.size() - 2;
        while (last[data_end - 1 - padding] == SUB)
            ++padding;
    }
    size_t carried = 0;
    for (uint8_t header : GetParam().headers)
        carried += data_size_for(header);
    EXPECT_GE(padding, carried - GetParam().size);
    const std::vector<uint8_t>& closing = reception.packets.back().bytes;
    PacketBuffer expected{};
    size_t closing_size = build_closing_block(expected);
    EXPECT_EQ(closing, std::vector<uint8_t>(expected.begin(), expected.begin() + closing_size));
}

INSTANTIATE_TEST_SUITE_P(Table, TesterPacketSizes,
                         ::testing::Values(SizeCase{0, {}}, SizeCase{127, {SOH}},
                                           SizeCase{128, {SOH}}, SizeCase{1100, {STX, SOH}},
                                           SizeCase{2048, {STX, STX}},
                                           SizeCase{1300, {STX, SOH, SOH, SOH}}));

TEST_F(TesterSending, MobileListUploadSendsTheBuiltInListForTheModel) {
    for (int model : {71, 72}) {
        TesterConfig config;
        config.model = model;
        start(config);
        pc_.send("SYSTem:STATe:DOWNload:SECTor\n");
        Reception reception = pc_.receive_file();
        ASSERT_TRUE(reception.completed) << reception.failure;
        EXPECT_EQ(reception.info.name, "MSTYPES.AUT");
        EXPECT_EQ(reception.data, sample_mobile_list(model));
        const std::string& list = reception.data;
        uint16_t stored = static_cast<uint16_t>(static_cast<uint8_t>(list[0]) << 8 |
                                                static_cast<uint8_t>(list[1]));
        EXPECT_EQ(stored, mobile_list_checksum(list));
        // The address nibble of the first link names the model's memory.
        EXPECT_EQ(static_cast<uint8_t>(list[3]) >> 4, model == 72 ? 1 : 0);
        settle();
    }
}

TEST_F(TesterSending, MobileListFileIsSentUnderItsOwnName) {
    TesterConfig config;
    config.mobile_list = pattern_file(300);
    config.mobile_list_name = "FIELD.AUT";
    start(config);
    pc_.send("SYSTem:STATe:DOWNload:SECTor\n");
    Reception reception = pc_.receive_file();
    ASSERT_TRUE(reception.completed) << reception.failure;
    EXPECT_EQ(reception.info.name, "FIELD.AUT");
    EXPECT_EQ(reception.data, *config.mobile_list);
}

TEST_F(TesterSending, NakMakesTheSenderRepeatTheBlockUnchanged) {
    start();
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\nC");
    Block info = pc_.read_block(1000);
    ASSERT_EQ(info.kind, Block::Packet);
    pc_.send_byte(NAK);
    Block again = pc_.read_block(1000);
    ASSERT_EQ(again.kind, Block::Packet);
    EXPECT_EQ(again.bytes, info.bytes);
    pc_.send_bytes(std::vector<uint8_t>{ACK, CRC_REQUEST});
    Block first = pc_.read_block(1000);
    ASSERT_EQ(first.kind, Block::Packet);
    pc_.send_byte(NAK);
    Block repeat = pc_.read_block(1000);
    EXPECT_EQ(repeat.bytes, first.bytes);
    EXPECT_EQ(tester().mode(), TesterMode::Sending);
}

TEST_F(TesterSending, RepeatedRequestBeforeTheAckGetsTheInformationBlockAgain) {
    start();
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\nC");
    Block info = pc_.read_block(1000);
    ASSERT_EQ(info.kind, Block::Packet);
    pc_.send_byte(CRC_REQUEST);  // as after 5 s without a block
    Block again = pc_.read_block(1000);
    ASSERT_EQ(again.kind, Block::Packet);
    EXPECT_EQ(again.bytes, info.bytes);
    pc_.send_bytes(std::vector<uint8_t>{ACK, CRC_REQUEST});
    Block first = pc_.read_block(1000);
    ASSERT_EQ(first.kind, Block::Packet);
    EXPECT_EQ(first.bytes[1], 1);
    pc_.send_byte(CRC_REQUEST);  // no request in the middle of the file: nothing is sent
    EXPECT_EQ(pc_.read_for(100), "");
}

TEST_F(TesterSending, SenderCancelsAfterElevenNaksForOneBlock) {
    start();
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\nC");
    ASSERT_EQ(pc_.read_block(1000).kind, Block::Packet);
    for (int i = 0; i < 10; ++i) {
        pc_.send_byte(NAK);
        ASSERT_EQ(pc_.read_block(1000).kind, Block::Packet) << "repeat " << i + 1;
    }
    pc_.send_byte(NAK);
    EXPECT_EQ(pc_.read_for(200), std::string(8, static_cast<char>(CAN)));
    ASSERT_EQ(tester().transfers().size(), 1u);
    EXPECT_EQ(tester().transfers()[0].outcome, TransferState::GaveUp);
    EXPECT_EQ(tester().transfers()[0].stats.repeats_sent, 10);
}

TEST_F(TesterSending, CancelSequenceFromThePcEndsTheSendingAndCommandsWorkAgain) {
    start();
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\nC");
    ASSERT_EQ(pc_.read_block(1000).kind, Block::Packet);
    pc_.send(std::string(8, static_cast<char>(CAN)));
    pc_.read_for(50);
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::PcCancelled);
    pc_.send("\n*IDN?\n");
    EXPECT_EQ(pc_.read_line(), identity_for_model(72));
}

TEST_F(TesterSending, LocalCommandDuringASendingAbandonsIt) {
    start();
    pc_.send("SYSTem:STATe:DOWN:TEST ALL_1\nC");
    ASSERT_EQ(pc_.read_block(1000).kind, Block::Packet);
    // "COMM" and "LOCAL" hold the letter C: inside text it is no request.
    pc_.send("\nSYST:COMM:LOCAL\n");
    EXPECT_EQ(pc_.read_for(200), "");
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
    EXPECT_EQ(tester().transfers().back().outcome, TransferState::Abandoned);
    EXPECT_EQ(tester().local_count(), 1);
}

TEST_F(TesterSending, PollingStartsAResultTransferOnARequestWithoutCommand) {
    TesterConfig config;
    config.polling = true;
    start(config);
    Reception first = pc_.receive_file();
    ASSERT_TRUE(first.completed) << first.failure;
    EXPECT_EQ(first.data, sample_result_list(72));
    Reception second = pc_.receive_file();
    ASSERT_TRUE(second.completed) << second.failure;
    settle();
    EXPECT_EQ(tester().transfers().size(), 2u);
    EXPECT_TRUE(tester().commands().empty());
}

TEST_F(TesterSending, PollingWaitsWhileNoResultsAreHeld) {
    TesterConfig config;
    config.polling = true;
    start(config);
    pc_.send("SYSTem:CLEAR:TESTresult ALL\n");
    pc_.send_byte(CRC_REQUEST);
    EXPECT_EQ(pc_.read_for(6000), "");
    EXPECT_EQ(tester().mode(), TesterMode::Commands);
}

TEST_F(TesterSending, WithoutPollingARequestWithoutCommandIsIgnored) {
    start();
    pc_.send_byte(CRC_REQUEST);
    EXPECT_EQ(pc_.read_for(1000), "");
    pc_.send("*IDN?\n");  // the C did not spoil the next command
    EXPECT_EQ(pc_.read_line(), identity_for_model(72));
}

TEST_F(TesterSending, BaudPacingStretchesABlockToItsWireTime) {
    TesterConfig config;
    config.baud = 9600;
    start(config);
    const std::string request = "SYSTem:STATe:DOWN:TEST ALL_1\nC";
    pc_.send(request);
    uint32_t asked = clock_.now_ms();
    Block info = pc_.read_block(1000);
    ASSERT_EQ(info.kind, Block::Packet);
    // The request comes in at the wire's pace before the block goes out at it.
    EXPECT_NEAR(static_cast<double>(info.end_ms - asked), (request.size() + 133) * 10'000.0 / 9600,
                3.0);
    EXPECT_NEAR(static_cast<double>(info.end_ms - info.start_ms), 132 * 10'000.0 / 9600, 3.0);
}

}  // namespace
}  // namespace trelvo::sim::testing
