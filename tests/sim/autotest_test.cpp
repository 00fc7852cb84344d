// The autotest directory: pages of ten entries, deleting and storing slots.
#include <gtest/gtest.h>

#include "sim/sample_data.h"
#include "tests/sim/sim_fixture.h"

namespace trelvo::sim::testing {
namespace {

class TesterAutotests : public SimTest {};

std::vector<std::string> numbered_names(size_t count) {
    std::vector<std::string> names;
    for (size_t i = 1; i <= count; ++i)
        names.push_back("TEST " + std::to_string(i));
    return names;
}

// Reads the directory the way the PC does: pages from slot 1, 11, 21, ... while a page
// brings the count to first slot + 9.
struct Directory {
    std::vector<std::string> lines;
    std::vector<uint32_t> queries;
};

Directory read_directory(PcSide& pc) {
    Directory directory;
    for (uint32_t first = 1;; first += 10) {
        directory.queries.push_back(first);
        pc.send("SYSTem:DIRectory:AUTotest? " + std::to_string(first) + "\n");
        std::optional<std::vector<std::string>> page = pc.read_directory();
        EXPECT_TRUE(page) << "no end of page after slot " << first;
        if (!page) break;
        directory.lines.insert(directory.lines.end(), page->begin(), page->end());
        if (directory.lines.size() != first + 9) break;
    }
    return directory;
}

// The part of a directory line that the PC lists: what follows the fourth comma.
std::string listed_name(const std::string& line) {
    size_t at = 0;
    for (int i = 0; i < 4; ++i)
        at = line.find(',', at) + 1;
    return line.substr(at);
}

struct PagingCase {
    size_t entries;
    std::vector<uint32_t> queries;
};
void PrintTo(const PagingCase& c, std::ostream* out) {
    *out << c.entries << " entries";
}

class TesterDirectoryPaging : public SimTest, public ::testing::WithParamInterface<PagingCase> {};

TEST_P(TesterDirectoryPaging, PagesOfTenEndedByAnEtxLine) {
    TesterConfig config;
    config.autotests = numbered_names(GetParam().entries);
    start(config);
    Directory directory = read_directory(pc_);
    EXPECT_EQ(directory.queries, GetParam().queries);
    ASSERT_EQ(directory.lines.size(), GetParam().entries);
    for (size_t i = 0; i < directory.lines.size(); ++i) {
        EXPECT_EQ(listed_name(directory.lines[i]), "TEST " + std::to_string(i + 1));
        EXPECT_EQ(directory.lines[i].substr(0, directory.lines[i].find(',')),
                  std::to_string(i + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TesterDirectoryPaging,
                         ::testing::Values(PagingCase{0, {1}}, PagingCase{3, {1}},
                                           PagingCase{10, {1, 11}}, PagingCase{25, {1, 11, 21}},
                                           PagingCase{30, {1, 11, 21, 31}}));

TEST_F(TesterAutotests, DirectoryLineHoldsSlotKindSizeChecksumAndName) {
    TesterConfig config;
    config.autotests = std::vector<std::string>{"GSM, BASIC"};
    start(config);
    pc_.send("SYSTem:DIRectory:AUTotest? 1\n");
    std::optional<std::vector<std::string>> page = pc_.read_directory();
    ASSERT_TRUE(page);
    ASSERT_EQ(page->size(), 1u);
    const std::string contents = built_in_autotest("GSM, BASIC");
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04X",
                  crc16(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(contents.data()),
                                                 contents.size())));
    EXPECT_EQ((*page)[0],
              "1,DLD," + std::to_string(contents.size()) + "," + checksum + ",GSM, BASIC");
}

TEST_F(TesterAutotests, PageEndsWithEtxCarriageReturnLineFeed) {
    TesterConfig config;
    config.autotests = std::vector<std::string>{};
    start(config);
    pc_.send("SYSTem:DIRectory:AUTotest? 1\n");
    EXPECT_EQ(pc_.read_for(100), "\x03\r\n");
}

TEST_F(TesterAutotests, EndlessDirectoryFaultFillsEveryPageWithItsEntriesOverAgain) {
    TesterConfig config;
    config.autotests = numbered_names(3);
    config.faults = {Fault::EndlessDirectory};
    start(config);
    pc_.send("SYSTem:DIRectory:AUTotest? 241\n");
    std::optional<std::vector<std::string>> page = pc_.read_directory();
    ASSERT_TRUE(page);
    ASSERT_EQ(page->size(), 10u);
    EXPECT_EQ(page->front().substr(0, 4), "241,");
    EXPECT_EQ(listed_name(page->front()), "TEST 1");  // slot 241 is the first of a round
    EXPECT_EQ(listed_name(page->back()), "TEST 1");   // and so is 250
}

TEST_F(TesterAutotests, BuiltInDirectoryHoldsThreeAutotests) {
    start();
    Directory directory = read_directory(pc_);
    ASSERT_EQ(directory.lines.size(), 3u);
    EXPECT_EQ(listed_name(directory.lines[0]), "GSM BASIC");
}

TEST_F(TesterAutotests, DeletingASlotMovesTheLaterOnesUpAndAnswersTheJoinedQuery) {
    TesterConfig config;
    config.autotests = numbered_names(4);
    start(config);
    pc_.send("SYSTem:CLEar:AUTotest 2;*idn?\n");
    EXPECT_EQ(pc_.read_line(), identity_for_model(72));
    Directory directory = read_directory(pc_);
    ASSERT_EQ(directory.lines.size(), 3u);
    EXPECT_EQ(listed_name(directory.lines[0]), "TEST 1");
    EXPECT_EQ(listed_name(directory.lines[1]), "TEST 3");
    EXPECT_EQ(directory.lines[1].substr(0, 2), "2,");
    EXPECT_EQ(tester().autotests().size(), 3u);
}

TEST_F(TesterAutotests, DeletingASlotThatDoesNotExistChangesNothing) {
    TesterConfig config;
    config.autotests = numbered_names(2);
    start(config);
    pc_.send("SYSTem:CLEar:AUTotest 5;*idn?\n");
    EXPECT_EQ(pc_.read_line(), identity_for_model(72));
    pc_.send("SYSTem:CLEar:AUTotest 0\n");
    pc_.read_for(10);
    EXPECT_EQ(tester().autotests().size(), 2u);
}

struct SlotCase {
    const char* name;
    uint32_t slot;
    std::vector<std::string> after;
};
void PrintTo(const SlotCase& c, std::ostream* out) {
    *out << "slot " << c.slot;
}

class TesterStoringAutotests : public SimTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(TesterStoringAutotests, NewSlotAppendsAndAnExistingSlotIsReplaced) {
    TesterConfig config;
    config.autotests = numbered_names(3);
    start(config);
    pc_.send("SYSTem:STATe:UPLoad:AUTotest " + std::to_string(GetParam().slot) + "\n");
    Delivery delivery = pc_.send_file("NEW.DLD", "steps");
    ASSERT_TRUE(delivery.completed) << delivery.failure;
    std::vector<std::string> names;
    for (const AutotestEntry& entry : tester().autotests())
        names.push_back(entry.name);
    EXPECT_EQ(names, GetParam().after);
    EXPECT_EQ(tester().received().back().slot, GetParam().slot);
    Directory directory = read_directory(pc_);
    ASSERT_EQ(directory.lines.size(), GetParam().after.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, TesterStoringAutotests,
    ::testing::Values(SlotCase{"New", 4, {"TEST 1", "TEST 2", "TEST 3", "NEW.DLD"}},
                      SlotCase{"Replace", 2, {"TEST 1", "NEW.DLD", "TEST 3"}},
                      SlotCase{"SlotZero", 0, {"TEST 1", "TEST 2", "TEST 3", "NEW.DLD"}},
                      SlotCase{"BeyondTheEnd", 9, {"TEST 1", "TEST 2", "TEST 3", "NEW.DLD"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace trelvo::sim::testing
