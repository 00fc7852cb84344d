#include "results/ms_type_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/error_table.h"
#include "tests/results/imei_split_fixture.h"

namespace trelvo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t KV71_BASE = 0xC0000;
constexpr uint32_t KV72_BASE = 0x1C0000;

void put32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// 1 + the bytes from offset 2 on, each as -128..127, modulo 65536.
uint16_t reference_checksum(const Bytes& bytes) {
    int sum = 1;
    for (size_t i = 2; i < bytes.size(); ++i)
        sum += bytes[i] < 0x80 ? bytes[i] : bytes[i] - 256;
    return static_cast<uint16_t>(sum);
}

void seal(Bytes& bytes) {
    uint16_t checksum = reference_checksum(bytes);
    bytes[0] = static_cast<uint8_t>(checksum >> 8);
    bytes[1] = static_cast<uint8_t>(checksum);
}

// A list as a tester at `base` holds it: list 1 chained 200 -> 40, list 2 chained
// 300 -> 100 -> 150 (chain order differs from file order), names and other bytes between.
Bytes sample_list(uint32_t base) {
    uint32_t nibble_only = base & 0xF00000;  // what a zero address becomes on this model
    Bytes bytes(400);
    for (size_t i = 10; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    put32(bytes, 2, base + 200);
    put32(bytes, 6, base + 300);
    put32(bytes, 200, base + 40);
    put32(bytes, 40, MS_NO_LINK);
    for (size_t field : {4, 8, 12, 16}) {
        put32(bytes, 200 + field, base + 330 + field);
        put32(bytes, 40 + field, field == 16 ? nibble_only : base + 350 + field);
    }
    put32(bytes, 300, base + 100);
    put32(bytes, 100, base + 150);
    put32(bytes, 150, MS_NO_LINK);
    for (size_t record : {100, 150, 300}) {
        for (size_t field : {10, 14, 18})
            put32(bytes, record + field, base + 370 + field);
    }
    seal(bytes);
    return bytes;
}

struct Converted {
    MsListResult result;
    Bytes bytes;
};

Converted convert(const Bytes& list, int32_t model_code) {
    std::FILE* source = std::tmpfile();
    std::FILE* target = std::tmpfile();
    std::fwrite(list.data(), 1, list.size(), source);
    Converted out{convert_ms_type_list(source, model_code, target), {}};
    uint8_t chunk[256];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, target)) > 0;)
        out.bytes.insert(out.bytes.end(), chunk, chunk + got);
    std::fclose(source);
    std::fclose(target);
    return out;
}

TEST(ConvertMsTypeList, RewritesEveryAddressForTheOtherModel) {
    Converted to_kv72 = convert(sample_list(KV71_BASE), MODEL_KV72);
    EXPECT_EQ(to_kv72.result, MsListResult::Converted);
    EXPECT_EQ(to_kv72.bytes, sample_list(KV72_BASE));

    Converted to_kv71 = convert(sample_list(KV72_BASE), MODEL_KV71);
    EXPECT_EQ(to_kv71.result, MsListResult::Converted);
    EXPECT_EQ(to_kv71.bytes, sample_list(KV71_BASE));

    EXPECT_EQ(convert(sample_list(KV72_BASE), MODEL_KV72).bytes, sample_list(KV72_BASE));
}

TEST(ConvertMsTypeList, EmptyChainsOnlyRenewTheChecksum) {
    Bytes list = {0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0x42, 0xFF};
    Converted out = convert(list, MODEL_KV72);
    // 1 - 8 (eight 0xFF) + 0x41 + 0x42 - 1 (0xFF)
    Bytes expected = list;
    expected[0] = 0x00, expected[1] = 0x7B;
    EXPECT_EQ(out.bytes, expected);
}

TEST(ConvertMsTypeList, OtherModelsConvertNoAddress) {
    Bytes list = sample_list(KV71_BASE);
    list[0] = list[1] = 0;
    Converted out = convert(list, 0);
    EXPECT_EQ(out.result, MsListResult::Converted);
    seal(list);
    EXPECT_EQ(out.bytes, list);
}

TEST(ConvertMsTypeList, OverlappingRecordLeavesTheRestUnconverted) {
    Bytes list(120, 0x20);
    put32(list, 2, KV71_BASE + 10);  // list 1 record at 10..56
    put32(list, 6, KV71_BASE + 30);  // list 2 record at 30, inside it
    put32(list, 10, MS_NO_LINK);
    put32(list, 14, KV71_BASE);
    put32(list, 30, KV71_BASE + 80);  // ... and on to a record at 80
    put32(list, 80, MS_NO_LINK);
    put32(list, 90, KV71_BASE + 0x30);
    Converted out = convert(list, MODEL_KV72);
    ASSERT_EQ(out.result, MsListResult::Converted);
    ASSERT_EQ(out.bytes.size(), list.size());
    EXPECT_EQ(out.bytes[15], 0x1C);  // converted: KV72 base
    EXPECT_EQ(Bytes(out.bytes.begin() + 56, out.bytes.end()), Bytes(list.begin() + 56, list.end()));
}

struct Damage {
    const char* what;
    size_t at;  // where `address` is written; 0: nothing is written
    uint32_t address;
    size_t size;  // the list is cut to this size
    MsListResult result;
};

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.what;
}

class DamagedMsTypeList : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedMsTypeList, IsRefused) {
    const Damage& damage = GetParam();
    Bytes list = sample_list(KV71_BASE);
    if (damage.at != 0) put32(list, damage.at, damage.address);
    list.resize(damage.size);
    EXPECT_EQ(convert(list, MODEL_KV72).result, damage.result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedMsTypeList,
    ::testing::Values(
        Damage{"ChainLoopsBack", 40, KV71_BASE + 200, 400, MsListResult::ChainLoops},
        Damage{"ChainPointsAtItself", 150, KV71_BASE + 150, 400, MsListResult::ChainLoops},
        Damage{"RecordCutByTheEnd", 150, KV71_BASE + 390, 400, MsListResult::Truncated},
        Damage{"LinkBeyondTheEnd", 2, KV71_BASE + 0x5000, 400, MsListResult::Truncated},
        Damage{"LinkBelowTheBase", 6, 0, 400, MsListResult::Truncated},
        Damage{"FileEndsInARecord", 0, 0, 320, MsListResult::Truncated},
        Damage{"FileEndsInTheHeader", 0, 0, 9, MsListResult::Truncated}),
    [](const auto& info) { return std::string(info.param.what); });

Bytes list2_chain(size_t records) {
    Bytes list(10 + 22 * records, 0);
    put32(list, 2, MS_NO_LINK);
    put32(list, 6, KV71_BASE + 10);
    for (size_t i = 0; i < records; ++i)
        put32(list, 10 + 22 * i, i + 1 < records ? KV71_BASE + 10 + 22 * (i + 1) : MS_NO_LINK);
    return list;
}

TEST(ConvertMsTypeList, HoldsAtMost499Records) {
    EXPECT_EQ(convert(list2_chain(499), MODEL_KV72).result, MsListResult::Converted);
    EXPECT_EQ(convert(list2_chain(500), MODEL_KV72).result, MsListResult::TooManyRecords);
}

// A fresh temporary directory per test, which is also $TMPDIR while the test runs.
class TemporaryFile : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (const char* old = std::getenv("TMPDIR")) saved_ = old;
        std::filesystem::create_directory(directory_ / "tmp");
        ::setenv("TMPDIR", (directory_ / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("TMPDIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        TempDirTest::TearDown();
    }
    std::optional<std::string> saved_;
};

TEST_F(TemporaryFile, LeavesNoNameBehind) {
    std::FILE* file = open_temporary_file();
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(std::filesystem::is_empty("tmp"));
    std::fputs("KV72", file);
    EXPECT_EQ(read_back(file), "KV72");
    std::fclose(file);
}

// Stands in for the block transfer: keeps the name and the bytes from the file's position.
StepResult send_stand_in(Engine& engine, TransferRecord& record) {
    std::string bytes;
    for (int c; (c = std::fgetc(record.file)) != EOF;)
        bytes += static_cast<char>(c);
    static_cast<StepWindow&>(engine.window).seen.push_back({record.file_name, bytes});
    return SR_NEXT;
}

constexpr StepRow download_steps[] = {
    {step_convert_ms_type_list, "Conversion into model format"},
    {send_stand_in, "Sending"},
    {nullptr, nullptr},
};

class ConvertMsTypeListStep : public TemporaryFile {
  protected:
    void run_download(const Bytes& list, uint32_t command_line_flags = 0) {
        write_file("NOKIA.AUT", std::string(list.begin(), list.end()));
        steps.state.command_line_flags = command_line_flags;
        steps.engine.transfer.file_name = "NOKIA.AUT";
        steps.state.model_code = MODEL_KV72;
        ASSERT_TRUE(
            steps.run(OP_DOWNLOAD_MOBILE_LIST, download_steps, std::fopen("NOKIA.AUT", "rb")));
    }
    std::string sent() const {
        return steps.window.seen.empty() ? "(nothing)" : steps.window.seen[0].content;
    }
    static std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

    StepRun steps;
};

TEST_F(ConvertMsTypeListStep, SendsTheConvertedListUnderTheChosenName) {
    run_download(sample_list(KV71_BASE));
    EXPECT_EQ(sent(), text(sample_list(KV72_BASE)));
    EXPECT_EQ(steps.window.seen[0].name, "NOKIA.AUT");
    EXPECT_EQ(steps.window.status[2], "Completed");
    EXPECT_TRUE(steps.window.messages.empty());
    EXPECT_TRUE(std::filesystem::is_empty("tmp"));
}

TEST_F(ConvertMsTypeListStep, DamagedListIsNotSentAndTheRunEndsAborted) {
    Bytes looping = sample_list(KV71_BASE);
    put32(looping, 150, KV71_BASE + 100);
    run_download(looping);
    EXPECT_EQ(sent(), "(nothing)");
    EXPECT_EQ(steps.window.status[2], "Aborted");
    ASSERT_EQ(steps.window.messages.size(), 1u);
    EXPECT_EQ(steps.window.messages[0].text, "Conversion failed\n");
    EXPECT_EQ(steps.window.messages[0].icon, MessageIcon::Error);
}

TEST_F(ConvertMsTypeListStep, DamagedListSetsTheErrorBitInAnAutomaticRun) {
    run_download(Bytes(9, 0), CMD_AUTOMATIC);
    EXPECT_EQ(sent(), "(nothing)");
    EXPECT_EQ(steps.state.error_flags, error_bit(ERR_MS_CONVERSION) | error_bit(ERR_RUN_FAILED));
    EXPECT_TRUE(steps.window.messages.empty());
}

TEST_F(ConvertMsTypeListStep, WithoutTemporaryFileTheChosenListGoesUnchanged) {
    ::setenv("TMPDIR", (directory_ / "gone").c_str(), 1);
    run_download(sample_list(KV71_BASE));
    EXPECT_EQ(sent(), text(sample_list(KV71_BASE)));
    EXPECT_EQ(steps.window.status[2], "Completed");
    ASSERT_EQ(steps.window.messages.size(), 1u);
    EXPECT_EQ(steps.window.messages[0].text, "Conversion failed\n");
}

}  // namespace
}  // namespace trelvo
