// An engine on a virtual clock with a recording window and a scripted device: a whole run,
// including 300-second waits, takes microseconds.
#pragma once

#include <memory>

#include "engine/engine.h"
#include "engine/virtual_clock.h"
#include "serial/tester_port.h"
#include "tests/support/recording_window.h"
#include "tests/support/scripted_device.h"

namespace trelvo::testing {

struct EngineHarness {
    VirtualClock clock;
    RecordingWindow window;
    SettingsState state;
    VirtualTimer timer{clock, [this](int identifier) { engine.engine_tick(identifier); }};
    Engine engine{state, window, clock, timer};
    ScriptedWire wire{clock};  // the line behind the device of every run

    // Opens a port on a fresh scripted device and starts `operation` as the main window does.
    void start(const Operation& operation) {
        auto owned = std::make_unique<ScriptedDevice>(wire);
        engine.clear_status();
        engine.step_index = 0;
        engine.start_run(std::make_unique<TesterPort>(std::move(owned), clock), operation);
    }

    // Pumps the timer until the run has finished or `limit_ms` of virtual time has passed;
    // true when the run finished.
    static constexpr uint32_t SETTLE_MS = 20;
    // A run that keeps arming its timer without the clock moving ends after MAX_FIRINGS.
    static constexpr uint32_t MAX_FIRINGS = 1'000'000;
    bool run(uint32_t limit_ms = 3'600'000) {
        uint32_t until = clock.now_ms() + limit_ms;
        for (uint32_t fired = 0; engine.run_active(); ++fired) {
            auto due = clock.next_due();
            if (!due || *due > until || fired == MAX_FIRINGS) return false;
            clock.fire_next();
        }
        // Steps follow each other at once now; give the other side of the line a moment to
        // take in what the run sent last.
        clock.advance_to(clock.now_ms() + SETTLE_MS);
        return true;
    }
};

}  // namespace trelvo::testing
