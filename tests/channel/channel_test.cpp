// CChannel over loopback: frame assembly, reconnection, bind and connect
// retries, WaitConnection, sends to a closed peer, UDP and stopping.
#include "channel/channel.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <thread>

#include "channel/ccp.h"
#include "channel/messages.h"
#include "channel/msg_queue.h"
#include "channel_test_util.h"
#include "support/test_support.h"

namespace morvane::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kOut = ChannelStream::kOut;
constexpr auto kErr = ChannelStream::kErr;
using Bytes = std::vector<uint8_t>;

// A channel that reads whole frames (header, then body) and keeps them, and
// records its callbacks. receiveHook, when set before Init(), replaces the
// frame reader.
class FrameChannel : public CChannel {
  public:
    explicit FrameChannel(ChannelConsole* console) { SetConsole(console); }
    ~FrameChannel() override { Stop(); }

    std::function<void(FrameChannel&)> receiveHook;
    bool echo = false;    // answer every frame with itself
    bool queued = false;  // hand every frame to PutMessage()

    void OnMessage(const uint8_t* data, int32_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.emplace_back(data, data + length);
        deliveryThreads_.push_back(std::this_thread::get_id());
    }
    void OnConnection() override { ++connections; }
    void OnError(int32_t code) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.push_back({code, Clock::now()});
    }
    void OnReceive() override {
        if (receiveHook) {
            receiveHook(*this);
            return;
        }
        uint8_t* frame = FrameBuffer();
        if (!ReceiveData(frame, kFrameHeaderSize)) {
            Reconnect();
            return;
        }
        const MSG_COMM_HEADER header = ReadFrameHeader(frame);
        if (!FrameLengthFits(header.length, FrameBufferSize())) {
            Reconnect();
            return;
        }
        if (header.length > kFrameHeaderSize &&
            !ReceiveData(frame + kFrameHeaderSize, header.length - kFrameHeaderSize)) {
            Reconnect();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames_.emplace_back(frame, frame + header.length);
        }
        if (echo) SendData(frame, header.length);
        if (queued) PutMessage(frame, header.length);
    }
    void Run() override { ++runs; }
    using CChannel::DataSocket;

    std::vector<std::vector<uint8_t>> Frames() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    std::vector<std::vector<uint8_t>> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<std::thread::id> DeliveryThreads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliveryThreads_;
    }
    std::vector<Clock::time_point> ErrorTimes(int32_t code) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Clock::time_point> times;
        for (const auto& e : errors_)
            if (e.code == code) times.push_back(e.when);
        return times;
    }
    std::vector<int32_t> ErrorCodes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<int32_t> codes;
        for (const auto& e : errors_) codes.push_back(e.code);
        return codes;
    }
    size_t FrameCount() const { return Frames().size(); }

    std::atomic<int> connections{0};
    std::atomic<int> runs{0};

  private:
    struct Error {
        int32_t code;
        Clock::time_point when;
    };
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> frames_;
    std::vector<std::vector<uint8_t>> messages_;
    std::vector<std::thread::id> deliveryThreads_;
    std::vector<Error> errors_;
};

long long MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<milliseconds>(b - a).count();
}

// Runs Stop() on a helper thread; true when it returned within timeout. On a
// hang the thread is left behind and the channel must be leaked by the caller.
bool StopsWithin(CChannel& channel, milliseconds timeout) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread stopper([&channel, done] {
        channel.Stop();
        done->store(true);
    });
    bool stopped = WaitFor([&] { return done->load(); }, timeout);
    if (stopped)
        stopper.join();
    else
        stopper.detach();
    return stopped;
}

class ChannelTest : public ::testing::Test {
  protected:
    std::unique_ptr<FrameChannel> NewChannel() { return std::make_unique<FrameChannel>(&console); }

    std::unique_ptr<FrameChannel> TcpServer(int32_t bufferSize = kFrameBufferSize) {
        auto channel = NewChannel();
        channel->Init("Test", "Srv", MakeParams(kProtocolTcp, kRoleServer, port, bufferSize));
        return channel;
    }

    RecordingConsole console;  // declared first: outlives every channel of a test
    int port = FreeTcpPort();
};

TEST_F(ChannelTest, FramesArrivingInPiecesAreAssembledWhole) {
    struct Split {
        const char* name;
        std::vector<size_t> pieces;  // the rest of the frame follows as one piece
    };
    std::vector<Split> splits = {
        {"header byte by byte", {1, 1, 1, 1, 1, 1, 1, 1}},
        {"cut inside the length field", {5, 3}},
        {"header and one body byte", {9}},
        {"body in 4096-byte pieces", {8}},
        {"everything byte by byte up to 40", {}},
    };
    for (size_t i = 0; i < 24; ++i) splits[3].pieces.push_back(4096);
    for (int i = 0; i < 40; ++i) splits[4].pieces.push_back(1);

    auto server = TcpServer();
    Socket client = Connect(port);
    ASSERT_TRUE(client.valid());
    std::vector<std::vector<uint8_t>> sent;
    for (size_t c = 0; c < splits.size(); ++c) {
        SCOPED_TRACE(splits[c].name);
        // The largest frame of the protocol: it fills the buffer exactly.
        auto frame = Frame(MSG_COMM_ANSWER_READ_XML,
                           Pattern(kFrameBufferSize - kFrameHeaderSize, static_cast<uint8_t>(c)));
        ASSERT_EQ(frame.size(), static_cast<size_t>(kFrameBufferSize));
        size_t at = 0;
        for (size_t piece : splits[c].pieces) {
            ASSERT_TRUE(SendAll(client, frame.data() + at, piece));
            at += piece;
            SleepMs(2);
        }
        ASSERT_TRUE(SendAll(client, frame.data() + at, frame.size() - at));
        sent.push_back(frame);
        ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == c + 1; }));
    }
    EXPECT_EQ(server->Frames(), sent);
    EXPECT_EQ(server->connections, 1);
    EXPECT_EQ(server->runs, 1);
}

TEST_F(ChannelTest, SeveralFramesInOneSendAreReadOneByOne) {
    auto server = TcpServer();
    Socket client = Connect(port);
    ASSERT_TRUE(client.valid());
    std::vector<std::vector<uint8_t>> frames = {
        Frame(MSG_COMM_CLOSE_SESSION, {}),
        Frame(MSG_COMM_SIZE, Int32Body({1})),
        Frame(MSG_COMM_WRITE_XML, Pattern(300, 9)),
        Frame(MSG_COMM_SIZE, Int32Body({-7})),
    };
    std::vector<uint8_t> all;
    for (const auto& f : frames) Append(all, f);
    ASSERT_TRUE(SendAll(client, all));
    ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == frames.size(); }));
    EXPECT_EQ(server->Frames(), frames);
}

TEST_F(ChannelTest, PeerCloseFailsTheReadAndTheServerTakesTheNextClient) {
    auto server = TcpServer();
    {
        Socket first = Connect(port);
        ASSERT_TRUE(first.valid());
        ASSERT_TRUE(SendAll(first, Frame(MSG_COMM_SIZE, Int32Body({1}))));
        ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == 1; }));
    }
    EXPECT_TRUE(console.WaitForCount(kOut, "CChannel::ReceiveData  numrecv=0  err=0\n", 1));
    // The listening socket stays; the next client is accepted on it.
    Socket second = Connect(port);
    ASSERT_TRUE(second.valid());
    ASSERT_TRUE(SendAll(second, Frame(MSG_COMM_SIZE, Int32Body({2}))));
    ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == 2; }));
    EXPECT_EQ(server->Frames()[1], Frame(MSG_COMM_SIZE, Int32Body({2})));
    EXPECT_TRUE(server->Reconnecting());
    EXPECT_EQ(server->connections, 2);
    EXPECT_EQ(server->runs, 1);  // Run() belongs to the first connection only
    EXPECT_EQ(console.Count(kErr, "TCP Server is listening...\n"), 2);
    EXPECT_EQ(console.Count(kErr, "TCP Server after accept\n"), 2);
}

// Dropping a client leaves the server's side of that connection in
// TIME_WAIT on the listening port; the reconnection must bind it all the same.
TEST_F(ChannelTest, ServerThatDropsItsClientBindsItsPortAgain) {
    auto server = TcpServer();
    {
        Socket first = Connect(port);
        ASSERT_TRUE(first.valid());
        Bytes refused(kFrameHeaderSize);
        WriteFrameHeader(refused.data(), MSG_COMM_SIZE, kFrameBufferSize + 1);
        ASSERT_TRUE(SendAll(first, refused));
        EXPECT_TRUE(PeerCloses(first));
    }
    Socket second = Connect(port);
    ASSERT_TRUE(second.valid());
    ASSERT_TRUE(SendAll(second, Frame(MSG_COMM_SIZE, Int32Body({2}))));
    ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == 1; }));
    EXPECT_TRUE(server->ErrorCodes().empty());
    EXPECT_EQ(console.Count(kErr, "TCP Server is listening...\n"), 2);
}

// Clients that connect while one is served wait in the backlog, their
// frames unread, and are served one after the other as each leaves: none is
// reset and no byte of theirs is lost.
TEST_F(ChannelTest, WaitingClientsAreServedInTurnWithoutReset) {
    auto server = TcpServer();
    Socket first = Connect(port);
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(SendAll(first, Frame(MSG_COMM_SIZE, Int32Body({0}))));
    ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == 1; }));

    constexpr int kWaiting = 16;
    std::vector<Socket> waiting;
    for (int i = 1; i <= kWaiting; ++i) {
        waiting.push_back(Connect(port));  // completes in the backlog
        ASSERT_TRUE(waiting.back().valid());
        ASSERT_TRUE(SendAll(waiting.back(), Frame(MSG_COMM_SIZE, Int32Body({i}))));
    }
    EXPECT_TRUE(Silent(waiting.front(), milliseconds(200)));
    EXPECT_EQ(server->FrameCount(), 1u);

    first.Close();
    for (int i = 1; i <= kWaiting; ++i) {
        ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == static_cast<size_t>(i) + 1; }))
            << "client " << i;
        EXPECT_EQ(server->Frames()[static_cast<size_t>(i)], Frame(MSG_COMM_SIZE, Int32Body({i})));
        waiting[static_cast<size_t>(i) - 1].Close();
    }
    EXPECT_EQ(console.Count(kErr, "TCP Server after accept\n"), kWaiting + 1);
    EXPECT_TRUE(server->ErrorCodes().empty());
}

// Frames leave at once in both roles, and the server probes a quiet peer so
// that one whose host has vanished is dropped within about two minutes.
TEST_F(ChannelTest, ConnectionsSendWithoutDelayAndTheServerKeepsThemAlive) {
    auto server = TcpServer();
    auto client = NewChannel();
    client->Init("Test", "Cli", MakeParams(kProtocolTcp, kRoleClient, port));
    ASSERT_EQ(client->WaitConnection(10000), kWaitObject0);
    ASSERT_TRUE(WaitFor([&] { return server->DataSocket() >= 0; }));
    auto option = [](int fd, int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        EXPECT_EQ(getsockopt(fd, level, name, &value, &length), 0);
        return value;
    };
    const int served = server->DataSocket();
    EXPECT_NE(option(client->DataSocket(), IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_NE(option(served, IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_NE(option(served, SOL_SOCKET, SO_KEEPALIVE), 0);
    const int deadAfter = option(served, IPPROTO_TCP, TCP_KEEPIDLE) +
                          option(served, IPPROTO_TCP, TCP_KEEPINTVL) *
                              option(served, IPPROTO_TCP, TCP_KEEPCNT);
    EXPECT_GE(deadAfter, 60);
    EXPECT_LE(deadAfter, 150);
    EXPECT_GT(option(served, IPPROTO_TCP, TCP_USER_TIMEOUT), 0);
}

TEST_F(ChannelTest, PortTakenFailsTheBindAndRetriesAboutOnceASecond) {
    Socket squatter = Listen(port);
    ASSERT_TRUE(squatter.valid());
    auto server = TcpServer();
    ASSERT_TRUE(
        WaitFor([&] { return server->ErrorTimes(kErrorBind).size() >= 3; }, milliseconds(8000)));
    auto times = server->ErrorTimes(kErrorBind);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(MsBetween(times[i - 1], times[i]), 950);
        EXPECT_LE(MsBetween(times[i - 1], times[i]), 3000);
    }
    EXPECT_GE(console.Count(kErr, "bind() failed with error " + std::to_string(EADDRINUSE) + "\n"),
              3);
    // OnConnection and the receive thread follow all the same; the read on
    // the missing data socket fails at once.
    EXPECT_GE(console.Count(
                  kOut, "CChannel::ReceiveData  numrecv=-1  err=" + std::to_string(EBADF) + "\n"),
              2);
    EXPECT_GE(server->connections, 3);
    EXPECT_EQ(console.Count(kErr, "TCP Server is listening...\n"), 0);

    squatter.Close();
    Socket client = Connect(port);
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(SendAll(client, Frame(MSG_COMM_SIZE, Int32Body({5}))));
    ASSERT_TRUE(WaitFor([&] { return server->FrameCount() == 1; }));
    EXPECT_EQ(console.Count(kErr, "TCP Server is listening...\n"), 1);
}

TEST_F(ChannelTest, ClientStartedBeforeItsServerRetriesEvery500ms) {
    auto client = NewChannel();
    client->Init("Test", "Cli", MakeParams(kProtocolTcp, kRoleClient, port));
    ASSERT_TRUE(WaitFor([&] { return client->ErrorTimes(kErrorConnectTry).size() >= 3; }));
    auto times = client->ErrorTimes(kErrorConnectTry);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(MsBetween(times[i - 1], times[i]), 450);
        EXPECT_LE(MsBetween(times[i - 1], times[i]), 2000);
    }
    EXPECT_GE(console.Count(kErr, "TCP Client waits for connection...\n"), 3);
    EXPECT_EQ(client->WaitConnection(0), kWaitTimeout);
    EXPECT_EQ(client->connections, 0);

    Socket listener = Listen(port);
    ASSERT_TRUE(listener.valid());
    Socket peer = Accept(listener);
    ASSERT_TRUE(peer.valid());
    ASSERT_EQ(client->WaitConnection(10000), kWaitObject0);
    EXPECT_TRUE(console.WaitForCount(kErr, "TCP Client is connected successfully!\n", 1));

    auto frame = Frame(MSG_COMM_OPEN_SESSION, {'R', '.', 'x', 'm', 'l', 0});
    EXPECT_EQ(client->SendData(frame.data(), static_cast<int32_t>(frame.size())),
              static_cast<int32_t>(frame.size()));
    EXPECT_EQ(RecvExact(peer, frame.size()), frame);
    EXPECT_TRUE(WaitFor([&] { return client->connections == 1; }));
}

TEST_F(ChannelTest, WaitConnectionOnAServerFailsAtOnce) {
    auto server = TcpServer();
    auto start = Clock::now();
    EXPECT_EQ(server->WaitConnection(2000), kWaitFailed);
    EXPECT_LT(MsBetween(start, Clock::now()), 1000);
}

TEST_F(ChannelTest, WaitConnectionTakesOneSignalPerConnection) {
    Socket listener = Listen(port);
    ASSERT_TRUE(listener.valid());
    auto client = NewChannel();
    client->Init("Test", "Cli", MakeParams(kProtocolTcp, kRoleClient, port));
    Socket peer = Accept(listener);
    ASSERT_TRUE(peer.valid());
    ASSERT_EQ(client->WaitConnection(10000), kWaitObject0);
    EXPECT_EQ(client->WaitConnection(200), kWaitTimeout);

    // The server drops the client: it reconnects and signals anew.
    peer.Close();
    Socket again = Accept(listener);
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(client->WaitConnection(10000), kWaitObject0);
    EXPECT_EQ(client->WaitConnection(200), kWaitTimeout);
    EXPECT_TRUE(client->Reconnecting());
    EXPECT_EQ(console.Count(kErr, "TCP Client is connected successfully!\n"), 2);
}

TEST_F(ChannelTest, StopWakesAWaitConnection) {
    auto client = NewChannel();
    client->Init("Test", "Cli", MakeParams(kProtocolTcp, kRoleClient, port));
    std::atomic<uint32_t> result{1};
    std::thread waiter([&] { result = client->WaitConnection(10000); });
    SleepMs(100);
    EXPECT_TRUE(StopsWithin(*client, milliseconds(5000)));
    waiter.join();
    EXPECT_EQ(result.load(), kWaitFailed);
}

TEST_F(ChannelTest, ClientAndServerChannelsExchangeFrames) {
    auto server = TcpServer();
    server->echo = true;
    auto client = NewChannel();
    client->Init("Test", "Cli", MakeParams(kProtocolTcp, kRoleClient, port));
    ASSERT_EQ(client->WaitConnection(10000), kWaitObject0);

    std::vector<std::vector<uint8_t>> frames = {
        Frame(MSG_COMM_SIZE, Int32Body({1})),
        Frame(MSG_COMM_ANSWER_READ_XML, Pattern(kRecordArea + 4, 3)),
        Frame(MSG_COMM_CLOSE_SESSION, {}),
    };
    for (size_t i = 0; i < frames.size(); ++i) {
        auto size = static_cast<int32_t>(frames[i].size());
        EXPECT_EQ(client->SendData(frames[i].data(), size), size);
        ASSERT_TRUE(WaitFor([&] { return client->FrameCount() == i + 1; }));
    }
    EXPECT_EQ(server->Frames(), frames);
    EXPECT_EQ(client->Frames(), frames);
}

TEST_F(ChannelTest, SendToAClosedPeerFailsWithoutEndingTheProcess) {
    Socket listener = Listen(port);
    ASSERT_TRUE(listener.valid());
    auto client = NewChannel();
    // The client does not read, so it does not reconnect behind the test's back.
    client->receiveHook = [](FrameChannel&) { SleepMs(10); };
    client->Init("Test", "Cli", MakeParams(kProtocolTcp, kRoleClient, port));
    Socket peer = Accept(listener);
    ASSERT_TRUE(peer.valid());
    ASSERT_EQ(client->WaitConnection(10000), kWaitObject0);
    peer.Close();

    std::vector<uint8_t> big(64 * 1024, 0x5A);
    int32_t result = 0;
    for (int i = 0; i < 200 && result >= 0; ++i) {
        result = client->SendData(big.data(), static_cast<int32_t>(big.size()));
        SleepMs(5);
    }
    EXPECT_EQ(result, -1);
    auto lines = console.Lines(kErr);
    bool printed = false;
    for (const auto& l : lines)
        printed |= l == "CChannel::SendData  err = " + std::to_string(EPIPE) + "\n" ||
                   l == "CChannel::SendData  err = " + std::to_string(ECONNRESET) + "\n";
    EXPECT_TRUE(printed);
    EXPECT_TRUE(client->LastSocketError() == EPIPE || client->LastSocketError() == ECONNRESET);
}

TEST_F(ChannelTest, ReceiveDataRefusesCountsOfZeroAndBelow) {
    struct Case {
        int32_t count;
        int error;
        std::string line;
    };
    const std::vector<Case> cases = {
        {0, 0, "CChannel::ReceiveData  numrecv=0  err=0\n"},
        {-1, EINVAL, "CChannel::ReceiveData  numrecv=-1  err=" + std::to_string(EINVAL) + "\n"},
        {-100000, EINVAL,
         "CChannel::ReceiveData  numrecv=-1  err=" + std::to_string(EINVAL) + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        RecordingConsole local;
        auto server = std::make_unique<FrameChannel>(&local);
        std::atomic<int> result{-1};
        server->receiveHook = [&](FrameChannel& ch) {
            if (result.load() == -1) {
                result = ch.ReceiveData(ch.FrameBuffer(), c.count) ? 1 : 0;
            }
            SleepMs(10);
        };
        int p = FreeTcpPort();
        server->Init("Test", "Srv", MakeParams(kProtocolTcp, kRoleServer, p));
        Socket client = Connect(p);
        ASSERT_TRUE(client.valid());
        // A positive count would be read from these bytes; a count of 0 must
        // fail at once, with nothing in the stream to return early on.
        if (c.count != 0) {
            ASSERT_TRUE(SendAll(client, Pattern(16, 1)));
        }
        ASSERT_TRUE(WaitFor([&] { return result.load() != -1; }));
        EXPECT_EQ(result.load(), 0);
        EXPECT_EQ(local.Lines(kOut), std::vector<std::string>{c.line});
        EXPECT_EQ(server->LastSocketError(), c.error);
        server.reset();
    }
}

TEST_F(ChannelTest, StopEndsTheThreadsInEveryState) {
    struct Case {
        const char* name;
        uint8_t role;
        int32_t protocol;
        bool squat;        // the port is taken before the channel starts
        bool connectPeer;  // a client connects to the server
        std::string err;   // standard-error line that marks the state
        std::string out;   // standard-output line that marks the state
    };
    const std::vector<Case> cases = {
        {"server waiting in accept", kRoleServer, kProtocolTcp, false, false,
         "TCP Server is listening...\n", ""},
        {"server reading from a client", kRoleServer, kProtocolTcp, false, true,
         "TCP Server after accept\n", ""},
        {"client retrying its connection", kRoleClient, kProtocolTcp, false, false,
         "TCP Client waits for connection...\n", ""},
        {"server pausing before a bind retry", kRoleServer, kProtocolTcp, true, false, "",
         "CChannel::ReceiveData  numrecv=-1  err=" + std::to_string(EBADF) + "\n"},
        {"UDP server reading", kRoleServer, 1, false, false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingConsole local;
        int p = FreeTcpPort();
        Socket squatter = c.squat ? Listen(p) : Socket();
        auto channel = std::make_unique<FrameChannel>(&local);
        channel->Init("Test", "Stop", MakeParams(c.protocol, c.role, p));
        Socket client = c.connectPeer ? Connect(p) : Socket();
        bool reached;
        if (!c.err.empty())
            reached = local.WaitForCount(kErr, c.err, 1);
        else if (!c.out.empty())
            reached = local.WaitForCount(kOut, c.out, 1);
        else
            reached = WaitFor([&] { return channel->connections == 1; });
        EXPECT_TRUE(reached);
        if (!StopsWithin(*channel, milliseconds(5000))) {
            ADD_FAILURE() << "Stop() hung";
            (void)channel.release();  // its threads still run
        }
    }
}

// A datagram is a piece of the byte stream: frames split over datagrams and
// several frames in one datagram both arrive whole.
TEST_F(ChannelTest, UdpChannelsCarryFramesAcrossDatagrams) {
    auto server = NewChannel();
    server->echo = true;
    server->Init("Test", "Srv", MakeParams(1, kRoleServer, port));
    auto client = NewChannel();
    client->Init("Test", "Cli", MakeParams(1, kRoleClient, port));
    ASSERT_EQ(client->WaitConnection(10000), kWaitObject0);
    EXPECT_EQ(console.Count(kErr, "UDP Client is connected successfully!\n"), 1);
    ASSERT_TRUE(WaitFor([&] { return server->connections == 1; }));

    auto first = Frame(MSG_COMM_WRITE_XML, Pattern(1000, 4));
    EXPECT_EQ(client->SendData(first.data(), kFrameHeaderSize), kFrameHeaderSize);
    EXPECT_EQ(client->SendData(first.data() + kFrameHeaderSize, 1000), 1000);
    ASSERT_TRUE(WaitFor([&] { return client->FrameCount() == 1; }));

    auto second = Frame(MSG_COMM_SIZE, Int32Body({1}));
    auto third = Frame(MSG_COMM_ANSWER_SIZE, Int32Body({1, 64}));
    std::vector<uint8_t> both = second;
    Append(both, third);
    EXPECT_EQ(client->SendData(both.data(), static_cast<int32_t>(both.size())),
              static_cast<int32_t>(both.size()));
    ASSERT_TRUE(WaitFor([&] { return client->FrameCount() == 3; }));
    std::vector<std::vector<uint8_t>> expected = {first, second, third};
    EXPECT_EQ(server->Frames(), expected);
    EXPECT_EQ(client->Frames(), expected);
}

TEST_F(ChannelTest, UdpDatagramLargerThanTheBufferIsRefused) {
    constexpr int32_t kSmall = 64;
    auto server = NewChannel();
    server->Init("Test", "Srv", MakeParams(1, kRoleServer, port, kSmall));
    ASSERT_TRUE(WaitFor([&] { return server->connections == 1; }));
    Socket sender = UdpSocket();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto oversized = Frame(MSG_COMM_WRITE_XML, Pattern(100, 1));
    auto fits = Frame(MSG_COMM_SIZE, Int32Body({8}));
    for (const auto* d : {&oversized, &fits}) {
        // The server may still be binding again after the refusal.
        ASSERT_TRUE(WaitFor([&] {
            sendto(sender.fd(), d->data(), d->size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to);
            return d == &oversized
                       ? console.Count(kOut, "CChannel::ReceiveData  numrecv=108  err=" +
                                                 std::to_string(EMSGSIZE) + "\n") >= 1
                       : server->FrameCount() >= 1;
        }));
    }
    EXPECT_EQ(server->Frames()[0], fits);
}

class TestDispatcher : public CCP {
  public:
    TestDispatcher() : CCP("Test dispatcher") {}
    void OnStart() override {}
    void OnStop() override {}
};

TEST_F(ChannelTest, DispatcherDeliversReceivedFramesOnItsOwnThread) {
    TestDispatcher dispatcher;  // outlives the channel
    ASSERT_TRUE(dispatcher.Start());
    EXPECT_FALSE(dispatcher.Start());
    auto server = NewChannel();
    server->queued = true;
    server->Init(&dispatcher, "Test", "Srv", MakeParams(kProtocolTcp, kRoleServer, port, 512, 4));
    EXPECT_EQ(dispatcher.Count(), 1);

    Socket client = Connect(port);
    ASSERT_TRUE(client.valid());
    std::vector<std::vector<uint8_t>> frames = {
        Frame(MSG_COMM_SIZE, Int32Body({1})),
        Frame(MSG_COMM_WRITE_XML, Pattern(500, 2)),
        Frame(MSG_COMM_CLOSE_SESSION, {}),
    };
    for (const auto& f : frames) ASSERT_TRUE(SendAll(client, f));
    ASSERT_TRUE(WaitFor([&] { return server->Messages().size() == frames.size(); }));
    EXPECT_EQ(server->Messages(), frames);
    for (auto id : server->DeliveryThreads()) EXPECT_NE(id, std::this_thread::get_id());

    server.reset();
    EXPECT_EQ(dispatcher.Count(), 0);
}

TEST_F(ChannelTest, DispatcherDropsWhenFullAndSkipsSuspendedChannels) {
    TestDispatcher dispatcher;
    ASSERT_TRUE(dispatcher.Start());
    auto channel = NewChannel();
    channel->Init(&dispatcher, "Test", "Q", MakeParams(kProtocolTcp, kRoleServer, port, 64, 2));
    auto put = [&](uint8_t seed) { return channel->PutMessage(Pattern(10, seed).data(), 10); };

    channel->SetDeliverySuspended(1);
    EXPECT_TRUE(put(1));
    EXPECT_TRUE(put(2));
    EXPECT_TRUE(put(3));  // no free slot: dropped
    SleepMs(100);
    EXPECT_TRUE(channel->Messages().empty());
    EXPECT_EQ(channel->Queue()->UsedSlots(), 2);

    // The next signal delivers everything queued, oldest first.
    channel->SetDeliverySuspended(0);
    EXPECT_TRUE(put(4));  // still full: dropped, but the event fires
    ASSERT_TRUE(WaitFor([&] { return channel->Messages().size() == 2; }));
    EXPECT_TRUE(put(5));
    ASSERT_TRUE(WaitFor([&] { return channel->Messages().size() == 3; }));
    std::vector<std::vector<uint8_t>> expected = {Pattern(10, 1), Pattern(10, 2), Pattern(10, 5)};
    EXPECT_EQ(channel->Messages(), expected);

    // A message longer than a slot never enters the queue.
    std::vector<uint8_t> tooLong(65, 1);
    EXPECT_TRUE(channel->PutMessage(tooLong.data(), 65));
    SleepMs(50);
    EXPECT_EQ(channel->Messages().size(), 3u);
}

TEST_F(ChannelTest, DispatcherTakesAtMost64Channels) {
    std::vector<std::unique_ptr<FrameChannel>> channels;
    for (int i = 0; i < kMaxDispatchedChannels + 1; ++i) channels.push_back(NewChannel());
    TestDispatcher dispatcher;
    for (int i = 0; i < kMaxDispatchedChannels; ++i)
        EXPECT_TRUE(dispatcher.Register(channels[i].get()));
    EXPECT_FALSE(dispatcher.Register(channels.back().get()));
    EXPECT_FALSE(dispatcher.Register(nullptr));
    EXPECT_EQ(dispatcher.Count(), kMaxDispatchedChannels);

    dispatcher.Unregister(channels[5].get());
    EXPECT_EQ(dispatcher.Count(), kMaxDispatchedChannels - 1);
    EXPECT_TRUE(dispatcher.Register(nullptr));
    EXPECT_EQ(dispatcher.Count(), kMaxDispatchedChannels - 1);
    EXPECT_TRUE(dispatcher.Register(channels.back().get()));
}

}  // namespace
}  // namespace morvane::test
