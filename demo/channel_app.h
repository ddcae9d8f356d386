// The client side of the demo session: CChannelApp asks a server on this
// machine for the record size of schema 1, fetches the record, and writes it
// three times into the session file "Record.xml". Everything after the first
// request is driven from OnReceive(), one answer at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "channel/channel.h"

namespace morvane {

constexpr int32_t kDemoPort = 25000;
constexpr int32_t kDemoSchemaId = 1;
constexpr int kDemoWrites = 3;
inline constexpr char kDemoServerAddress[] = "127.0.0.1";
inline constexpr char kDemoSessionName[] = "Record.xml";

class CChannelApp : public CChannel {
  public:
    ~CChannelApp() override { Stop(); }

    // The main sequence: initialises the channel as a TCP client of
    // address:port (a dotted IPv4 address), waits for the connection (at
    // most connectTimeoutMs; kInfinite waits for ever) and sends the size
    // request. false when no connection came in time; nothing was sent then.
    bool Begin(int32_t port, uint32_t connectTimeoutMs,
               const char* address = kDemoServerAddress);

    void OnMessage(const uint8_t*, int32_t) override {}
    void OnConnection() override;
    void OnError(int32_t code) override;
    void OnReceive() override;
    void Run() override {}

    // The answer handlers; length is the frame's length field, already
    // checked against the frame buffer.
    void Processing_MsgCommAnswerSize(int32_t length);
    void Processing_MsgCommAnswerReadXml(int32_t length);

  private:
    // Reads the body behind the header; false after a failed read, when the
    // channel has reconnected.
    bool ReceiveBody(int32_t length);
    unsigned Address() const;

    // The record of the last size answer; a new one for every answer.
    std::vector<uint8_t> record_;
    bool haveRecordSize_ = false;
};

}  // namespace morvane
