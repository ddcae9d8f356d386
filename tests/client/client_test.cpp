// libmorvane-client against the real Morvane in a temporary program
// directory: every code a real request produces, the barrier of mv_sync,
// and servers that do not answer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "morvane/client.h"
#include "schema/fingerprint.h"
#include "schema/schema.h"
#include "server_test_util.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

const char kHugeSchema[] =
    "<Schema name=\"Huge\" id=\"21\">\n"
    "   <Item name=\"blob\" type=\"char\" nrepetitions=\"100001\" visibility=\"0\"/>\n"
    "</Schema>\n";
const char kFullSchema[] =
    "<Schema name=\"Full\" id=\"20\">\n"
    "   <Item name=\"blob\" type=\"char\" nrepetitions=\"8\"/>\n"
    "</Schema>\n";

// One client of a real server; the server serves two clients at once.
class ClientTest : public ::testing::Test {
  protected:
    ClientTest() : server_(FreeTcpPort(), "CreateFilesFlag=0\nMaxClients=2\n") {}

    void SetUp() override {
        WriteFile(server_ / "Schemas/Huge.xsd", kHugeSchema);
        WriteFile(server_ / "Schemas/Full.xsd", kFullSchema);
        WriteFile(server_ / "XML_Data/Full_dataR.xml", "<?x");
        ASSERT_TRUE(server_.Start()) << server_.program().Stderr();
        client_ = Connect();
        ASSERT_NE(client_, nullptr);
    }
    void TearDown() override { mv_disconnect(client_); }

    mv_client* Connect() {
        mv_client* c = nullptr;
        EXPECT_EQ(mv_connect(&c, "127.0.0.1", server_.port(), nullptr), MV_OK)
            << mv_last_error(nullptr);
        return c;
    }
    std::string Data(const std::string& name) const { return server_ / ("XML_Data/" + name); }

    MorvaneServer server_;
    mv_client* client_ = nullptr;
};

// The fingerprint of the example PosRec, as a header generated from it has it.
uint64_t PosRecFingerprint() {
    Schema schema;
    pugi::xml_document doc;
    std::string error;
    if (!LoadXmlDocument((SourceDir() + "/examples/Schemas/PosRec.xsd").c_str(), doc, error) ||
        !LoadSchema(schema, doc))
        ADD_FAILURE() << "PosRec does not load";
    return LayoutFingerprint(schema);
}

// Each row runs its calls on the test's client and expects the last call's
// code and a part of its text; the calls before it must succeed.
TEST_F(ClientTest, EveryFailureOfARealRequestHasItsCode) {
    const Bytes record = PosRecRecordOf(1);
    const Bytes shorter(kPosRecSize - 1, 0);
    Bytes longer = record;
    longer.push_back(1);
    ASSERT_EQ(mkdir(Data("dir.xml").c_str(), 0755), 0);
    uint8_t buffer[64];
    size_t length = 0;
    int32_t size = 0;
    using Call = std::function<int(mv_client*)>;
    auto sync = [](mv_client* c) { return mv_sync(c); };
    auto open = [](const char* name) { return [name](mv_client* c) { return mv_open_session(c, name); }; };
    auto write = [](const Bytes& r) {
        return [&r](mv_client* c) { return mv_write_record(c, kPosRecId, r.data(), r.size()); };
    };
    auto close = [](mv_client* c) { return mv_close_session(c); };
    const struct {
        const char* name;
        std::vector<Call> calls;
        int code;
        std::string text;  // contained in mv_last_error()
    } cases[] = {
        {"size of an unknown schema",
         {[&](mv_client* c) { return mv_record_size(c, 99, &size); }},
         MV_EUNKNOWN_SCHEMA, "Processsing_MsgCommSize Schema_id=99 is absent"},
        {"read of an unknown schema",
         {[&](mv_client* c) { return mv_read_record(c, 99, buffer, sizeof buffer, &length); }},
         MV_EUNKNOWN_SCHEMA, "Processsing_MsgCommSize Schema_id=99 is absent"},
        {"read without a data file",
         {[&](mv_client* c) { return mv_read_record(c, kPosRecId, buffer, sizeof buffer, &length); }},
         MV_ENODATA, "no data file " + server_.dir() + "/XML_Data/PosRec_dataR.xml"},
        {"read of a data file that is not XML",
         {[&](mv_client* c) { return mv_read_record(c, 20, buffer, sizeof buffer, &length); }},
         MV_EDATA, "problems reading file " + server_.dir() + "/XML_Data/Full_dataR.xml"},
        {"read of a record beyond a frame",
         {[&](mv_client* c) { return mv_read_record(c, 21, buffer, sizeof buffer, &length); }},
         MV_EDATA, "record size 100001 exceeds the record area"},
        {"read into a buffer too small",
         {[&](mv_client* c) { return mv_read_record(c, kPosRecId, buffer, 27, &length); }},
         MV_EARG, "smaller than the record of 28"},
        {"a refused session name", {open("a/x.xml"), sync}, MV_ESESSION,
         "session file name refused: it holds '/'"},
        {"a session file that cannot be created", {open("dir.xml"), sync}, MV_ESESSION,
         "dir.xml cannot be created err=21"},
        {"a write without a session", {write(record), sync}, MV_ESESSION,
         "Processsing_MsgCommWriteXml no session file is open"},
        {"a close without a session", {close, sync}, MV_ESESSION,
         "ProcessingCloseSession no session file is open"},
        {"a short write", {open("short.xml"), write(shorter), close, sync}, MV_ELENGTH,
         "length=39 is too short for a record of 28 bytes"},
        {"a long write", {open("long.xml"), write(longer), close, sync}, MV_ELENGTH,
         "length=41 is longer than a record of 28 bytes"},
        {"a record no frame can carry",
         {[](mv_client* c) {
             static const Bytes big(100001, 0);
             return mv_write_record(c, kPosRecId, big.data(), big.size());
         }},
         MV_ELENGTH, "a record of 100001 bytes does not fit"},
        // An earlier failure found by a size request's own status round is
        // kept for the next sync.
        {"a failure kept across a size request",
         {write(record), [&](mv_client* c) { return mv_record_size(c, kPosRecId, &size); }, sync},
         MV_ESESSION, "no session file is open"},
        {"the first failure of several", {open(""), write(shorter), sync}, MV_ESESSION,
         "it is empty"},
        {"a schema unknown to the check", {[](mv_client* c) { return mv_check_schema(c, 99, 28, 0); }},
         MV_EUNKNOWN_SCHEMA, "no schema of id 99"},
        {"a layout of another size",
         {[](mv_client* c) { return mv_check_schema(c, kPosRecId, 32, 0); }}, MV_ESCHEMA,
         "the server lays out PosRec (id 7) in 28 bytes"},
        {"arguments", {[](mv_client* c) { return mv_record_size(c, kPosRecId, nullptr); }},
         MV_EARG, "needs a size pointer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t i = 0; i + 1 < c.calls.size(); ++i)
            ASSERT_EQ(c.calls[i](client_), MV_OK) << i << ": " << mv_last_error(client_);
        EXPECT_EQ(c.calls.back()(client_), c.code) << mv_last_error(client_);
        EXPECT_NE(std::string(mv_last_error(client_)).find(c.text), std::string::npos)
            << mv_last_error(client_);
        // Nothing is left over for the next row.
        EXPECT_EQ(mv_sync(client_), MV_OK) << mv_last_error(client_);
    }
    EXPECT_EQ(mv_record_size(client_, kPosRecId, &size), MV_OK);
    EXPECT_EQ(size, kPosRecSize);
    EXPECT_EQ(mv_check_schema(client_, kPosRecId, kPosRecSize, PosRecFingerprint()), MV_OK)
        << mv_last_error(client_);
    EXPECT_EQ(mv_check_schema(client_, kPosRecId, kPosRecSize, PosRecFingerprint() ^ 1),
              MV_ESCHEMA);
    EXPECT_STREQ(mv_strerror(MV_ESESSION), "MV_ESESSION: session refused or none open");
}

TEST_F(ClientTest, AReadWithoutADataFileHoldsTheZeroRecord) {
    uint8_t buffer[40];
    std::memset(buffer, 0x5A, sizeof buffer);
    size_t length = 0;
    EXPECT_EQ(mv_read_record(client_, kPosRecId, buffer, sizeof buffer, &length), MV_ENODATA);
    EXPECT_EQ(length, static_cast<size_t>(kPosRecSize));
    EXPECT_TRUE(std::all_of(buffer, buffer + kPosRecSize, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(buffer[kPosRecSize], 0x5A);
    // A data file that sets values is read whole.
    const std::string data =
        "<?xml version=\"1.0\"?>\n<Schema name=\"Full\" id=\"20\">\n"
        "   <Item name=\"blob\" type=\"char\" nrepetitions=\"8\">ABCDEFGH</Item>\n</Schema>\n";
    WriteFile(Data("Full_dataR.xml"), data);
    EXPECT_EQ(mv_read_record(client_, 20, buffer, sizeof buffer, &length), MV_OK)
        << mv_last_error(client_);
    EXPECT_EQ(length, 8u);
}

TEST_F(ClientTest, ANameOpenByAnotherClientIsReportedToTheSecond) {
    mv_client* other = Connect();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(mv_open_session(client_, "Same.xml"), MV_OK);
    ASSERT_EQ(mv_sync(client_), MV_OK);
    ASSERT_EQ(mv_open_session(other, "Same.xml"), MV_OK);
    EXPECT_EQ(mv_sync(other), MV_ESESSION);
    EXPECT_NE(std::string(mv_last_error(other)).find("Same.xml is open by another client"),
              std::string::npos)
        << mv_last_error(other);
    EXPECT_EQ(mv_sync(client_), MV_OK);
    mv_disconnect(other);
}

// The barrier: after one sync every record of 1,000 writes is in the
// session file, in order, before the session is closed.
TEST_F(ClientTest, ASyncAfterAThousandWritesFindsThemAllInTheFile) {
    ASSERT_EQ(mv_open_session(client_, "barrier.xml"), MV_OK);
    std::string expected = "<?xml version=\"1.0\"?>\n<Root>\n";
    for (int n = 1; n <= 1000; ++n) {
        const Bytes r = PosRecRecordOf(n);
        ASSERT_EQ(mv_write_record(client_, kPosRecId, r.data(), r.size()), MV_OK);
        expected += PosRecRecordText(n, PosRecOf(n));
    }
    ASSERT_EQ(mv_sync(client_), MV_OK) << mv_last_error(client_);
    EXPECT_TRUE(ReadFile(Data("barrier.xml")) == expected) << "the file is not the 1000 records";
    ASSERT_EQ(mv_close_session(client_), MV_OK);
    ASSERT_EQ(mv_sync(client_), MV_OK);
    EXPECT_TRUE(ReadFile(Data("barrier.xml")) == expected + "</Root>\n");
}

// A session file on a device that fills up (a file-size limit on the
// server): the writes that no longer fit come back from mv_sync() as
// writer failures, the records before them stay in the file.
TEST(ClientFullDeviceTest, AWriteThatDoesNotFitIsAWriterFailure) {
    MorvaneServer server(FreeTcpPort(), "LogFlag=0\nCreateFilesFlag=0\n");
    BackgroundProgram morvane(CLIENT_FSIZE_EXEC, {"6000", server / "Morvane"}, server.dir());
    mv_client* c = nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mv_connect(&c, "127.0.0.1", server.port(), nullptr) == MV_ECONNECT &&
           std::chrono::steady_clock::now() < deadline)
        SleepMs(50);
    ASSERT_NE(c, nullptr) << mv_last_error(nullptr);
    ASSERT_EQ(mv_open_session(c, "full.xml"), MV_OK);
    for (int n = 1; n <= 20; ++n) {
        const Bytes r = PosRecRecordOf(n);
        ASSERT_EQ(mv_write_record(c, kPosRecId, r.data(), r.size()), MV_OK);
    }
    EXPECT_EQ(mv_sync(c), MV_EWRITE);
    EXPECT_STREQ(mv_last_error(c), "Error Processsing_MsgCommWriteXml problems");
    EXPECT_EQ(mv_sync(c), MV_OK);
    mv_disconnect(c);
    EXPECT_TRUE(morvane.Running());
}

// Servers that do not follow: one that never answers the status request
// (a server older than the request), one that goes silent after it, and
// no server at all.
TEST(ClientServersTest, ServersThatDoNotAnswer) {
    const int port = FreeTcpPort();
    Socket listener = Listen(port);
    ASSERT_TRUE(listener.valid());
    std::atomic<bool> answerFirst{false};
    std::thread peer([&] {
        for (int i = 0; i < 2; ++i) {
            Socket s = Accept(listener);
            if (!s.valid()) return;
            auto request = RecvExact(s, 8);
            if (request && answerFirst) {
                Bytes answer(44, 0);
                WriteFrameHeader(answer.data(), MSG_COMM_ANSWER_STATUS, 44);
                SendAll(s, answer);
            }
            // Holds the connection, silent, until the client has gone.
            PeerCloses(s, std::chrono::seconds(10));
        }
    });
    mv_options options = MV_OPTIONS_INIT;
    options.io_timeout_ms = 300;
    mv_client* c = nullptr;
    EXPECT_EQ(mv_connect(&c, "127.0.0.1", port, &options), MV_EPROTO);
    EXPECT_EQ(c, nullptr);
    EXPECT_NE(std::string(mv_last_error(nullptr)).find("does not answer the status request"),
              std::string::npos)
        << mv_last_error(nullptr);

    answerFirst = true;
    ASSERT_EQ(mv_connect(&c, "127.0.0.1", port, &options), MV_OK) << mv_last_error(nullptr);
    int32_t size = 0;
    EXPECT_EQ(mv_record_size(c, kPosRecId, &size), MV_ETIMEOUT);
    EXPECT_EQ(mv_sync(c), MV_EIO);
    EXPECT_EQ(mv_write_record(c, kPosRecId, "x", 1), MV_EIO);
    mv_disconnect(c);
    peer.join();

    listener.Close();
    EXPECT_EQ(mv_connect(&c, "127.0.0.1", port, nullptr), MV_ECONNECT);
    EXPECT_EQ(mv_connect(&c, "127.0.0.1", 0, nullptr), MV_EARG);
    mv_options bad = MV_OPTIONS_INIT;
    bad.size = 0;
    EXPECT_EQ(mv_connect(&c, "127.0.0.1", port, &bad), MV_EARG);
    EXPECT_NE(std::string(mv_last_error(nullptr)).find("MV_OPTIONS_INIT"), std::string::npos);
}

// examples/c-client built against the client and client-dev components
// installed into a temporary prefix, once with its CMake project
// (find_package(MorvaneClient)) and once with pkg-config, each run against
// the real server: a whole session, and a refusal of a server whose PosRec
// is laid out otherwise.
TEST(ExampleClientTest, BuildsAgainstAnInstalledPackageAndRunsASession) {
#if defined(__SANITIZE_ADDRESS__)
    // The installed library carries the sanitizer's run-time, which a
    // program built without it cannot load first.
    GTEST_SKIP() << "a user's program is built without the sanitizers";
#endif
    TempDir prefix;
    TempDir work;
    const auto kLong = std::chrono::seconds(120);
    for (const char* component : {"client", "client-dev"}) {
        ProgramResult r = RunProgram(CLIENT_CMAKE_COMMAND,
                                     {"--install", CLIENT_BUILD_DIR, "--prefix", prefix.path(),
                                      "--component", component},
                                     work.path(), kLong);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    const std::string example = SourceDir() + "/examples/c-client";
    ProgramResult r = RunProgram(CLIENT_CMAKE_COMMAND,
                                 {"-S", example, "-B", work / "cmake", "-DCMAKE_PREFIX_PATH=" +
                                  prefix.path(), "-DMORVANEC=" CLIENT_MORVANEC,
                                  "-DCMAKE_C_COMPILER=" CLIENT_C_COMPILER},
                                 work.path(), kLong);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    r = RunProgram(CLIENT_CMAKE_COMMAND, {"--build", work / "cmake"}, work.path(), kLong);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    // The same program with pkg-config, from the header the CMake build
    // generated.
    const std::string pkgConfig =
        "PKG_CONFIG_PATH=" + prefix.path() + "/" CLIENT_LIBDIR "/pkgconfig";
    r = RunProgram("/bin/sh",
                   {"-c", std::string(CLIENT_C_COMPILER) + " -std=c11 -DMORVANE_LAYOUT_CHECKS -I" +
                              work / "cmake/generated" + " " + example +
                              "/main.c -o pc_client $(pkg-config --cflags --libs morvane-client)"},
                   work.path(), kLong, {pkgConfig});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    MorvaneServer server(FreeTcpPort(), "CreateFilesFlag=0\n");
    ASSERT_TRUE(server.Start());
    const std::string port = std::to_string(server.port());
    const std::string libraryPath = "LD_LIBRARY_PATH=" + prefix.path() + "/" CLIENT_LIBDIR;
    for (const std::string& program : {work / "cmake/c_client", work / "pc_client"}) {
        SCOPED_TRACE(program);
        r = RunProgram(program, {"127.0.0.1", port, "example.xml"}, work.path(),
                       std::chrono::seconds(20), {libraryPath});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "c_client: 3 records in example.xml\n");
        const std::string session = ReadFile(server / "XML_Data/example.xml");
        EXPECT_EQ(CountOf(session, "<Schema name=\"PosRec\""), 3) << session;
    }

    // A server whose PosRec has grown a field is refused.
    MorvaneServer other(FreeTcpPort(), "CreateFilesFlag=0\n");
    std::string changed = ReadFile(other / "Schemas/PosRec.xsd");
    changed.replace(changed.find("</Schema>"), 9, "<Item name=\"extra\" type=\"int\"/></Schema>");
    WriteFile(other / "Schemas/PosRec.xsd", changed);
    ASSERT_TRUE(other.Start());
    r = RunProgram(work / "cmake/c_client", {"127.0.0.1", std::to_string(other.port())},
                   work.path(), std::chrono::seconds(20), {libraryPath});
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("MV_ESCHEMA"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(other / "XML_Data/c_client.xml"));
}

}  // namespace
}  // namespace morvane::test
