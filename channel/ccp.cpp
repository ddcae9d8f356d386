#include "channel/ccp.h"

#include <cstdio>

#include "channel/channel.h"
#include "channel/msg_queue.h"

namespace morvane {

CCP::CCP(const char* name) {
    std::snprintf(name_, sizeof name_, "%s", name != nullptr ? name : "");
}

CCP::~CCP() {
    Stop();
    std::lock_guard<std::mutex> lock(registryMutex_);
    for (int32_t i = 0; i < count_; ++i)
        if (events_[i] != nullptr) events_[i]->SetListener(nullptr);
}

bool CCP::Register(CChannel* channel) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    if (count_ >= kMaxDispatchedChannels) return false;
    if (channel == nullptr) return true;
    AutoResetEvent* event = channel->messageEvent_.get();
    events_[count_] = event;
    channels_[count_] = channel;
    ++count_;
    if (event != nullptr) event->SetListener(this);
    return true;
}

void CCP::Unregister(CChannel* channel) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    for (int32_t i = 0; i < count_; ++i) {
        if (channels_[i] != channel) continue;
        if (events_[i] != nullptr) events_[i]->SetListener(nullptr);
        for (int32_t j = i + 1; j < count_; ++j) {
            events_[j - 1] = events_[j];
            channels_[j - 1] = channels_[j];
        }
        --count_;
        events_[count_] = nullptr;
        channels_[count_] = nullptr;
        return;
    }
}

bool CCP::Start() {
    if (thread_.joinable()) return false;
    stop_.store(false);
    thread_ = std::thread(&CCP::DispatchThread, this);
    return true;
}

void CCP::Stop() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stop_.store(true);
    }
    wakeCv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

int32_t CCP::Count() const {
    std::lock_guard<std::mutex> lock(registryMutex_);
    return count_;
}

void CCP::EventSignalled() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        ++generation_;
    }
    wakeCv_.notify_all();
}

void CCP::DispatchThread() {
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(wakeMutex_);
            if (stop_.load()) return;
            seen = generation_;
        }
        {
            std::lock_guard<std::mutex> lock(registryMutex_);
            for (int32_t i = 0; i < count_; ++i)
                if (events_[i] != nullptr && events_[i]->TryConsume()) Deliver(channels_[i]);
        }
        // A signal that came after `seen` was read has moved the generation,
        // so no wake-up is lost between the scan and the wait.
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wakeCv_.wait(lock, [&] { return stop_.load() || generation_ != seen; });
    }
}

void CCP::Deliver(CChannel* channel) {
    if (channel->deliverySuspended_.load() != 0) return;
    // One signal may stand for several messages (an auto-reset event does not
    // count), so everything queued is delivered now.
    int32_t length = 0;
    uint8_t* buffer = channel->deliveryBuffer_.get();
    while (!stop_.load() && channel->queue_->Take(buffer, channel->frameBufferSize_, &length)) {
        channel->OnMessage(buffer, length);
    }
}

}  // namespace morvane
