// Every operation through its real step table against the simulated tester, with and
// without the tester's faults: final status, error bits, and the files on both sides.
#include <gtest/gtest.h>

#include <optional>

#include "base/error_table.h"
#include "results/ms_type_list.h"
#include "sim/sample_data.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/results/file_size_limit.h"

namespace trelvo::e2e {
namespace {

using sim::Fault;
using Operations = SimulatedTesterTest;

TEST_F(Operations, FirmwareUpdateDeliversTheImageByteForByte) {
    start_tester();
    std::string image = pattern(5000);  // four 1024-byte packets, then 128-byte ones
    automatic(0, write("KV72FW.BIN", image));
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(window.status[3], "72 KV72 GSM Tester");
    EXPECT_EQ(state.error_flags, 0u);
    EXPECT_EQ(tester->files().at("KV72FW.BIN"), image);
    EXPECT_EQ(tester->local_count(), 1);
    EXPECT_EQ(window.file_line, "");
    EXPECT_EQ(window.cancels, 1);  // the automatic run closes its window
}

TEST_F(Operations, DownloadMobileListSendsTheListConvertedForTheModel) {
    for (int model : {71, 72}) {
        sim::TesterConfig config;
        config.model = model;
        start_tester(config);
        std::string list = sim::sample_mobile_list(model == 71 ? 72 : 71);
        std::string path = write("MSTYPES.AUT", list);
        automatic(1, path);
        ASSERT_TRUE(run());
        EXPECT_EQ(window.status[2], "Completed") << model;

        std::FILE* in = std::fopen(path.c_str(), "rb");
        std::FILE* expected = std::tmpfile();
        ASSERT_EQ(convert_ms_type_list(in, model, expected), MsListResult::Converted);
        std::fclose(in);
        std::string converted(list.size(), '\0');
        std::rewind(expected);
        ASSERT_EQ(std::fread(converted.data(), 1, converted.size(), expected), converted.size());
        std::fclose(expected);
        EXPECT_EQ(tester->mobile_list(), converted) << model;
        EXPECT_NE(converted, list) << "the models keep the list at different addresses";
    }
}

TEST_F(Operations, UploadMobileListStoresTheTestersList) {
    start_tester();
    automatic(2, dir / "out");
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(read_file(dir / "out" / std::string(sim::BUILT_IN_MOBILE_LIST_NAME)),
              tester->mobile_list());
}

TEST_F(Operations, UploadResultListWithEveryConversionGivesFilesPerPhone) {
    start_tester();
    size_t results = tester->result_count();
    ASSERT_GT(results, 1u);
    automatic(3, dir / "out", OPT_EXCEL | OPT_PRINTOUT | OPT_IMEI | OPT_DELETE_ALL);
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(state.error_flags, 0u);
    size_t csv = 0, txt = 0;
    for (const std::string& name : files_in(dir / "out")) {
        csv += name.ends_with(".csv");
        txt += name.ends_with(".txt");
        EXPECT_TRUE(name.ends_with(".csv") || name.ends_with(".txt")) << name;
    }
    EXPECT_EQ(csv, results);
    EXPECT_EQ(txt, results);
    EXPECT_TRUE(tester->results_cleared());
}

TEST_F(Operations, UploadResultListKeepsTheRawListAndTheTestersResultsWhenAsked) {
    start_tester();
    automatic(3, dir / "out", OPT_OUTPUT_FILE);
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(files_in(dir / "out"), std::vector<std::string>{"RESULTS.TXT"});
    EXPECT_EQ(read_file(dir / "out" / "RESULTS.TXT"), tester->result_list());
    EXPECT_FALSE(tester->results_cleared());
}

// A full disk under the spreadsheet: the run fails and the received list stays, though only
// converted output was asked for and the tester has cleared its results.
TEST_F(Operations, UploadResultListKeepsTheRawListWhenItsConversionCannotBeWritten) {
    start_tester();
    automatic(3, dir / "out", OPT_EXCEL | OPT_DELETE_ALL);
    // Once the list is received whole, no file may grow beyond one byte.
    const uintmax_t list_size = tester->result_list().size();
    std::optional<testing::FileSizeLimit> limit;
    after_tick = [&](int) {
        std::error_code none;
        if (!limit && fs::file_size(dir / "out" / "RESULTS.TXT", none) == list_size)
            limit.emplace(1);
    };
    ASSERT_TRUE(run());
    limit.reset();
    EXPECT_EQ(window.status[2], "Aborted");
    EXPECT_EQ(state.error_flags, error_bit(ERR_WRITE_FAILED) | error_bit(ERR_RUN_FAILED));
    EXPECT_EQ(state.error_reasons[ERR_WRITE_FAILED], "File too large: RESULTS.csv");
    EXPECT_EQ(read_file(dir / "out" / "RESULTS.TXT"), tester->result_list());
}

// Broken off while the tester deletes its results: the spreadsheet is written, yet the run
// did not complete, so the received list stays beside it.
TEST_F(Operations, UploadResultListBrokenOffDuringDeleteAllKeepsTheRawList) {
    start_tester();
    std::string held = tester->result_list();
    after_tick = [this](int) {
        if (engine.run_state == RS_RUNNING && window.status[0] == "Delete Result List")
            engine.user_break();
    };
    automatic(3, dir / "out", OPT_EXCEL | OPT_DELETE_ALL);
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Aborted");
    EXPECT_EQ(state.error_flags, error_bit(ERR_USER_BREAK) | error_bit(ERR_RUN_FAILED));
    EXPECT_TRUE(fs::exists(dir / "out" / "RESULTS.csv"));
    EXPECT_EQ(read_file(dir / "out" / "RESULTS.TXT"), held);
}

// 255 data packets as the sender packs them (247 of 1024 bytes, then 8 of 128 for the last
// 1000): the block after EOT numbered 0 is the closing block, in both directions.
TEST_F(Operations, TransferOfExactly255PacketsCompletesBothWays) {
    std::string file = pattern(247 * 1024 + 1000, 5);
    sim::TesterConfig config;
    config.mobile_list = file;
    config.mobile_list_name = "LIST255.AUT";
    start_tester(config);
    automatic(0, write("FW255.BIN", file));
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(tester->files().at("FW255.BIN"), file);

    automatic(2, dir / "out");
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(read_file(dir / "out" / "LIST255.AUT"), file);
}

TEST_F(Operations, DownloadAutotestPutsTheFileIntoANewSlot) {
    start_tester();
    size_t before = tester->autotests().size();
    std::string autotest = pattern(1500, 3);
    automatic(4, write("QUICK.DLD", autotest));
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Completed");
    ASSERT_EQ(tester->autotests().size(), before + 1);
    EXPECT_EQ(tester->autotests().back().contents, autotest);
}

// Firmware Update against each of the tester's faults on its receiving side.
struct SendFault {
    const char* name;
    Fault fault;
    const char* final_text;
    bool delivered;
};

class SendFaults : public SimulatedTesterTest, public ::testing::WithParamInterface<SendFault> {};

TEST_P(SendFaults, EndTheRunAsTheyShould) {
    sim::TesterConfig config;
    config.faults = {GetParam().fault};
    start_tester(config);
    std::string image = pattern(3000);
    automatic(0, write("FW.BIN", image));
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], GetParam().final_text);
    EXPECT_EQ(tester->files().count("FW.BIN") == 1 && tester->files().at("FW.BIN") == image,
              GetParam().delivered);
    uint32_t failed =
        std::string(GetParam().final_text) == "Completed" ? 0 : error_bit(ERR_RUN_FAILED);
    EXPECT_EQ(state.error_flags, failed);
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, SendFaults,
    ::testing::Values(SendFault{"NakPacket", Fault::NakPacket, "Completed", true},
                      SendFault{"NakForever", Fault::NakForever, "Aborted", false},
                      SendFault{"Can", Fault::Can, "Aborted", false},
                      SendFault{"SilentAfterPacket", Fault::SilentAfterPacket, "Timeout", false},
                      SendFault{"Xoff", Fault::Xoff, "Completed", true},
                      SendFault{"NakEot", Fault::NakEot, "Completed", true},
                      SendFault{"IdnUnknown", Fault::IdnUnknown, "Completed", true}),
    [](const auto& info) { return info.param.name; });

// Upload Result List against the tester's faults on its sending side.
struct ReceiveFault {
    const char* name;
    Fault fault;
    const char* final_text;
    bool received;
};

class ReceiveFaults : public SimulatedTesterTest,
                      public ::testing::WithParamInterface<ReceiveFault> {};

TEST_P(ReceiveFaults, EndTheRunAsTheyShould) {
    sim::TesterConfig config;
    config.faults = {GetParam().fault};
    start_tester(config);
    std::string held = tester->result_list();  // before "Delete All" clears it
    automatic(3, dir / "out", OPT_OUTPUT_FILE | OPT_DELETE_ALL);
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], GetParam().final_text);
    bool received = fs::exists(dir / "out" / "RESULTS.TXT") &&
                    read_file(dir / "out" / "RESULTS.TXT") == held && !held.empty();
    EXPECT_EQ(received, GetParam().received);
    // The tester's results are deleted only after a complete upload.
    EXPECT_EQ(tester->results_cleared(), GetParam().received);
}

INSTANTIATE_TEST_SUITE_P(
    ResultList, ReceiveFaults,
    ::testing::Values(ReceiveFault{"CrcError", Fault::CrcError, "Completed", true},
                      ReceiveFault{"NakPacket", Fault::NakPacket, "Completed", true},
                      ReceiveFault{"StallInBlock", Fault::StallInBlock, "Completed", true},
                      ReceiveFault{"Xoff", Fault::Xoff, "Completed", true},
                      ReceiveFault{"WrongBlock", Fault::WrongBlock, "Out of sync", false},
                      ReceiveFault{"Can", Fault::Can, "Aborted", false},
                      ReceiveFault{"SizeShort", Fault::SizeShort, "Aborted", false},
                      ReceiveFault{"SizeLong", Fault::SizeLong, "Aborted", false},
                      ReceiveFault{"NoResults", Fault::NoResults, "Aborted", false}),
    [](const auto& info) { return info.param.name; });

TEST_F(Operations, OutOfSyncSendsTheCancelSequence) {
    sim::TesterConfig config;
    config.faults = {Fault::WrongBlock};
    start_tester(config);
    automatic(3, dir / "out", OPT_OUTPUT_FILE);
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[2], "Out of sync");
    EXPECT_EQ(last_transfer(), sim::TransferState::PcCancelled);
}

// A tester that does not answer *IDN? gets no update mode command; it asks for the image
// by itself after the silence, and the update goes through.
TEST_F(Operations, SilentIdentityFirmwareUpdateWaitsForTheTestersOwnRequest) {
    sim::TesterConfig config;
    config.faults = {Fault::IdnTimeout};
    start_tester(config);
    std::string image = pattern(500);
    automatic(0, write("FW.BIN", image));
    ASSERT_TRUE(run());
    EXPECT_EQ(window.status[3], "Timeout");
    EXPECT_EQ(window.status[2], "Completed");
    EXPECT_EQ(tester->files().at("FW.BIN"), image);
    // Without its answer the update mode command was left out.
    for (const auto& command : tester->commands())
        EXPECT_EQ(command.find("UPD"), std::string::npos);
}

TEST_F(Operations, ReceiverThatNeverAsksWaitsUntilCancel) {
    sim::TesterConfig config;
    config.faults = {Fault::NoC};
    start_tester(config);
    automatic(0, write("FW.BIN", pattern(500)));
    start_run();
    EXPECT_FALSE(run_for(120'000));
    EXPECT_EQ(window.status[0], "Waiting for receiver");
    engine.user_break();
    ASSERT_TRUE(run_for(10'000));
    EXPECT_EQ(window.status[2], "Aborted");
}

}  // namespace
}  // namespace trelvo::e2e
