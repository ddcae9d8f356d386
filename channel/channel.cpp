#include "channel/channel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "channel/ccp.h"
#include "channel/messages.h"
#include "channel/msg_queue.h"

namespace morvane {

namespace {

class StdConsole : public ChannelConsole {
  public:
    void Write(ChannelStream stream, const char* line) override {
        std::fputs(line, stream == ChannelStream::kOut ? stdout : stderr);
    }
};

StdConsole g_stdConsole;

// Frames go out as soon as they are sent: a request or an answer never
// waits for the acknowledgement of the one before it.
void SetNoDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// True when fd ended up connected to itself: a client that retries a port in
// the ephemeral range on this machine can meet its own SYN.
bool SelfConnected(int fd) {
    sockaddr_in local{}, remote{};
    socklen_t localLen = sizeof local, remoteLen = sizeof remote;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0) return false;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteLen) != 0) return false;
    return local.sin_port == remote.sin_port && local.sin_addr.s_addr == remote.sin_addr.s_addr;
}

}  // namespace

CChannel::CChannel() : console_(&g_stdConsole) {}

CChannel::~CChannel() { Stop(); }

bool CChannel::Init(const char* name, const char* localName, const CHANNEL_PARAMS& params) {
    return Init(nullptr, name, localName, params);
}

bool CChannel::Init(CCP* dispatcher, const char* name, const char* localName,
                    const CHANNEL_PARAMS& params) {
    if (initialised_) return false;
    Setup(dispatcher, name, localName, params);
    connectThread_ = std::thread(&CChannel::ConnectThread, this);
    return true;
}

bool CChannel::Adopt(const char* name, const char* localName, const CHANNEL_PARAMS& params,
                     int fd, std::function<void()> onEnd) {
    if (initialised_) {
        close(fd);
        return false;
    }
    // Owned from here on, closed with the channel also when what follows
    // throws.
    TuneAccepted(fd);
    dataSocket_.store(fd);
    Setup(nullptr, name, localName, params);
    adopted_ = true;
    onEnd_ = std::move(onEnd);
    std::lock_guard<std::mutex> lock(stopMutex_);
    receiveThread_ = std::thread(&CChannel::ReceiveThread, this);
    return true;
}

void CChannel::Setup(CCP* dispatcher, const char* name, const char* localName,
                     const CHANNEL_PARAMS& params) {
    initialised_ = true;
    std::snprintf(name_, sizeof name_, "%s", name != nullptr ? name : "");
    std::snprintf(localName_, sizeof localName_, "%s", localName != nullptr ? localName : "");

    dispatcher_ = dispatcher;
    protocol_ = params.protocol != kProtocolTcp ? 1 : 0;
    role_ = params.role;
    socketBufferSize_ = params.socketBufferSize;
    port_ = params.port;
    configuredBufferSize_ = params.frameBufferSize;
    queueDepth_ = params.queueDepth;
    // The field may fill all its bytes without a terminating zero.
    std::snprintf(address_, sizeof address_, "%.*s",
                  static_cast<int>(strnlen(params.address, sizeof params.address)), params.address);

    frameBufferSize_ = std::max(configuredBufferSize_, 0);
    frameBuffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(frameBufferSize_));
    if (protocol_ != 0)
        datagram_ = std::make_unique<uint8_t[]>(static_cast<size_t>(frameBufferSize_));

    if (dispatcher_ != nullptr) {
        queue_ = std::make_unique<CMsgQueue>(configuredBufferSize_, queueDepth_);
        messageEvent_ = std::make_unique<AutoResetEvent>();
        deliveryBuffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(frameBufferSize_));
        dispatcher_->Register(this);
    }
    if (role_ == kRoleClient) connectionEvent_ = std::make_unique<AutoResetEvent>();
}

void CChannel::ConnectThread() {
    Connect();
    if (!Stopping()) Run();
    std::unique_lock<std::mutex> lock(stopMutex_);
    stopCv_.wait(lock, [this] { return stopping_; });
}

void CChannel::ReceiveThread() {
    if (adopted_ && !Stopping()) OnConnection();
    while (!Stopping() && !ended_.load()) OnReceive();
    if (onEnd_) onEnd_();
}

bool CChannel::Connect() {
    if (protocol_ == 0) {
        if (role_ == kRoleClient)
            ConnectTcpClient();
        else
            ConnectTcpServer();
    } else {
        if (role_ == kRoleClient)
            ConnectUdpClient();
        else
            ConnectUdpServer();
    }
    if (Stopping()) return true;
    OnConnection();
    if (!reconnecting_.load()) {
        std::lock_guard<std::mutex> lock(stopMutex_);
        if (!stopping_ && !receiveThread_.joinable())
            receiveThread_ = std::thread(&CChannel::ReceiveThread, this);
    }
    return true;
}

bool CChannel::ConnectTcpServer() {
    // The listening socket stays open from one client to the next; it is
    // made afresh only at the start and after a failure.
    if (listenSocket_.load() < 0) {
        if (!NewSocket(listenSocket_, SOCK_STREAM)) return false;
        const int fd = listenSocket_.load();
        SetBufferSizes(fd);
        // Lets a reconnection bind the port again while earlier connections
        // linger in TIME_WAIT.
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

        peer_ = PeerFromParams(true);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) != 0) {
            Print(ChannelStream::kErr, "bind() failed with error %d\n", errno);
            CloseSocket(listenSocket_);
            OnError(kErrorBind);
            return false;
        }
        if (listen(fd, kListenBacklog) != 0) {
            CloseSocket(listenSocket_);
            OnError(kErrorListen);
            return false;
        }
    }
    const int listener = listenSocket_.load();
    Print(ChannelStream::kErr, "TCP Server is listening...\n");
    {
        // Stop() shuts the socket down to wake accept(); that only works on a
        // socket that is already listening, so a stop that came earlier is
        // seen here.
        std::lock_guard<std::mutex> lock(stopMutex_);
        if (stopping_) return false;
    }

    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    int accepted;
    bool paused = false;
    for (;;) {
        fromLen = sizeof from;
        accepted = accept(listener, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (accepted >= 0 || Stopping()) break;
        const int err = errno;
        if (err == EINTR || err == ECONNABORTED) continue;
        // Out of descriptors or memory: the clients waiting in the backlog
        // stay there and are taken once some are free again.
        if (err != EMFILE && err != ENFILE && err != ENOBUFS && err != ENOMEM) break;
        if (!paused) OnAcceptPaused(err);
        paused = true;
        if (!Pause(kAcceptRetryMs)) break;
    }
    if (accepted < 0) {
        CloseSocket(listenSocket_);
        if (!Stopping()) OnError(kErrorAccept);
        return false;
    }
    peer_ = from;
    Print(ChannelStream::kErr, "TCP Server after accept\n");
    TuneAccepted(accepted);
    if (!SetBlocking(listener)) {
        close(accepted);
        OnError(kErrorBlocking);
        return false;
    }
    std::lock_guard<std::mutex> lock(stopMutex_);
    if (stopping_) {
        close(accepted);
        return false;
    }
    dataSocket_.store(accepted);
    return true;
}

bool CChannel::ConnectTcpClient() {
    if (!NewSocket(dataSocket_, SOCK_STREAM)) return false;
    SetBufferSizes(dataSocket_.load());
    SetNoDelay(dataSocket_.load());
    peer_ = PeerFromParams(false);
    if (!SetBlocking(dataSocket_.load())) {
        OnError(kErrorBlocking);
        return false;
    }
    for (;;) {
        int err;
        if (connect(dataSocket_.load(), reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) ==
            0) {
            if (!SelfConnected(dataSocket_.load())) break;
            // No server listens; a new socket gets a new local port.
            err = ECONNREFUSED;
            CloseSocket(dataSocket_);
            if (!NewSocket(dataSocket_, SOCK_STREAM)) return false;
            SetBufferSizes(dataSocket_.load());
            SetNoDelay(dataSocket_.load());
        } else {
            err = errno;
        }
        if (Stopping()) return false;
        OnError(kErrorConnectTry);
        if (err == EISCONN) break;
        Print(ChannelStream::kErr, "TCP Client waits for connection...\n");
        if (!Pause(500)) return false;
    }
    Print(ChannelStream::kErr, "TCP Client is connected successfully!\n");
    connectionEvent_->Set();
    return true;
}

bool CChannel::ConnectUdpServer() {
    if (!NewSocket(listenSocket_, SOCK_DGRAM)) return false;
    const int fd = listenSocket_.load();
    SetBufferSizes(fd);
    peer_ = PeerFromParams(true);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) != 0) {
        OnError(kErrorBlocking);
        CloseSocket(listenSocket_);
        return false;
    }
    if (!SetBlocking(fd)) {
        OnError(kErrorBlocking);
        return false;
    }
    std::lock_guard<std::mutex> lock(stopMutex_);
    if (stopping_) return false;
    dataSocket_.store(fd);
    return true;
}

bool CChannel::ConnectUdpClient() {
    if (!NewSocket(dataSocket_, SOCK_DGRAM)) return false;
    const int fd = dataSocket_.load();
    SetBufferSizes(fd);
    peer_ = PeerFromParams(false);
    if (!SetBlocking(fd)) {
        OnError(kErrorBlocking);
        return false;
    }
    // connect() only fixes the default peer of a datagram socket.
    while (connect(fd, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) != 0) {
        if (Stopping()) return false;
        Print(ChannelStream::kErr, "UDP Client waits for connection...\n");
        if (!Pause(1000)) return false;
    }
    Print(ChannelStream::kErr, "UDP Client is connected successfully!\n");
    // Signalled like the TCP client, so that WaitConnection() works for both.
    connectionEvent_->Set();
    return true;
}

bool CChannel::ReceiveData(void* dest, int32_t count) {
    if (count < 0) {
        lastError_.store(EINVAL);
        Print(ChannelStream::kOut, "CChannel::ReceiveData  numrecv=%d  err=%d\n", -1, EINVAL);
        return false;
    }
    auto* out = static_cast<uint8_t*>(dest);
    if (protocol_ != 0) return ReceiveUdp(out, count);
    if (count == 0) {
        // A receive of 0 bytes reports 0, which reads as a closed peer. It is
        // not made: on Linux it would block until the next bytes arrive.
        lastError_.store(0);
        Print(ChannelStream::kOut, "CChannel::ReceiveData  numrecv=%d  err=%d\n", 0, 0);
        return false;
    }
    int32_t remaining = count;
    do {
        if (aheadStart_ < aheadEnd_) {
            const int32_t piece = std::min(remaining, aheadEnd_ - aheadStart_);
            std::memcpy(out, ahead_.get() + aheadStart_, static_cast<size_t>(piece));
            NoteFrameBytes();
            aheadStart_ += piece;
            out += piece;
            remaining -= piece;
            continue;
        }
        // A small read takes whatever has arrived, up to kReceiveAhead
        // bytes, so that requests sent one after the other cost one call
        // between them; a large one goes straight to its destination.
        const bool direct = remaining >= kReceiveAhead;
        if (!direct && !ahead_) ahead_ = std::make_unique<uint8_t[]>(kReceiveAhead);
        if (frameStarted_ && !WaitWithinFrame()) {
            lastError_.store(EAGAIN);
            Print(ChannelStream::kOut, "CChannel::ReceiveData  numrecv=%d  err=%d\n", -1, EAGAIN);
            return false;
        }
        errno = 0;
        ssize_t n = direct ? recv(dataSocket_.load(), out, static_cast<size_t>(remaining), 0)
                           : recv(dataSocket_.load(), ahead_.get(), kReceiveAhead, 0);
        int err = errno;
        if (n < 0 && err == EINTR && !Stopping()) continue;
        if (n <= 0) {
            lastError_.store(err);
            Print(ChannelStream::kOut, "CChannel::ReceiveData  numrecv=%d  err=%d\n",
                  static_cast<int>(n), err);
            return false;
        }
        NoteFrameBytes();
        if (direct) {
            out += n;
            remaining -= static_cast<int32_t>(n);
        } else {
            aheadStart_ = 0;
            aheadEnd_ = static_cast<int32_t>(n);
        }
    } while (remaining > 0);
    return true;
}

void CChannel::BeginFrame() {
    frameTimed_ = idleTimeoutSeconds_ > 0 && protocol_ == 0;
    frameStarted_ = false;
    frameExpired_ = false;
    // Bytes of this frame that came with the one before it are here already.
    if (aheadStart_ < aheadEnd_) NoteFrameBytes();
}

void CChannel::NoteFrameBytes() {
    if (!frameTimed_ || frameStarted_) return;
    frameStarted_ = true;
    frameDeadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(idleTimeoutSeconds_);
}

bool CChannel::WaitWithinFrame() {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              frameDeadline_ - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{dataSocket_.load(), POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return true;  // the receive reports it
        if (Stopping()) return true;
    }
    frameExpired_ = true;
    return false;
}

bool CChannel::ReceiveUdp(uint8_t* dest, int32_t count) {
    if (count == 0) {
        lastError_.store(0);
        Print(ChannelStream::kOut, "CChannel::ReceiveData  numrecv=%d  err=%d\n", 0, 0);
        return false;
    }
    while (count > 0) {
        if (datagramPos_ >= datagramLength_) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            errno = 0;
            // MSG_TRUNC reports the full length of a datagram too large for
            // the buffer, so that it is refused instead of read in part.
            ssize_t n =
                recvfrom(dataSocket_.load(), datagram_.get(), static_cast<size_t>(frameBufferSize_),
                         MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLen);
            int err = errno;
            if (n < 0 && err == EINTR && !Stopping()) continue;
            if (n > frameBufferSize_) err = EMSGSIZE;
            if (n <= 0 || n > frameBufferSize_) {
                lastError_.store(err);
                Print(ChannelStream::kOut, "CChannel::ReceiveData  numrecv=%d  err=%d\n",
                      static_cast<int>(n), err);
                return false;
            }
            // A server answers whoever sent last; a client keeps the peer it
            // connected to, so that any thread may send meanwhile.
            if (role_ != kRoleClient) peer_ = from;
            datagramLength_ = static_cast<int32_t>(n);
            datagramPos_ = 0;
        }
        int32_t piece = std::min(count, datagramLength_ - datagramPos_);
        std::memcpy(dest, datagram_.get() + datagramPos_, static_cast<size_t>(piece));
        dest += piece;
        count -= piece;
        datagramPos_ += piece;
    }
    return true;
}

int32_t CChannel::SendData(const void* data, int32_t count) {
    if (count < 0) {
        lastError_.store(EINVAL);
        if (protocol_ == 0) Print(ChannelStream::kErr, "CChannel::SendData  err = %d\n", EINVAL);
        return -1;
    }
    if (protocol_ != 0) {
        auto n = static_cast<int32_t>(
            sendto(dataSocket_.load(), data, static_cast<size_t>(count), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_));
        if (n < 0) lastError_.store(errno);
        return n;
    }
    // A blocking send hands over everything unless a signal cuts it short;
    // the rest is sent then, so that no frame is left half-written.
    const auto* in = static_cast<const uint8_t*>(data);
    int32_t sent = 0;
    do {
        ssize_t n =
            send(dataSocket_.load(), in + sent, static_cast<size_t>(count - sent), MSG_NOSIGNAL);
        if (n < 0) {
            int err = errno;
            if (err == EINTR) continue;
            lastError_.store(err);
            Print(ChannelStream::kErr, "CChannel::SendData  err = %d\n", err);
            return -1;
        }
        sent += static_cast<int32_t>(n);
    } while (sent < count);
    return sent;
}

bool CChannel::Reconnect() {
    if (adopted_) {
        CloseSockets();
        ended_.store(true);
        return true;
    }
    if (protocol_ == 0 && role_ == kRoleServer && listenSocket_.load() >= 0) {
        // Clients that connected meanwhile wait in the backlog of the
        // listening socket: the next one is accepted at once.
        CloseSocket(dataSocket_);
        aheadStart_ = 0;
        aheadEnd_ = 0;
    } else {
        CloseSockets();
        if (!Pause(1000)) return true;
    }
    reconnecting_.store(true);
    Connect();
    return true;
}

uint32_t CChannel::WaitConnection(uint32_t timeoutMs) {
    if (!connectionEvent_) return kWaitFailed;
    return connectionEvent_->Wait(timeoutMs);
}

bool CChannel::PutMessage(const void* data, int32_t count) {
    if (!queue_) return true;
    if (!queue_->Put(data, count)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    messageEvent_->Set();
    return true;
}

void CChannel::Stop() {
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        if (!stopping_) {
            stopping_ = true;
            // Wakes a blocked accept() or recv(); the owning thread closes.
            for (int fd : {listenSocket_.load(), dataSocket_.load()})
                if (fd >= 0) shutdown(fd, SHUT_RDWR);
        }
    }
    stopCv_.notify_all();
    if (connectionEvent_) connectionEvent_->Close();
    for (std::thread* t : {&connectThread_, &receiveThread_}) {
        if (!t->joinable()) continue;
        if (t->get_id() == std::this_thread::get_id())
            t->detach();
        else
            t->join();
    }
    CloseSockets();
    if (dispatcher_ != nullptr) {
        dispatcher_->Unregister(this);
        dispatcher_ = nullptr;
    }
}

bool CChannel::Stopping() const {
    std::lock_guard<std::mutex> lock(stopMutex_);
    return stopping_;
}

void CChannel::OnError(int32_t) {}

void CChannel::OnAcceptPaused(int err) {
    Print(ChannelStream::kErr, "accept() failed with error %d, tried again every %d ms\n", err,
          kAcceptRetryMs);
}

int CChannel::TakeDataSocket() {
    std::lock_guard<std::mutex> lock(stopMutex_);
    return dataSocket_.exchange(-1);
}

void CChannel::Print(ChannelStream stream, const char* format, ...) const {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    console_->Write(stream, line);
}

bool CChannel::NewSocket(std::atomic<int>& field, int type) {
    std::lock_guard<std::mutex> lock(stopMutex_);
    if (stopping_) return false;
    field.store(socket(AF_INET, type, 0));
    return true;
}

void CChannel::SetBufferSizes(int fd) const {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &socketBufferSize_, sizeof socketBufferSize_);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &socketBufferSize_, sizeof socketBufferSize_);
}

void CChannel::TuneAccepted(int fd) const {
    SetNoDelay(fd);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleSeconds, sizeof kKeepAliveIdleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalSeconds,
               sizeof kKeepAliveIntervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
    const unsigned userTimeoutMs =
        (kKeepAliveIdleSeconds + kKeepAliveIntervalSeconds * kKeepAliveProbes) * 1000;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
    if (idleTimeoutSeconds_ > 0) {
        timeval limit{idleTimeoutSeconds_, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    // Each send call that hands nothing over within the stall fails with
    // EAGAIN; one that hands over part of the frame returns that part and
    // the next call starts the time anew.
    timeval stall{SendStallSeconds(), 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &stall, sizeof stall);
}

void CChannel::CloseSocket(std::atomic<int>& field) {
    std::lock_guard<std::mutex> lock(stopMutex_);
    int fd = field.exchange(-1);
    if (fd >= 0) close(fd);
}

void CChannel::CloseSockets() {
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        int listener = listenSocket_.exchange(-1);
        int data = dataSocket_.exchange(-1);
        if (listener >= 0) close(listener);
        // A UDP server reads and sends on its listening socket.
        if (data >= 0 && data != listener) close(data);
    }
    datagramLength_ = 0;
    datagramPos_ = 0;
    aheadStart_ = 0;
    aheadEnd_ = 0;
}

bool CChannel::SetBlocking(int fd) const {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool CChannel::Pause(int ms) {
    std::unique_lock<std::mutex> lock(stopMutex_);
    return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

sockaddr_in CChannel::PeerFromParams(bool anyAddress) const {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    if (anyAddress) {
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (inet_pton(AF_INET, address_, &addr.sin_addr) != 1) {
        // Not a dotted address: no name lookup, every attempt fails.
        addr.sin_addr.s_addr = htonl(INADDR_NONE);
    }
    return addr;
}

CHANNEL_PARAMS AppXsdTcpParams(uint8_t role, int32_t port, const char* address) {
    CHANNEL_PARAMS params{};
    std::snprintf(params.channelName, sizeof params.channelName, "%s", "App-Xsd");
    std::snprintf(params.serverName, sizeof params.serverName, "%s", "Xsd");
    std::snprintf(params.clientName, sizeof params.clientName, "%s", "App");
    std::snprintf(params.protocolText, sizeof params.protocolText, "%s", "TCP");
    params.protocol = kProtocolTcp;
    params.role = role;
    params.port = port;
    params.socketBufferSize = 500000;
    if (address != nullptr) std::snprintf(params.address, sizeof params.address, "%s", address);
    // The read answer must fit whole, header included.
    params.frameBufferSize = kFrameBufferSize;
    params.queueDepth = 5;
    return params;
}

}  // namespace morvane
