// Helpers for the channel and demo tests: a console that records the
// channel's status lines, plain loopback sockets to play the other side of a
// channel, and frame builders. Every blocking helper takes a time limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "channel/channel.h"
#include "channel/messages.h"

namespace morvane::test {

using std::chrono::milliseconds;

class RecordingConsole : public ChannelConsole {
  public:
    void Write(ChannelStream stream, const char* line) override;
    std::vector<std::string> Lines(ChannelStream stream) const;
    int Count(ChannelStream stream, const std::string& line) const;
    // Waits until line has been written at least n times.
    bool WaitForCount(ChannelStream stream, const std::string& line, int n,
                      milliseconds timeout = milliseconds(10000)) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> out_;
    std::vector<std::string> err_;
};

// An owned socket descriptor.
class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept;
    ~Socket() { Close(); }
    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Close();
    int Release();

  private:
    int fd_ = -1;
};

// A TCP listener on every local address; invalid when the port is taken.
Socket Listen(int port);
// The next connection on listener, or an invalid socket after timeout.
Socket Accept(const Socket& listener, milliseconds timeout = milliseconds(10000));
// Connects to 127.0.0.1:port, retrying until timeout.
Socket Connect(int port, milliseconds timeout = milliseconds(10000));
// A UDP socket bound to an ephemeral loopback port.
Socket UdpSocket();

bool SendAll(const Socket& s, const void* data, size_t size);
bool SendAll(const Socket& s, const std::vector<uint8_t>& data);
// Exactly n bytes, or nothing when they do not all come in time or the peer
// closes first.
std::optional<std::vector<uint8_t>> RecvExact(const Socket& s, size_t n,
                                              milliseconds timeout = milliseconds(10000));
// True when not a byte arrives (and the peer does not close) within window.
bool Silent(const Socket& s, milliseconds window);
// True when the peer closes the connection within timeout; data before the
// close is skipped.
bool PeerCloses(const Socket& s, milliseconds timeout = milliseconds(10000));

std::vector<uint8_t> Frame(int32_t id, const std::vector<uint8_t>& body);
std::vector<uint8_t> Int32Body(std::initializer_list<int32_t> values);
std::vector<uint8_t> Pattern(size_t n, uint8_t seed);
void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more);

CHANNEL_PARAMS MakeParams(int32_t protocol, uint8_t role, int port,
                          int32_t frameBufferSize = kFrameBufferSize, int32_t queueDepth = 5);

}  // namespace morvane::test
