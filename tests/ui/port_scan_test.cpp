// The port scan as the window shows it: pseudo-terminals behind a temporary port map, one of
// them held by another program, one entry pointing at nothing.
#include <QComboBox>
#include <QTest>

#include <ostream>

#include "tests/ui/window_fixture.h"
#include "ui/status_bar.h"

namespace trelvo::ui::testing {
namespace {

struct Scan {
    const char* rule;
    uint32_t configured;
    int selected;  // position in the list
    const char* status;
    int gate;  // releases of the start gate
};
void PrintTo(const Scan& s, std::ostream* os) {
    *os << s.rule;
}

class WindowPortScan : public WindowTest, public ::testing::WithParamInterface<Scan> {
  protected:
    // COM1 and COM3 are there, COM5 is held by another program, COM7 names no device.
    void SetUp() override {
        WindowTest::SetUp();
        state.port_map[1] = com1.path();
        state.port_map[3] = com3.path();
        state.port_map[5] = com5.path();
        state.port_map[7] = (dir / "unplugged").string();
        OpenResult held = PosixSerialDevice::open(com5.path());
        ASSERT_NE(held.device, nullptr) << held.reason;
        holder = std::move(held.device);
    }

    std::vector<std::string> entries() {
        QComboBox& list = control<QComboBox>("port_list");
        std::vector<std::string> texts;
        for (int i = 0; i < list.count(); ++i)
            texts.push_back(list.itemText(i).toStdString());
        return texts;
    }

    PseudoTerminal com1, com3, com5;
    std::unique_ptr<SerialDevice> holder;
};

TEST_P(WindowPortScan, ListInScanningOrderWithTheConfiguredPortSelected) {
    const Scan& s = GetParam();
    state.port_number = s.configured;
    MainWindow& w = open();
    ASSERT_TRUE(wait_for_scan());
    QTest::qWait(20);  // anything the scan posted last
    EXPECT_EQ(entries(), (std::vector<std::string>{"COM1 " + com1.label(), "COM3 " + com3.label(),
                                                   "COM5 " + com5.label()}));
    EXPECT_EQ(control<QComboBox>("port_list").currentIndex(), s.selected);
    EXPECT_EQ(w.status_bar().text(0), s.status);
    EXPECT_EQ(gate.count(), s.gate);
    // The port held elsewhere was listed without taking it away from its holder.
    EXPECT_FALSE(control<QComboBox>("port_list").itemData(2, Qt::ToolTipRole).toString().isEmpty());
    EXPECT_TRUE(holder->read_configuration());
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowPortScan,
    ::testing::Values(Scan{"PresentPortIsSelectedAndOpensTheGate", 3, 1, "Idle", 1},
                      Scan{"MissingPortLeavesTheFirstSelected", 7, 0, "Scanning COM Ports", 0},
                      Scan{"HeldPortIsSelectedButNotOpened", 5, 2, "Scanning COM Ports", 0}),
    [](const auto& info) { return std::string(info.param.rule); });

TEST_F(WindowTest, ChoosingAnEntryMakesItsNumberTheConfiguredPort) {
    PseudoTerminal com2, com12;
    state.port_map[2] = com2.path();
    state.port_map[12] = com12.path();
    state.port_number = 2;
    open();
    ASSERT_TRUE(wait_for_scan());
    QComboBox& list = control<QComboBox>("port_list");
    ASSERT_TRUE(wait_for([&] { return list.count() == 2; }));
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentText().toStdString(), "COM12 " + com12.label());
    EXPECT_EQ(state.port_number, 12u);
}

}  // namespace
}  // namespace trelvo::ui::testing
