#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/error_table.h"
#include "engine/virtual_clock.h"
#include "serial/tester_port.h"
#include "tests/support/memory_device.h"
#include "tests/support/recording_window.h"

namespace trelvo::testing {
namespace {

class OpenTesterPort : public ::testing::Test {
  protected:
    VirtualClock clock;
    MemoryLink link{clock};
    MemoryOpener opener;
    SettingsState state;
    RecordingWindow window;

    void SetUp() override {
        state.port_number = 3;
        opener.provide(3, link.pc());
    }
    std::unique_ptr<TesterPort> open() { return open_tester_port(state, window, clock, opener); }
};

TEST_F(OpenTesterPort, AppliesTheBaudRateOfTheIndexWithEightNOneAndXonXoff) {
    const std::pair<uint32_t, uint32_t> rates[] = {{0, 38400}, {1, 19200}, {2, 9600},
                                                   {3, 4800},  {4, 0},     {99, 0}};
    for (auto [index, baud] : rates) {
        state.baud_index = index;
        auto port = open();
        ASSERT_NE(port, nullptr);
        ASSERT_TRUE(link.pc().applied_settings().has_value());
        EXPECT_EQ(link.pc().applied_settings()->baud, baud) << "index " << index;
        EXPECT_TRUE(link.pc().applied_settings()->output_flow_control);
        EXPECT_TRUE(link.pc().applied_settings()->input_flow_control);
        EXPECT_TRUE(link.pc().is_open());
    }
    EXPECT_EQ(opener.requests(), std::vector<uint32_t>(6, 3));
    EXPECT_TRUE(window.messages.empty());
}

struct FailureCase {
    const char* name;
    std::function<void(MemoryOpener&, MemoryEnd&)> prepare;
    int bit;
    std::string message;
};

TEST_F(OpenTesterPort, ReportsEachFailureAsABoxOrInAnAutomaticRunAsItsBit) {
    const FailureCase cases[] = {
        {"missing port",
         [](MemoryOpener& o, MemoryEnd&) { o.refuse(3, DeviceError::NoDevice, ""); }, ERR_COM_PORT,
         "Invalid Port COM3\n"},
        {"busy port",
         [](MemoryOpener& o, MemoryEnd&) {
             o.refuse(3, DeviceError::Busy, "/dev/ttyUSB2: in use by another program");
         },
         ERR_COM_PORT, "Invalid Port COM3\n/dev/ttyUSB2: in use by another program"},
        {"unreadable settings",
         [](MemoryOpener&, MemoryEnd& end) { end.refuse_read_configuration(true); }, ERR_DCB,
         "Invalid DCB structure\n"},
        {"refused settings",
         [](MemoryOpener&, MemoryEnd& end) { end.refuse_apply_configuration(true); }, ERR_BAUDRATE,
         "Invalid Baudrate\n"},
        {"refused modem lines", [](MemoryOpener&, MemoryEnd& end) { end.refuse_modem_lines(true); },
         ERR_MODEM_LINES,
         "Unable to set the modem control lines (DTR/RTS).\n"
         "memory:pc: cannot drop DTR (Input/output error)"},
    };
    for (const FailureCase& c : cases) {
        for (bool automatic : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (automatic ? ", automatic" : ", interactive"));
            MemoryLink line(clock);
            MemoryOpener fresh;
            fresh.provide(3, line.pc());
            c.prepare(fresh, line.pc());
            window.messages.clear();
            state.error_flags = 0;
            state.command_line_flags = automatic ? CMD_AUTOMATIC : CMD_PORT;
            EXPECT_EQ(open_tester_port(state, window, clock, fresh), nullptr);
            EXPECT_EQ(state.error_flags, automatic ? error_bit(c.bit) : 0u);
            if (automatic) {
                EXPECT_TRUE(window.messages.empty());
            } else {
                ASSERT_EQ(window.messages.size(), 1u);
                EXPECT_EQ(window.messages[0].text, c.message);
            }
            EXPECT_FALSE(line.pc().is_open());  // closed again after a configuration failure
            // Settings are applied even when they could not be read first.
            EXPECT_EQ(line.pc().applied_settings().has_value(), c.bit == ERR_DCB);
        }
    }
}

}  // namespace
}  // namespace trelvo::testing
