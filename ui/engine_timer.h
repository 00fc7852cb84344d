// The engine's timer on the window's event loop: every arming starts a single-shot timer
// that replaces the one before, and may also watch the serial device, firing as soon as it
// has input or room for output; when it fires, the handler gets the identifier of the
// arming on the user-interface thread.
#pragma once

#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <memory>

#include "base/platform.h"

namespace trelvo::ui {

class EngineTimerQt final : public EngineTimer {
  public:
    EngineTimerQt();

    void set_handler(std::function<void(int identifier)> handler) { handler_ = std::move(handler); }
    void arm(int identifier, uint32_t period_ms) override;
    void arm_or_wake(int identifier, uint32_t period_ms, WakeOn wake) override;
    void kill() override;
    bool armed() const { return timer_.isActive(); }

  private:
    void fire();
    QSocketNotifier& notifier_for(WakeOn wake);

    QTimer timer_;
    // One notifier per direction, made anew when the device's descriptor changes; disabled
    // whenever the timer is not waiting on it.
    std::unique_ptr<QSocketNotifier> input_;
    std::unique_ptr<QSocketNotifier> output_;
    int identifier_ = 0;
    std::function<void(int)> handler_;
};

}  // namespace trelvo::ui
