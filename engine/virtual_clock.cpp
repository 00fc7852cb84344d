#include "engine/virtual_clock.h"

namespace trelvo {

int VirtualClock::schedule(uint32_t due_ms, std::function<void()> callback) {
    int id = next_id_++;
    queue_.emplace(due_ms, Entry{id, std::move(callback)});
    return id;
}

void VirtualClock::cancel(int id) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->second.id == id) {
            queue_.erase(it);
            return;
        }
    }
}

std::optional<uint32_t> VirtualClock::next_due() const {
    if (queue_.empty()) return std::nullopt;
    return queue_.begin()->first;
}

void VirtualClock::advance_to(uint32_t target_ms) {
    while (!queue_.empty() && queue_.begin()->first <= target_ms) {
        auto it = queue_.begin();
        if (it->first > now_) now_ = it->first;
        auto callback = std::move(it->second.callback);
        queue_.erase(it);
        callback();
    }
    if (target_ms > now_) now_ = target_ms;
}

bool VirtualClock::fire_next() {
    if (queue_.empty()) return false;
    advance_to(queue_.begin()->first);
    return true;
}

void VirtualTimer::arm(int identifier, uint32_t period_ms) {
    kill();
    identifier_ = identifier;
    pending_ = clock_.schedule(clock_.now_ms() + period_ms, [this, identifier] {
        pending_ = 0;
        on_tick_(identifier);
    });
}

void VirtualTimer::kill() {
    if (pending_ != 0) clock_.cancel(pending_);
    pending_ = 0;
}

}  // namespace trelvo
