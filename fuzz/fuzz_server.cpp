// The server's request handling with two clients at once: the input is
// split into the byte streams of two clients (its first byte says where).
// Each run starts a fresh CChannelXsdPool of two clients, the real handlers
// with their own channel threads, as the TCP server on a loopback port,
// with a registry of the example schemas (PosRec, Telemetry) and
// Telemetry_dataR.xml in its data directory. Two client sockets send their
// streams at the same time, close their sending sides and read the answers
// until the server drops the connections, which it does once a stream ends
// or cannot be followed; then the pool is stopped.
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
#include "server/client_pool.h"
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

// One client's side of the exchange.
struct Client {
    int fd = -1;
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t sent = 0;
    bool sending = true;
    bool done = false;
    Answers received;
};

void StopSending(Client& c) {
    c.sending = false;
    shutdown(c.fd, SHUT_WR);
}

// Sends each client's data and collects what comes back until the server
// has closed both connections.
void Exchange(Client* clients, size_t count) {
    uint8_t chunk[65536];
    for (size_t i = 0; i < count; ++i)
        if (clients[i].size == 0) StopSending(clients[i]);
    for (;;) {
        pollfd p[2];
        size_t polled = 0;
        Client* whose[2];
        for (size_t i = 0; i < count; ++i) {
            if (clients[i].done) continue;
            p[polled] = pollfd{clients[i].fd,
                               static_cast<short>(POLLIN | (clients[i].sending ? POLLOUT : 0)), 0};
            whose[polled++] = &clients[i];
        }
        if (polled == 0) return;
        int ready = poll(p, polled, kStallLimitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) Fail("the server neither reads nor closes the connection");
        for (size_t k = 0; k < polled; ++k) {
            Client& c = *whose[k];
            if (p[k].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = recv(c.fd, chunk, sizeof chunk, 0);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    c.received.reset = n < 0;
                    c.done = true;
                    continue;
                }
                c.received.bytes.insert(c.received.bytes.end(), chunk, chunk + n);
            }
            if (c.sending && (p[k].revents & POLLOUT)) {
                ssize_t n = send(c.fd, c.data + c.sent, c.size - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) c.sent += static_cast<size_t>(n);
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || c.sent == c.size)
                    StopSending(c);
            }
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
    // The first byte splits the rest between the two clients.
    const size_t rest = size > 0 ? size - 1 : 0;
    const size_t split = size > 0 ? rest * data[0] / 255 : 0;
    Client clients[2];
    clients[0].data = data + (size > 0 ? 1 : 0);
    clients[0].size = split;
    clients[1].data = clients[0].data + split;
    clients[1].size = rest - split;
    {
        morvane::CChannelXsdPool pool(registry, s.programDirectory, 2);
        pool.SetConsole(&console);
        if (!pool.Start(s.port)) Fail("the server did not start");
        for (Client& c : clients) c.fd = ConnectClient(s.port);
        Exchange(clients, 2);
        pool.Stop();
        for (Client& c : clients) close(c.fd);
    }
    registry.CloseDataFile();
    for (const Client& c : clients) CheckAnswers(c.received, registry);
    return 0;
}
