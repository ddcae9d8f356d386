// CChannelApp against a fake server on a free loopback port: the exact frames
// of the session, the lines it prints, and its answers to odd or hostile
// frames.
#include <gtest/gtest.h>

#include <cstdio>

#include "channel/messages.h"
#include "channel_test_util.h"
#include "demo/channel_app.h"
#include "support/test_support.h"

namespace morvane::test {
namespace {

constexpr auto kOut = ChannelStream::kOut;
constexpr auto kErr = ChannelStream::kErr;
using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

Bytes SizeAnswer(int32_t schemaId, int32_t size) {
    return Frame(MSG_COMM_ANSWER_SIZE, Int32Body({schemaId, size}));
}

Bytes ReadRequest(int32_t size) {
    Bytes body = Int32Body({kDemoSchemaId});
    body.resize(body.size() + static_cast<size_t>(size), 0);
    return Frame(MSG_COMM_READ_XML, body);
}

// The record, then the rest of the record area filled with bytes the client
// must not take for the record.
Bytes ReadAnswer(const Bytes& record) {
    Bytes body = Int32Body({kDemoSchemaId});
    Append(body, record);
    body.resize(kAnswerReadXmlLength - kFrameHeaderSize, 0xEE);
    return Frame(MSG_COMM_ANSWER_READ_XML, body);
}

Bytes SessionFrames(const Bytes& record) {
    Bytes all = Frame(MSG_COMM_OPEN_SESSION, Bytes(kDemoSessionName, kDemoSessionName + 11));
    Bytes write = Int32Body({kDemoSchemaId});
    Append(write, record);
    for (int i = 0; i < 3; ++i) Append(all, Frame(MSG_COMM_WRITE_XML, write));
    Append(all, Frame(MSG_COMM_CLOSE_SESSION, {}));
    return all;
}

Lines SizeLines(int32_t schemaId, int32_t size) {
    return {"CChannelApp Client OnReceive - id=1 length=16\n",
            "App Client Processing_MsgCommAnswerSize\n",
            "   schema_id=" + std::to_string(schemaId) + "  schema_size=" + std::to_string(size) +
                "\n"};
}

Lines SessionLines(int32_t size) {
    std::string length = std::to_string(size + 12);
    return {"CChannelApp Client OnReceive - id=3 length=100012\n",
            "CChannelApp Client  Processing_MsgCommAnswerReadXml\n",
            "App Client sent MSG_COMM_OPEN_SESSION length = 19\n",
            "App Client sent MSG_COMM_WRITE_XML  length = " + length + "  0\n",
            "App Client sent MSG_COMM_WRITE_XML  length = " + length + "  1\n",
            "App Client sent MSG_COMM_WRITE_XML  length = " + length + "  2\n",
            "App Client sent MSG_COMM_CLOSE_SESSION length = 8\n"};
}

template <class T>
std::vector<T> Concat(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::string kSentRead = "CChannelApp Client sent MSG_COMM_READ_XML\n";

// A fake server with one connected CChannelApp that has sent its size
// request.
class DemoSession {
  public:
    DemoSession() {
        listener = Listen(port);
        EXPECT_TRUE(listener.valid());
        app.SetConsole(&console);
        started = app.Begin(port, 10000);
        server = Accept(listener);
        EXPECT_TRUE(started && server.valid());
        EXPECT_EQ(RecvExact(server, kSizeRequestLength),
                  Frame(MSG_COMM_SIZE, Int32Body({kDemoSchemaId})));
    }
    ~DemoSession() { app.Stop(); }

    bool ok() const { return started && server.valid(); }
    void Send(const Bytes& frame) { EXPECT_TRUE(SendAll(server, frame)); }
    // What the client printed on standard output after its first request,
    // without the OnConnection line, whose moment depends on the threads.
    Lines Out() const {
        Lines lines;
        for (const auto& l : console.Lines(kOut))
            if (l.rfind("CChannelApp::OnConnection()", 0) != 0) lines.push_back(l);
        return lines;
    }
    bool WaitForOut(const std::string& line, int n = 1) {
        return console.WaitForCount(kOut, line, n);
    }
    std::string ConnectionLine() const {
        char line[64];
        std::snprintf(line, sizeof line, "CChannelApp::OnConnection() this=0x%X\n",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(&app)));
        return line;
    }

    RecordingConsole console;
    int port = FreeTcpPort();
    Socket listener;
    CChannelApp app;
    Socket server;
    bool started = false;
};

TEST(DemoAppTest, RunsTheWholeSession) {
    DemoSession s;
    ASSERT_TRUE(s.ok());
    const Bytes record = Pattern(37, 11);
    s.Send(SizeAnswer(1, 37));
    EXPECT_EQ(RecvExact(s.server, 49), ReadRequest(37));
    s.Send(ReadAnswer(record));
    const Bytes session = SessionFrames(record);
    EXPECT_EQ(RecvExact(s.server, session.size()), session);
    EXPECT_TRUE(Silent(s.server, milliseconds(200)));

    ASSERT_TRUE(s.WaitForOut("App Client sent MSG_COMM_CLOSE_SESSION length = 8\n"));
    EXPECT_EQ(s.Out(), Concat({{"App Client send MSG_COMM_SIZE\n"},
                               SizeLines(1, 37),
                               {kSentRead},
                               SessionLines(37)}));
    EXPECT_EQ(s.console.Count(kOut, s.ConnectionLine()), 1);
    EXPECT_EQ(s.console.Lines(kErr), Lines{"TCP Client is connected successfully!\n"});
}

TEST(DemoAppTest, AnswersToOddButWellFormedFrames) {
    struct Case {
        const char* name;
        std::vector<Bytes> answers;  // sent by the server, in order
        Bytes expected;              // everything the client sends back
        Lines lines;                 // printed after the first request
    };
    const Bytes empty;
    const std::vector<Case> cases = {
        {"size answer for another schema still reads schema 1",
         {SizeAnswer(7, 4)},
         ReadRequest(4),
         Concat({SizeLines(7, 4), {kSentRead}})},
        {"unknown id is printed and skipped",
         {Frame(9, {}), Frame(MSG_COMM_ANSWER_READ_XML - 3, {}), SizeAnswer(1, 2)},
         ReadRequest(2),
         Concat({{"CChannelApp Client OnReceive - id=9 length=8\n",
                  "CChannelApp Client OnReceive - id=0 length=8\n"},
                 SizeLines(1, 2),
                 {kSentRead}})},
        {"every size answer starts a read of its own size",
         {SizeAnswer(1, 4), SizeAnswer(1, 9)},
         Concat<uint8_t>({ReadRequest(4), ReadRequest(9)}),
         Concat({SizeLines(1, 4), {kSentRead}, SizeLines(1, 9), {kSentRead}})},
        {"record size below zero is refused",
         {SizeAnswer(1, -5), SizeAnswer(1, 3)},
         ReadRequest(3),
         Concat({SizeLines(1, -5),
                 {"Error App Client schema_size=-5 does not fit the record area of 100000 bytes\n"},
                 SizeLines(1, 3),
                 {kSentRead}})},
        {"record size beyond the record area is refused",
         {SizeAnswer(1, kRecordArea + 1), SizeAnswer(1, 3)},
         ReadRequest(3),
         Concat({SizeLines(1, kRecordArea + 1),
                 {"Error App Client schema_size=100001 does not fit the record area of 100000 "
                  "bytes\n"},
                 SizeLines(1, 3),
                 {kSentRead}})},
        {"a record filling the whole area",
         {SizeAnswer(1, kRecordArea)},
         ReadRequest(kRecordArea),
         Concat({SizeLines(1, kRecordArea), {kSentRead}})},
        {"size answer without the record size",
         {Frame(MSG_COMM_ANSWER_SIZE, Int32Body({1})), SizeAnswer(1, 1)},
         ReadRequest(1),
         Concat({{"CChannelApp Client OnReceive - id=1 length=12\n",
                  "App Client Processing_MsgCommAnswerSize\n",
                  "Error App Client MSG_COMM_ANSWER_SIZE length=12 is too short\n"},
                 SizeLines(1, 1),
                 {kSentRead}})},
        {"read answer before any size answer",
         {ReadAnswer(Pattern(4, 1)), SizeAnswer(1, 2)},
         ReadRequest(2),
         Concat({{"CChannelApp Client OnReceive - id=3 length=100012\n",
                  "CChannelApp Client  Processing_MsgCommAnswerReadXml\n",
                  "Error App Client MSG_COMM_ANSWER_READ_XML before the record size is known\n"},
                 SizeLines(1, 2),
                 {kSentRead}})},
        {"empty record",
         {SizeAnswer(1, 0), ReadAnswer(empty)},
         Concat<uint8_t>({ReadRequest(0), SessionFrames(empty)}),
         Concat({SizeLines(1, 0), {kSentRead}, SessionLines(0)})},
        {"read answer shorter than the record",
         {SizeAnswer(1, 8), Frame(MSG_COMM_ANSWER_READ_XML, Int32Body({1, 2})), SizeAnswer(1, 1)},
         Concat<uint8_t>({ReadRequest(8), ReadRequest(1)}),
         Concat({SizeLines(1, 8),
                 {kSentRead, "CChannelApp Client OnReceive - id=3 length=16\n",
                  "CChannelApp Client  Processing_MsgCommAnswerReadXml\n",
                  "Error App Client MSG_COMM_ANSWER_READ_XML length=16 is shorter than the "
                  "record\n"},
                 SizeLines(1, 1),
                 {kSentRead}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DemoSession s;
        ASSERT_TRUE(s.ok());
        for (const auto& a : c.answers) s.Send(a);
        EXPECT_EQ(RecvExact(s.server, c.expected.size()), c.expected);
        EXPECT_TRUE(Silent(s.server, milliseconds(200)));
        EXPECT_EQ(s.Out(), Concat({{"App Client send MSG_COMM_SIZE\n"}, c.lines}));
    }
}

// A length the client will not read drops the connection; the client
// reconnects and then stays idle.
TEST(DemoAppTest, HostileLengthsMakeTheClientReconnect) {
    struct Case {
        int32_t id;
        int32_t length;
        std::string line;
    };
    const std::vector<Case> cases = {
        {MSG_COMM_ANSWER_READ_XML, kFrameBufferSize + 1,
         "Error CChannelApp Client id=3 length=100013 does not fit the frame buffer of 100012 "
         "bytes\n"},
        {MSG_COMM_ANSWER_SIZE, 0x7FFFFFFF,
         "Error CChannelApp Client id=1 length=2147483647 does not fit the frame buffer of 100012 "
         "bytes\n"},
        {MSG_COMM_ANSWER_SIZE, 4,
         "Error CChannelApp Client id=1 length=4 does not fit the frame buffer of 100012 bytes\n"},
        {MSG_COMM_ANSWER_SIZE, -8,
         "Error CChannelApp Client id=1 length=-8 does not fit the frame buffer of 100012 bytes\n"},
        {MSG_COMM_ANSWER_SIZE, 8, "CChannel::ReceiveData  numrecv=0  err=0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        DemoSession s;
        ASSERT_TRUE(s.ok());
        Bytes header(kFrameHeaderSize);
        WriteFrameHeader(header.data(), c.id, c.length);
        Bytes tail = Pattern(64, 1);  // must not be read as part of a frame
        Append(header, tail);
        s.Send(header);
        EXPECT_TRUE(s.WaitForOut(c.line));
        EXPECT_TRUE(PeerCloses(s.server));
        Socket again = Accept(s.listener);
        ASSERT_TRUE(again.valid());
        EXPECT_TRUE(s.console.WaitForCount(kErr, "TCP Client is connected successfully!\n", 2));
        EXPECT_TRUE(Silent(again, milliseconds(300)));
        EXPECT_TRUE(WaitFor([&] { return s.console.Count(kOut, s.ConnectionLine()) == 2; }));
    }
}

}  // namespace
}  // namespace morvane::test
