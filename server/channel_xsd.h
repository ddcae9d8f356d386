// CChannelXsd: the server side of the client protocol (frames and message
// ids: channel/messages.h), and the server thread that starts it.
//
// The channel is a TCP server that serves one client at a time. Its receive
// thread runs OnReceive() in a loop: one frame per call, read into the frame
// buffer, answered (size and read requests only) from the same buffer. When a
// read fails, or a frame cannot be followed, the client is dropped and the
// next one, which may be waiting already, is served; the session file stays
// open for it. For several clients at once, CChannelXsdPool (client_pool.h)
// hands each client to a CChannelXsd of its own (Serve()).
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
// Session file: with one client at a time, the registry's writer, one for
// the whole server, kept open from one client to the next. Every use of it
// takes the registry's WriterMutex(), because the shutdown path finishes the
// file from the main thread. A channel that serves one of several clients
// at once (CChannelXsdPool) has a session file of its own instead, entered
// by name in the registry's SessionTable while it is open and finished when
// the client leaves.
//
// Record numbers come from the registry's SessionTable: they run on across
// sessions and clients.
//
// Status: each connection counts the records it has written and keeps the
// failures of its requests (the first kMaxListedFailures with their texts,
// a count of all of them) until its next status request, which answers
// them and starts the counts afresh. A new client starts with none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "channel/channel.h"
#include "server/config/configuration.h"
#include "server/data_file_cache.h"

namespace morvane {

class CXmlWriter;
class Schema;
class SchemaRegistry;
struct ClientSession;

class CChannelXsd : public CChannel {
  public:
    // registry must outlive the channel. programDirectory: where the fixed
    // data directory "Xml_Data" is looked up (once, here). Takes the trace
    // flag of the log binding. ownSession: the channel serves one of
    // several clients at once and keeps a session file of its own.
    CChannelXsd(SchemaRegistry& registry, const std::string& programDirectory,
                bool ownSession = false);
    ~CChannelXsd() override;

    // Initialises the channel as the TCP server on port with the server's
    // parameters; the connect thread then waits for the first client.
    bool Start(int32_t port);
    // Serves the client connected on fd (Adopt()); onEnd runs on the
    // channel's receive thread once the client has gone.
    bool Serve(int fd, std::function<void()> onEnd);
    // Finishes the channel's own session file if one is open (the client
    // has left without closing it). Nothing for the registry's writer.
    void FinishSession();
    // The bound of data files read for read requests (General/MaxDataFileMB).
    void SetMaxDataFileMB(int32_t megabytes) { maxDataFileMB_ = megabytes; }

    void OnMessage(const uint8_t*, int32_t) override {}
    // A new client: the status counts start afresh.
    void OnConnection() override;
    void OnError(int32_t code) override;
    void OnAcceptPaused(int err) override;
    void OnReceive() override;
    void Run() override {}

    // The request handlers. length is the frame's length field, already
    // known to fit the frame buffer; the header stands at offset 0.
    void Processsing_MsgCommSize(int32_t length);
    void Processsing_MsgCommReadXml(int32_t length);
    void ProcessingOpenSession(int32_t length);
    void ProcessingCloseSession(int32_t length);
    void Processsing_MsgCommWriteXml(int32_t length);
    void ProcessingStatus(int32_t length);

  private:
    // One failed request, as a status answer reports it.
    struct Failure {
        int32_t code;
        int32_t schemaId;  // of the request; 0 when it had none
        std::string text;
    };
    // Notes a failure for the next status answer. text: the line the
    // server logged (or would log) about it, without its line end.
    void NoteFailure(int32_t code, int32_t schemaId, std::string text);
    // Logs the line (as an error line when error is set, else as a trace
    // line) and notes it as a failure.
    void Fail(int32_t code, int32_t schemaId, bool error, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    uint64_t FingerprintOf(const Schema& schema);

    // Reads one frame and handles it (OnReceive() without its guard).
    void ReceiveFrame();
    // Reads length - 8 body bytes to offset 8. On failure logs the handler's
    // reconnection line, waits for the next client and returns false.
    bool ReceiveBody(const char* handler, int32_t length);
    // Reads a body that no handler uses; false after a reconnection.
    bool SkipBody(int32_t length);
    // Reads the body of a request that begins with a schema id and finds
    // that schema. Null, logged, when the read failed (the next client is
    // connected then), the body holds no schema id, no schema has it, or,
    // with needsRecord, its record cannot travel in a frame.
    // Each refusal is noted as a failure of the request.
    Schema* ReceiveRequest(const char* handler, int32_t length, bool needsRecord);
    // Sends the answer of length bytes from the frame buffer. On failure
    // the reason goes to *lines (logged when lines is null) and false is
    // returned: the caller then drops the client (DropClient()), which
    // has gone or does not take its answers.
    bool SendAnswer(const char* handler, int32_t length, std::string* lines);
    void DropClient(const char* handler);
    // Logs why a read failed when the client sent nothing for the idle time.
    void NoteIdle(const char* handler) const;
    unsigned Address() const;

    // The session file this channel writes and the mutex its users hold.
    std::mutex& SessionMutex();
    CXmlWriter& SessionWriter();
    // Closes the session file (open, with the mutex held) and gives up its name.
    bool CloseSessionFile();

    SchemaRegistry& registry_;
    bool trace_;
    std::string dataDirectory_;
    DataFileCache readCache_;
    std::shared_ptr<ClientSession> ownSession_;  // null: the registry's writer
    // The name of the registry's session file while this channel has it
    // open (for the published records).
    std::string sessionName_;
    // Bytes of the frame buffer from here on are zero: a read answer carries
    // its whole record area, which must not show bytes of earlier frames
    // (another client's records).
    int32_t dirtyEnd_ = 0;
    // The log lines of a traced read, kept so that their memory is reused.
    std::string readLines_;

    // Since the last status answer: records written, failures of every
    // kind (saturating) and the first of them.
    int32_t written_ = 0;
    int32_t failureCount_ = 0;
    std::vector<Failure> failures_;
    std::vector<uint8_t> statusAnswer_;
    std::unordered_map<const Schema*, uint64_t> fingerprints_;
    int32_t maxDataFileMB_ = kDefaultMaxDataFileMB;
};

// A status answer lists this many failures; the rest are only counted.
constexpr int kMaxListedFailures = 16;
// A failure's text is cut at this many bytes.
constexpr size_t kMaxFailureText = 1024;

// Bytes allowed per value line of a data file in DataFileBound(): far more
// than any line the writer gives a field (indent, names, type and value).
constexpr int64_t kDataFileBytesPerField = 1024;

// The largest data file a read request reads for schema: maxDataFileMB
// MiB, or what the schema's fields take at kDataFileBytesPerField each
// (with 64 KiB for the lines around them) when that is more.
int64_t DataFileBound(const Schema& schema, int32_t maxDataFileMB);

// Logs that accept() failed with err and is tried again (always).
void LogAcceptPaused(int err);

// What the server thread needs of the configuration.
struct ServerSettings {
    int32_t port = 25000;
    int32_t maxClients = 1;   // above 1: a CChannelXsdPool serves that many at once
    int32_t idleTimeout = 0;  // seconds; 0: never
    // Where the fixed "Xml_Data" folder of data and session files is looked
    // up: the archive directory. Empty: the registry's program directory.
    std::string dataRoot;
    int32_t maxDataFileMB = kDefaultMaxDataFileMB;
};

// The server thread: creates the process's CChannelXsd (or, for several
// clients at once, its CChannelXsdPool) on the port and returns 1. The
// channel lives until the process ends.
int ServerThread(SchemaRegistry* registry, const ServerSettings& settings);

// Starts ServerThread() on a thread of its own, which ends at once.
void StartServerThread(SchemaRegistry& registry, const ServerSettings& settings);

}  // namespace morvane
