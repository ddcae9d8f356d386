// Morvane publishing into a real nats-server (JetStream, temporary store,
// free loopback ports): once each, in each client's order, through broker
// outages, a killed Morvane, a full spool and a cluster node that dies.
#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>

#include <dirent.h>

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "broker_util.h"
#include "publish/publisher.h"
#include "channel_test_util.h"
#include "server_test_util.h"

namespace morvane::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

#define REQUIRE_NATS_SERVER()                                                        \
    if (NatsServerPath().empty()) GTEST_SKIP() << "nats-server is not installed: the " \
                                                  "publishing tests need it (apt-get install nats-server)"

std::string PublishIni(const std::string& urls, const std::string& extra = "") {
    return "CreateFilesFlag=0\nLogFlag=0\n[Publish]\nUrl=" + urls + "\nServerName=rig-a\n" + extra;
}

// Writes count PosRec records numbered from first (PosRecOf) on client.
void WriteRecords(const Socket& client, int first, int count) {
    std::vector<uint8_t> frames;
    for (int n = first; n < first + count; ++n) {
        std::vector<uint8_t> f = WriteRequest(kPosRecId, PosRecRecordOf(n));
        frames.insert(frames.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(SendAll(client, frames));
}

int32_t CountOfBody(const InMessage& m) {
    int32_t v = 0;
    std::memcpy(&v, m.body.data(), 4);
    return v;
}

uint64_t DirectoryBytes(const std::string& dir) {
    uint64_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            struct stat st;
            if (stat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                n += static_cast<uint64_t>(st.st_size);
        }
        closedir(d);
    }
    return n;
}

// Waits until the stream holds n messages.
bool WaitCount(const std::string& urls, int64_t n, milliseconds timeout = milliseconds(15000)) {
    return WaitFor([&] { return StreamCount(urls, "MORVANE") >= n; }, timeout);
}

// Every message once, by its id and by its body.
void ExpectEachOnce(const std::vector<InMessage>& got) {
    std::set<std::string> ids;
    std::set<std::string> bodies;
    for (const InMessage& m : got) {
        EXPECT_TRUE(ids.insert(m.Header("Nats-Msg-Id")).second) << m.Header("Nats-Msg-Id");
        EXPECT_TRUE(bodies.insert(m.Header("Morvane-Server") + m.body).second);
    }
}

// A size request answered: the server has handled every frame before it.
void ExpectInStepWith(const Socket& s) {
    ASSERT_TRUE(SendAll(s, SizeRequest(kPosRecId)));
    EXPECT_TRUE(RecvExact(s, 16).has_value());
}

TEST(PublishTest, FourClientsRecordsArriveOnceInOrderWithTheirHeaders) {
    REQUIRE_NATS_SERVER();
    NatsBroker broker;
    ASSERT_TRUE(broker.Start());
    MorvaneServer server(FreeTcpPort(), "MaxClients=4\n" + PublishIni(broker.Url()));
    ASSERT_TRUE(server.Start());
    constexpr int kClients = 4;
    constexpr int kEach = 2500;
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            Socket s = Connect(server.port());
            ASSERT_TRUE(SendAll(s, OpenSession("client" + std::to_string(c) + ".xml")));
            WriteRecords(s, c * 100000 + 1, kEach);
            ASSERT_TRUE(SendAll(s, CloseSession()));
            ExpectInStepWith(s);
        });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_TRUE(WaitCount(broker.Url(), kClients * kEach)) << server.Log();
    std::vector<InMessage> got = ReadAll(broker.Url(), "MORVANE");
    ASSERT_EQ(got.size(), static_cast<size_t>(kClients * kEach));
    ExpectEachOnce(got);
    std::map<std::string, int32_t> last;  // session: count of its last record
    std::set<int> numbers;
    const std::string fingerprint = got[0].Header("Morvane-Fingerprint");
    EXPECT_EQ(fingerprint.size(), 18u);
    EXPECT_EQ(fingerprint.rfind("0x", 0), 0u);
    for (const InMessage& m : got) {
        EXPECT_EQ(m.subject, "morvane.PosRec");
        EXPECT_EQ(m.Header("Morvane-Schema"), "PosRec");
        EXPECT_EQ(m.Header("Morvane-Schema-Id"), "7");
        EXPECT_EQ(m.Header("Morvane-Server"), "rig-a");
        EXPECT_EQ(m.Header("Morvane-Fingerprint"), fingerprint);
        const std::string session = m.Header("Morvane-Session");
        const int32_t count = CountOfBody(m);
        ASSERT_EQ(m.body, std::string(reinterpret_cast<const char*>(PosRecRecordOf(count).data()),
                                      kPosRecSize));
        EXPECT_EQ(session, "client" + std::to_string(count / 100000) + ".xml");
        EXPECT_GT(count, last[session]) << "out of order in " << session;
        last[session] = count;
        const int number = std::atoi(m.Header("Morvane-Record").c_str());
        EXPECT_TRUE(numbers.insert(number).second);
        EXPECT_EQ(m.Header("Nats-Msg-Id").substr(34), std::to_string(number));
    }
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), kClients * kEach);
    // The settings follow the serving keys.
    EXPECT_NE(server.Log().find("IdleTimeout=0\nMaxDataFileMB=64\nPublish_Url=" + broker.Url() +
                                "\nPublish_Stream=MORVANE\nPublish_Subject=morvane\n"
                                "Publish_Format=binary\nPublish_ServerName=rig-a\n"
                                "Publish_SpoolMB=256\nPublish_Replicas=1\n"
                                "Publish_DuplicateWindow=600\n"),
              std::string::npos)
        << server.Log();
    EXPECT_EQ(server.LogCount("Publish: stream MORVANE created for morvane.>, 1 replicas, "
                              "duplicate window 600 s\n"),
              1);
}

// Every published message and every acknowledgement is freed: 20,000 of
// them (about 2 KB and 250 bytes each) leave the heap as it was, give or
// take 3 MB (the acknowledgements alone would leave 5 MB).
TEST(PublishTest, AcknowledgedMessagesAreFreed) {
    REQUIRE_NATS_SERVER();
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's heap does not count in mallinfo2()";
#endif
    NatsBroker broker;
    ASSERT_TRUE(broker.Start());
    TempDir dir;
    PublisherOptions o;
    o.urls = broker.Url();
    o.stream = "MORVANE";
    o.subjectPrefix = "morvane";
    o.spoolDirectory = dir / "spool";
    constexpr int kMessages = 20000;
    const size_t before = mallinfo2().uordblks;
    {
        Publisher publisher;
        ASSERT_TRUE(publisher.Start(o));
        for (int i = 1; i <= kMessages; ++i) {
            OutMessage m;
            m.subject = "morvane.Wide";
            for (const char* name : {kHeaderSchema, kHeaderSchemaId, kHeaderRecord, kHeaderSession,
                                     kHeaderServer, kHeaderFingerprint})
                m.headers.emplace_back(name, "value of " + std::string(name));
            m.headers.emplace_back(kHeaderMsgId, "leak-" + std::to_string(i));
            m.body.assign(900, 'x');
            ASSERT_TRUE(publisher.Add(m));
        }
        ASSERT_TRUE(publisher.Drain(20000));
        EXPECT_EQ(publisher.GetStats().acknowledged, static_cast<uint64_t>(kMessages));
        publisher.Stop();
        const size_t after = mallinfo2().uordblks;
        EXPECT_LT(after, before + (3u << 20)) << "bytes in use grew by " << after - before;
    }
    EXPECT_EQ(StreamCount(broker.Url(), "MORVANE"), kMessages);
}

// Format=json: the body is the record's JSON object, numbered.
TEST(PublishTest, JsonFormatPublishesTheRecordObject) {
    REQUIRE_NATS_SERVER();
    NatsBroker broker;
    ASSERT_TRUE(broker.Start());
    MorvaneServer server(FreeTcpPort(), PublishIni(broker.Url(), "Format=json\nSubject=rigs.hall2\n"));
    ASSERT_TRUE(server.Start());
    Socket s = Connect(server.port());
    ASSERT_TRUE(SendAll(s, OpenSession("json.xml")));
    WriteRecords(s, 5, 2);
    ExpectInStepWith(s);
    ASSERT_TRUE(WaitCount(broker.Url(), 2));
    std::vector<InMessage> got = ReadAll(broker.Url(), "MORVANE");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].subject, "rigs.hall2.PosRec");
    EXPECT_EQ(got[1].body.rfind("{\"$schema\":\"PosRec\",\"$id\":7,\"$number\":2,\"count\":6,", 0), 0u)
        << got[1].body;
    EXPECT_EQ(got[1].body.back(), '}');
    EXPECT_EQ(server.LogCount("Publish: stream MORVANE created for rigs.hall2.>, 1 replicas, "
                              "duplicate window 600 s\n"),
              1);
}

// The broker stopped while a client writes 1,000 records a second: the
// client is neither slowed nor dropped, the spool stays within SpoolMB,
// and every record arrives once the broker is back.
TEST(PublishTest, BrokerAwayWhileAClientWritesSteadily) {
    REQUIRE_NATS_SERVER();
    NatsBroker broker;
    ASSERT_TRUE(broker.Start());
    MorvaneServer server(FreeTcpPort(), PublishIni(broker.Url(), "SpoolMB=2\n"));
    ASSERT_TRUE(server.Start());
    Socket s = Connect(server.port());
    ASSERT_TRUE(SendAll(s, OpenSession("steady.xml")));
    constexpr int kPerTick = 10;  // every 10 ms
    constexpr int kTicks = 600;   // 6 s
    const auto start = steady_clock::now();
    milliseconds worstLag{0};
    uint64_t spoolPeak = 0;
    for (int tick = 0; tick < kTicks; ++tick) {
        if (tick == 100) broker.Kill();
        if (tick == 400) {
            ASSERT_TRUE(broker.Start());
        }
        const auto due = start + milliseconds(10 * tick);
        std::this_thread::sleep_until(due);
        WriteRecords(s, tick * kPerTick + 1, kPerTick);
        worstLag = std::max(worstLag, std::chrono::duration_cast<milliseconds>(steady_clock::now() - due));
        if (tick % 20 == 0) spoolPeak = std::max(spoolPeak, DirectoryBytes(server / "PublishSpool"));
    }
    ExpectInStepWith(s);
    EXPECT_LT(worstLag, milliseconds(500));
    EXPECT_LE(spoolPeak, 2u << 20);
    EXPECT_GT(spoolPeak, 100u << 10) << "the outage should have filled the spool in part";
    ASSERT_TRUE(WaitCount(broker.Url(), kTicks * kPerTick)) << server.Log();
    std::vector<InMessage> got = ReadAll(broker.Url(), "MORVANE");
    ASSERT_EQ(got.size(), static_cast<size_t>(kTicks * kPerTick));
    ExpectEachOnce(got);
    std::set<int32_t> counts;
    size_t outOfOrder = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        counts.insert(CountOfBody(got[i]));
        if (CountOfBody(got[i]) != static_cast<int>(i) + 1) ++outOfOrder;
    }
    EXPECT_EQ(counts.size(), got.size());
    EXPECT_EQ(*counts.begin(), 1);
    EXPECT_EQ(*counts.rbegin(), kTicks * kPerTick);
    // Resends after the broker's death may follow records it stored after
    // them; few are out of place.
    EXPECT_LT(outOfOrder, 200u);
    EXPECT_GE(server.LogCount("Publish: connection to the broker lost, records wait in the spool\n"), 1);
}

// Morvane killed while records wait in the spool (the broker away), then
// started again: they arrive, and none of the records acknowledged before
// the kill arrives twice.
TEST(PublishTest, KilledMorvaneSendsItsSpoolAtTheNextStart) {
    REQUIRE_NATS_SERVER();
    NatsBroker broker;
    ASSERT_TRUE(broker.Start());
    MorvaneServer server(FreeTcpPort(), PublishIni(broker.Url()));
    ASSERT_TRUE(server.Start());
    {
        Socket s = Connect(server.port());
        ASSERT_TRUE(SendAll(s, OpenSession("before.xml")));
        WriteRecords(s, 1, 1000);
        ExpectInStepWith(s);
        ASSERT_TRUE(WaitCount(broker.Url(), 1000));
        broker.Kill();
        WriteRecords(s, 1001, 1000);
        ExpectInStepWith(s);
    }
    server.program().Stop(SIGKILL);
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(WaitCount(broker.Url(), 2000)) << server.Log();
    SleepMs(500);  // anything sent twice would stand in the stream by now
    std::vector<InMessage> got = ReadAll(broker.Url(), "MORVANE");
    ASSERT_EQ(got.size(), 2000u);
    ExpectEachOnce(got);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(CountOfBody(got[i]), static_cast<int>(i) + 1);
}

// A spool too small for the outage: the log says so once, and again with
// the count once publishing has caught up; the session file has them all.
TEST(PublishTest, FullSpoolLeavesRecordsOutAndSaysHowMany) {
    REQUIRE_NATS_SERVER();
    NatsBroker broker;  // not started yet
    MorvaneServer server(FreeTcpPort(), PublishIni(broker.Url(), "SpoolMB=1\n"));
    ASSERT_TRUE(server.Start());
    Socket s = Connect(server.port());
    ASSERT_TRUE(SendAll(s, OpenSession("outage.xml")));
    constexpr int kOutage = 8000;
    WriteRecords(s, 1, kOutage);
    ExpectInStepWith(s);
    const std::string full =
        "Publish: spool full (SpoolMB=1), records are left out of the stream until it drains "
        "(they stay in their session files)\n";
    EXPECT_EQ(server.LogCount(full), 1) << server.Log();
    EXPECT_LE(DirectoryBytes(server / "PublishSpool"), 1u << 20);
    ASSERT_TRUE(broker.Start());
    // The spooled records arrive; how many the spool held is the stream's count.
    int64_t spooled = -1;
    ASSERT_TRUE(WaitFor([&] {
        int64_t n = StreamCount(broker.Url(), "MORVANE");
        if (n > 0 && n == spooled) return true;
        spooled = n;
        SleepMs(300);
        return false;
    }, milliseconds(15000)));
    ASSERT_GT(spooled, 1000);
    ASSERT_LT(spooled, kOutage);
    WriteRecords(s, kOutage + 1, 10);
    ASSERT_TRUE(SendAll(s, CloseSession()));
    ExpectInStepWith(s);
    EXPECT_TRUE(server.WaitLog("Publish: spool has room again, publishing caught up; " +
                               std::to_string(kOutage - spooled) +
                               " records were left out of the stream (they are in their session "
                               "files)\n"))
        << server.Log();
    ASSERT_TRUE(WaitCount(broker.Url(), spooled + 10));
    std::vector<InMessage> got = ReadAll(broker.Url(), "MORVANE");
    ASSERT_EQ(got.size(), static_cast<size_t>(spooled + 10));
    for (int i = 0; i < spooled; ++i) EXPECT_EQ(CountOfBody(got[static_cast<size_t>(i)]), i + 1);
    EXPECT_EQ(CountOfBody(got.back()), kOutage + 10);
    EXPECT_EQ(CountOf(ReadFile(server / "XML_Data/outage.xml"), "<Schema "), kOutage + 10);
}

// Two Morvane servers publish into one three-broker cluster with a stream of
// three replicas; a broker is killed during the stream and comes back: the
// stream holds every record of both servers exactly once.
TEST(PublishClusterTest, TwoServersIntoThreeBrokersOneKilled) {
    REQUIRE_NATS_SERVER();
    const std::vector<int> ports = FreePorts(6);
    const std::vector<int> clientPorts(ports.begin(), ports.begin() + 3);
    const std::vector<int> routePorts(ports.begin() + 3, ports.end());
    std::vector<std::unique_ptr<NatsBroker>> brokers;
    std::string urls;
    for (int i = 0; i < 3; ++i) {
        brokers.push_back(std::make_unique<NatsBroker>(i, clientPorts, routePorts));
        urls += (i > 0 ? "," : "") + brokers.back()->Url();
    }
    for (auto& b : brokers) ASSERT_TRUE(b->Start());
    const std::string extra = "Replicas=3\n";
    MorvaneServer a(FreeTcpPort(), PublishIni(urls, extra));
    MorvaneServer b(FreeTcpPort(),
                    "CreateFilesFlag=0\nLogFlag=0\n[Publish]\nUrl=" + urls + "\nServerName=rig-b\n" + extra);
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    constexpr int kEach = 10000;
    constexpr int kSlice = 1000;
    Socket sa = Connect(a.port());
    Socket sb = Connect(b.port());
    ASSERT_TRUE(SendAll(sa, OpenSession("a.xml")));
    ASSERT_TRUE(SendAll(sb, OpenSession("b.xml")));
    for (int first = 1; first <= kEach; first += kSlice) {
        if (first == 3 * kSlice + 1) brokers[0]->Kill();
        if (first == 7 * kSlice + 1) {
            ASSERT_TRUE(brokers[0]->Start());
        }
        WriteRecords(sa, first, kSlice);
        WriteRecords(sb, first, kSlice);
        SleepMs(50);
    }
    ExpectInStepWith(sa);
    ExpectInStepWith(sb);
    const std::string survivors = brokers[1]->Url() + "," + brokers[2]->Url();
    ASSERT_TRUE(WaitCount(survivors, 2 * kEach, milliseconds(30000)))
        << StreamCount(survivors, "MORVANE") << "\n" << a.Log() << b.Log() << "A running "
        << a.program().Running() << " " << a.program().Stderr() << a.program().Stdout() << "B running "
        << b.program().Running() << " " << b.program().Stderr() << b.program().Stdout();
    SleepMs(500);
    std::vector<InMessage> got = ReadAll(survivors, "MORVANE", 10000);
    ASSERT_EQ(got.size(), static_cast<size_t>(2 * kEach));
    ExpectEachOnce(got);
    // Every record of both: once each (above), all there. A resend after a
    // failure may follow records stored after the one that failed, so the
    // order is not checked here.
    std::map<std::string, std::set<int32_t>> records;
    for (const InMessage& m : got) records[m.Header("Morvane-Server")].insert(CountOfBody(m));
    ASSERT_EQ(records.size(), 2u);
    for (const char* server : {"rig-a", "rig-b"}) {
        SCOPED_TRACE(server);
        EXPECT_EQ(records[server].size(), static_cast<size_t>(kEach));
        EXPECT_EQ(*records[server].begin(), 1);
        EXPECT_EQ(*records[server].rbegin(), kEach);
    }
}

}  // namespace
}  // namespace morvane::test

namespace morvane::test {
namespace {

// morvanec publish sends a session file (twice: the second run adds
// nothing) and morvanec subscribe reads it back record for record.
TEST(PublishMorvanecTest, PublishTwiceThenSubscribeBack) {
    REQUIRE_NATS_SERVER();
    NatsBroker broker;
    ASSERT_TRUE(broker.Start());
    TempDir dir;
    std::string records;
    for (int n = 1; n <= 300; ++n) {
        std::vector<uint8_t> r = PosRecRecordOf(n);
        records.append(reinterpret_cast<const char*>(r.data()), r.size());
    }
    WriteFile(dir / "records.bin", records);
    const std::string morvanec = BinDir() + "/morvanec";
    const std::string schema = BinDir() + "/Schemas/PosRec.xsd";
    const std::string telemetry = BinDir() + "/Schemas/Telemetry.xsd";
    ASSERT_EQ(RunProgram(morvanec, {"to-xml", schema, "records.bin", "-o", "session.xml"}, dir.path())
                  .exitCode,
              0);
    const std::vector<std::string> publish = {"publish", "--url", broker.Url(), "--server",
                                              "bench-7", telemetry, schema, "session.xml"};
    ProgramResult first = RunProgram(morvanec, publish, dir.path());
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, "session.xml: 300 records, 300 new in the stream MORVANE, 0 there already\n");
    ProgramResult second = RunProgram(morvanec, publish, dir.path());
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, "session.xml: 300 records, 0 new in the stream MORVANE, 300 there already\n");
    EXPECT_EQ(StreamCount(broker.Url(), "MORVANE"), 300);

    ProgramResult back =
        RunProgram(morvanec, {"subscribe", broker.Url(), "MORVANE", schema, "-o", "back.xml"}, dir.path());
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(ReadFile(dir / "back.xml"), ReadFile(dir / "session.xml"));

    ProgramResult lines = RunProgram(
        morvanec, {"subscribe", broker.Url(), "MORVANE", schema, "--json", "-o", "back.jsonl"}, dir.path());
    EXPECT_EQ(lines.exitCode, 0) << lines.err;
    const std::string json = ReadFile(dir / "back.jsonl");
    EXPECT_EQ(CountOf(json, "\n"), 300);
    EXPECT_EQ(json.rfind("{\"sequence\":1,\"server\":\"bench-7\",\"session\":\"session.xml\","
                         "\"run\":\"file\",\"number\":1,\"schema\":\"PosRec\",\"record\":{\"$schema\":"
                         "\"PosRec\",\"$id\":7,\"$number\":1,\"count\":1,",
                         0),
              0u)
        << json.substr(0, 300);

    // Bad input: a record of a schema not given, and a broker that is not there.
    ProgramResult missing = RunProgram(morvanec, {"publish", "--url", broker.Url(), telemetry, "session.xml"},
                                       dir.path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("session.xml:3:4: error: no schema given for the record of schema PosRec"),
              std::string::npos)
        << missing.err;
    ProgramResult away = RunProgram(
        morvanec, {"subscribe", "nats://127.0.0.1:" + std::to_string(FreeTcpPort()), "MORVANE", schema},
        dir.path());
    EXPECT_EQ(away.exitCode, 1);
    EXPECT_NE(away.err.find("cannot be reached"), std::string::npos) << away.err;
}

}  // namespace
}  // namespace morvane::test
