#include "ui/engine_timer.h"

namespace trelvo::ui {

EngineTimerQt::EngineTimerQt() {
    timer_.setSingleShot(true);
    // The engine's 50 ms rhythm is its clock for replies and packets: keep it exact.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
}

void EngineTimerQt::arm(int identifier, uint32_t period_ms) {
    if (input_) input_->setEnabled(false);
    if (output_) output_->setEnabled(false);
    identifier_ = identifier;
    timer_.start(static_cast<int>(period_ms));
}

void EngineTimerQt::arm_or_wake(int identifier, uint32_t period_ms, WakeOn wake) {
    arm(identifier, period_ms);
    if (wake.fd >= 0) notifier_for(wake).setEnabled(true);
}

void EngineTimerQt::kill() {
    timer_.stop();
    if (input_) input_->setEnabled(false);
    if (output_) output_->setEnabled(false);
}

void EngineTimerQt::fire() {
    kill();
    if (handler_) handler_(identifier_);
}

QSocketNotifier& EngineTimerQt::notifier_for(WakeOn wake) {
    std::unique_ptr<QSocketNotifier>& notifier = wake.output ? output_ : input_;
    if (!notifier || notifier->socket() != wake.fd) {
        // The old notifier may be the one whose signal is being handled right now.
        if (notifier) notifier.release()->deleteLater();
        notifier = std::make_unique<QSocketNotifier>(
            wake.fd, wake.output ? QSocketNotifier::Write : QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { fire(); });
    }
    return *notifier;
}

}  // namespace trelvo::ui
