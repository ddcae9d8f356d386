// One point-to-point connection over TCP or UDP, in the server role (bind,
// listen, accept one peer) or the client role (connect to an address).
//
// Init() starts the connect thread, which runs the connection procedure and
// then starts the receive thread; the receive thread calls OnReceive() in a
// loop. A TCP server keeps its listening socket from one client to the
// next, so clients that connect while one is served wait in its backlog and
// are accepted in turn; Adopt() serves one connection accepted elsewhere. A subclass implements its protocol in OnReceive() with ReceiveData()
// and SendData() on the frame buffer (frames: channel/messages.h), and calls
// Reconnect() when a read fails. The channel writes its own status lines to
// standard output and standard error; it does not use the logger.
//
// Threads: the connect thread finishes with the sockets before it starts the
// receive thread; afterwards only the receive thread reads, reconnects and
// uses the frame buffer. SendData() takes no lock: callers on different
// threads must not send at the same time.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "channel/auto_reset_event.h"

namespace morvane {

class CCP;
class CMsgQueue;

constexpr int kParamNameWidth = 20;
constexpr int kProtocolTextWidth = 12;
constexpr int kAddressWidth = 20;
constexpr int kChannelNameWidth = 40;

// Clients that may wait to be accepted while a TCP server serves others.
constexpr int kListenBacklog = 64;
// TCP keep-alive on accepted connections: a peer that has been silent for
// kKeepAliveIdleSeconds is probed every kKeepAliveIntervalSeconds, and
// dropped after kKeepAliveProbes unanswered probes, about two minutes after
// its host vanished. A live peer answers the probes and is never dropped by
// them. Unacknowledged sends give up after as long.
constexpr int kKeepAliveIdleSeconds = 60;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 6;

constexpr int32_t kProtocolTcp = 0;
constexpr uint8_t kRoleServer = 0;
constexpr uint8_t kRoleClient = 1;

// Channel error codes passed to OnError().
constexpr int32_t kErrorBind = 2;        // TCP server: bind failed
constexpr int32_t kErrorListen = 3;      // TCP server: listen failed
constexpr int32_t kErrorAccept = 4;      // TCP server: accept failed
constexpr int32_t kErrorBlocking = 5;    // blocking mode failed; UDP server bind failed
constexpr int32_t kErrorConnectTry = 6;  // TCP client: one connection attempt failed

// The parameters of a channel; zero-fill it before setting fields.
struct CHANNEL_PARAMS {
    char channelName[kParamNameWidth];
    char serverName[kParamNameWidth];
    char clientName[kParamNameWidth];
    char protocolText[kProtocolTextWidth];
    int32_t protocol;             // 0 = TCP, any other value = UDP
    uint8_t role;                 // kRoleServer or kRoleClient
    int32_t port;                 // used as a 16-bit port number
    int32_t socketBufferSize;     // for both socket buffer options
    char address[kAddressWidth];  // dotted IPv4 text, client role
    int32_t frameBufferSize;      // bytes of the frame buffer, also the queue's slot size
    int32_t queueDepth;           // queued mode: number of slots
};

// The parameters both programs use for their "App-Xsd" TCP channel: names
// "App-Xsd", "Xsd" and "App", socket buffers of 500000 bytes, a frame buffer
// that holds the whole read answer with its header, and 5 queue slots.
// address may be null (the server role has none).
CHANNEL_PARAMS AppXsdTcpParams(uint8_t role, int32_t port, const char* address);

enum class ChannelStream { kOut, kErr };

// Where a channel's status lines go. The default writes to standard output
// and standard error, one write per line.
class ChannelConsole {
  public:
    // line ends with its own '\n'. Called from any of the channel's threads.
    virtual void Write(ChannelStream stream, const char* line) = 0;

  protected:
    ~ChannelConsole() = default;
};

class CEventElement {
  public:
    virtual ~CEventElement() = default;
    // Queued mode: one message taken from the queue, on the dispatcher's
    // thread. data is valid for the call only.
    virtual void OnMessage(const uint8_t* data, int32_t length) = 0;
};

class CChannel : public CEventElement {
  public:
    CChannel();
    // Stops the channel. A subclass whose threads may still be running must
    // call Stop() in its own destructor, because the threads call its
    // operations.
    ~CChannel() override;
    CChannel(const CChannel&) = delete;
    CChannel& operator=(const CChannel&) = delete;

    // Copies the parameters, allocates the frame buffer and starts the
    // connect thread. With a dispatcher (may be null) the channel also gets a
    // queue and a message event and is registered with it; the dispatcher
    // must outlive the channel. Returns true; false only when the channel
    // was initialised before (nothing is changed then).
    bool Init(const char* name, const char* localName, const CHANNEL_PARAMS& params);
    bool Init(CCP* dispatcher, const char* name, const char* localName,
              const CHANNEL_PARAMS& params);
    // The server side of one TCP connection accepted elsewhere (fd, which
    // the channel owns from now on): copies the parameters as Init() does
    // and starts the receive thread on fd at once, which calls
    // OnConnection() and then OnReceive() in a loop. There is no connect
    // thread: Reconnect() ends the connection instead, closing fd, and the
    // receive thread then calls onEnd (may be empty) and ends. onEnd also
    // runs when the channel is stopped. False, with fd closed, when the
    // channel was initialised before.
    bool Adopt(const char* name, const char* localName, const CHANNEL_PARAMS& params, int fd,
               std::function<void()> onEnd);

    // Runs the connection procedure of the protocol and role, then
    // OnConnection(), then starts the receive thread unless reconnecting.
    bool Connect();
    // True when the connection stands. Failures are printed and raised
    // through OnError() as the procedures say.
    bool ConnectTcpServer();
    bool ConnectTcpClient();
    bool ConnectUdpServer();
    bool ConnectUdpClient();

    // Reads exactly count bytes into dest. false when a receive call failed
    // or found the connection closed (printed then); a count of 0 or below
    // always fails. Over TCP, bytes that arrive beyond count wait for the
    // next call. Over UDP, each datagram is one piece of the byte stream:
    // a frame sent as one datagram is read in as many calls as over TCP; a
    // datagram longer than the frame buffer is refused (the read fails), and a
    // UDP server takes each sender as the peer that SendData() answers.
    bool ReceiveData(void* dest, int32_t count);
    // Sends count bytes; returns count, or -1 (printed for TCP) when the
    // send failed. A peer that has gone never raises a signal.
    int32_t SendData(const void* data, int32_t count);
    // Closes the sockets, pauses 1000 ms and runs Connect() again on the
    // calling thread. A TCP server whose listening socket stands closes the
    // data socket only and accepts the next client at once, without the
    // pause, so that a client waiting in the backlog is served in turn.
    // On an adopted connection (Adopt()) it closes the connection and the
    // receive loop ends. Returns true; returns at once once the channel
    // stops.
    bool Reconnect();
    // Waits for the next successful client connection: kWaitObject0 when
    // one was signalled, kWaitTimeout, or kWaitFailed for a server-role
    // channel (no event) and once the channel stops.
    uint32_t WaitConnection(uint32_t timeoutMs);
    // Queued mode: queues a copy of the message (dropped after a 1 ms pause
    // when the queue refuses it) and signals the message event. Returns true.
    bool PutMessage(const void* data, int32_t count);

    // Shuts the sockets down, wakes and joins the threads, closes the sockets
    // and leaves the dispatcher. Idempotent. Not to be called from the
    // channel's own threads or from OnMessage().
    void Stop();

    // Before Init(); console must outlive the channel.
    void SetConsole(ChannelConsole* console) { console_ = console; }
    ChannelConsole* Console() const { return console_; }
    // Before Init() or Adopt(): a connection this channel accepts or adopts
    // on which no byte arrives for seconds fails its ReceiveData() with
    // EAGAIN, as if the peer had gone. 0 (the default): never.
    // The same connections also give up a send that hands over nothing for
    // seconds (kSendStallSeconds when seconds is 0): SendData() fails with
    // EAGAIN, so that a peer that never reads cannot hold the channel.
    void SetIdleTimeout(int seconds) { idleTimeoutSeconds_ = seconds > 0 ? seconds : 0; }
    int IdleTimeout() const { return idleTimeoutSeconds_; }
    // The stall after which a send fails: the idle time, or
    // kSendStallSeconds without one.
    int SendStallSeconds() const {
        return idleTimeoutSeconds_ > 0 ? idleTimeoutSeconds_ : kSendStallSeconds;
    }
    static constexpr int kSendStallSeconds = 10;
    // With an idle time: the bytes received from now on make up one frame,
    // which must be complete within the idle time of its first byte. A
    // ReceiveData() that would wait past that fails with EAGAIN and
    // FrameExpired() is true until the next BeginFrame(). Without an idle
    // time it does nothing.
    void BeginFrame();
    bool FrameExpired() const { return frameExpired_; }
    // While non-zero the dispatcher skips this channel's events.
    void SetDeliverySuspended(int32_t suspended) { deliverySuspended_.store(suspended); }

    uint8_t* FrameBuffer() { return frameBuffer_.get(); }
    int32_t FrameBufferSize() const { return frameBufferSize_; }
    bool Reconnecting() const { return reconnecting_.load(); }
    // The socket error (errno) of the last failed receive or send call; 0
    // when that call found the connection closed.
    int LastSocketError() const { return lastError_.load(); }
    bool Stopping() const;
    const char* Name() const { return name_; }
    const char* LocalName() const { return localName_; }
    CMsgQueue* Queue() { return queue_.get(); }

    virtual void OnConnection() = 0;
    virtual void OnError(int32_t code);
    // A TCP server's accept() failed for want of descriptors or memory
    // (err): the listening socket stays open, and the accept is tried again
    // after a pause, kAcceptRetryMs, until it succeeds. Called once for each
    // such spell, at its start. The default prints a line on standard error.
    virtual void OnAcceptPaused(int err);
    static constexpr int kAcceptRetryMs = 100;
    virtual void OnReceive() = 0;
    virtual void Run() = 0;

  protected:
    // Formats one status line and hands it to the console.
    void Print(ChannelStream stream, const char* format, ...) const
        __attribute__((format(printf, 3, 4)));
    // Takes the data socket out of the channel, which then has none: the
    // caller owns the descriptor (-1 when there is none).
    int TakeDataSocket();
    // The data socket, for inspection; -1 when there is none.
    int DataSocket() const { return dataSocket_.load(); }

  private:
    friend class CCP;

    // Init() and Adopt() up to the start of their threads.
    void Setup(CCP* dispatcher, const char* name, const char* localName,
               const CHANNEL_PARAMS& params);
    void ConnectThread();
    void ReceiveThread();
    // Socket options of an accepted connection: no send delay, keep-alive,
    // the idle time limit.
    void TuneAccepted(int fd) const;
    // Creates a socket into field unless the channel stops; false then, or
    // when socket() failed (field holds -1 then).
    bool NewSocket(std::atomic<int>& field, int type);
    void SetBufferSizes(int fd) const;
    void CloseSocket(std::atomic<int>& field);
    void CloseSockets();
    bool SetBlocking(int fd) const;
    // Sleeps ms unless the channel stops first; false when it stops.
    bool Pause(int ms);
    sockaddr_in PeerFromParams(bool anyAddress) const;
    bool ReceiveUdp(uint8_t* dest, int32_t count);

    std::atomic<int32_t> deliverySuspended_{0};
    std::unique_ptr<CMsgQueue> queue_;
    int32_t frameBufferSize_ = 0;
    std::unique_ptr<uint8_t[]> frameBuffer_;
    CCP* dispatcher_ = nullptr;
    std::unique_ptr<AutoResetEvent> messageEvent_;
    // The dispatcher takes messages into a buffer of its own, so that
    // delivery never writes into the frame buffer the receive thread uses.
    std::unique_ptr<uint8_t[]> deliveryBuffer_;
    std::atomic<bool> reconnecting_{false};
    std::thread connectThread_;
    std::unique_ptr<AutoResetEvent> connectionEvent_;
    char name_[kChannelNameWidth] = "";
    char localName_[kChannelNameWidth] = "";
    uint8_t protocol_ = 0;
    uint8_t role_ = 0;
    int32_t socketBufferSize_ = 0;
    int32_t port_ = 0;
    char address_[kAddressWidth] = "";
    int32_t configuredBufferSize_ = 0;
    int32_t queueDepth_ = 0;
    std::thread receiveThread_;
    std::atomic<int> listenSocket_{-1};  // TCP and UDP server only
    std::atomic<int> dataSocket_{-1};
    std::atomic<int> lastError_{0};
    sockaddr_in peer_{};
    // UDP: the datagram being read, handed out over several ReceiveData() calls.
    std::unique_ptr<uint8_t[]> datagram_;
    int32_t datagramLength_ = 0;
    int32_t datagramPos_ = 0;
    // TCP: bytes received beyond what ReceiveData() was asked for, handed
    // out by the next calls; dropped with the connection.
    static constexpr int32_t kReceiveAhead = 65536;
    std::unique_ptr<uint8_t[]> ahead_;
    int32_t aheadStart_ = 0;
    int32_t aheadEnd_ = 0;
    // The frame begun with BeginFrame(): its time limit runs from its first
    // byte (frameStarted_), and a wait beyond it fails the receive.
    bool frameTimed_ = false;
    bool frameStarted_ = false;
    bool frameExpired_ = false;
    std::chrono::steady_clock::time_point frameDeadline_;
    // Marks the frame started (its deadline set) once bytes have come.
    void NoteFrameBytes();
    // Waits until the data socket can be read or the frame's deadline
    // passes; false (frame expired) then.
    bool WaitWithinFrame();

    ChannelConsole* console_;
    bool initialised_ = false;
    int idleTimeoutSeconds_ = 0;
    bool adopted_ = false;
    std::atomic<bool> ended_{false};  // an adopted connection has closed
    std::function<void()> onEnd_;
    // Guards the creation, shutdown and closing of sockets against Stop(),
    // and the stop flag itself.
    mutable std::mutex stopMutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
};

}  // namespace morvane
