// Load client for the real Morvane server on loopback.
//
// Sets up a program directory of its own (Morvane and libquillog.so from the
// build, the example schemas and data file, and a generated schema "Wide" of
// 200 fields with its data file), starts Morvane on a free port and measures:
//
//   floor      a bare exchange between two threads of this program: the same
//              frame sizes, read the same way (header, then body), over
//              loopback sockets with the server's buffer sizes;
//   size       MSG_COMM_SIZE round trips: per second, p50 and p99 latency;
//   read       MSG_COMM_READ_XML round trips for Telemetry (id 1, 82 bytes)
//              and Wide (id 2, 200 fields);
//   write      a stream of write requests of Wide into one session file:
//              records per second and MB of XML per second;
//   server     resident memory and open descriptors of the Morvane process
//              after each phase and after clients that come and go;
//   clients    a second Morvane with MaxClients=16: 1, 2, 4, 8 and 16
//              clients at once, each with its own connection, reading Wide
//              and writing Wide into a session file of its own: aggregate
//              rates and per-request p50 and p99;
//   in flight  16 size requests kept in flight on one connection;
//   handover   MaxClients=1: the time from one client closing its
//              connection to the first answer of the client that waited in
//              the backlog behind it;
//   idle       MaxClients=4: three busy clients with and without a fourth
//              that is connected and sends nothing;
//   traced     a third Morvane with LogFlag=1 (the shipped default): Wide
//              read round trips.
// Every server figure stands beside the same client code run against a bare
// server of this program (a thread per connection that reads each frame,
// header then body, and answers size and read requests with frames of the
// same lengths), measured in the same run.
//
// Usage: bench_server [--writes N] [--log] [bin-dir]
//   --writes N  records in the write stream (default 100000)
//   --log       run the server with LogFlag=1 (default LogFlag=0)
//   bin-dir     where Morvane and libquillog.so are (default: this build)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "channel/messages.h"

namespace fs = std::filesystem;
using namespace morvane;
using namespace morvane::bench;

namespace {

constexpr int32_t kTelemetryId = 1;
constexpr int32_t kWideId = 2;
constexpr int kWideFields = 200;

// ---------------------------------------------------------------------------
// The generated schema: 200 items cycling through the value types.

struct Kind {
    const char* type;
    const char* value;  // printf format of the i-th value
};
const Kind kKinds[] = {{"int", "%d"},      {"double", "%d.25"},     {"unsigned16", "%d"},
                       {"float", "-%d.5"}, {"int64", "12345678%d"}, {"unsigned", "%d"},
                       {"int16", "-%d"},   {"char", "0x%02X"},      {"unsigned64", "9%d"},
                       {"bool", "%d"}};
constexpr int kKindCount = sizeof kKinds / sizeof kKinds[0];

void WriteWideSchema(const std::string& programDir) {
    std::string schema = "<?xml version=\"1.0\"?>\n<Schema name=\"Wide\" id=\"2\">\n";
    std::string data = "<?xml version=\"1.0\"?>\n<Schema name=\"Wide\" id=\"2\">\n";
    for (int i = 0; i < kWideFields; ++i) {
        const Kind& k = kKinds[i % kKindCount];
        char line[160], value[40];
        std::snprintf(line, sizeof line, "   <Item name=\"f%d\" type=\"%s\"/>\n", i, k.type);
        schema += line;
        int v = std::string(k.type) == "char"   ? (i * 7) & 0x7F
                : std::string(k.type) == "bool" ? i & 1
                                                : i * 37;
        std::snprintf(value, sizeof value, k.value, v);
        std::snprintf(line, sizeof line, "   <Item name=\"f%d\" type=\"%s\">%s</Item>\n", i, k.type,
                      value);
        data += line;
    }
    schema += "</Schema>\n";
    data += "</Schema>\n";
    std::ofstream(programDir + "/Schemas/Wide.xsd") << schema;
    std::ofstream(programDir + "/XML_Data/Wide_dataR.xml") << data;
}

// ---------------------------------------------------------------------------
// The server process.

// The example archive and the Wide schema, for StartServer().
void PrepareProgramDir(const std::string& dir) {
    fs::copy(std::string(MORVANE_SOURCE_DIR) + "/examples/XML_Data", dir + "/XML_Data");
    WriteWideSchema(dir);
}

Server StartServer(const std::string& binDir, bool log, int maxClients = 1) {
    return StartMorvane(binDir,
                        std::string("CreateFilesFlag=0\nLogFlag=") + (log ? "1" : "0") +
                            "\nMaxClients=" + std::to_string(maxClients) + "\n",
                        PrepareProgramDir);
}

long ServerRssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int ServerFds(pid_t pid) {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// Times the server has started listening: once at start, then once after
// each client, when it waits for the next.
int ListenCount(const Server& s) {
    std::ifstream in(s.dir + "/server.out");
    int n = 0;
    for (std::string line; std::getline(in, line);)
        n += line == "TCP Server is listening..." ? 1 : 0;
    return n;
}

// A client that connects before the server listens again would be dropped
// with the listening socket the server is about to close.
int ConnectWhenListening(const Server& s, int n) {
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (ListenCount(s) < n) {
        if (Clock::now() > deadline) Die("the server does not listen again");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ConnectTo(s.port, 10000);
}

void Sample(const Server& s, const char* phase) {
    std::printf("  %-40s rss %6ld kB   fds %3d\n", phase, ServerRssKb(s.pid), ServerFds(s.pid));
}

// ---------------------------------------------------------------------------
// Figures.

struct Latencies {
    std::vector<double> us;
    double seconds = 0;
};

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

void Report(const char* name, const Latencies& l) {
    std::printf("  %-40s %9.0f round trips/s   p50 %7.1f us   p99 %7.1f us\n", name,
                static_cast<double>(l.us.size()) / l.seconds, Percentile(l.us, 0.5),
                Percentile(l.us, 0.99));
}

// Sends request and reads the one answer frame, n times.
Latencies RoundTrips(int fd, const std::vector<uint8_t>& request, int32_t answerId, int n) {
    std::vector<uint8_t> buffer(kFrameBufferSize);
    Latencies l;
    l.us.reserve(static_cast<size_t>(n));
    auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        auto t0 = Clock::now();
        SendAll(fd, request.data(), request.size());
        if (RecvFrame(fd, buffer.data()) != answerId) Die("unexpected answer");
        l.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    l.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return l;
}

std::vector<uint8_t> Request(int32_t id, int32_t schemaId, size_t extra) {
    std::vector<uint8_t> f(kRecordOffset + extra, 0);
    WriteFrameHeader(f.data(), id, static_cast<int32_t>(f.size()));
    PutInt32(f.data() + kSchemaIdOffset, schemaId);
    return f;
}

// A tuned listening socket on a free loopback port, whose address goes to a.
int ListenOnLoopback(int backlog, sockaddr_in& a) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    Tune(listener);
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &kOne, sizeof kOne);
    a = sockaddr_in{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener, backlog) != 0)
        Die("bare listener");
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    return listener;
}

// The floor: a thread of this program answers every request with a frame of
// answerLength bytes, reading requests as the server does.
Latencies BareExchange(const std::vector<uint8_t>& request, int32_t answerLength, int n) {
    sockaddr_in a{};
    const int listener = ListenOnLoopback(1, a);
    std::thread peer([&] {
        int fd = accept(listener, nullptr, nullptr);
        std::vector<uint8_t> buffer(kFrameBufferSize);
        for (int i = 0; i < n; ++i) {
            RecvFrame(fd, buffer.data());
            WriteFrameHeader(buffer.data(), 1, answerLength);
            SendAll(fd, buffer.data(), static_cast<size_t>(answerLength));
        }
        close(fd);
    });
    int fd = ConnectTo(ntohs(a.sin_port), 5000);
    Latencies l = RoundTrips(fd, request, 1, n);
    peer.join();
    close(fd);
    close(listener);
    return l;
}

int32_t AskSize(int fd, int32_t schemaId) {
    std::vector<uint8_t> buffer(kFrameBufferSize);
    auto req = Request(MSG_COMM_SIZE, schemaId, 0);
    SendAll(fd, req.data(), req.size());
    if (RecvFrame(fd, buffer.data()) != MSG_COMM_ANSWER_SIZE) Die("no size answer");
    return GetInt32(buffer.data() + kRecordSizeOffset);
}

std::vector<uint8_t> OpenSessionFrame(const char* name) {
    std::vector<uint8_t> f(kSessionNameOffset + std::strlen(name) + 1, 0);
    WriteFrameHeader(f.data(), MSG_COMM_OPEN_SESSION, static_cast<int32_t>(f.size()));
    std::memcpy(f.data() + kSessionNameOffset, name, std::strlen(name));
    return f;
}

// ---------------------------------------------------------------------------
// The bare server: the floor for every phase with clients of their own.

// Reads one frame as RecvFrame() does; false when the peer has gone.
bool TryRecvFrame(int fd, uint8_t* buffer, MSG_COMM_HEADER& header) {
    auto recvAll = [fd](uint8_t* p, size_t n) {
        while (n > 0) {
            ssize_t k = recv(fd, p, n, 0);
            if (k <= 0) return false;
            p += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    };
    if (!recvAll(buffer, kFrameHeaderSize)) return false;
    header = ReadFrameHeader(buffer);
    if (!FrameLengthFits(header.length, kFrameBufferSize)) return false;
    return recvAll(buffer + kFrameHeaderSize,
                   static_cast<size_t>(header.length - kFrameHeaderSize));
}

// Answers size requests with 16 bytes and read requests with 100012, reads
// every other frame and answers nothing, as Morvane does, with no work in
// between. sequential: one connection at a time, the next accepted when
// the last has gone (Morvane with MaxClients=1); else a thread per
// connection. Lives until the program ends.
int StartBareServer(bool sequential) {
    sockaddr_in a{};
    const int listener = ListenOnLoopback(64, a);
    auto serve = [](int fd) {
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &kOne, sizeof kOne);
        std::vector<uint8_t> buffer(kFrameBufferSize);
        MSG_COMM_HEADER h{};
        while (TryRecvFrame(fd, buffer.data(), h)) {
            int32_t answer = h.id == MSG_COMM_SIZE       ? kAnswerSizeLength
                             : h.id == MSG_COMM_READ_XML ? kAnswerReadXmlLength
                                                         : 0;
            if (answer == 0) continue;
            WriteFrameHeader(buffer.data(), h.id + 1, answer);
            if (h.id == MSG_COMM_SIZE) PutInt32(buffer.data() + kRecordSizeOffset, 28);
            SendAll(fd, buffer.data(), static_cast<size_t>(answer));
        }
        close(fd);
    };
    std::thread([listener, sequential, serve] {
        for (;;) {
            int fd = accept(listener, nullptr, nullptr);
            if (fd < 0) continue;
            if (sequential)
                serve(fd);
            else
                std::thread(serve, fd).detach();
        }
    }).detach();
    return ntohs(a.sin_port);
}

// ---------------------------------------------------------------------------
// Several clients.

struct Aggregate {
    double perSecond = 0;
    Latencies pooled;  // every request's latency, of all clients
};

// n clients, each on a connection of its own, run work(client, fd) at the
// same time; the rate counts count items over the time from the first
// start to the last end.
Aggregate RunClients(int port, int n, int count,
                     const std::function<Latencies(int client, int fd)>& work) {
    std::vector<int> fds;
    for (int c = 0; c < n; ++c) fds.push_back(ConnectTo(port, 10000));
    std::vector<Latencies> each(static_cast<size_t>(n));
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (int c = 0; c < n; ++c)
        threads.emplace_back([&, c] { each[static_cast<size_t>(c)] = work(c, fds[static_cast<size_t>(c)]); });
    for (auto& t : threads) t.join();
    Aggregate a;
    a.pooled.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    a.perSecond = count / a.pooled.seconds;
    for (auto& l : each) a.pooled.us.insert(a.pooled.us.end(), l.us.begin(), l.us.end());
    for (int fd : fds) close(fd);
    return a;
}

Aggregate Reads(int port, int n, int total, const std::vector<uint8_t>& request) {
    const int each = total / n;
    return RunClients(port, n, each * n, [&](int, int fd) {
        return RoundTrips(fd, request, MSG_COMM_ANSWER_READ_XML, each);
    });
}

// Each client writes its share of records into a session of its own; the
// latency of a write is that of its batch of 16, whose end a size request
// marks.
Aggregate Writes(int port, int n, int total, const std::vector<uint8_t>& write) {
    const int kBatch = 16;
    const int each = total / n / kBatch * kBatch;
    return RunClients(port, n, each * n, [&](int client, int fd) {
        std::vector<uint8_t> buffer(kFrameBufferSize);
        std::vector<uint8_t> batch;
        for (int i = 0; i < kBatch; ++i) batch.insert(batch.end(), write.begin(), write.end());
        auto size = Request(MSG_COMM_SIZE, kTelemetryId, 0);
        batch.insert(batch.end(), size.begin(), size.end());
        auto open = OpenSessionFrame(("Clients" + std::to_string(client) + ".xml").c_str());
        SendAll(fd, open.data(), open.size());
        Latencies l;
        for (int i = 0; i < each; i += kBatch) {
            auto t0 = Clock::now();
            SendAll(fd, batch.data(), batch.size());
            if (RecvFrame(fd, buffer.data()) != MSG_COMM_ANSWER_SIZE) Die("no size answer");
            l.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count() /
                           kBatch);
        }
        std::vector<uint8_t> closeFrame(kCloseSessionLength);
        WriteFrameHeader(closeFrame.data(), MSG_COMM_CLOSE_SESSION, kCloseSessionLength);
        SendAll(fd, closeFrame.data(), closeFrame.size());
        return l;
    });
}

// depth size requests in flight on one connection: as answers come in, as
// many new requests go out. Answers are read in large pieces, so that the
// client spends few calls per answer. Answers per second.
double InFlight(int port, int depth, int total) {
    int fd = ConnectTo(port, 10000);
    auto req = Request(MSG_COMM_SIZE, kTelemetryId, 0);
    std::vector<uint8_t> burst;
    for (int i = 0; i < depth; ++i) burst.insert(burst.end(), req.begin(), req.end());
    std::vector<uint8_t> buffer(65536);
    size_t pending = 0;  // bytes of an answer not yet whole
    auto start = Clock::now();
    SendAll(fd, burst.data(), burst.size());
    int sent = depth;
    for (int answered = 0; answered < total;) {
        ssize_t k = recv(fd, buffer.data() + pending, buffer.size() - pending, 0);
        if (k <= 0) Die("recv (timed out or closed)");
        size_t have = pending + static_cast<size_t>(k);
        const int whole = static_cast<int>(have / kAnswerSizeLength);
        if (GetInt32(buffer.data()) != MSG_COMM_ANSWER_SIZE) Die("no size answer");
        answered += whole;
        pending = have % kAnswerSizeLength;
        std::memmove(buffer.data(), buffer.data() + have - pending, pending);
        const int more = std::min(whole, total - sent);
        if (more > 0) SendAll(fd, burst.data(), req.size() * static_cast<size_t>(more));
        sent += more;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return total / seconds;
}

// A server of one client at a time: the next client waits in the backlog
// with its size request sent; the time from the close of the one served to
// the waiting one's answer, n times.
Latencies Handover(int port, int n) {
    auto req = Request(MSG_COMM_SIZE, kTelemetryId, 0);
    std::vector<uint8_t> buffer(kFrameBufferSize);
    int served = ConnectTo(port, 10000);
    SendAll(served, req.data(), req.size());
    RecvFrame(served, buffer.data());
    Latencies l;
    auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        int waiting = ConnectTo(port, 10000);
        SendAll(waiting, req.data(), req.size());
        auto t0 = Clock::now();
        close(served);
        if (RecvFrame(waiting, buffer.data()) != MSG_COMM_ANSWER_SIZE) Die("no size answer");
        l.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        served = waiting;
    }
    l.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(served);
    return l;
}

// The machine is shared: each measure runs three times against either side,
// alternately, and the run with the median rate of each side is kept.
std::pair<Aggregate, Aggregate> Alternate(const std::function<Aggregate(int port)>& measure,
                                          int serverPort, int barePort) {
    std::vector<Aggregate> server, bare;
    for (int i = 0; i < 3; ++i) {
        server.push_back(measure(serverPort));
        bare.push_back(measure(barePort));
    }
    auto median = [](std::vector<Aggregate>& v) {
        std::sort(v.begin(), v.end(),
                  [](const Aggregate& a, const Aggregate& b) { return a.perSecond < b.perSecond; });
        return v[1];
    };
    return {median(server), median(bare)};
}

void ReportAggregate(const char* name, const Aggregate& server, const Aggregate& bare,
                     const char* unit) {
    std::printf("  %-22s %9.0f %s/s  p50 %7.1f us  p99 %7.1f us | bare %9.0f/s  p50 %6.1f us"
                "  | rate %.2fx of bare\n",
                name, server.perSecond, unit, Percentile(server.pooled.us, 0.5),
                Percentile(server.pooled.us, 0.99), bare.perSecond,
                Percentile(bare.pooled.us, 0.5), server.perSecond / bare.perSecond);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int writes = 100000;
    bool log = false;
    std::string binDir = MORVANE_BIN_DIR;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--writes") == 0 && i + 1 < argc)
            writes = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--log") == 0)
            log = true;
        else
            binDir = argv[i];
    }
    signal(SIGPIPE, SIG_IGN);

    Server server = StartServer(binDir, log);
    int fd = ConnectWhenListening(server, 1);
    const int32_t telemetrySize = AskSize(fd, kTelemetryId);
    const int32_t wideSize = AskSize(fd, kWideId);
    std::printf(
        "Morvane on loopback port %d, LogFlag=%d; Telemetry %d bytes, Wide %d fields %d bytes\n",
        server.port, log ? 1 : 0, telemetrySize, kWideFields, wideSize);
    std::printf("server:\n");
    Sample(server, "after start-up");
    // The server parses a data file afresh while it is younger than a second
    // (a change inside the file system's timestamp granularity would not
    // show); the files were just written.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));

    const int kSizeTrips = 20000, kReadTrips = 3000;
    std::printf("floor (bare loopback exchange between two threads):\n");
    Latencies bareSize = BareExchange(Request(MSG_COMM_SIZE, 1, 0), kAnswerSizeLength, kSizeTrips);
    Report("12-byte request, 16-byte answer", bareSize);
    Latencies bareRead = BareExchange(Request(MSG_COMM_READ_XML, 1, static_cast<size_t>(wideSize)),
                                      kAnswerReadXmlLength, kReadTrips);
    Report("Wide request, 100012-byte answer", bareRead);

    std::printf("server round trips:\n");
    Latencies size =
        RoundTrips(fd, Request(MSG_COMM_SIZE, kTelemetryId, 0), MSG_COMM_ANSWER_SIZE, kSizeTrips);
    Report("MSG_COMM_SIZE", size);
    Latencies readT =
        RoundTrips(fd, Request(MSG_COMM_READ_XML, kTelemetryId, static_cast<size_t>(telemetrySize)),
                   MSG_COMM_ANSWER_READ_XML, kReadTrips);
    Report("MSG_COMM_READ_XML Telemetry", readT);
    Latencies readW =
        RoundTrips(fd, Request(MSG_COMM_READ_XML, kWideId, static_cast<size_t>(wideSize)),
                   MSG_COMM_ANSWER_READ_XML, kReadTrips);
    Report("MSG_COMM_READ_XML Wide (200 fields)", readW);
    std::printf("  size p50 / floor p50 %.2f; Wide read p50 / floor p50 %.2f\n",
                Percentile(size.us, 0.5) / Percentile(bareSize.us, 0.5),
                Percentile(readW.us, 0.5) / Percentile(bareRead.us, 0.5));
    std::printf("server:\n");
    Sample(server, "after round trips");

    // The record of a read answer, written back as a stream.
    std::vector<uint8_t> buffer(kFrameBufferSize);
    auto readReq = Request(MSG_COMM_READ_XML, kWideId, static_cast<size_t>(wideSize));
    SendAll(fd, readReq.data(), readReq.size());
    RecvFrame(fd, buffer.data());
    std::vector<uint8_t> write =
        Request(MSG_COMM_WRITE_XML, kWideId, static_cast<size_t>(wideSize));
    std::memcpy(write.data() + kRecordOffset, buffer.data() + kRecordOffset,
                static_cast<size_t>(wideSize));

    // Sent in batches of frames; a size request behind the close tells when
    // the server has handled everything.
    const int kBatch = 64;
    std::vector<uint8_t> batch;
    for (int i = 0; i < kBatch; ++i) batch.insert(batch.end(), write.begin(), write.end());
    auto open = OpenSessionFrame("Bench.xml");
    auto closeFrame = std::vector<uint8_t>(kCloseSessionLength);
    WriteFrameHeader(closeFrame.data(), MSG_COMM_CLOSE_SESSION, kCloseSessionLength);
    std::printf("write stream of %d records of Wide into one session file:\n", writes);
    auto start = Clock::now();
    SendAll(fd, open.data(), open.size());
    int sent = 0, nextSample = writes / 4;
    while (sent < writes) {
        int n = std::min(kBatch, writes - sent);
        SendAll(fd, batch.data(), write.size() * static_cast<size_t>(n));
        sent += n;
        if (sent >= nextSample && sent < writes) {
            char phase[64];
            std::snprintf(phase, sizeof phase, "%d records sent", sent);
            Sample(server, phase);
            nextSample += writes / 4;
        }
    }
    SendAll(fd, closeFrame.data(), closeFrame.size());
    AskSize(fd, kTelemetryId);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::error_code ec;
    double mb = static_cast<double>(fs::file_size(server.dir + "/XML_Data/Bench.xml", ec)) / 1e6;
    std::printf("  %d records in %.2f s: %.0f records/s, %.1f MB of XML (%.1f MB/s)\n", writes,
                seconds, writes / seconds, mb, mb / seconds);
    Sample(server, "after the write stream");
    fs::remove(server.dir + "/XML_Data/Bench.xml", ec);

    // Clients that come and go, each with a session of its own.
    close(fd);
    const int kClients = 5;
    for (int c = 0; c < kClients; ++c) {
        int client = ConnectWhenListening(server, 2 + c);
        auto o = OpenSessionFrame("Again.xml");
        SendAll(client, o.data(), o.size());
        SendAll(client, write.data(), write.size());
        AskSize(client, kWideId);
        close(client);
    }
    int last = ConnectWhenListening(server, 2 + kClients);
    SendAll(last, closeFrame.data(), closeFrame.size());
    AskSize(last, kWideId);
    char phase[64];
    std::snprintf(phase, sizeof phase, "after %d more clients, session closed", kClients);
    Sample(server, phase);
    close(last);

    // One connection, 16 requests in flight.
    const int kInFlight = 16, kInFlightAnswers = 50000;
    const int bareOne = StartBareServer(true);
    double inFlight = 0, inFlightBare = 0;
    for (int i = 0; i < 3; ++i) {
        inFlight = std::max(inFlight, InFlight(server.port, kInFlight, kInFlightAnswers));
        inFlightBare = std::max(inFlightBare, InFlight(bareOne, kInFlight, kInFlightAnswers));
    }
    std::printf("%d size requests in flight on one connection (best of 3):\n", kInFlight);
    std::printf("  %-40s %9.0f answers/s | bare %9.0f/s | %.2fx of bare\n", "MSG_COMM_SIZE",
                inFlight, inFlightBare, inFlight / inFlightBare);

    // The next client waits in the backlog while one is served.
    const int kHandovers = 300;
    Latencies handover = Handover(server.port, kHandovers);
    Latencies handoverBare = Handover(bareOne, kHandovers);
    std::printf("one client leaves, the one waiting behind it is answered (MaxClients=1):\n");
    std::printf("  %-40s p50 %7.1f us   p99 %7.1f us | bare p50 %6.1f us  p99 %6.1f us\n",
                "close to first answer", Percentile(handover.us, 0.5),
                Percentile(handover.us, 0.99), Percentile(handoverBare.us, 0.5),
                Percentile(handoverBare.us, 0.99));
    Sample(server, "after the handovers");

    // Several clients at once, into a server of their own.
    Server many = StartServer(binDir, false, 16);
    Server four = StartServer(binDir, false, 4);
    Server traced = StartServer(binDir, true, 1);
    for (const Server* s : {&many, &four, &traced}) close(ConnectWhenListening(*s, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const int bareMany = StartBareServer(false);
    const int kReads = 4000, kWrites = 8000;
    std::printf("clients at once (MaxClients=16, LogFlag=0), Wide; per-request p50 and p99:\n");
    double oneClientRead = 0, fourClientRead = 0;
    for (int n : {1, 2, 4, 8, 16}) {
        char name[64];
        auto [r, rb] = Alternate([&](int port) { return Reads(port, n, kReads, readReq); },
                                 many.port, bareMany);
        std::snprintf(name, sizeof name, "read, %d client%s", n, n == 1 ? "" : "s");
        ReportAggregate(name, r, rb, "trips");
        auto [w, wb] = Alternate([&](int port) { return Writes(port, n, kWrites, write); },
                                 many.port, bareMany);
        std::snprintf(name, sizeof name, "write, %d client%s", n, n == 1 ? "" : "s");
        ReportAggregate(name, w, wb, "recs ");
        if (n == 1) oneClientRead = r.perSecond;
        if (n == 4) fourClientRead = r.perSecond;
        for (int c = 0; c < n; ++c)
            fs::remove(many.dir + "/XML_Data/Clients" + std::to_string(c) + ".xml", ec);
    }
    std::printf("  aggregate read rate of 4 clients / 1 client: %.2f\n",
                fourClientRead / oneClientRead);
    Sample(many, "after the clients");

    // A client that connects and sends nothing beside three busy ones.
    // The same server either way; the "bare port" runs with the idle client.
    auto [busy, beside] = Alternate(
        [&](int withIdle) {
            int idle = withIdle != 0 ? ConnectTo(four.port, 10000) : -1;
            Aggregate a = Reads(four.port, 3, kReads, readReq);
            if (idle >= 0) close(idle);
            return a;
        },
        0, 1);
    std::printf("an idle client beside 3 busy ones (MaxClients=4), Wide reads:\n");
    std::printf("  %-40s %9.0f trips/s | without it %9.0f/s | %.2fx\n", "3 busy, 1 idle",
                beside.perSecond, busy.perSecond, beside.perSecond / busy.perSecond);

    // The shipped default LogFlag=1: every read is traced.
    int tracedFd = ConnectTo(traced.port, 10000);
    Latencies tracedRead = RoundTrips(tracedFd, readReq, MSG_COMM_ANSWER_READ_XML, kReadTrips / 3);
    close(tracedFd);
    Latencies tracedBare = BareExchange(readReq, kAnswerReadXmlLength, kReadTrips / 3);
    std::printf("LogFlag=1 (the shipped default):\n");
    Report("MSG_COMM_READ_XML Wide, traced", tracedRead);
    Report("bare exchange of the same frames", tracedBare);
    std::printf("  traced Wide read p50 / floor p50 %.2f\n",
                Percentile(tracedRead.us, 0.5) / Percentile(tracedBare.us, 0.5));

    for (const Server* s : {&server, &many, &four, &traced}) {
        kill(s->pid, SIGTERM);
        int status = 0;
        waitpid(s->pid, &status, 0);
        fs::remove_all(s->dir, ec);
    }
    return 0;
}
