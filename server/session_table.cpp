#include "server/session_table.h"

#include "server/registry.h"

namespace morvane {

int32_t SessionTable::NextRecordNumber() {
    return static_cast<int32_t>(recordCounter_.fetch_add(1) + 1u);
}

bool SessionTable::Claim(const std::string& name, const std::shared_ptr<ClientSession>& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return false;
    auto [at, added] = open_.emplace(name, session);
    return added || at->second == session;
}

void SessionTable::Release(const std::string& name, const ClientSession* session) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto at = open_.find(name);
    if (at != open_.end() && at->second.get() == session) open_.erase(at);
}

void SessionTable::FinishAll() {
    {
        // A client locks its session, then the table; the table is not held
        // while the sessions are locked below.
        std::lock_guard<std::mutex> lock(mutex_);
        if (finished_) return;
        finished_ = true;
        for (auto& [name, session] : open_) held_.push_back(session);
        open_.clear();
    }
    for (auto& session : held_) {
        session->mutex.lock();
        CloseRootFile(session->writer);
    }
}

}  // namespace morvane
