// The real Morvane in a temporary program directory, for tests that talk to
// it over loopback, and the session file text its example schemas produce.
// Every wait has a time limit.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "channel_test_util.h"
#include "support/test_support.h"

namespace morvane::test {

// A program directory with Morvane and the example archive. Start() runs
// the server in it.
class MorvaneServer {
  public:
    // port 0: no Port key, the default 25000. extraIni: more lines of the
    // [General] section.
    explicit MorvaneServer(int port, const std::string& extraIni = "");

    const std::string& dir() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    int port() const { return port_; }

    // Starts Morvane and waits until it listens; false when it did not
    // within timeout.
    bool Start(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    BackgroundProgram& program() { return *program_; }

    std::string Log() const;
    int LogCount(const std::string& line) const;
    // Waits until line stands in the log at least n times.
    bool WaitLog(const std::string& line, int n = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Times the server has started listening (a first time, then once per
    // reconnection).
    int ListenCount() const;
    // Waits until the server listens for the (n)th time, then connects.
    Socket ConnectWhenListening(int n);
    // The next client: waits until the server listens again after its
    // clients so far, then connects. The first call connects the first.
    Socket NextClient();

  private:
    TempDir dir_;
    int port_;
    int clients_ = 0;
    std::unique_ptr<BackgroundProgram> program_;
};

// Counts the non-overlapping occurrences of what in text.
int CountOf(const std::string& text, const std::string& what);

// Frames of the client protocol.
std::vector<uint8_t> SizeRequest(int32_t schemaId);
std::vector<uint8_t> ReadRequest(int32_t schemaId, const std::vector<uint8_t>& initial);
std::vector<uint8_t> OpenSession(const std::string& name);  // name and its zero byte
std::vector<uint8_t> CloseSession();
std::vector<uint8_t> WriteRequest(int32_t schemaId, const std::vector<uint8_t>& record);
// A status request, naming schemaId when it is not negative.
std::vector<uint8_t> StatusRequest(int32_t schemaId = -1);

// A status answer taken apart.
struct StatusFailure {
    int32_t code;
    int32_t schemaId;
    std::string text;
};
struct StatusAnswer {
    int32_t written = 0;
    int32_t failures = 0;  // all of them
    int32_t schemaPart = 0;
    int32_t schemaId = 0;
    int32_t recordSize = 0;
    uint64_t fingerprint = 0;
    std::string name;
    std::vector<StatusFailure> listed;
};
// Reads one status answer from s; nullopt (with a test failure) when what
// comes is not a whole, consistent one within the time limit.
std::optional<StatusAnswer> RecvStatus(const Socket& s);

// The example Telemetry schema (id 1, 82 bytes) and the record its data file
// XML_Data/Telemetry_dataR.xml describes, written as session record number.
constexpr int32_t kTelemetryId = 1;
constexpr int32_t kTelemetrySize = 82;
std::string TelemetryRecordText(int number);

// The example PosRec schema (id 7, 28 bytes) with a record of our own.
constexpr int32_t kPosRecId = 7;
constexpr int32_t kPosRecSize = 28;
struct PosRecValues {
    int32_t count;
    int32_t mode;
    int32_t x0, y0, x1, y1;
};
std::vector<uint8_t> PosRecRecord(const PosRecValues& v);
std::string PosRecRecordText(int number, const PosRecValues& v);
// The PosRec record sent as number n of a test: count n, pos x 3n.
PosRecValues PosRecOf(int n);
std::vector<uint8_t> PosRecRecordOf(int n);

// A whole session file holding the given record elements.
std::string SessionText(const std::vector<std::string>& records);

}  // namespace morvane::test
