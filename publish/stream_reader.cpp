#include "publish/stream_reader.h"

#include <nats/nats.h>

#include <cstdlib>

#include "publish/message.h"

namespace morvane {
namespace {

// Closes what it holds when the read ends, however it ends.
struct Handles {
    natsOptions* options = nullptr;
    natsConnection* connection = nullptr;
    jsCtx* js = nullptr;
    natsSubscription* subscription = nullptr;
    jsStreamInfo* info = nullptr;
    ~Handles() {
        if (info != nullptr) jsStreamInfo_Destroy(info);
        if (subscription != nullptr) {
            natsSubscription_Unsubscribe(subscription);
            natsSubscription_Destroy(subscription);
        }
        if (js != nullptr) jsCtx_Destroy(js);
        if (connection != nullptr) {
            natsConnection_Close(connection);
            natsConnection_Destroy(connection);
        }
        if (options != nullptr) natsOptions_Destroy(options);
    }
};

std::string Failed(const char* what, natsStatus s) {
    std::string text = std::string(what) + ": " + natsStatus_GetText(s);
    const char* last = nats_GetLastError(nullptr);
    if (last != nullptr && *last != '\0') text += std::string(" (") + last + ")";
    return text;
}

}  // namespace

std::string InMessage::Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (key == name) return value;
    return "";
}

bool ReadStream(const std::string& urls, const std::string& stream,
                const std::function<bool(const InMessage&)>& each, std::string& error,
                int timeoutMs) {
    Handles h;
    natsStatus s = natsOptions_Create(&h.options);
    std::vector<std::string> list = SplitUrls(urls);
    std::vector<const char*> servers;
    for (const std::string& u : list) servers.push_back(u.c_str());
    if (s == NATS_OK)
        s = natsOptions_SetServers(h.options, servers.data(), static_cast<int>(servers.size()));
    if (s == NATS_OK) s = natsOptions_SetTimeout(h.options, timeoutMs);
    if (s == NATS_OK) s = natsOptions_SetMaxReconnect(h.options, -1);
    if (s == NATS_OK) s = natsOptions_SetReconnectWait(h.options, 200);
    if (s == NATS_OK) s = natsConnection_Connect(&h.connection, h.options);
    if (s != NATS_OK) {
        error = Failed(("the broker " + urls + " cannot be reached").c_str(), s);
        return false;
    }
    jsOptions jo;
    jsOptions_Init(&jo);
    jo.Wait = timeoutMs;
    if ((s = natsConnection_JetStream(&h.js, h.connection, &jo)) != NATS_OK) {
        error = Failed("JetStream", s);
        return false;
    }
    jsErrCode jerr = static_cast<jsErrCode>(0);
    if ((s = js_GetStreamInfo(&h.info, h.js, stream.c_str(), nullptr, &jerr)) != NATS_OK) {
        error = Failed(("the stream " + stream + " cannot be read").c_str(), s);
        return false;
    }
    const uint64_t last = h.info->State.LastSeq;
    if (h.info->State.Msgs == 0) return true;
    const char* subject =
        h.info->Config != nullptr && h.info->Config->SubjectsLen > 0 ? h.info->Config->Subjects[0] : ">";
    jsSubOptions so;
    jsSubOptions_Init(&so);
    so.Stream = stream.c_str();
    so.Ordered = true;
    so.Config.DeliverPolicy = js_DeliverAll;
    // A cluster that has just lost or regained a node may take a while to
    // place the consumer: tried three times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        s = js_SubscribeSync(&h.subscription, h.js, subject, &jo, &so, &jerr);
        if (s != NATS_TIMEOUT) break;
    }
    if (s != NATS_OK) {
        error = Failed(("the stream " + stream + " cannot be subscribed").c_str(), s);
        return false;
    }
    for (;;) {
        natsMsg* msg = nullptr;
        s = natsSubscription_NextMsg(&msg, h.subscription, timeoutMs);
        if (s != NATS_OK) {
            error = Failed(("the stream " + stream + " stopped before its last message").c_str(), s);
            return false;
        }
        InMessage m;
        jsMsgMetaData* meta = nullptr;
        if (natsMsg_GetMetaData(&meta, msg) == NATS_OK) {
            m.sequence = meta->Sequence.Stream;
            jsMsgMetaData_Destroy(meta);
        }
        m.subject = natsMsg_GetSubject(msg);
        m.body.assign(natsMsg_GetData(msg), static_cast<size_t>(natsMsg_GetDataLength(msg)));
        const char** keys = nullptr;
        int count = 0;
        if (natsMsgHeader_Keys(msg, &keys, &count) == NATS_OK) {
            for (int i = 0; i < count; ++i) {
                const char* value = nullptr;
                if (natsMsgHeader_Get(msg, keys[i], &value) == NATS_OK && value != nullptr)
                    m.headers.emplace_back(keys[i], value);
            }
            std::free(static_cast<void*>(keys));
        }
        natsMsg_Destroy(msg);
        if (!each(m)) return true;
        if (m.sequence >= last) return true;
    }
}

}  // namespace morvane
