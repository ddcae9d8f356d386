// libmorvane-client against the real Morvane on loopback, beside the same
// frames exchanged over a bare socket of this program in the same run.
//
//   size   mv_record_size() round trips (a size request and the status
//          request behind it, their two answers) against the floor: the
//          same 20 bytes sent in one send, the same two answers read
//          header, then body. Target: at most 1.1x the floor's time.
//   write  100,000 mv_write_record() calls and one mv_sync() into a session
//          file, against the floor: the same 40-byte frames sent one send
//          each, then a status request and its answer. Target: at least
//          0.9x the floor's rate.
// No peer library speaks this protocol, so the floor is the bare socket;
// both sides hit the same server, whose work is the same for both. Each
// figure is the best of three rounds, the two sides taken in turns.
//
// Usage: bench_client [--writes N] [--sizes N] [bin-dir]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "channel/messages.h"
#include "morvane/client.h"

namespace fs = std::filesystem;
using namespace morvane;
using namespace morvane::bench;

namespace {

constexpr int32_t kPosRecId = 7;
constexpr int32_t kPosRecSize = 28;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

void PutFrame(std::vector<uint8_t>& to, int32_t id, const std::vector<uint8_t>& body) {
    const size_t at = to.size();
    to.resize(at + kFrameHeaderSize + body.size());
    WriteFrameHeader(to.data() + at, id, static_cast<int32_t>(kFrameHeaderSize + body.size()));
    std::copy(body.begin(), body.end(), to.begin() + static_cast<long>(at + kFrameHeaderSize));
}

std::vector<uint8_t> Int32s(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> b(values.size() * 4);
    size_t at = 0;
    for (int32_t v : values) PutInt32(b.data() + (at++) * 4, v);
    return b;
}

double LibrarySizes(mv_client* c, int n) {
    int32_t size = 0;
    auto start = Clock::now();
    for (int i = 0; i < n; ++i)
        if (mv_record_size(c, kPosRecId, &size) != MV_OK || size != kPosRecSize) Die("size");
    return Seconds(start);
}

double BareSizes(int fd, int n) {
    std::vector<uint8_t> request;
    PutFrame(request, MSG_COMM_SIZE, Int32s({kPosRecId}));
    PutFrame(request, MSG_COMM_STATUS, {});
    std::vector<uint8_t> buffer(kFrameBufferSize);
    auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        SendAll(fd, request.data(), request.size());
        if (RecvFrame(fd, buffer.data()) != MSG_COMM_ANSWER_SIZE) Die("size answer");
        if (RecvFrame(fd, buffer.data()) != MSG_COMM_ANSWER_STATUS) Die("status answer");
    }
    return Seconds(start);
}

double LibraryWrites(mv_client* c, int n, const std::vector<uint8_t>& record) {
    if (mv_open_session(c, "bench_lib.xml") != MV_OK || mv_sync(c) != MV_OK) Die("open");
    auto start = Clock::now();
    for (int i = 0; i < n; ++i)
        if (mv_write_record(c, kPosRecId, record.data(), record.size()) != MV_OK) Die("write");
    if (mv_sync(c) != MV_OK) Die(mv_last_error(c));
    const double t = Seconds(start);
    if (mv_close_session(c) != MV_OK || mv_sync(c) != MV_OK) Die("close");
    return t;
}

double BareWrites(int fd, int n, const std::vector<uint8_t>& record) {
    std::vector<uint8_t> open;
    const std::string name = "bench_bare.xml";
    PutFrame(open, MSG_COMM_OPEN_SESSION, std::vector<uint8_t>(name.begin(), name.end() + 1));
    std::vector<uint8_t> status;
    PutFrame(status, MSG_COMM_STATUS, {});
    std::vector<uint8_t> write;
    std::vector<uint8_t> body = Int32s({kPosRecId});
    body.insert(body.end(), record.begin(), record.end());
    PutFrame(write, MSG_COMM_WRITE_XML, body);
    std::vector<uint8_t> close;
    PutFrame(close, MSG_COMM_CLOSE_SESSION, {});
    std::vector<uint8_t> buffer(kFrameBufferSize);
    auto roundTrip = [&] {
        SendAll(fd, status.data(), status.size());
        if (RecvFrame(fd, buffer.data()) != MSG_COMM_ANSWER_STATUS) Die("status answer");
    };
    SendAll(fd, open.data(), open.size());
    roundTrip();
    auto start = Clock::now();
    for (int i = 0; i < n; ++i) SendAll(fd, write.data(), write.size());
    roundTrip();
    const double t = Seconds(start);
    if (GetInt32(buffer.data() + MSG_COMM_STATUS_WRITTEN_OFFSET) != n) Die("not every record written");
    SendAll(fd, close.data(), close.size());
    roundTrip();
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    int writes = 100000;
    int sizes = 20000;
    std::string binDir = MORVANE_BIN_DIR;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--writes" && i + 1 < argc)
            writes = std::atoi(argv[++i]);
        else if (a == "--sizes" && i + 1 < argc)
            sizes = std::atoi(argv[++i]);
        else
            binDir = a;
    }
    signal(SIGPIPE, SIG_IGN);
    Server server = StartMorvane(binDir, "CreateFilesFlag=0\nLogFlag=0\nMaxClients=2\n");
    int fd = ConnectTo(server.port, 10000);
    mv_client* c = nullptr;
    if (mv_connect(&c, "127.0.0.1", server.port, nullptr) != MV_OK) Die(mv_last_error(nullptr));
    std::vector<uint8_t> record(kPosRecSize);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i);

    // Two clients at once (MaxClients=2), used in turns, never together.
    double bareSize = 1e9, bareWrite = 1e9, libSize = 1e9, libWrite = 1e9;
    for (int round = 0; round < 3; ++round) {
        bareSize = std::min(bareSize, BareSizes(fd, sizes));
        libSize = std::min(libSize, LibrarySizes(c, sizes));
        bareWrite = std::min(bareWrite, BareWrites(fd, writes, record));
        libWrite = std::min(libWrite, LibraryWrites(c, writes, record));
    }
    close(fd);
    mv_disconnect(c);

    std::printf("bench_client: Morvane on loopback, best of 3 rounds\n");
    std::printf("  size round trip  library %8.2f us   bare %8.2f us   ratio %.3f (target <= 1.1)\n",
                1e6 * libSize / sizes, 1e6 * bareSize / sizes, libSize / bareSize);
    std::printf("  %d writes + sync  library %9.0f rec/s  bare %9.0f rec/s  ratio %.3f (target >= 0.9)\n",
                writes, writes / libWrite, writes / bareWrite, bareWrite / libWrite);
    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
    fs::remove_all(server.dir);
    return 0;
}
