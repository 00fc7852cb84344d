// The port scan: which ports are listed, which is selected, when the start gate opens and
// when a slow port ends the scan.
#include "window/port_scan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>
#include <vector>

#include "engine/event_loop.h"
#include "engine/virtual_clock.h"
#include "tests/support/memory_device.h"

namespace trelvo {
namespace {

ScanEvent found(uint32_t number, std::string text, bool select, bool denied = false) {
    return {ScanEventKind::PortFound, {number, std::move(text), denied}, select};
}
const ScanEvent OPENED{ScanEventKind::ConfiguredPortOpened, {}, false};
const ScanEvent SLOW{ScanEventKind::StoppedSlow, {}, false};
const ScanEvent FINISHED{ScanEventKind::Finished, {}, false};

// An opener in front of a MemoryOpener whose failed opens of some ports take a while.
struct SlowOpener : DeviceOpener {
    SlowOpener(MemoryOpener& inner, VirtualClock& clock) : inner(inner), clock(clock) {}
    OpenResult open(uint32_t port_number) override {
        if (auto it = delays.find(port_number); it != delays.end()) clock.advance(it->second);
        return inner.open(port_number);
    }
    MemoryOpener& inner;
    VirtualClock& clock;
    std::map<uint32_t, uint32_t> delays;
};

class PortScan : public ::testing::Test {
  protected:
    int scan(uint32_t configured, DeviceOpener* through = nullptr) {
        return scan_ports(through != nullptr ? *through : opener, clock, configured, {},
                          [this](const ScanEvent& event) { events.push_back(event); });
    }
    VirtualClock clock;
    MemoryLink one{clock}, three{clock};
    MemoryOpener opener;
    std::vector<ScanEvent> events;
};

TEST_F(PortScan, ConfiguredPortFoundIsSelectedAndOpensTheGateOnce) {
    opener.provide(1, one.pc());
    opener.provide(3, three.pc());
    EXPECT_EQ(scan(3), 1);
    EXPECT_EQ(events, (std::vector<ScanEvent>{found(1, "COM1", true), found(3, "COM3", true),
                                              OPENED, FINISHED}));
    EXPECT_EQ(one.pc().close_count(), 1);  // looked at and closed again
    EXPECT_EQ(three.pc().close_count(), 1);
    EXPECT_FALSE(three.pc().is_open());
}

TEST_F(PortScan, MissingConfiguredPortLeavesTheFirstSelectedAndTheGateShut) {
    opener.provide(1, one.pc());
    opener.provide(3, three.pc());
    EXPECT_EQ(scan(5), 0);
    EXPECT_EQ(events,
              (std::vector<ScanEvent>{found(1, "COM1", true), found(3, "COM3", false), FINISHED}));
}

TEST_F(PortScan, NoPortAtAllListsNothing) {
    EXPECT_EQ(scan(1), -1);
    EXPECT_EQ(events, std::vector<ScanEvent>{FINISHED});
    EXPECT_EQ(opener.requests().size(), 255u);
}

TEST_F(PortScan, PortHeldByAnotherProgramIsListedAndSelectedButNeverOpened) {
    opener.provide(3, three.pc());
    auto held = three.pc().open_handle();
    EXPECT_EQ(scan(3), 0);
    EXPECT_EQ(events, (std::vector<ScanEvent>{found(3, "COM3", true, true), FINISHED}));
    EXPECT_EQ(three.pc().close_count(), 0);
}

struct Refusal {
    DeviceError error;
    bool listed;
};
void PrintTo(const Refusal& c, std::ostream* os) {
    *os << "error " << static_cast<int>(c.error);
}

class PortScanRefusal : public PortScan, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PortScanRefusal, PortsThatAreThereAreListed) {
    opener.refuse(2, GetParam().error, "/dev/ttyS1: why");
    scan(9);
    std::vector<ScanEvent> expected;
    if (GetParam().listed) expected.push_back(found(2, "COM2", true, true));
    expected.push_back(FINISHED);
    EXPECT_EQ(events, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PortScanRefusal,
                         ::testing::Values(Refusal{DeviceError::NoDevice, false},
                                           Refusal{DeviceError::Busy, true},
                                           Refusal{DeviceError::NoPermission, true},
                                           Refusal{DeviceError::Io, true}));

TEST_F(PortScan, AllNumbersUpToTwoHundredFiftyFiveInRisingOrder) {
    opener.provide(10, one.pc());
    opener.provide(255, three.pc());
    scan(255);
    EXPECT_EQ(events, (std::vector<ScanEvent>{found(10, "COM10", true), found(255, "COM255", true),
                                              OPENED, FINISHED}));
    ASSERT_EQ(opener.requests().size(), 255u);
    for (uint32_t n = 1; n <= 255; ++n)
        EXPECT_EQ(opener.requests()[n - 1], n);
}

TEST_F(PortScan, EntriesNameTheirDevice) {
    opener.provide(3, three.pc());
    scan_ports(
        opener, clock, 3, [](uint32_t n) { return "ttyS" + std::to_string(n - 1); },
        [this](const ScanEvent& event) { events.push_back(event); });
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].entry.text, "COM3 ttyS2");
}

TEST_F(PortScan, FailedOpenSlowerThanHalfASecondEndsTheScan) {
    SlowOpener slow(opener, clock);
    opener.provide(1, one.pc());
    opener.provide(6, three.pc());
    slow.delays[4] = 501;
    EXPECT_EQ(scan(6, &slow), 0);
    EXPECT_EQ(events, (std::vector<ScanEvent>{found(1, "COM1", true), SLOW, FINISHED}));
    EXPECT_EQ(opener.requests().back(), 4u);
}

TEST_F(PortScan, FailedOpenOfExactlyHalfASecondIsInTime) {
    SlowOpener slow(opener, clock);
    opener.provide(6, three.pc());
    slow.delays[4] = 500;
    scan(6, &slow);
    EXPECT_EQ(events, (std::vector<ScanEvent>{found(6, "COM6", true), OPENED, FINISHED}));
}

TEST_F(PortScan, SlowPortThatOpensDoesNotEndTheScan) {
    SlowOpener slow(opener, clock);
    opener.provide(1, one.pc());
    opener.provide(6, three.pc());
    slow.delays[1] = 2000;
    scan(6, &slow);
    EXPECT_EQ(events, (std::vector<ScanEvent>{found(1, "COM1", true), found(6, "COM6", true),
                                              OPENED, FINISHED}));
}

TEST_F(PortScan, StopRequestEndsTheScanQuietly) {
    std::atomic<bool> stop{true};
    scan_ports(
        opener, clock, 1, {}, [this](const ScanEvent& event) { events.push_back(event); }, &stop);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(opener.requests().empty());
}

struct EntryNumber {
    const char* text;
    bool valid;
    uint32_t number;
};
void PrintTo(const EntryNumber& c, std::ostream* os) {
    *os << c.text;
}

class PortEntryNumber : public ::testing::TestWithParam<EntryNumber> {};

TEST_P(PortEntryNumber, NumberFollowsCom) {
    uint32_t number = 99;
    EXPECT_EQ(port_number_of_entry(GetParam().text, number), GetParam().valid);
    EXPECT_EQ(number, GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortEntryNumber,
    ::testing::Values(EntryNumber{"COM1", true, 1}, EntryNumber{"COM33 ttyUSB0", true, 33},
                      EntryNumber{"COM255", true, 255}, EntryNumber{"COM", false, 99},
                      EntryNumber{"com3", false, 99}, EntryNumber{"LPT1", false, 99}));

TEST(PortEntryText, DeviceFollowsAfterABlank) {
    EXPECT_EQ(port_entry_text(7, ""), "COM7");
    EXPECT_EQ(port_entry_text(33, "ttyUSB0"), "COM33 ttyUSB0");
    EXPECT_EQ(device_label("/dev/ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(device_label("/dev/pts/4"), "pts/4");
    EXPECT_EQ(device_label("/tmp/link"), "/tmp/link");
    EXPECT_EQ(device_label(""), "");
}

// The scan's own thread: its events arrive, and stop waits for it.
TEST(ThreadedPortScanner, ScansOnItsOwnThread) {
    struct AllAbsent : DeviceOpener {
        OpenResult open(uint32_t port_number) override {
            OpenResult result;
            result.error = port_number == 2 ? DeviceError::Busy : DeviceError::NoDevice;
            return result;
        }
    } opener;
    SystemClock clock;
    std::mutex mutex;
    std::vector<ScanEvent> events;
    std::set<std::thread::id> threads;
    ThreadedPortScanner scanner(opener, clock, {});
    scanner.start(2, [&](const ScanEvent& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        threads.insert(std::this_thread::get_id());
    });
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard lock(mutex);
            if (!events.empty() && events.back().kind == ScanEventKind::Finished) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    scanner.stop();
    std::lock_guard lock(mutex);
    EXPECT_EQ(events, (std::vector<ScanEvent>{found(2, "COM2", true, true), FINISHED}));
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

}  // namespace
}  // namespace trelvo
