// CChannelXsdPool: the server for several clients at once (MaxClients above
// 1).
//
// The pool is the channel of the listening socket: its connect and receive
// threads accept clients, and each accepted connection is handed to a
// CChannelXsd of its own (CChannelXsd::Serve()), with its own receive
// thread, frame buffer and session file, so that no request waits for
// another client's. While maxClients clients are served, the next one waits
// in the backlog of the listening socket; it is accepted as soon as one of
// them leaves. A client that leaves with its session file open has the file
// finished.
//
// The clients share only what is safe to share: the registry and its schemas
// (read-only), the session table (locked), the log (one whole line per call)
// and the print-data plug-in (one record at a time).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channel/channel.h"

namespace morvane {

class CChannelXsd;
class SchemaRegistry;

class CChannelXsdPool : public CChannel {
  public:
    // registry must outlive the pool. maxClients: clients served at once (at
    // least 1).
    CChannelXsdPool(SchemaRegistry& registry, const std::string& programDirectory,
                    int maxClients);
    // Stops accepting, then stops every client.
    ~CChannelXsdPool() override;

    // Initialises the listening channel on port with the server's
    // parameters; the connect thread then waits for the first client.
    bool Start(int32_t port);
    // Clients being served at the moment.
    int Serving() const;
    // Passed on to every client's channel (CChannelXsd::SetMaxDataFileMB()).
    void SetMaxDataFileMB(int32_t megabytes) { maxDataFileMB_ = megabytes; }

    void OnMessage(const uint8_t*, int32_t) override {}
    void OnConnection() override {}
    void OnError(int32_t code) override;
    void OnAcceptPaused(int err) override;
    // Hands the accepted connection to a client channel, waits until fewer
    // than maxClients are served and accepts the next.
    void OnReceive() override;
    void Run() override {}

  private:
    // Frees the client channels whose clients have gone.
    void Reap();
    // Hands the connection on fd to a channel of its own; when that cannot
    // be had (memory, a thread), the refusal is logged and fd closed.
    void ServeClient(int fd);

    SchemaRegistry& registry_;
    std::string programDirectory_;
    int maxClients_;
    bool trace_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::list<std::unique_ptr<CChannelXsd>> clients_;  // served or gone, not yet freed
    std::vector<CChannelXsd*> gone_;
    int serving_ = 0;
    int32_t maxDataFileMB_ = 0;  // 0: the channel's default
};

}  // namespace morvane
