#include "channel/msg_queue.h"

#include <algorithm>
#include <cstring>

namespace morvane {

CMsgQueue::CMsgQueue(int32_t slotSize, int32_t depth)
    : slotSize_(std::max(slotSize, 0)),
      depth_(std::max(depth, 0)),
      slots_(std::make_unique<Slot[]>(static_cast<size_t>(depth_))) {
    for (int32_t i = 0; i < depth_; ++i)
        slots_[i].buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(slotSize_));
}

CMsgQueue::~CMsgQueue() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

bool CMsgQueue::Put(const void* data, int32_t count) {
    if (count < 0 || count > slotSize_) return false;
    // Claiming the slot with an exchange lets several producers share a queue.
    int32_t index = -1;
    for (int32_t i = 0; i < depth_ && index < 0; ++i) {
        bool expected = false;
        if (slots_[i].inUse.compare_exchange_strong(expected, true)) index = i;
    }
    if (index < 0) return false;
    uint8_t* buffer = slots_[index].buffer.get();
    if (count > 0) std::memcpy(buffer, data, static_cast<size_t>(count));
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(IT_MSG{count, index, buffer});
    available_.release();
    return true;
}

bool CMsgQueue::Take(void* dest, int32_t capacity, int32_t* count) {
    if (!TakeCounted(dest, capacity, count)) return false;
    // Keeps the semaphore equal to the number of queued messages, so that a
    // later WaitAndTake() does not wake for a message already gone.
    (void)available_.try_acquire();
    return true;
}

bool CMsgQueue::WaitAndTake(void* dest, int32_t capacity, int32_t* count) {
    available_.acquire();
    if (TakeCounted(dest, capacity, count)) return true;
    available_.release();
    return false;
}

bool CMsgQueue::WaitAndTake(void* dest, int32_t capacity, int32_t* count,
                            std::chrono::milliseconds timeout) {
    if (!available_.try_acquire_for(timeout)) {
        *count = 0;
        return false;
    }
    if (TakeCounted(dest, capacity, count)) return true;
    available_.release();
    return false;
}

bool CMsgQueue::TakeCounted(void* dest, int32_t capacity, int32_t* count) {
    std::lock_guard<std::mutex> lock(mutex_);
    *count = 0;
    if (messages_.empty()) return false;
    const IT_MSG& oldest = messages_.front();
    if (oldest.length > capacity) return false;
    if (oldest.length > 0) std::memcpy(dest, oldest.data, static_cast<size_t>(oldest.length));
    *count = oldest.length;
    lastSlot_.store(oldest.slot);
    slots_[oldest.slot].inUse.store(false);
    messages_.pop_front();
    return true;
}

int32_t CMsgQueue::UsedSlots() const {
    int32_t used = 0;
    for (int32_t i = 0; i < depth_; ++i) used += slots_[i].inUse.load() ? 1 : 0;
    return used;
}

}  // namespace morvane
