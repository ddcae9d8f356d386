#include "server/channel_xsd.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "channel/messages.h"
#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "convert/print_data.h"
#include "logging/log.h"
#include "schema/fingerprint.h"
#include "schema/schema.h"
#include "server/client_pool.h"
#include "server/record_publisher.h"
#include "server/registry.h"
#include "server/startup.h"

namespace morvane {
namespace {

constexpr char kOnReceive[] = "CChannelXsd::OnReceive";
constexpr char kSize[] = "CChannelXsd::Processsing_MsgCommSize";
constexpr char kReadXml[] = "CChannelXsd::Processsing_MsgCommReadXml";
constexpr char kOpenSession[] = "CChannelXsd::ProcessingOpenSession";
constexpr char kCloseSession[] = "CChannelXsd::ProcessingCloseSession";
constexpr char kWriteXml[] = "CChannelXsd::Processsing_MsgCommWriteXml";
constexpr char kStatus[] = "CChannelXsd::ProcessingStatus";

// Paths are held in fixed buffers of this width: at most 259 characters and
// the terminating zero.
constexpr size_t kPathWidth = 260;


// True when name (length bytes) is that of a file the server reads or
// appends to beside the session files: a schema's data file, "*_dataR.xml"
// or "*_dataW.xml", or the print-data plug-in's "FormattedOutput.log", in
// any letter case. A session over one of them would destroy it.
bool IsServerDataFileName(const char* name, size_t length) {
    auto endsWith = [&](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return length >= n && strncasecmp(name + length - n, suffix, n) == 0;
    };
    static constexpr char kPrintDataOutput[] = "FormattedOutput.log";
    return endsWith("_dataR.xml") || endsWith("_dataW.xml") ||
           (length == sizeof kPrintDataOutput - 1 && endsWith(kPrintDataOutput));
}

// Why a session file name from the network is refused, or null when it may
// be used. body holds the name and its terminating zero; directory is where
// the file would be created.
const char* RefuseSessionName(const uint8_t* body, int32_t bodyLength,
                              const std::string& directory) {
    const auto* end =
        static_cast<const uint8_t*>(std::memchr(body, 0, static_cast<size_t>(bodyLength)));
    if (end == nullptr) return "it has no terminating zero";
    if (end == body) return "it is empty";
    if (body[0] == '.') return "it begins with '.'";
    for (const uint8_t* p = body; p != end; ++p) {
        if (*p == '/' || *p == '\\' || *p < 0x20 || *p == 0x7F)
            return "it holds '/', '\\' or a control character";
    }
    if (IsServerDataFileName(reinterpret_cast<const char*>(body), static_cast<size_t>(end - body)))
        return "it is the name of a data file";
    // directory, a separator and the name.
    if (directory.size() + 1 + static_cast<size_t>(end - body) >= kPathWidth)
        return "the path would be longer than 259 characters";
    return nullptr;
}

}  // namespace

CChannelXsd::CChannelXsd(SchemaRegistry& registry, const std::string& programDirectory,
                         bool ownSession)
    : registry_(registry),
      trace_(TraceEnabled()),
      dataDirectory_(FixedXmlDataDirectory(programDirectory)),
      ownSession_(ownSession ? std::make_shared<ClientSession>() : nullptr) {}

CChannelXsd::~CChannelXsd() { Stop(); }

bool CChannelXsd::Start(int32_t port) {
    CHANNEL_PARAMS params = AppXsdTcpParams(kRoleServer, port, nullptr);
    return Init(params.channelName, "Xsd", params);
}

bool CChannelXsd::Serve(int fd, std::function<void()> onEnd) {
    CHANNEL_PARAMS params = AppXsdTcpParams(kRoleServer, 0, nullptr);
    return Adopt(params.channelName, "Xsd", params, fd, std::move(onEnd));
}

std::mutex& CChannelXsd::SessionMutex() {
    return ownSession_ ? ownSession_->mutex : registry_.WriterMutex();
}

CXmlWriter& CChannelXsd::SessionWriter() {
    return ownSession_ ? ownSession_->writer : registry_.Writer();
}

bool CChannelXsd::CloseSessionFile() {
    const bool closed = CloseRootFile(SessionWriter());
    if (ownSession_) {
        registry_.Sessions().Release(ownSession_->name, ownSession_.get());
        ownSession_->name.clear();
    }
    return closed;
}

void CChannelXsd::FinishSession() {
    if (!ownSession_) return;
    std::string name;
    {
        std::lock_guard<std::mutex> lock(ownSession_->mutex);
        if (!ownSession_->writer.IsOpen()) return;
        name = ownSession_->name;
        CloseSessionFile();
    }
    LogLine(trace_, "Xsd Server %s the client left, session file %s finished\n", kOnReceive,
            name.c_str());
}

void CChannelXsd::NoteIdle(const char* handler) const {
    const int err = LastSocketError();
    if (FrameExpired())
        LogLine(true,
                "Xsd Server %s the client did not complete its frame within %d s and is "
                "dropped\n",
                handler, IdleTimeout());
    else if (IdleTimeout() > 0 && (err == EAGAIN || err == EWOULDBLOCK))
        LogLine(true, "Xsd Server %s the client sent nothing for %d s and is dropped\n", handler,
                IdleTimeout());
}

unsigned CChannelXsd::Address() const {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(this));
}

void CChannelXsd::OnConnection() {
    written_ = 0;
    failureCount_ = 0;
    failures_.clear();
}

void CChannelXsd::NoteFailure(int32_t code, int32_t schemaId, std::string text) {
    if (failureCount_ < INT32_MAX) ++failureCount_;
    if (failures_.size() >= static_cast<size_t>(kMaxListedFailures)) return;
    if (text.size() > kMaxFailureText) text.resize(kMaxFailureText);
    failures_.push_back({code, schemaId, std::move(text)});
}

void CChannelXsd::Fail(int32_t code, int32_t schemaId, bool error, const char* format, ...) {
    char line[kMaxFailureText + 2];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) return;
    // Lines longer than the buffer (a long path) are formatted again whole
    // for the log; the failure keeps the first kMaxFailureText bytes.
    if (static_cast<size_t>(n) >= sizeof line) {
        std::string whole(static_cast<size_t>(n) + 1, '\0');
        va_start(args, format);
        std::vsnprintf(whole.data(), whole.size(), format, args);
        va_end(args);
        whole.pop_back();
        LogLine(error || trace_, "%s", whole.c_str());
    } else {
        LogLine(error || trace_, "%s", line);
    }
    std::string text(line, std::min(static_cast<size_t>(n), sizeof line - 1));
    while (!text.empty() && text.back() == '\n') text.pop_back();
    NoteFailure(code, schemaId, std::move(text));
}

void CChannelXsd::OnError(int32_t code) {
    LogLine(trace_, "CChannelXsd::OnError  this=0x%X  err=%d\n", Address(), code);
}

void CChannelXsd::OnAcceptPaused(int err) { LogAcceptPaused(err); }

void LogAcceptPaused(int err) {
    LogLine(true,
            "Error %s accept failed err=%d (%s): waiting clients stay queued, accept is tried "
            "again every %d ms\n",
            kOnReceive, err, std::strerror(err), CChannel::kAcceptRetryMs);
}

void CChannelXsd::OnReceive() {
    // A request that cannot have the memory it needs is refused; the
    // server and its other clients go on. Every request's body has been
    // read before anything is allocated for it, so the next header is read
    // from the right place.
    try {
        ReceiveFrame();
    } catch (const std::bad_alloc&) {
        LogLine(true, "Error %s out of memory, the request is refused\n", kOnReceive);
    } catch (const std::exception& e) {
        LogLine(true, "Error %s the request is refused: %s\n", kOnReceive, e.what());
    }
}

void CChannelXsd::ReceiveFrame() {
    BeginFrame();
    uint8_t* frame = FrameBuffer();
    if (!ReceiveData(frame, kFrameHeaderSize)) {
        NoteIdle(kOnReceive);
        LogLine(trace_, "CChannelXsd::OnReceive %s Reconnection err=%d\n", kOnReceive,
                LastSocketError());
        Reconnect();
        return;
    }
    const MSG_COMM_HEADER header = ReadFrameHeader(frame);
    LogLine(trace_, "CChannelXsd::OnReceive %s id=%d length=%d\n", kOnReceive, header.id,
            header.length);
    if (!FrameLengthFits(header.length, FrameBufferSize())) {
        // Past a length that cannot be read the stream cannot be followed:
        // drop this client and wait for the next.
        LogLine(true,
                "Error %s id=%d length=%d does not fit the frame buffer of %d bytes, "
                "Reconnection\n",
                kOnReceive, header.id, header.length, FrameBufferSize());
        Reconnect();
        return;
    }
    switch (header.id) {
        case MSG_COMM_SIZE:
            Processsing_MsgCommSize(header.length);
            break;
        case MSG_COMM_READ_XML:
            Processsing_MsgCommReadXml(header.length);
            break;
        case MSG_COMM_OPEN_SESSION:
            ProcessingOpenSession(header.length);
            break;
        case MSG_COMM_CLOSE_SESSION:
            ProcessingCloseSession(header.length);
            break;
        case MSG_COMM_WRITE_XML:
            Processsing_MsgCommWriteXml(header.length);
            break;
        case MSG_COMM_STATUS:
            ProcessingStatus(header.length);
            break;
        default:
            // Read past the body, so that the next header is read from the
            // right place.
            if (SkipBody(header.length))
                LogLine(trace_, "Xsd Server %s id=%d has no handler, %d body bytes skipped\n",
                        kOnReceive, header.id, header.length - kFrameHeaderSize);
            break;
    }
}

bool CChannelXsd::ReceiveBody(const char* handler, int32_t length) {
    // A read that fails half-way has filled part of the body all the same.
    dirtyEnd_ = std::max(dirtyEnd_, length);
    // A request without the body it needs counts as a failed read: a
    // receive of 0 bytes fails as a closed peer would (without waiting for
    // the next bytes of the stream).
    if (!ReceiveData(FrameBuffer() + kFrameHeaderSize, length - kFrameHeaderSize)) {
        NoteIdle(handler);
        LogLine(trace_, "Xsd Server %s Reconnection\n", handler);
        Reconnect();
        return false;
    }
    return true;
}

bool CChannelXsd::SkipBody(int32_t length) {
    return length == kFrameHeaderSize || ReceiveBody(kOnReceive, length);
}

Schema* CChannelXsd::ReceiveRequest(const char* handler, int32_t length, bool needsRecord) {
    if (!ReceiveBody(handler, length)) return nullptr;
    // A write that cannot be taken is one of the wrong length; a read whose
    // record cannot travel is one whose data could not be read.
    const bool write = handler == kWriteXml;
    if (length < kSchemaIdOffset + 4) {
        Fail(write ? MSG_COMM_FAIL_WRITE_LENGTH : MSG_COMM_FAIL_UNKNOWN_SCHEMA, 0, true,
             "Error %s length=%d is too short for a schema id\n", handler, length);
        return nullptr;
    }
    const int32_t id = GetInt32(FrameBuffer() + kSchemaIdOffset);
    Schema* schema = registry_.FindSchema(id);
    if (schema == nullptr) {
        Fail(MSG_COMM_FAIL_UNKNOWN_SCHEMA, id, false, "Xsd Server %s Schema_id=%d is absent\n",
             handler, id);
        return nullptr;
    }
    const int32_t recordArea = FrameBufferSize() - kRecordOffset;
    if (needsRecord && schema->Size() > recordArea) {
        Fail(write ? MSG_COMM_FAIL_WRITE_LENGTH : MSG_COMM_FAIL_DATA_FILE, id, true,
             "Error %s Schema_id=%d record size %d exceeds the record area of %d bytes\n",
             handler, id, schema->Size(), recordArea);
        return nullptr;
    }
    return schema;
}

// Appends a formatted line to lines, or logs it when lines is null.
static void LineTo(std::string* lines, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
static void LineTo(std::string* lines, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (lines == nullptr) {
        LogLineV(true, format, args);
    } else {
        char line[PATH_MAX + 128];
        int n = std::vsnprintf(line, sizeof line, format, args);
        if (n > 0) lines->append(line, std::min(static_cast<size_t>(n), sizeof line - 1));
    }
    va_end(args);
}

bool CChannelXsd::SendAnswer(const char* handler, int32_t length, std::string* lines) {
    if (SendData(FrameBuffer(), length) == length) return true;
    const int err = LastSocketError();
    LineTo(lines, "Error %s the answer was not sent err=%d\n", handler, err);
    // A client that takes nothing of its answer would hold the server.
    if (err == EAGAIN || err == EWOULDBLOCK)
        LineTo(lines, "Xsd Server %s the client took nothing of its answer for %d s and is dropped\n",
               handler, SendStallSeconds());
    return false;
}

void CChannelXsd::DropClient(const char* handler) {
    LogLine(trace_, "Xsd Server %s Reconnection\n", handler);
    Reconnect();
}

void CChannelXsd::Processsing_MsgCommSize(int32_t length) {
    const Schema* schema = ReceiveRequest(kSize, length, false);
    if (schema == nullptr) return;
    uint8_t* frame = FrameBuffer();
    WriteFrameHeader(frame, MSG_COMM_ANSWER_SIZE, kAnswerSizeLength);
    PutInt32(frame + kRecordSizeOffset, schema->Size());
    const bool sent = SendAnswer(kSize, kAnswerSizeLength, nullptr);
    LogLine(trace_, "Xsd Server MSG_COMM_SIZE MSG_COMM_ANSWER_SIZE\n");
    if (!sent) DropClient(kSize);
}

void CChannelXsd::Processsing_MsgCommReadXml(int32_t length) {
    const Schema* schema = ReceiveRequest(kReadXml, length, true);
    if (schema == nullptr) return;

    char path[PATH_MAX];
    int n = std::snprintf(path, sizeof path, "%s/%s_dataR.xml", dataDirectory_.c_str(),
                          schema->name.c_str());
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
        Fail(MSG_COMM_FAIL_DATA_FILE, schema->id, true,
             "Error %s the data file path of %s is too long\n", kReadXml, schema->name.c_str());
        return;
    }
    // The reader takes a missing file for a record without values; the
    // status answer tells the client so.
    struct stat st {};
    const bool absent = ::stat(path, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);

    // The record starts as the bytes the request carried; what it did not
    // carry is zero, as is the rest of the record area.
    uint8_t* frame = FrameBuffer();
    const int32_t recordEnd = kRecordOffset + schema->Size();
    const int32_t carriedEnd = std::max(length, recordEnd);
    if (length < recordEnd) std::memset(frame + length, 0, static_cast<size_t>(recordEnd - length));
    if (dirtyEnd_ > carriedEnd)
        std::memset(frame + carriedEnd, 0, static_cast<size_t>(dirtyEnd_ - carriedEnd));
    dirtyEnd_ = carriedEnd;

    // With the trace flag on, every read gives the reader's trace lines
    // (the cache keeps them with the values of an unchanged file). They and
    // this handler's lines are collected and logged in one call once the
    // answer has gone, in the order they would have been logged one by one.
    std::string* lines = nullptr;
    if (trace_) {
        lines = &readLines_;
        lines->clear();
    }
    const int64_t bound = DataFileBound(*schema, maxDataFileMB_);
    const bool read =
        readCache_.Read(*schema, path, frame + kRecordOffset, schema->Size(), lines, bound);
    if (readCache_.RefusedSize() >= 0) {
        LineTo(lines,
               "Error %s data file %s holds %lld bytes, more than the %lld bytes allowed "
               "(MaxDataFileMB)\n",
               kReadXml, path, static_cast<long long>(readCache_.RefusedSize()),
               static_cast<long long>(bound));
    }
    bool sent = true;
    if (read) {
        WriteFrameHeader(frame, MSG_COMM_ANSWER_READ_XML, kAnswerReadXmlLength);
        sent = SendAnswer(kReadXml, kAnswerReadXmlLength, lines);
        if (trace_) LineTo(lines, "Xsd Server MSG_COMM_READ_XML MSG_COMM_ANSWER_READ_XML\n");
    } else {
        LineTo(lines, "Error %s problems reading file %s\n", kReadXml, path);
    }
    if (lines != nullptr && !lines->empty()) {
        if (PrintfDebFn log = LogFunction()) log(LogHandle(), true, "%s", lines->c_str());
    }
    if (!read) {
        NoteFailure(MSG_COMM_FAIL_DATA_FILE, schema->id,
                    std::string("Error ") + kReadXml + " problems reading file " + path);
    } else if (absent) {
        NoteFailure(MSG_COMM_FAIL_NO_DATA_FILE, schema->id,
                    std::string("Xsd Server ") + kReadXml + " no data file " + path +
                        ", the record sent holds no values of it");
    }
    // The lines of a large file are not worth keeping for the next read.
    if (readLines_.capacity() > kKeptReadBytes) std::string().swap(readLines_);
    if (!sent) DropClient(kReadXml);
}

int64_t DataFileBound(const Schema& schema, int32_t maxDataFileMB) {
    const int64_t configured = static_cast<int64_t>(std::max(maxDataFileMB, 1)) << 20;
    return std::max(configured, schema.fields * kDataFileBytesPerField + (int64_t{64} << 10));
}

void CChannelXsd::ProcessingOpenSession(int32_t length) {
    if (!ReceiveBody(kOpenSession, length)) return;
    const uint8_t* body = FrameBuffer() + kSessionNameOffset;
    if (const char* reason = RefuseSessionName(body, length - kSessionNameOffset, dataDirectory_)) {
        // The name itself may hold anything; it is not written to the log.
        Fail(MSG_COMM_FAIL_NAME_REFUSED, 0, true, "Error %s session file name refused: %s\n",
             kOpenSession, reason);
        return;
    }
    const char* name = reinterpret_cast<const char*>(body);
    char path[kPathWidth];
    std::snprintf(path, sizeof path, "%s/%s", dataDirectory_.c_str(), name);

    {
        std::lock_guard<std::mutex> lock(SessionMutex());
        if (SessionWriter().IsOpen()) {
            CloseSessionFile();
            LogLine(trace_, "Xsd Server %s the open session file is finished first\n",
                    kOpenSession);
        }
        // With several clients at once, a file is written by one of them only.
        if (ownSession_ && !registry_.Sessions().Claim(name, ownSession_)) {
            Fail(MSG_COMM_FAIL_NAME_TAKEN, 0, true,
                 "Error %s session file %s is open by another client\n", kOpenSession, path);
            return;
        }
        // Created by name inside the data directory only, never through a
        // symbolic link.
        int dirFd = ::open(dataDirectory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool opened = false;
        if (dirFd < 0) {
            const int err = errno;
            Fail(MSG_COMM_FAIL_SESSION_CREATE, 0, true,
                 "Error %s data directory %s cannot be opened err=%d\n", kOpenSession,
                 dataDirectory_.c_str(), err);
        } else {
            opened = OpenRootFileAt(SessionWriter(), dirFd, name);
            if (!opened) {
                const int err = errno;
                Fail(MSG_COMM_FAIL_SESSION_CREATE, 0, true,
                     "Error %s session file %s cannot be created err=%d\n", kOpenSession, path,
                     err);
            }
            ::close(dirFd);
        }
        if (ownSession_ && opened) ownSession_->name = name;
        if (!ownSession_ && opened) sessionName_ = name;
        if (ownSession_ && !opened) registry_.Sessions().Release(name, ownSession_.get());
    }
    LogLine(trace_, "Xsd Server MSG_COMM_OPEN_SESSION [%s]\n", path);
}

void CChannelXsd::ProcessingCloseSession(int32_t length) {
    // The request has no body; one sent all the same is read past.
    if (!SkipBody(length)) return;
    {
        std::lock_guard<std::mutex> lock(SessionMutex());
        if (!SessionWriter().IsOpen()) {
            Fail(MSG_COMM_FAIL_NO_SESSION_CLOSE, 0, true, "Error %s no session file is open\n",
                 kCloseSession);
            return;
        }
        CloseSessionFile();
    }
    LogLine(trace_, "Xsd Server MSG_COMM_CLOSE_SESSION\n");
}

void CChannelXsd::Processsing_MsgCommWriteXml(int32_t length) {
    const Schema* schema = ReceiveRequest(kWriteXml, length, true);
    if (schema == nullptr) return;
    if (length < kRecordOffset + schema->Size()) {
        Fail(MSG_COMM_FAIL_WRITE_LENGTH, schema->id, true,
             "Error %s length=%d is too short for a record of %d bytes\n", kWriteXml, length,
             schema->Size());
        return;
    }
    if (length > kRecordOffset + schema->Size()) {
        // Written as ever, the bytes beyond the record ignored; only the
        // status answer says so.
        char text[kMaxFailureText + 1];
        std::snprintf(text, sizeof text,
                      "Xsd Server %s length=%d is longer than a record of %d bytes, "
                      "the bytes beyond it are ignored",
                      kWriteXml, length, schema->Size());
        NoteFailure(MSG_COMM_FAIL_WRITE_LENGTH, schema->id, text);
    }
    int32_t number;
    bool written;
    {
        std::lock_guard<std::mutex> lock(SessionMutex());
        if (!SessionWriter().IsOpen()) {
            Fail(MSG_COMM_FAIL_NO_SESSION_WRITE, schema->id, true,
                 "Error %s no session file is open\n", kWriteXml);
            return;
        }
        // Counted before the write, failed or not, so that a number is never
        // given twice.
        number = registry_.Sessions().NextRecordNumber();
        std::unique_lock<std::mutex> printLock = LockPrintDataRecord(schema->printData);
        written = WriteXmlFile(*schema, SessionWriter(), number, FrameBuffer() + kRecordOffset,
                               schema->Size());
        // Spooled while the session is held, so that the stream has each
        // client's records in the order of its session file.
        if (written && registry_.Publisher() != nullptr)
            registry_.Publisher()->Publish(*schema, number,
                                           ownSession_ ? ownSession_->name : sessionName_,
                                           FrameBuffer() + kRecordOffset);
    }
    if (!written)
        Fail(MSG_COMM_FAIL_WRITER, schema->id, true, "Error Processsing_MsgCommWriteXml problems\n");
    else if (written_ < INT32_MAX)
        ++written_;
    LogLine(trace_, "Xsd Server MSG_COMM_WRITE_XML %d\n", number);
}

uint64_t CChannelXsd::FingerprintOf(const Schema& schema) {
    // A schema lives as long as the process; its fingerprint is taken once.
    auto it = fingerprints_.find(&schema);
    if (it == fingerprints_.end()) it = fingerprints_.emplace(&schema, LayoutFingerprint(schema)).first;
    return it->second;
}

// The answer (channel/messages_c.h):
//
//    0    4        8         12         16       20            24
//    +----+--------+---------+----------+--------+-------------+-----------+
//    | id | length | written | failures | listed | schema part | schema id |
//    +----+--------+---------+----------+--------+-------------+-----------+
//    28            32            40            44
//    +-------------+-------------+-------------+--------------+------------+
//    | record size | fingerprint | name length | name         | failures   |
//    +-------------+-------------+-------------+--------------+------------+
//
// each listed failure: code, schema id, text length, text.
void CChannelXsd::ProcessingStatus(int32_t length) {
    // A body shorter than a schema id asks for no schema; bytes beyond the
    // id are read past.
    if (!SkipBody(length)) return;
    const bool asked = length >= MSG_COMM_STATUS_SCHEMA_LENGTH;
    const int32_t id = asked ? GetInt32(FrameBuffer() + kSchemaIdOffset) : 0;
    const Schema* schema = asked ? registry_.FindSchema(id) : nullptr;
    const std::string* name = schema != nullptr ? &schema->name : nullptr;

    size_t size = MSG_COMM_STATUS_NAME_OFFSET + (name != nullptr ? name->size() : 0);
    for (const Failure& f : failures_) size += 12 + f.text.size();
    statusAnswer_.assign(size, 0);
    uint8_t* a = statusAnswer_.data();
    WriteFrameHeader(a, MSG_COMM_ANSWER_STATUS, static_cast<int32_t>(size));
    PutInt32(a + MSG_COMM_STATUS_WRITTEN_OFFSET, written_);
    PutInt32(a + MSG_COMM_STATUS_FAILURES_OFFSET, failureCount_);
    PutInt32(a + MSG_COMM_STATUS_LISTED_OFFSET, static_cast<int32_t>(failures_.size()));
    PutInt32(a + MSG_COMM_STATUS_SCHEMA_PART_OFFSET,
             !asked              ? MSG_COMM_STATUS_NO_SCHEMA
             : schema != nullptr ? MSG_COMM_STATUS_SCHEMA_LOADED
                                 : MSG_COMM_STATUS_SCHEMA_ABSENT);
    PutInt32(a + MSG_COMM_STATUS_SCHEMA_ID_OFFSET, id);
    if (schema != nullptr) {
        PutInt32(a + MSG_COMM_STATUS_RECORD_SIZE_OFFSET, schema->Size());
        const uint64_t fingerprint = FingerprintOf(*schema);
        PutInt32(a + MSG_COMM_STATUS_FINGERPRINT_OFFSET, static_cast<int32_t>(fingerprint));
        PutInt32(a + MSG_COMM_STATUS_FINGERPRINT_OFFSET + 4,
                 static_cast<int32_t>(fingerprint >> 32));
        PutInt32(a + MSG_COMM_STATUS_NAME_LENGTH_OFFSET, static_cast<int32_t>(name->size()));
        std::memcpy(a + MSG_COMM_STATUS_NAME_OFFSET, name->data(), name->size());
    }
    size_t at = MSG_COMM_STATUS_NAME_OFFSET + (name != nullptr ? name->size() : 0);
    for (const Failure& f : failures_) {
        PutInt32(a + at, f.code);
        PutInt32(a + at + 4, f.schemaId);
        PutInt32(a + at + 8, static_cast<int32_t>(f.text.size()));
        std::memcpy(a + at + 12, f.text.data(), f.text.size());
        at += 12 + f.text.size();
    }
    const int32_t written = written_;
    const int32_t failures = failureCount_;
    written_ = 0;
    failureCount_ = 0;
    failures_.clear();
    if (SendData(a, static_cast<int32_t>(size)) != static_cast<int32_t>(size))
        LogLine(true, "Error %s the answer was not sent err=%d\n", kStatus, LastSocketError());
    LogLine(trace_, "Xsd Server MSG_COMM_STATUS MSG_COMM_ANSWER_STATUS written=%d failures=%d\n",
            written, failures);
    if (asked)
        LogLine(trace_, "Xsd Server %s Schema_id=%d is %s\n", kStatus, id,
                schema != nullptr ? "loaded" : "absent");
}

int ServerThread(SchemaRegistry* registry, const ServerSettings& settings) {
    // Lives until the process ends and is never freed: its threads serve
    // clients for the rest of the process.
    const std::string& dataRoot =
        settings.dataRoot.empty() ? registry->ProgramDirectory() : settings.dataRoot;
    if (settings.maxClients > 1) {
        auto* pool = new CChannelXsdPool(*registry, dataRoot,
                                         settings.maxClients);
        pool->SetIdleTimeout(settings.idleTimeout);
        pool->SetMaxDataFileMB(settings.maxDataFileMB);
        pool->Start(settings.port);
        return 1;
    }
    auto* channel = new CChannelXsd(*registry, dataRoot);
    channel->SetIdleTimeout(settings.idleTimeout);
    channel->SetMaxDataFileMB(settings.maxDataFileMB);
    channel->Start(settings.port);
    return 1;
}

void StartServerThread(SchemaRegistry& registry, const ServerSettings& settings) {
    std::thread(ServerThread, &registry, settings).detach();
}

}  // namespace morvane
