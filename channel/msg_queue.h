// The bounded message queue of a channel in queued delivery mode.
//
// The queue owns depth slot buffers of slotSize bytes each, all allocated at
// construction. Put() copies a message into a free slot and appends it to the
// queue; Take() copies the oldest message out and frees its slot. Messages
// leave in arrival order. Any number of threads may put and take.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <vector>

namespace morvane {

// One queued message: its length, the slot that holds it and that slot's
// buffer.
struct IT_MSG {
    int32_t length;
    int32_t slot;
    uint8_t* data;
};

class CMsgQueue {
  public:
    // A depth or slot size below 0 counts as 0.
    CMsgQueue(int32_t slotSize, int32_t depth);
    // Queued messages are discarded.
    ~CMsgQueue();
    CMsgQueue(const CMsgQueue&) = delete;
    CMsgQueue& operator=(const CMsgQueue&) = delete;

    // false, and nothing queued, when every slot is in use or count is
    // outside 0..slot size.
    bool Put(const void* data, int32_t count);
    // Copies the oldest message to dest and sets *count to its length. When
    // the queue is empty, or the oldest message is longer than capacity, sets
    // *count to 0, leaves the queue as it is and returns false.
    bool Take(void* dest, int32_t capacity, int32_t* count);
    // Take() after waiting for a message: without a limit, or for at most
    // timeout (false, *count 0, when none came).
    bool WaitAndTake(void* dest, int32_t capacity, int32_t* count);
    bool WaitAndTake(void* dest, int32_t capacity, int32_t* count,
                     std::chrono::milliseconds timeout);

    int32_t UsedSlots() const;
    int32_t FreeSlots() const { return depth_ - UsedSlots(); }
    int32_t SlotSize() const { return slotSize_; }
    int32_t Depth() const { return depth_; }
    // The slot of the message taken last; -1 before the first take.
    int32_t LastSlot() const { return lastSlot_.load(); }

  private:
    struct Slot {
        std::atomic<bool> inUse{false};
        std::unique_ptr<uint8_t[]> buffer;
    };

    // Takes the oldest message; the caller has already accounted for it on
    // the semaphore.
    bool TakeCounted(void* dest, int32_t capacity, int32_t* count);

    int32_t slotSize_;
    int32_t depth_;
    std::unique_ptr<Slot[]> slots_;
    std::deque<IT_MSG> messages_;
    mutable std::mutex mutex_;
    // Counts queued messages, so that a consumer can sleep until one comes.
    std::counting_semaphore<> available_{0};
    std::atomic<int32_t> lastSlot_{-1};
};

}  // namespace morvane
