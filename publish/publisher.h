// Publisher: hands every message given to it to a NATS JetStream stream,
// once, in order, through the spool (spool.h), without ever making its
// caller wait for the broker.
//
// Add() appends the message to the spool and returns; a sender thread
// publishes the spool's entries asynchronously, a window of them at a
// time, and moves the spool's cursor over those the stream has
// acknowledged. Each message asks for its acknowledgement on a reply
// subject of its own, "<inbox>.<flight number>", under one subscription
// that the sender reads: the answer names its flight, and the message is
// the sender's to free as soon as it is published. An error, a lost connection or an acknowledgement that
// does not come sends everything from the cursor on again; the stream's
// de-duplication (Nats-Msg-Id) absorbs what it had. A broker that cannot
// be reached, at start or later, only delays: the connection is tried
// again for as long as the process runs, and the spool keeps what waits.
//
// When the spool is full, Add() leaves the message out (it is counted and
// logged once); messages are taken again once the spool has drained to
// half its capacity, which is logged with the count of those left out.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

#include "publish/message.h"
#include "publish/spool.h"

struct __natsConnection;
struct __natsOptions;
struct __jsCtx;
struct __natsMsg;
struct __natsSubscription;

namespace morvane {

struct PublisherOptions {
    std::string urls;  // comma-separated nats://HOST:PORT
    std::string stream;
    // The stream's subjects when it is created: "<prefix>.>".
    std::string subjectPrefix;
    int32_t replicas = 1;
    int32_t duplicateWindow = 600;  // seconds
    std::string spoolDirectory;
    uint64_t spoolBytes = 256ull << 20;
    // How long an acknowledgement may take before the message is sent again.
    int32_t ackWaitMs = 3000;
    // Messages published and not yet acknowledged at most.
    int32_t window = 1024;
    // Keeps every publish-to-acknowledgement time for TakeAckTimes() (for
    // measurements; the list grows with every message).
    bool keepAckTimes = false;
};

// The stream's answer to a published message.
struct Acknowledgement {
    bool ok = false;         // stored, or a duplicate of a stored one
    bool duplicate = false;
    std::string failure;     // why not, when not ok
};
Acknowledgement ParseAcknowledgement(std::string_view text);

class Publisher {
  public:
    Publisher();
    ~Publisher();  // Stop()
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Opens the spool and starts the sender thread. False, logged, when the
    // spool cannot be used; a broker that cannot be reached is no failure.
    bool Start(const PublisherOptions& options);
    // Spools message. Thread-safe; never waits for the broker. False when
    // it was left out (spool full or not writable).
    bool Add(const OutMessage& message);
    // The same for a message already as EncodeMessage() bytes.
    bool Add(std::string_view payload);
    // Waits until every spooled message is acknowledged; false at timeout.
    bool Drain(int timeoutMs);
    // Stops the sender; what is not acknowledged stays in the spool for the
    // next start.
    void Stop();

    struct Stats {
        uint64_t added = 0;
        uint64_t acknowledged = 0;  // this run
        uint64_t duplicates = 0;    // acknowledged as already in the stream
        uint64_t leftOut = 0;
        uint64_t spoolBytes = 0;
        uint64_t spoolUnacknowledged = 0;
        bool connected = false;
    };
    Stats GetStats() const;
    // Publish-to-acknowledgement times of this run, in microseconds, taken
    // and cleared (for measurements; only with keepAckTimes).
    std::vector<int64_t> TakeAckTimes();

  private:
    // A spool entry taken for publishing, and the position after it.
    struct Pending {
        Spool::Position end;
        bool valid;  // decoded
    };
    struct Flight {
        Spool::Position end;
        int64_t sentAtUs = 0;
        bool done = false;
        bool ok = false;
    };

    void Run();
    bool Connect();
    bool EnsureStream();
    // Publishes the spool entries after sendAt_, as many as the window has
    // room for; false when there was none.
    bool SendBatch(size_t room);
    // Wakes the sender when it waits.
    void WakeSender();
    // Moves the cursor over the acknowledged front of the window.
    void Advance();
    // Gives up the window and starts again from the cursor.
    void Rewind(const char* why);
    // Takes the answers on the inbox that have come: the stream's
    // acknowledgements and refusals.
    void TakeReplies();
    void TakeReply(__natsMsg* msg);
    // Destroys the messages in done_.
    void DestroyDone();
    static void OnDisconnected(__natsConnection* nc, void* self);
    static void OnReconnected(__natsConnection* nc, void* self);

    PublisherOptions options_;
    Spool spool_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> lostConnection_{false};

    __natsOptions* natsOptions_ = nullptr;
    __natsConnection* connection_ = nullptr;
    __jsCtx* js_ = nullptr;  // for the stream's information and creation
    __natsSubscription* replies_ = nullptr;
    std::string inbox_;  // "_INBOX.<unique>"; replies come to "<inbox_>.<flight>"
    bool streamReady_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Flight> flights_;
    // Number of flights_.front(); numbers are never used twice, so that an
    // answer for a flight given up (before a resend) names none in flights_.
    uint64_t firstFlight_ = 0;
    // The sender waits for work: Add() wakes it.
    std::atomic<bool> senderWaiting_{false};
    bool failed_ = false;  // an acknowledgement failed: rewind
    std::string failure_;
    Spool::Position sendAt_;
    // SendBatch()'s buffers, kept between calls.
    std::vector<Pending> batch_;
    std::vector<MessageView> messages_;  // batch_'s, decoded
    std::string texts_;
    std::string reply_;
    std::vector<__natsMsg*> done_;  // published or answered, to destroy
    std::vector<int64_t> ackTimes_;
    // Messages allowed in flight now: 1 after a start or a resend, doubled
    // with every acknowledgement up to options_.window, so that a stream
    // that is not ready yet refuses one message, not a window of them out
    // of order.
    size_t window_ = 1;

    // Counted under addMutex_: Add() keeps the order of the spool.
    std::mutex addMutex_;
    bool full_ = false;
    uint64_t leftOutNow_ = 0;
    std::atomic<uint64_t> added_{0};
    std::atomic<uint64_t> acknowledged_{0};
    std::atomic<uint64_t> duplicates_{0};
    std::atomic<uint64_t> leftOut_{0};
};

}  // namespace morvane
