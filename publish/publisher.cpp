#include "publish/publisher.h"

#include <nats/nats.h>

#include <rapidjson/document.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>

#include "logging/log.h"

namespace morvane {
namespace {

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How long the sender waits for more records after sending some, and for
// acknowledgements while some are due.
constexpr int kBatchWaitMs = 1;

}  // namespace

Acknowledgement ParseAcknowledgement(std::string_view text) {
    // {"stream":"S","seq":N[,"duplicate":true]} or {"error":{...,"description":"..."}};
    // some tens of bytes, parsed without taking memory.
    char values[2048];
    char stack[512];
    rapidjson::MemoryPoolAllocator<> valueAllocator(values, sizeof values);
    rapidjson::MemoryPoolAllocator<> stackAllocator(stack, sizeof stack);
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>,
                               rapidjson::MemoryPoolAllocator<>>
        answer(&valueAllocator, sizeof stack, &stackAllocator);
    answer.Parse(text.data(), text.size());
    // The member name of object, or null.
    auto member = [](const rapidjson::Value& object, const char* name) -> const rapidjson::Value* {
        const auto found = object.FindMember(name);
        return found == object.MemberEnd() ? nullptr : &found->value;
    };
    Acknowledgement out;
    if (answer.HasParseError() || !answer.IsObject()) {
        out.failure = "an acknowledgement that is not JSON";
    } else if (const rapidjson::Value* error = member(answer, "error")) {
        out.failure = "refused by the stream";
        const rapidjson::Value* description = error->IsObject() ? member(*error, "description") : nullptr;
        if (description != nullptr && description->IsString()) out.failure = description->GetString();
    } else if (const rapidjson::Value* seq = member(answer, "seq"); seq != nullptr && seq->IsUint64()) {
        out.ok = true;
        const rapidjson::Value* duplicate = member(answer, "duplicate");
        out.duplicate = duplicate != nullptr && duplicate->IsTrue();
    } else {
        out.failure = "an acknowledgement without a sequence number";
    }
    return out;
}

Publisher::Publisher() = default;

Publisher::~Publisher() { Stop(); }

bool Publisher::Start(const PublisherOptions& options) {
    options_ = options;
    if (!spool_.Open(options.spoolDirectory, options.spoolBytes)) return false;
    sendAt_ = spool_.Cursor();
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool Publisher::Add(const OutMessage& message) { return Add(std::string_view(EncodeMessage(message))); }

void Publisher::WakeSender() {
    // Under mutex_, so that a sender between its last look at the spool
    // and its wait cannot miss it.
    if (!senderWaiting_.exchange(false)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}

bool Publisher::Add(std::string_view payload) {
    std::lock_guard<std::mutex> lock(addMutex_);
    if (full_) {
        // Taken again once half the spool is free, so that an outage shows
        // as one stretch of records left out, not as many small ones.
        if (spool_.Bytes() + payload.size() + Spool::kEntryHeaderSize > spool_.Capacity() / 2) {
            ++leftOutNow_;
            ++leftOut_;
            return false;
        }
        full_ = false;
        LogLine(true,
                "Publish: spool has room again, publishing caught up; %llu records were left "
                "out of the stream (they are in their session files)\n",
                static_cast<unsigned long long>(leftOutNow_));
        leftOutNow_ = 0;
    }
    switch (spool_.Add(payload)) {
        case Spool::Added::kAdded:
            ++added_;
            WakeSender();
            return true;
        case Spool::Added::kFull:
            full_ = true;
            leftOutNow_ = 1;
            ++leftOut_;
            LogLine(true,
                    "Publish: spool full (SpoolMB=%llu), records are left out of the stream "
                    "until it drains (they stay in their session files)\n",
                    static_cast<unsigned long long>(spool_.Capacity() >> 20));
            return false;
        case Spool::Added::kFailed:
            ++leftOut_;
            return false;
    }
    return false;
}

bool Publisher::Drain(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (spool_.Unacknowledged() == 0) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // The sender moves the cursor when it wakes, at the latest every
        // few milliseconds.
        changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
}

void Publisher::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    changed_.notify_all();
    thread_.join();
    spool_.Sync();
    natsSubscription_Destroy(replies_);
    replies_ = nullptr;
    if (js_ != nullptr) jsCtx_Destroy(js_);
    if (connection_ != nullptr) {
        natsConnection_Close(connection_);
        natsConnection_Destroy(connection_);
    }
    if (natsOptions_ != nullptr) natsOptions_Destroy(natsOptions_);
    js_ = nullptr;
    connection_ = nullptr;
    natsOptions_ = nullptr;
}

Publisher::Stats Publisher::GetStats() const {
    Stats s;
    s.added = added_;
    s.acknowledged = acknowledged_;
    s.duplicates = duplicates_;
    s.leftOut = leftOut_;
    s.spoolBytes = spool_.Bytes();
    s.spoolUnacknowledged = spool_.Unacknowledged();
    s.connected = connected_;
    return s;
}

std::vector<int64_t> Publisher::TakeAckTimes() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> out;
    out.swap(ackTimes_);
    return out;
}

void Publisher::OnDisconnected(natsConnection*, void* self) {
    auto* p = static_cast<Publisher*>(self);
    if (p->stopping_) return;
    p->connected_ = false;
    p->lostConnection_ = true;
    LogLine(true, "Publish: connection to the broker lost, records wait in the spool\n");
    p->changed_.notify_all();
}

void Publisher::OnReconnected(natsConnection* nc, void* self) {
    auto* p = static_cast<Publisher*>(self);
    char url[256] = {};
    natsConnection_GetConnectedUrl(nc, url, sizeof url);
    LogLine(true, "Publish: connected to %s\n", url);
    p->connected_ = true;
    p->changed_.notify_all();
}

bool Publisher::Connect() {
    std::vector<std::string> urls = SplitUrls(options_.urls);
    std::vector<const char*> servers;
    for (const std::string& u : urls) servers.push_back(u.c_str());
    natsStatus s = natsOptions_Create(&natsOptions_);
    if (s == NATS_OK) s = natsOptions_SetServers(natsOptions_, servers.data(), static_cast<int>(servers.size()));
    // Tried for as long as the process runs, and often: records wait.
    if (s == NATS_OK) s = natsOptions_SetMaxReconnect(natsOptions_, -1);
    if (s == NATS_OK) s = natsOptions_SetReconnectWait(natsOptions_, 250);
    if (s == NATS_OK) s = natsOptions_SetTimeout(natsOptions_, 1000);
    // Nothing is buffered by the library while it reconnects: a publish
    // then fails and the spool sends it again, in order, after the
    // reconnection, instead of the library sending it ahead of the resent.
    if (s == NATS_OK) s = natsOptions_SetReconnectBufSize(natsOptions_, 1);
    if (s == NATS_OK) s = natsOptions_SetPingInterval(natsOptions_, 1000);
    if (s == NATS_OK) s = natsOptions_SetMaxPingsOut(natsOptions_, 2);
    if (s == NATS_OK) s = natsOptions_SetDisconnectedCB(natsOptions_, OnDisconnected, this);
    if (s == NATS_OK) s = natsOptions_SetReconnectedCB(natsOptions_, OnReconnected, this);
    if (s == NATS_OK) s = natsOptions_SetRetryOnFailedConnect(natsOptions_, true, OnReconnected, this);
    if (s != NATS_OK) {
        LogLine(true, "Error! Publish: connection options refused: %s\n", natsStatus_GetText(s));
        return false;
    }
    s = natsConnection_Connect(&connection_, natsOptions_);
    if (s == NATS_OK) {
        char url[256] = {};
        natsConnection_GetConnectedUrl(connection_, url, sizeof url);
        LogLine(true, "Publish: connected to %s\n", url);
        connected_ = true;
    } else if (s == NATS_NOT_YET_CONNECTED) {
        LogLine(true, "Publish: broker %s cannot be reached, records wait in the spool\n",
                options_.urls.c_str());
    } else {
        LogLine(true, "Error! Publish: connection to %s failed: %s\n", options_.urls.c_str(),
                natsStatus_GetText(s));
        return false;
    }
    jsOptions jo;
    jsOptions_Init(&jo);
    jo.Wait = 2000;
    s = natsConnection_JetStream(&js_, connection_, &jo);
    if (s != NATS_OK) {
        LogLine(true, "Error! Publish: JetStream context refused: %s\n", natsStatus_GetText(s));
        return false;
    }
    natsInbox* inbox = nullptr;
    s = natsInbox_Create(&inbox);
    if (s == NATS_OK) {
        inbox_ = inbox;
        natsInbox_Destroy(inbox);
        // Taken by this thread when it looks at its window (TakeReplies()),
        // so that no thread of the library is woken for each answer.
        s = natsConnection_SubscribeSync(&replies_, connection_, (inbox_ + ".*").c_str());
    }
    // A window given up and the one sent again can both be answered.
    if (s == NATS_OK)
        s = natsSubscription_SetPendingLimits(replies_, 4 * options_.window + 1024, -1);
    if (s != NATS_OK) {
        LogLine(true, "Error! Publish: acknowledgement subscription refused: %s\n",
                natsStatus_GetText(s));
        return false;
    }
    return true;
}

void Publisher::TakeReplies() {
    for (;;) {
        natsMsg* msg = nullptr;
        const natsStatus s = natsSubscription_NextMsg(&msg, replies_, 0);
        // A slow consumer is said once, and the answers dropped are
        // missed acknowledgements: the window is sent again.
        if (s == NATS_SLOW_CONSUMER) continue;
        if (s != NATS_OK) break;
        TakeReply(msg);
        done_.push_back(msg);
    }
    DestroyDone();
}

void Publisher::DestroyDone() {
    // The library hands every message it frees to a thread of its own,
    // which it wakes when that thread waits: freed together, they wake it
    // once rather than once each.
    for (natsMsg* msg : done_) natsMsg_Destroy(msg);
    done_.clear();
}

bool Publisher::EnsureStream() {
    jsStreamInfo* info = nullptr;
    jsErrCode jerr = static_cast<jsErrCode>(0);
    natsStatus s = js_GetStreamInfo(&info, js_, options_.stream.c_str(), nullptr, &jerr);
    if (s == NATS_OK) {
        jsStreamInfo_Destroy(info);
        return true;
    }
    if (s != NATS_NOT_FOUND && jerr != JSStreamNotFoundErr) {
        LogLine(true, "Publish: stream %s cannot be looked up: %s (%d)\n", options_.stream.c_str(),
                natsStatus_GetText(s), static_cast<int>(jerr));
        return false;
    }
    const std::string subjects = options_.subjectPrefix + ".>";
    const char* subjectList[] = {subjects.c_str()};
    jsStreamConfig config;
    jsStreamConfig_Init(&config);
    config.Name = options_.stream.c_str();
    config.Subjects = subjectList;
    config.SubjectsLen = 1;
    config.Storage = js_FileStorage;
    config.Replicas = options_.replicas;
    config.Duplicates = static_cast<int64_t>(options_.duplicateWindow) * 1000000000LL;
    s = js_AddStream(&info, js_, &config, nullptr, &jerr);
    if (s == NATS_OK) {
        jsStreamInfo_Destroy(info);
        LogLine(true, "Publish: stream %s created for %s, %d replicas, duplicate window %d s\n",
                options_.stream.c_str(), subjects.c_str(), options_.replicas,
                options_.duplicateWindow);
        return true;
    }
    if (jerr == JSStreamNameExistErr) return true;  // another server made it meanwhile
    LogLine(true, "Publish: stream %s cannot be created: %s (%d)\n", options_.stream.c_str(),
            natsStatus_GetText(s), static_cast<int>(jerr));
    return false;
}

void Publisher::TakeReply(natsMsg* msg) {
    // "<inbox>.<flight number>"
    const std::string_view subject = natsMsg_GetSubject(msg);
    const std::string_view inbox = inbox_;
    if (subject.size() <= inbox.size() + 1 || subject.compare(0, inbox.size(), inbox) != 0) return;
    uint64_t number = 0;
    const char* digits = subject.data() + inbox.size() + 1;
    const auto [end, ec] = std::from_chars(digits, subject.data() + subject.size(), number);
    if (ec != std::errc() || end != subject.data() + subject.size()) return;

    Acknowledgement answer;
    if (natsMsg_IsNoResponders(msg))
        answer.failure = natsStatus_GetText(NATS_NO_RESPONDERS);
    else
        answer = ParseAcknowledgement(
            std::string_view(natsMsg_GetData(msg), static_cast<size_t>(natsMsg_GetDataLength(msg))));
    const bool ok = answer.ok;

    std::lock_guard<std::mutex> lock(mutex_);
    // Of a window given up already, or not one of ours.
    if (number < firstFlight_ || number - firstFlight_ >= flights_.size()) return;
    Flight& f = flights_[static_cast<size_t>(number - firstFlight_)];
    if (f.done) return;
    f.done = true;
    f.ok = ok;
    if (ok) {
        if (options_.keepAckTimes) ackTimes_.push_back(NowUs() - f.sentAtUs);
        if (answer.duplicate) ++duplicates_;
    } else if (!failed_) {
        failed_ = true;
        failure_ = answer.failure;
    }
}

void Publisher::Advance() {
    bool moved = false;
    Spool::Position upTo;
    while (!flights_.empty() && flights_.front().done && flights_.front().ok) {
        upTo = flights_.front().end;
        flights_.pop_front();
        ++firstFlight_;
        ++acknowledged_;
        window_ = std::min(window_ * 2, static_cast<size_t>(options_.window));
        moved = true;
    }
    if (moved) {
        spool_.Acknowledge(upTo);
        changed_.notify_all();
    }
}

void Publisher::Rewind(const char* why) {
    // The window is given up: answers that come later for its flights
    // are ignored, and its messages are sent again from the spool with the
    // same ids under new flight numbers.
    std::lock_guard<std::mutex> lock(mutex_);
    Advance();
    if (!flights_.empty())
        LogLine(true, "Publish: %zu records sent again from the spool: %s\n",
                flights_.size(), why);
    firstFlight_ += flights_.size();
    flights_.clear();
    failed_ = false;
    window_ = 1;
    sendAt_ = spool_.Cursor();
}

bool Publisher::SendBatch(size_t room) {
    Spool::Position at;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        at = sendAt_;
    }
    // The entries stay where they are in the spool until the cursor passes
    // them, and only this thread moves it.
    std::vector<Pending>& entries = batch_;
    entries.clear();
    std::string_view payload;
    while (entries.size() < room && spool_.Next(at, payload)) {
        if (entries.size() == messages_.size()) messages_.emplace_back();
        Pending& entry = entries.emplace_back(Pending{at, false});
        // Cannot fail for what Add() wrote; such an entry is skipped rather
        // than blocking everything behind it.
        entry.valid = DecodeMessage(payload, messages_[entries.size() - 1]);
    }
    if (entries.empty()) return false;
    uint64_t number;
    {
        // In the window, numbered, before they are published.
        std::lock_guard<std::mutex> lock(mutex_);
        number = firstFlight_ + flights_.size();
        const int64_t now = NowUs();
        for (const Pending& entry : entries)
            flights_.push_back({entry.end, now, !entry.valid, !entry.valid});
        sendAt_ = entries.back().end;
    }
    std::string& texts = texts_;
    for (size_t i = 0; i < entries.size(); ++i, ++number) {
        if (!entries[i].valid) continue;
        const MessageView& message = messages_[i];
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, number);
        reply_.assign(inbox_).push_back('.');
        reply_.append(digits, written.ptr);
        // The library wants texts that end in a zero byte.
        texts.clear();
        texts.append(message.subject).push_back('\0');
        for (const auto& [key, value] : message.headers) {
            texts.append(key).push_back('\0');
            texts.append(value).push_back('\0');
        }
        natsMsg* msg = nullptr;
        natsStatus s = natsMsg_Create(&msg, texts.c_str(), reply_.c_str(), message.body.data(),
                                      static_cast<int>(message.body.size()));
        const char* text = texts.c_str() + message.subject.size() + 1;
        for (const auto& [key, value] : message.headers) {
            const char* valueText = text + key.size() + 1;
            if (s == NATS_OK) s = natsMsgHeader_Set(msg, text, valueText);
            text = valueText + value.size() + 1;
        }
        if (s == NATS_OK) s = natsConnection_PublishMsg(connection_, msg);
        if (msg != nullptr) done_.push_back(msg);
        if (s != NATS_OK) {
            // The rest of the batch waits for the resend.
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failed_) {
                failed_ = true;
                failure_ = natsStatus_GetText(s);
            }
            break;
        }
    }
    DestroyDone();
    return true;
}

void Publisher::Run() {
    if (!Connect()) return;
    int64_t streamTriedAt = 0;
    bool justSent = false;
    while (!stopping_) {
        if (lostConnection_.exchange(false)) Rewind("the connection was lost");
        if (!connected_) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(100));
            continue;
        }
        if (!streamReady_) {
            if (NowUs() - streamTriedAt < 500000) {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait_for(lock, std::chrono::milliseconds(100));
                continue;
            }
            streamTriedAt = NowUs();
            streamReady_ = EnsureStream();
            continue;
        }
        TakeReplies();
        bool rewind = false;
        std::string why;
        size_t room;
        bool due;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Advance();
            if (failed_) {
                rewind = true;
                why = failure_;
            } else if (!flights_.empty() && !flights_.front().done &&
                       NowUs() - flights_.front().sentAtUs >
                           static_cast<int64_t>(options_.ackWaitMs) * 1000) {
                rewind = true;
                why = "no acknowledgement in time";
            }
            room = flights_.size() < window_ ? window_ - flights_.size() : 0;
            due = !flights_.empty();
        }
        if (rewind) {
            Rewind(why.c_str());
            continue;
        }
        if (room > 0 && SendBatch(room)) {
            justSent = true;
            continue;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (room > 0 && justSent) {
            // While records keep coming, the sender looks again shortly
            // rather than being woken for each: it sends them in batches.
            justSent = false;
            changed_.wait_for(lock, std::chrono::milliseconds(kBatchWaitMs));
            continue;
        }
        if (room > 0) {
            // Nothing to send: woken by the next Add(). The spool is looked
            // at once more after saying so, for one added meanwhile.
            senderWaiting_ = true;
            Spool::Position at = sendAt_;
            std::string_view next;
            if (spool_.Next(at, next)) {
                senderWaiting_ = false;
                continue;
            }
        }
        // Acknowledgements are looked for every millisecond while some are
        // due, a new record is sent at once.
        changed_.wait_for(lock, std::chrono::milliseconds(due ? kBatchWaitMs : 20));
        senderWaiting_ = false;
    }
    // What has been answered by now is not sent again at the next start.
    if (connected_ && streamReady_) TakeReplies();
    std::lock_guard<std::mutex> lock(mutex_);
    Advance();
}

}  // namespace morvane
