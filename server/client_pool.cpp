#include "server/client_pool.h"

#include <algorithm>
#include <chrono>

#include <unistd.h>

#include "channel/messages.h"
#include "logging/log.h"
#include "server/channel_xsd.h"

namespace morvane {

CChannelXsdPool::CChannelXsdPool(SchemaRegistry& registry, const std::string& programDirectory,
                                 int maxClients)
    : registry_(registry),
      programDirectory_(programDirectory),
      maxClients_(std::max(maxClients, 1)),
      trace_(TraceEnabled()) {}

CChannelXsdPool::~CChannelXsdPool() {
    Stop();
    std::list<std::unique_ptr<CChannelXsd>> clients;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clients.swap(clients_);
    }
    // Each client's end runs on its own thread and takes mutex_.
    clients.clear();
}

bool CChannelXsdPool::Start(int32_t port) {
    CHANNEL_PARAMS params = AppXsdTcpParams(kRoleServer, port, nullptr);
    return Init(params.channelName, "Xsd", params);
}

int CChannelXsdPool::Serving() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return serving_;
}

void CChannelXsdPool::OnError(int32_t code) {
    LogLine(trace_, "CChannelXsd::OnError  this=0x%X  err=%d\n",
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)), code);
}

void CChannelXsdPool::OnAcceptPaused(int err) { LogAcceptPaused(err); }

void CChannelXsdPool::OnReceive() {
    const int fd = TakeDataSocket();
    if (fd < 0) {
        // No client: the bind or the accept failed, and the reconnection
        // path tries again.
        Reconnect();
        return;
    }
    Reap();
    ServeClient(fd);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // Stop() does not know this wait: it is looked at now and then.
        while (serving_ >= maxClients_ && !Stopping())
            changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    Reap();
    Reconnect();
}

void CChannelXsdPool::ServeClient(int fd) {
    std::list<std::unique_ptr<CChannelXsd>> entry;
    CChannelXsd* served = nullptr;
    try {
        entry.push_back(std::make_unique<CChannelXsd>(registry_, programDirectory_, true));
        served = entry.back().get();
        served->SetConsole(Console());
        served->SetIdleTimeout(IdleTimeout());
        if (maxDataFileMB_ > 0) served->SetMaxDataFileMB(maxDataFileMB_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            clients_.splice(clients_.end(), entry);
            ++serving_;
        }
        served->Serve(fd, [this, served] {
            served->FinishSession();
            std::lock_guard<std::mutex> lock(mutex_);
            gone_.push_back(served);
            --serving_;
            changed_.notify_all();
        });
        return;
    } catch (const std::exception& e) {
        LogLine(true, "Error CChannelXsd::OnReceive the client is refused: %s\n", e.what());
    }
    // The channel never served: the connection is closed, by the channel
    // when it took it over.
    if (served == nullptr) {
        ::close(fd);
        return;
    }
    if (!entry.empty()) {
        ::close(fd);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    gone_.push_back(served);
    --serving_;
}

void CChannelXsdPool::Reap() {
    std::list<std::unique_ptr<CChannelXsd>> done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (CChannelXsd* gone : gone_) {
            auto at = std::find_if(clients_.begin(), clients_.end(),
                                   [gone](const auto& c) { return c.get() == gone; });
            if (at != clients_.end()) done.splice(done.end(), clients_, at);
        }
        gone_.clear();
    }
    // Joins each receive thread, which has run its last step.
}

}  // namespace morvane
