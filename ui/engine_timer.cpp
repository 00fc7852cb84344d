#include "ui/engine_timer.h"

namespace trelvo::ui {

EngineTimerQt::EngineTimerQt() {
    timer_.setSingleShot(true);
    // The engine's 50 ms rhythm is its clock for replies and packets: keep it exact.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (handler_) handler_(identifier_);
    });
}

void EngineTimerQt::arm(int identifier, uint32_t period_ms) {
    identifier_ = identifier;
    timer_.start(static_cast<int>(period_ms));
}

}  // namespace trelvo::ui
