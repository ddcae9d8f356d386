// The server's request handling: the input is the byte stream a client
// sends. Each run starts a fresh CChannelXsd, the real handler with its own
// channel threads, as the TCP server on a loopback port, with a registry of
// the example schemas (PosRec, Telemetry) and Telemetry_dataR.xml in its
// data directory. A client socket sends the input, closes its sending side
// and reads the answers until the server drops the connection, which it
// does once the stream ends or cannot be followed; then the channel is
// stopped and the session file, if one is left open, closed.
//
// The answers must be whole frames: size answers of 16 bytes that carry
// the record size of the schema asked for, and read answers of 100012.
// Only a connection that ends in a reset may cut the last one short: a
// server that drops a client with request bytes still unread closes with
// a reset, and the client loses whatever answer bytes it had not read yet.
// A server that neither reads nor closes within kStallLimitMs aborts the
// run, so a hang is reported as a crash with its input.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "channel/messages.h"
#include "fuzz/fuzz_support.h"
#include "schema/schema.h"
#include "server/channel_xsd.h"
#include "server/registry.h"

namespace {

using morvane::Schema;

constexpr int kStallLimitMs = 10000;
constexpr int kConnectLimitMs = 10000;

class SilentConsole : public morvane::ChannelConsole {
  public:
    void Write(morvane::ChannelStream, const char*) override {}
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_server: %s\n", what);
    std::abort();
}

// A port that was free a moment ago; every run's server binds it again
// (the channel sets SO_REUSEADDR).
int32_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        Fail("no free port");
    close(fd);
    return ntohs(addr.sin_port);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("example data file missing");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Connects to the server, which starts listening on its connect thread
// shortly after Start().
int ConnectClient(int32_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectLimitMs);
    for (;;) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) Fail("socket");
        if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
        close(fd);
        if (std::chrono::steady_clock::now() > deadline) Fail("the server never listened");
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

struct Answers {
    std::vector<uint8_t> bytes;
    bool reset = false;  // the connection ended in a reset, not an orderly close
};

// Sends data and collects what comes back until the server closes.
Answers Exchange(int fd, const uint8_t* data, size_t size) {
    Answers received;
    size_t sent = 0;
    bool sending = true;
    if (size == 0) {
        shutdown(fd, SHUT_WR);
        sending = false;
    }
    uint8_t chunk[65536];
    for (;;) {
        pollfd p{fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        int ready = poll(&p, 1, kStallLimitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) Fail("the server neither reads nor closes the connection");
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                received.reset = n < 0;
                return received;
            }
            received.bytes.insert(received.bytes.end(), chunk, chunk + n);
        }
        if (sending && (p.revents & POLLOUT)) {
            ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) sent += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) sending = false;
            if (sent == size) sending = false;
            if (!sending) shutdown(fd, SHUT_WR);
        }
    }
}

void CheckAnswers(const Answers& received, const morvane::SchemaRegistry& registry) {
    const std::vector<uint8_t>& answers = received.bytes;
    size_t at = 0;
    while (at < answers.size()) {
        if (answers.size() - at < morvane::kFrameHeaderSize) {
            if (received.reset) return;
            Fail("a cut answer header");
        }
        const int32_t id = morvane::GetInt32(&answers[at]);
        const int32_t length = morvane::GetInt32(&answers[at + 4]);
        if (id == morvane::MSG_COMM_ANSWER_SIZE && length == morvane::kAnswerSizeLength) {
            if (answers.size() - at < static_cast<size_t>(length)) {
                if (received.reset) return;
                Fail("a cut size answer");
            }
            const Schema* schema = registry.FindSchema(morvane::GetInt32(&answers[at + 8]));
            if (schema == nullptr ||
                morvane::GetInt32(&answers[at + morvane::kRecordSizeOffset]) != schema->Size())
                Fail("a size answer with a wrong record size");
        } else if (id == morvane::MSG_COMM_ANSWER_READ_XML &&
                   length == morvane::kAnswerReadXmlLength) {
            if (answers.size() - at < static_cast<size_t>(length)) {
                if (received.reset) return;
                Fail("a cut read answer");
            }
            if (registry.FindSchema(morvane::GetInt32(&answers[at + 8])) == nullptr)
                Fail("a read answer for an unknown schema");
        } else {
            Fail("an answer that is neither a size nor a read answer");
        }
        at += static_cast<size_t>(length);
    }
}

struct Setup {
    std::string programDirectory;
    std::string dataDirectory;
    std::string dataFile;
    std::string dataText;
    Schema* posRec;
    Schema* telemetry;
    int32_t port;
};

const Setup& TheSetup() {
    static const Setup setup = [] {
        const morvane::fuzz::ScratchDir& scratch = morvane::fuzz::Scratch();
        Setup s;
        s.programDirectory = scratch.path();
        s.dataDirectory = scratch / "XML_Data";
        s.dataFile = s.dataDirectory + "/Telemetry_dataR.xml";
        s.dataText = ReadWhole(morvane::fuzz::ExamplesDir() + "/XML_Data/Telemetry_dataR.xml");
        s.posRec = &morvane::fuzz::LoadExampleSchema("PosRec.xsd");
        s.telemetry = &morvane::fuzz::LoadExampleSchema("Telemetry.xsd");
        s.port = FreePort();
        return s;
    }();
    return setup;
}

// Every run starts from the same data directory: only the data file, since
// a session may have been opened under any name, that one included.
void ResetDataDirectory(const Setup& s) {
    const morvane::fuzz::ScratchDir& scratch = morvane::fuzz::Scratch();
    scratch.Clear();
    if (mkdir(s.dataDirectory.c_str(), 0755) != 0) Fail("cannot create the data directory");
    std::ofstream out(s.dataFile, std::ios::binary);
    out << s.dataText;
    if (!out.flush()) Fail("cannot write the data file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static SilentConsole console;
    const Setup& s = TheSetup();
    ResetDataDirectory(s);

    morvane::SchemaRegistry registry(s.programDirectory);
    registry.AddSchema(s.posRec);
    registry.AddSchema(s.telemetry);
    Answers answers;
    {
        morvane::CChannelXsd channel(registry, s.programDirectory);
        channel.SetConsole(&console);
        if (!channel.Start(s.port)) Fail("the channel did not start");
        int fd = ConnectClient(s.port);
        answers = Exchange(fd, data, size);
        channel.Stop();
        close(fd);
    }
    registry.CloseDataFile();
    CheckAnswers(answers, registry);
    return 0;
}
