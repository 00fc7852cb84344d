#include "sim/clock_driver.h"

namespace trelvo::sim {

ClockDriver::ClockDriver(VirtualClock& clock, Tester& tester, uint32_t period_ms)
    : clock_(clock), tester_(tester), period_ms_(period_ms == 0 ? 1 : period_ms) {
    arm();
}

ClockDriver::~ClockDriver() {
    stop();
}

void ClockDriver::stop() {
    if (pending_ != 0) clock_.cancel(pending_);
    pending_ = 0;
}

void ClockDriver::arm() {
    pending_ = clock_.schedule(clock_.now_ms() + period_ms_, [this] {
        pending_ = 0;
        tester_.service();
        arm();
    });
}

}  // namespace trelvo::sim
