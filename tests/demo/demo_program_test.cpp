// The demo program itself, alone in a program directory, against a fake
// server on its fixed port 25000: started before the server, it retries, then
// runs the session and idles until it is stopped.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>

#include "channel/messages.h"
#include "channel_test_util.h"
#include "support/own_network.h"
#include "support/test_support.h"

namespace morvane::test {
namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int CountOf(const Lines& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

TEST(DemoProgramTest, RetriesThenRunsTheSessionOnPort25000) {
    constexpr int kPort = 25000;
    SKIP_WITHOUT_OWN_NETWORK();

    TempDir dir;
    CopyFromBin(dir.path(), {"demo"});
    BackgroundProgram demo(dir / "demo", {}, dir.path());
    const std::string waits = "TCP Client waits for connection...";
    ASSERT_TRUE(WaitFor([&] { return CountOf(SplitLines(demo.Stderr()), waits) >= 2; }));

    Socket listener = Listen(kPort);
    ASSERT_TRUE(listener.valid());
    Socket server = Accept(listener);
    ASSERT_TRUE(server.valid());
    ASSERT_EQ(RecvExact(server, 12), Frame(MSG_COMM_SIZE, Int32Body({1})));

    const Bytes record = Pattern(21, 40);
    ASSERT_TRUE(SendAll(server, Frame(MSG_COMM_ANSWER_SIZE, Int32Body({1, 21}))));
    Bytes readBody = Int32Body({1});
    readBody.resize(4 + 21, 0);
    EXPECT_EQ(RecvExact(server, 33), Frame(MSG_COMM_READ_XML, readBody));

    Bytes answer = Int32Body({1});
    Append(answer, record);
    answer.resize(kAnswerReadXmlLength - kFrameHeaderSize, 0x77);
    ASSERT_TRUE(SendAll(server, Frame(MSG_COMM_ANSWER_READ_XML, answer)));
    Bytes expected =
        Frame(MSG_COMM_OPEN_SESSION, Bytes{'R', 'e', 'c', 'o', 'r', 'd', '.', 'x', 'm', 'l', 0});
    Bytes write = Int32Body({1});
    Append(write, record);
    for (int i = 0; i < 3; ++i) Append(expected, Frame(MSG_COMM_WRITE_XML, write));
    Append(expected, Frame(MSG_COMM_CLOSE_SESSION, {}));
    EXPECT_EQ(RecvExact(server, expected.size()), expected);

    // The main thread prints its size request line after the send, the
    // receive thread everything from the answer on: the first may come at
    // any point of the session.
    const std::string sizeLine = "App Client send MSG_COMM_SIZE";
    const std::string closeLine = "App Client sent MSG_COMM_CLOSE_SESSION length = 8";
    ASSERT_TRUE(WaitFor([&] {
        Lines out = SplitLines(demo.Stdout());
        return CountOf(out, sizeLine) == 1 && CountOf(out, closeLine) == 1;
    }));
    EXPECT_TRUE(demo.Running());  // it never ends by itself

    // Standard error: the retries, then the connection.
    Lines err = SplitLines(demo.Stderr());
    ASSERT_GE(err.size(), 3u);
    const int tries = static_cast<int>(err.size()) - 1;
    EXPECT_EQ(CountOf(err, waits), tries);
    EXPECT_EQ(err.back(), "TCP Client is connected successfully!");

    // Standard output: one OnError line per failed try, the connection and
    // the size request line (their moments depend on the threads), the
    // session.
    const std::regex errorLine(R"(CChannelApp::OnError\(\) this=0x([0-9A-F]+)  err=6)");
    const std::regex connectionLine(R"(CChannelApp::OnConnection\(\) this=0x([0-9A-F]+))");
    Lines session;
    std::set<std::string> addresses;
    int errors = 0, connections = 0;
    for (const auto& line : SplitLines(demo.Stdout())) {
        std::smatch m;
        if (std::regex_match(line, m, errorLine)) {
            ++errors;
            addresses.insert(m[1]);
        } else if (std::regex_match(line, m, connectionLine)) {
            ++connections;
            addresses.insert(m[1]);
        } else if (line != sizeLine) {
            session.push_back(line);
        }
    }
    EXPECT_EQ(errors, tries);
    EXPECT_EQ(connections, 1);
    EXPECT_EQ(addresses.size(), 1u);
    const Lines expectedSession = {
        "CChannelApp Client OnReceive - id=1 length=16",
        "App Client Processing_MsgCommAnswerSize",
        "   schema_id=1  schema_size=21",
        "CChannelApp Client sent MSG_COMM_READ_XML",
        "CChannelApp Client OnReceive - id=3 length=100012",
        "CChannelApp Client  Processing_MsgCommAnswerReadXml",
        "App Client sent MSG_COMM_OPEN_SESSION length = 19",
        "App Client sent MSG_COMM_WRITE_XML  length = 33  0",
        "App Client sent MSG_COMM_WRITE_XML  length = 33  1",
        "App Client sent MSG_COMM_WRITE_XML  length = 33  2",
        closeLine,
    };
    EXPECT_EQ(session, expectedSession);

    EXPECT_EQ(demo.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace morvane::test
