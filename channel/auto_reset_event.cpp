#include "channel/auto_reset_event.h"

#include <chrono>

namespace morvane {

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
    if (EventListener* listener = listener_.load()) listener->EventSignalled();
}

uint32_t AutoResetEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return signalled_ || closed_; };
    if (timeoutMs == kInfinite) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return kWaitTimeout;
    }
    if (closed_) return kWaitFailed;
    signalled_ = false;
    return kWaitObject0;
}

bool AutoResetEvent::TryConsume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!signalled_ || closed_) return false;
    signalled_ = false;
    return true;
}

void AutoResetEvent::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    cv_.notify_all();
}

}  // namespace morvane
