// The event dispatcher of the queued delivery mode.
//
// Channels initialised with a dispatcher copy received messages into their
// queue with PutMessage(), which signals the channel's message event. The
// dispatcher thread waits until any registered event is signalled and hands
// every message then queued for that channel, oldest first, to the channel's
// OnMessage(). A channel whose delivery is suspended is skipped; its messages
// wait for the next signal after it resumes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "channel/auto_reset_event.h"

namespace morvane {

class CChannel;

// The most handles one platform wait call accepts.
constexpr int kMaxDispatchedChannels = 64;
constexpr int kDispatcherNameWidth = 52;

class CCP : private EventListener {
  public:
    explicit CCP(const char* name);
    // Stops the thread and detaches the channels still registered.
    virtual ~CCP();
    CCP(const CCP&) = delete;
    CCP& operator=(const CCP&) = delete;

    // false, and nothing changed, when 64 channels are registered; a null
    // channel is accepted and changes nothing. The channel must leave (its
    // Stop() does) before it is destroyed.
    bool Register(CChannel* channel);
    // Waits for a delivery to the channel in progress; then no further
    // message reaches it. Not to be called from OnMessage().
    void Unregister(CChannel* channel);
    // Starts the dispatcher thread; false when it runs already.
    bool Start();
    // Ends the dispatcher thread after the delivery in progress.
    void Stop();

    int32_t Count() const;
    const char* Name() const { return name_; }

    // Extension points for subclasses; the dispatcher never calls them.
    virtual void OnStart() = 0;
    virtual void OnStop() = 0;

  private:
    void EventSignalled() override;
    void DispatchThread();
    void Deliver(CChannel* channel);

    int32_t count_ = 0;
    AutoResetEvent* events_[kMaxDispatchedChannels] = {};
    CChannel* channels_[kMaxDispatchedChannels] = {};
    char name_[kDispatcherNameWidth] = "";
    std::thread thread_;

    // Guards the two arrays; held while a message is delivered, so that a
    // channel that leaves never sees a delivery afterwards.
    mutable std::mutex registryMutex_;
    // Wake-ups: every Set() of a registered event bumps the generation.
    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;
    uint64_t generation_ = 0;
    std::atomic<bool> stop_{false};
};

}  // namespace morvane
