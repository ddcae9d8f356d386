// For the bench programs that drive the real Morvane: a Morvane of this
// build in a temporary program directory, free ports, loopback connections
// tuned as the server's channel tunes its own, and whole sends and frame
// reads that end the program on failure.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "channel/messages.h"

namespace morvane::bench {

using Clock = std::chrono::steady_clock;

constexpr int kSocketBuffer = 500000;  // what the server's channel asks for
constexpr int kOne = 1;

[[noreturn]] inline void Die(const char* what) {
    std::fprintf(stderr, "bench: %s (errno %d)\n", what, errno);
    std::exit(1);
}

inline int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Die("bind");
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

inline void Tune(int fd) {
    // The same options the channel sets on its sockets; every wait is bounded.
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &kOne, sizeof kOne);
    timeval limit{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

inline int ConnectTo(int port, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (;;) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        Tune(fd);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
        close(fd);
        if (Clock::now() > deadline) Die("no connection to the server");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

inline void SendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0) Die("send");
        p += k;
        n -= static_cast<size_t>(k);
    }
}

inline void RecvAll(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t k = recv(fd, p, n, 0);
        if (k <= 0) Die("recv (timed out or closed)");
        p += k;
        n -= static_cast<size_t>(k);
    }
}

// Reads one frame the way both sides of the protocol do: header, then body.
inline int32_t RecvFrame(int fd, uint8_t* buffer) {
    RecvAll(fd, buffer, kFrameHeaderSize);
    MSG_COMM_HEADER h = ReadFrameHeader(buffer);
    if (!FrameLengthFits(h.length, kFrameBufferSize)) Die("bad frame length");
    if (h.length > kFrameHeaderSize)
        RecvAll(fd, buffer + kFrameHeaderSize, h.length - kFrameHeaderSize);
    return h.id;
}

struct Server {
    pid_t pid = -1;
    int port = 0;
    std::string dir;
};

// Starts Morvane and libquillog.so of binDir in a new temporary program
// directory holding the example schemas, a Morvane.ini of the port and the
// [General] lines general, and what prepare puts there. The server's
// output goes to server.out in the directory.
inline Server StartMorvane(const std::string& binDir, const std::string& general,
                           const std::function<void(const std::string&)>& prepare = {}) {
    namespace fs = std::filesystem;
    Server s;
    std::string tmpl = (fs::temp_directory_path() / "morvane-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) Die("mkdtemp");
    s.dir = tmpl;
    s.port = FreePort();
    for (const char* sub : {"Schemas", "ResultsInclude", "ResultsEmptyXml", "XML_Data"})
        fs::create_directories(s.dir + "/" + sub);
    for (const char* file : {"Morvane", "libquillog.so"})
        fs::copy_file(binDir + "/" + file, s.dir + "/" + file);
    fs::copy(std::string(MORVANE_SOURCE_DIR) + "/examples/Schemas", s.dir + "/Schemas");
    if (prepare) prepare(s.dir);
    std::ofstream(s.dir + "/Morvane.ini") << "[General]\nPort=" << s.port << "\n" << general;
    s.pid = fork();
    if (s.pid == 0) {
        if (chdir(s.dir.c_str()) != 0) _exit(126);
        int out = open((s.dir + "/server.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        std::string exe = s.dir + "/Morvane";
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return s;
}

}  // namespace morvane::bench
