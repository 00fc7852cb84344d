// A tester port on one end of an in-memory line, the tester's end at hand, on a virtual
// clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/virtual_clock.h"
#include "serial/tester_port.h"
#include "tests/support/memory_device.h"

namespace trelvo::testing {

class PortTest : public ::testing::Test {
  protected:
    VirtualClock clock;
    MemoryLink link{clock};
    MemoryEnd& pc = link.pc();
    MemoryEnd& tester = link.tester();
    TesterPort port{pc.open_handle(), clock};

    // The tester sends `bytes` `delay_ms` from now.
    void send_later(uint32_t delay_ms, std::string bytes) {
        clock.schedule(clock.now_ms() + delay_ms, [this, bytes] { tester.send(bytes); });
    }
    uint32_t elapsed_since(uint32_t start) { return clock.now_ms() - start; }

    // Calls `routine` every millisecond, as the engine's ticks would, until it returns 1;
    // the milliseconds that took, or -1 after `limit_ms`.
    int poll(int (TesterPort::*routine)(), uint32_t limit_ms = 5000) {
        uint32_t start = clock.now_ms();
        while (elapsed_since(start) <= limit_ms) {
            if ((port.*routine)() == 1) return static_cast<int>(elapsed_since(start));
            clock.advance(1);
        }
        return -1;
    }
};

}  // namespace trelvo::testing
