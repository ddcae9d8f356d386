// A small auto-reset event: Set() leaves one signal pending, and one
// successful Wait() or TryConsume() takes it. Signals do not add up: setting
// an event that is already signalled changes nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace morvane {

// Wait results, numbered like the platform wait calls they stand for.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
// A timeout of all ones waits without a limit.
constexpr uint32_t kInfinite = 0xFFFFFFFF;

// Told after every Set(); used by a dispatcher that waits on several events.
class EventListener {
  public:
    virtual void EventSignalled() = 0;

  protected:
    ~EventListener() = default;
};

class AutoResetEvent {
  public:
    void Set();
    // kWaitObject0 when a signal was taken, kWaitTimeout when none came in
    // time, kWaitFailed once the event is closed.
    uint32_t Wait(uint32_t timeoutMs);
    // Takes a pending signal without waiting; false when none is pending.
    bool TryConsume();
    // Wakes every waiter with kWaitFailed; later waits fail at once.
    void Close();
    // listener (may be null) must outlive the event or be replaced first.
    void SetListener(EventListener* listener) { listener_.store(listener); }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
    bool closed_ = false;
    std::atomic<EventListener*> listener_{nullptr};
};

}  // namespace morvane
