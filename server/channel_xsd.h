// CChannelXsd: the server side of the client protocol (frames and message
// ids: channel/messages.h), and the server thread that starts it.
//
// The channel is a TCP server that serves one client at a time. Its receive
// thread runs OnReceive() in a loop: one frame per call, read into the frame
// buffer, answered (size and read requests only) from the same buffer. When a
// read fails, or a frame cannot be followed, the client is dropped and the
// next one awaited; the session file stays open for it.
//
// The frame buffer (kFrameBufferSize bytes) as the handlers use it; frame
// layouts in channel/messages.h:
//
//    0       4        8           12                                  100012
//    +-------+--------+-----------+-------------------------------------+
//    |  id   | length | schema id | record area: the record, then zeros |
//    +-------+--------+-----------+-------------------------------------+
//                     | open session: file name and its zero byte      |
//
// A request is read over the previous frame; the size and read answers are
// built over the request.
//
// Session file: the registry's writer, one for the whole server. Every use of
// it takes the registry's WriterMutex(), because the shutdown path finishes
// the file from the main thread.
#pragma once

#include <cstdint>
#include <string>

#include "channel/channel.h"
#include "server/data_file_cache.h"

namespace morvane {

class Schema;
class SchemaRegistry;

class CChannelXsd : public CChannel {
  public:
    // registry must outlive the channel. programDirectory: where the fixed
    // data directory "Xml_Data" is looked up (once, here). Takes the trace
    // flag of the log binding.
    CChannelXsd(SchemaRegistry& registry, const std::string& programDirectory);
    ~CChannelXsd() override;

    // Initialises the channel as the TCP server on port with the server's
    // parameters; the connect thread then waits for the first client.
    bool Start(int32_t port);

    void OnMessage(const uint8_t*, int32_t) override {}
    void OnConnection() override {}
    void OnError(int32_t code) override;
    void OnReceive() override;
    void Run() override {}

    // The request handlers. length is the frame's length field, already
    // known to fit the frame buffer; the header stands at offset 0.
    void Processsing_MsgCommSize(int32_t length);
    void Processsing_MsgCommReadXml(int32_t length);
    void ProcessingOpenSession(int32_t length);
    void ProcessingCloseSession(int32_t length);
    void Processsing_MsgCommWriteXml(int32_t length);

  private:
    // Reads length - 8 body bytes to offset 8. On failure logs the handler's
    // reconnection line, waits for the next client and returns false.
    bool ReceiveBody(const char* handler, int32_t length);
    // Reads a body that no handler uses; false after a reconnection.
    bool SkipBody(int32_t length);
    // Reads the body of a request that begins with a schema id and finds
    // that schema. Null, logged, when the read failed (the next client is
    // connected then), the body holds no schema id, no schema has it, or,
    // with needsRecord, its record cannot travel in a frame.
    Schema* ReceiveRequest(const char* handler, int32_t length, bool needsRecord);
    void SendAnswer(const char* handler, int32_t length);
    unsigned Address() const;

    SchemaRegistry& registry_;
    bool trace_;
    std::string dataDirectory_;
    DataFileCache readCache_;
    // Records handed to the writer since the process started; never reset,
    // so record numbers run on across sessions and clients.
    int32_t recordCounter_ = 0;
    // Bytes of the frame buffer from here on are zero: a read answer carries
    // its whole record area, which must not show bytes of earlier frames
    // (another client's records).
    int32_t dirtyEnd_ = 0;
    // The log lines of a traced read, kept so that their memory is reused.
    std::string readLines_;
};

// The server thread: creates the process's CChannelXsd on port and returns
// 1. The channel lives until the process ends.
int ServerThread(SchemaRegistry* registry, int32_t port);

// Starts ServerThread() on a thread of its own, which ends at once.
void StartServerThread(SchemaRegistry& registry, int32_t port);

}  // namespace morvane
