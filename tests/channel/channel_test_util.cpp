#include "channel_test_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "support/test_support.h"

namespace morvane::test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

void RecordingConsole::Write(ChannelStream stream, const char* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    (stream == ChannelStream::kOut ? out_ : err_).emplace_back(line);
}

std::vector<std::string> RecordingConsole::Lines(ChannelStream stream) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream == ChannelStream::kOut ? out_ : err_;
}

int RecordingConsole::Count(ChannelStream stream, const std::string& line) const {
    int n = 0;
    for (const auto& l : Lines(stream)) n += l == line ? 1 : 0;
    return n;
}

bool RecordingConsole::WaitForCount(ChannelStream stream, const std::string& line, int n,
                                    milliseconds timeout) const {
    return WaitFor([&] { return Count(stream, line) >= n; }, timeout);
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

void Socket::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

int Socket::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

Socket Listen(int port) {
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr = Loopback(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(s.fd(), 4) != 0)
        return Socket();
    return s;
}

Socket Accept(const Socket& listener, milliseconds timeout) {
    if (!Readable(listener.fd(), static_cast<int>(timeout.count()))) return Socket();
    return Socket(accept(listener.fd(), nullptr, nullptr));
}

Socket Connect(int port, milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    sockaddr_in addr = Loopback(port);
    for (;;) {
        Socket s(socket(AF_INET, SOCK_STREAM, 0));
        if (connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return s;
        if (Clock::now() > deadline) return Socket();
        SleepMs(20);
    }
}

Socket UdpSocket() {
    Socket s(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in addr = Loopback(0);
    bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return s;
}

bool SendAll(const Socket& s, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = send(s.fd(), p, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SendAll(const Socket& s, const std::vector<uint8_t>& data) {
    return SendAll(s, data.data(), data.size());
}

std::optional<std::vector<uint8_t>> RecvExact(const Socket& s, size_t n, milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::vector<uint8_t> data(n);
    size_t got = 0;
    while (got < n) {
        if (!Readable(s.fd(), RemainingMs(deadline))) return std::nullopt;
        ssize_t r = recv(s.fd(), data.data() + got, n - got, 0);
        if (r <= 0) return std::nullopt;
        got += static_cast<size_t>(r);
    }
    return data;
}

bool Silent(const Socket& s, milliseconds window) {
    return !Readable(s.fd(), static_cast<int>(window.count()));
}

bool PeerCloses(const Socket& s, milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    uint8_t sink[4096];
    for (;;) {
        if (!Readable(s.fd(), RemainingMs(deadline))) return false;
        ssize_t r = recv(s.fd(), sink, sizeof sink, 0);
        if (r <= 0) return true;
    }
}

std::vector<uint8_t> Frame(int32_t id, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> frame(kFrameHeaderSize);
    WriteFrameHeader(frame.data(), id, static_cast<int32_t>(kFrameHeaderSize + body.size()));
    Append(frame, body);
    return frame;
}

std::vector<uint8_t> Int32Body(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> body(values.size() * 4);
    size_t at = 0;
    for (int32_t v : values) {
        PutInt32(body.data() + at, v);
        at += 4;
    }
    return body;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

CHANNEL_PARAMS MakeParams(int32_t protocol, uint8_t role, int port, int32_t frameBufferSize,
                          int32_t queueDepth) {
    CHANNEL_PARAMS params{};
    std::snprintf(params.channelName, sizeof params.channelName, "%s", "Test");
    std::snprintf(params.protocolText, sizeof params.protocolText, "%s",
                  protocol == kProtocolTcp ? "TCP" : "UDP");
    params.protocol = protocol;
    params.role = role;
    params.port = port;
    params.socketBufferSize = 500000;
    std::snprintf(params.address, sizeof params.address, "%s", "127.0.0.1");
    params.frameBufferSize = frameBufferSize;
    params.queueDepth = queueDepth;
    return params;
}

}  // namespace morvane::test
