#include "engine/event_loop.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace trelvo {

SignalRequest take_signal_requests(int fd) {
    SignalRequest request = SignalRequest::None;
    if (fd < 0) return request;
    char bytes[64];
    ssize_t count = 0;
    while ((count = ::read(fd, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            if (bytes[i] == TERMINATE_SIGNAL_BYTE) request = SignalRequest::Terminate;
            if (bytes[i] == CANCEL_SIGNAL_BYTE && request == SignalRequest::None)
                request = SignalRequest::Cancel;
        }
    }
    return request;
}

uint32_t SystemClock::now_ms() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void EventLoop::arm(int identifier, uint32_t period_ms) {
    armed_ = true;
    identifier_ = identifier;
    due_ = clock_.now_ms() + period_ms;
    wake_ = WakeOn{};
}

void EventLoop::arm_or_wake(int identifier, uint32_t period_ms, WakeOn wake) {
    arm(identifier, period_ms);
    wake_ = wake;
}

bool EventLoop::sleep_or_wake(uint32_t ms) {
    bool waking = armed_ && wake_.fd >= 0;
    if (!waking && watched_fd_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return false;
    }
    // The watched descriptor first, so that the device's entry is always the last one.
    pollfd entries[2];
    nfds_t count = 0;
    if (watched_fd_ >= 0) entries[count++] = pollfd{watched_fd_, POLLIN, 0};
    if (waking)
        entries[count++] = pollfd{wake_.fd, static_cast<short>(wake_.output ? POLLOUT : POLLIN), 0};
    // A signal arriving meanwhile interrupts the poll; its byte is then in the pipe.
    if (::poll(entries, count, static_cast<int>(ms)) <= 0) return false;
    if (watched_fd_ >= 0 && entries[0].revents != 0 && watched_ready_) watched_ready_();
    // A hang-up or error also wakes: the tick then finds the device gone.
    return waking && entries[count - 1].revents != 0;
}

void EventLoop::post(std::function<void()> work) {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(work));
}

// Runs the work posted before this pass and the timer if it is due; true when anything
// ran. Work posted meanwhile waits for the next pass, so that work which posts itself again
// (a start command waiting for the port scan) cannot starve the timer and the poll.
bool EventLoop::run_due() {
    bool ran = false;
    size_t queued = 0;
    {
        std::lock_guard lock(posted_mutex_);
        queued = posted_.size();
    }
    for (; queued > 0; --queued) {
        std::function<void()> work;
        {
            std::lock_guard lock(posted_mutex_);
            if (posted_.empty()) break;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
        ran = true;
    }
    if (armed_ && static_cast<int32_t>(clock_.now_ms() - due_) >= 0) {
        armed_ = false;
        if (handler_) handler_(identifier_);
        ran = true;
    }
    return ran;
}

bool EventLoop::run_until(const std::function<bool()>& done, uint32_t limit_ms,
                          const std::function<void()>& poll) {
    uint32_t start = clock_.now_ms();
    while (!done()) {
        if (clock_.now_ms() - start >= limit_ms) return false;
        if (poll) poll();
        if (run_due()) continue;
        uint32_t sleep_ms = 10;
        if (armed_) {
            int32_t until = static_cast<int32_t>(due_ - clock_.now_ms());
            if (until < static_cast<int32_t>(sleep_ms)) sleep_ms = until > 0 ? until : 0;
        }
        if (sleep_or_wake(sleep_ms)) {
            armed_ = false;
            if (handler_) handler_(identifier_);
        }
    }
    return true;
}

}  // namespace trelvo
