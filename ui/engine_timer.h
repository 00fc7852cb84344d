// The engine's timer on the window's event loop: every arming starts a single-shot timer
// that replaces the one before; when it fires, the handler gets the identifier of the
// arming on the user-interface thread.
#pragma once

#include <QTimer>

#include <functional>

#include "engine/platform.h"

namespace trelvo::ui {

class EngineTimerQt final : public EngineTimer {
  public:
    EngineTimerQt();

    void set_handler(std::function<void(int identifier)> handler) { handler_ = std::move(handler); }
    void arm(int identifier, uint32_t period_ms) override;
    void kill() override { timer_.stop(); }
    bool armed() const { return timer_.isActive(); }

  private:
    QTimer timer_;
    int identifier_ = 0;
    std::function<void(int)> handler_;
};

}  // namespace trelvo::ui
