// Runs a Tester on a virtual clock: services it every `period_ms` of virtual time, so that it
// answers while the other side waits on the clock.
#pragma once

#include <cstdint>

#include "engine/virtual_clock.h"
#include "sim/tester.h"

namespace trelvo::sim {

class ClockDriver {
  public:
    ClockDriver(VirtualClock& clock, Tester& tester, uint32_t period_ms = 1);
    ~ClockDriver();
    ClockDriver(const ClockDriver&) = delete;
    ClockDriver& operator=(const ClockDriver&) = delete;

    void stop();

  private:
    void arm();

    VirtualClock& clock_;
    Tester& tester_;
    uint32_t period_ms_;
    int pending_ = 0;
};

}  // namespace trelvo::sim
