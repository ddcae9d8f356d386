// Requests and clients that would kill the real Morvane or hold it for as
// long as they liked: a data file too large to read, a frame dripped a byte
// at a time, a client that never reads its answers, a server out of
// descriptors. Each row sets a server up, plays its client and checks that
// the server refused what it had to, said so in its log and went on
// serving the next client.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <filesystem>
#include <functional>

#include "battery_util.h"
#include "channel/messages.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

const Bytes kSizeAnswer =
    Frame(MSG_COMM_ANSWER_SIZE, Int32Body({kTelemetryId, kTelemetrySize}));

std::string DataFile(const MorvaneServer& server) {
    return server / "XML_Data/Telemetry_dataR.xml";
}

// The Telemetry data file with a comment of n bytes after its record: the
// same record in a file of any size.
void PadDataFile(const MorvaneServer& server, size_t n) {
    std::string text = ReadFile(DataFile(server));
    text += "<!--" + std::string(n, 'x') + "-->\n";
    WriteFile(DataFile(server), text);
}

// A size request answered on s: the server still serves this client.
void ExpectSizeAnswer(const Socket& s, const char* what) {
    ASSERT_TRUE(SendAll(s, SizeRequest(kTelemetryId))) << what;
    EXPECT_EQ(RecvExact(s, 16), kSizeAnswer) << what;
}

// The next client of a server that serves one at a time is served.
void ExpectNextClientServed(MorvaneServer& server) {
    Socket next = Connect(server.port());
    ASSERT_TRUE(next.valid());
    ExpectSizeAnswer(next, "the next client");
}

// A read request of Telemetry on s gets no answer; the size request after
// it does, and the log says why the read was refused.
void ExpectReadRefused(MorvaneServer& server, const std::string& logged) {
    Socket s = Connect(server.port());
    ASSERT_TRUE(s.valid());
    ASSERT_TRUE(SendAll(s, ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0))));
    ExpectSizeAnswer(s, "after the refused read");
    EXPECT_TRUE(server.WaitLog(logged)) << server.Log();
    EXPECT_TRUE(server.WaitLog("Error CChannelXsd::Processsing_MsgCommReadXml problems reading file"));
}

struct HoldRow {
    const char* name;
    std::string ini;
    // Run on the program directory before the server starts.
    std::function<void(MorvaneServer&)> prepare;
    // The client's part and the checks; the server has started.
    std::function<void(MorvaneServer&)> play;
    // A limit the server runs under (battery_fsize_exec's first argument:
    // nofile=N, as=BYTES); empty for none of our own.
    std::string limit = {};
};

const HoldRow kRows[] = {
    {"a sparse data file of 64 GiB is refused before it is read",
     "LogFlag=0\nCreateFilesFlag=0\n",
     [](MorvaneServer& s) { std::filesystem::resize_file(DataFile(s), uintmax_t{64} << 30); },
     [](MorvaneServer& s) {
         ExpectReadRefused(s, "holds 68719476736 bytes, more than the 67108864 bytes allowed "
                              "(MaxDataFileMB)");
         EXPECT_LT(ResidentKib(s.program().pid()), 200 * 1024);
     }},
    {"MaxDataFileMB=1 refuses a data file of 2 MiB",
     "LogFlag=1\nCreateFilesFlag=0\nMaxDataFileMB=1\n",
     [](MorvaneServer& s) { PadDataFile(s, size_t{2} << 20); },
     [](MorvaneServer& s) {
         EXPECT_NE(s.Log().find("MaxDataFileMB=1\n"), std::string::npos);
         ExpectReadRefused(s, "more than the 1048576 bytes allowed (MaxDataFileMB)");
     }},
    {"the default bound reads a file of 40 MiB, traced, and gives its memory back",
     "LogFlag=1\nCreateFilesFlag=0\n",
     [](MorvaneServer& s) { PadDataFile(s, size_t{40} << 20); },
     [](MorvaneServer& s) {
         Socket c = Connect(s.port());
         ASSERT_TRUE(c.valid());
         ExpectSizeAnswer(c, "before the reads");
         const long before = ResidentKib(s.program().pid());
         for (int i = 0; i < 2; ++i) {
             ASSERT_TRUE(SendAll(c, ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0))));
             auto answer = RecvExact(c, kAnswerReadXmlLength);
             ASSERT_TRUE(answer.has_value()) << s.Log();
             EXPECT_EQ(GetInt32(answer->data()), MSG_COMM_ANSWER_READ_XML);
         }
         EXPECT_TRUE(s.WaitLog("Xsd Server MSG_COMM_READ_XML MSG_COMM_ANSWER_READ_XML\n", 2));
#if !defined(__SANITIZE_ADDRESS__)  // its quarantine keeps freed memory resident
         EXPECT_LT(ResidentKib(s.program().pid()), before + 16 * 1024) << before << " KiB before";
#else
         (void)before;
#endif
     }},
    {"a data file without any element fails the read with the reader's trace line",
     "LogFlag=1\nCreateFilesFlag=0\n",
     [](MorvaneServer& s) { WriteFile(DataFile(s), "<?xml version=\"1.0\"?>\n"); },
     [](MorvaneServer& s) { ExpectReadRefused(s, "\nError  during reading  Root Element\n"); }},
    {"a frame dripped a byte every 1.5 s is dropped IdleTimeout after its first byte",
     "LogFlag=0\nCreateFilesFlag=0\nIdleTimeout=2\n", nullptr,
     [](MorvaneServer& s) {
         Socket c = Connect(s.port());
         ASSERT_TRUE(c.valid());
         const Bytes frame = SizeRequest(kTelemetryId);
         const auto start = Clock::now();
         bool closed = false;
         for (size_t i = 0; i < frame.size() && !closed; ++i) {
             ASSERT_TRUE(SendAll(c, &frame[i], 1) || i > 0);
             closed = PeerCloses(c, milliseconds(1500));
         }
         EXPECT_TRUE(closed) << "the client kept the server for the whole frame";
         EXPECT_LT(Clock::now() - start, milliseconds(4500));
         EXPECT_TRUE(s.WaitLog("the client did not complete its frame within 2 s and is dropped"))
             << s.Log();
         ExpectNextClientServed(s);
     }},
    {"a client that never reads its answers is dropped once a send stalls",
     "LogFlag=0\nCreateFilesFlag=0\nIdleTimeout=1\n", nullptr,
     [](MorvaneServer& s) {
         Socket c = Connect(s.port());
         ASSERT_TRUE(c.valid());
         int small = 4096;
         setsockopt(c.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
         // Far more answers than the socket buffers on both sides hold.
         Bytes requests;
         for (int i = 0; i < 200; ++i)
             Append(requests, ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0)));
         SendAll(c, requests);
         EXPECT_TRUE(s.WaitLog("the client took nothing of its answer for 1 s and is dropped"))
             << s.Log();
         ExpectNextClientServed(s);
     }},
    {"clients queued while the server is out of descriptors wait and are served",
     "LogFlag=0\nCreateFilesFlag=0\nMaxClients=32\n", nullptr,
     [](MorvaneServer& s) {
         constexpr int kClients = 24;
         std::vector<Socket> clients;
         for (int i = 0; i < kClients; ++i) {
             clients.push_back(Connect(s.port()));
             ASSERT_TRUE(clients.back().valid());
             ASSERT_TRUE(SendAll(clients.back(), SizeRequest(kTelemetryId)));
         }
         EXPECT_TRUE(s.WaitLog("accept failed err=24")) << s.Log();
         for (int i = 0; i < kClients; ++i) {
             EXPECT_EQ(RecvExact(clients[static_cast<size_t>(i)], 16), kSizeAnswer)
                 << "client " << i;
             clients[static_cast<size_t>(i)].Close();
         }
         // Once for each spell without descriptors, not once for each retry
         // (every 100 ms).
         EXPECT_LE(s.LogCount("accept failed err=24"), 4) << s.Log();
     },
     "nofile=16"},
    {"a read that cannot have the memory it needs is refused, the session goes on",
     "LogFlag=0\nCreateFilesFlag=0\nMaxDataFileMB=2048\n",
     [](MorvaneServer& s) { PadDataFile(s, size_t{256} << 20); },
     [](MorvaneServer& s) {
         Socket c = Connect(s.port());
         ASSERT_TRUE(c.valid());
         ASSERT_TRUE(SendAll(c, OpenSession("kept.xml")));
         ASSERT_TRUE(SendAll(c, WriteRequest(kTelemetryId, Bytes(kTelemetrySize, 1))));
         ASSERT_TRUE(SendAll(c, ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0))));
         ExpectSizeAnswer(c, "after the read out of memory");
         EXPECT_TRUE(s.WaitLog("Error CChannelXsd::Processsing_MsgCommReadXml problems reading file"))
             << s.Log();
         ASSERT_TRUE(SendAll(c, WriteRequest(kTelemetryId, Bytes(kTelemetrySize, 2))));
         ASSERT_TRUE(SendAll(c, CloseSession()));
         ExpectSizeAnswer(c, "after the session");
         const std::string session = ReadFile(s / "XML_Data/kept.xml");
         EXPECT_EQ(SessionFileProblem(session), "");
         EXPECT_EQ(CountOf(session, "<Schema "), 2);
     },
     // The server takes about 200 MiB of address space before any request.
     "as=" + std::to_string(size_t{384} << 20)},
};

TEST(HoldBattery, NoRequestKillsTheServerAndNoClientHoldsIt) {
    for (const HoldRow& row : kRows) {
        SCOPED_TRACE(row.name);
        MorvaneServer server(FreeTcpPort(), row.ini);
        if (row.prepare) row.prepare(server);
        std::unique_ptr<BackgroundProgram> limited;
        if (!row.limit.empty()) {
#if defined(__SANITIZE_ADDRESS__)
            // The sanitizer's run-time opens files of its own (/proc/self/maps)
            // and ends the process when it cannot, and reserves terabytes of
            // address space for its shadow: the limits are tested without it.
            continue;
#endif
            limited = std::make_unique<BackgroundProgram>(
                BATTERY_FSIZE_EXEC, std::vector<std::string>{row.limit, server / "Morvane"},
                server.dir());
            ASSERT_TRUE(WaitFor([&] { return server.ListenCount() >= 1; })) << limited->Stderr();
            row.play(server);
            EXPECT_TRUE(limited->Running()) << limited->Stderr();
            continue;
        }
        ASSERT_TRUE(server.Start()) << server.program().Stderr();
        row.play(server);
        EXPECT_TRUE(server.program().Running());
    }
}

}  // namespace
}  // namespace morvane::test
