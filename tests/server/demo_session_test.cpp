// The whole session as a user runs it: Morvane on its default port 25000
// and the demo program beside it, each in a program directory of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "server_test_util.h"
#include "support/own_network.h"

namespace morvane::test {
namespace {

const std::string kDemoDone = "App Client sent MSG_COMM_CLOSE_SESSION length = 8\n";

// The protocol lines of one demo session in the server's log, in order.
const std::vector<std::string> kSessionLog = {
    "CChannelXsd::OnReceive CChannelXsd::OnReceive id=0 length=12",
    "Xsd Server MSG_COMM_SIZE MSG_COMM_ANSWER_SIZE",
    "CChannelXsd::OnReceive CChannelXsd::OnReceive id=2 length=94",
    "Xsd Server MSG_COMM_READ_XML MSG_COMM_ANSWER_READ_XML",
    "CChannelXsd::OnReceive CChannelXsd::OnReceive id=4 length=19",
    "Xsd Server MSG_COMM_OPEN_SESSION [@/XML_Data/Record.xml]",
    "CChannelXsd::OnReceive CChannelXsd::OnReceive id=6 length=94",
    "Xsd Server MSG_COMM_WRITE_XML 1",
    "CChannelXsd::OnReceive CChannelXsd::OnReceive id=6 length=94",
    "Xsd Server MSG_COMM_WRITE_XML 2",
    "CChannelXsd::OnReceive CChannelXsd::OnReceive id=6 length=94",
    "Xsd Server MSG_COMM_WRITE_XML 3",
    "CChannelXsd::OnReceive CChannelXsd::OnReceive id=5 length=8",
    "Xsd Server MSG_COMM_CLOSE_SESSION",
};

std::vector<std::string> ProtocolLines(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Xsd Server", 0) == 0 || line.rfind("CChannelXsd::", 0) == 0)
            lines.push_back(line);
    return lines;
}

TEST(DemoSessionTest, DemoLeavesThreeRecordsOfTheDataFile) {
    SKIP_WITHOUT_OWN_NETWORK();
    MorvaneServer server(0);
    ASSERT_TRUE(server.Start()) << server.program().Stderr();

    TempDir demoDir;
    CopyFromBin(demoDir.path(), {"demo"});
    const std::string record = server / "XML_Data/Record.xml";
    {
        BackgroundProgram demo(demoDir / "demo", {}, demoDir.path());
        ASSERT_TRUE(WaitFor([&] { return CountOf(demo.Stdout(), kDemoDone) == 1; }))
            << demo.Stdout() << demo.Stderr();
        ASSERT_TRUE(server.WaitLog("Xsd Server MSG_COMM_CLOSE_SESSION\n"));
        EXPECT_EQ(ReadFile(record), SessionText({TelemetryRecordText(1), TelemetryRecordText(2),
                                                 TelemetryRecordText(3)}));
        std::vector<std::string> expected = kSessionLog;
        expected[5] = "Xsd Server MSG_COMM_OPEN_SESSION [" + server.dir() + "/XML_Data/Record.xml]";
        EXPECT_EQ(ProtocolLines(server.Log()), expected);
        EXPECT_NE(demo.Stdout().find("   schema_id=1  schema_size=82\n"), std::string::npos);
        EXPECT_EQ(demo.Stop(SIGTERM), 0);
    }
    ASSERT_TRUE(
        server.WaitLog("CChannelXsd::OnReceive CChannelXsd::OnReceive Reconnection err=0\n"));

    // A second run writes the file afresh; the numbers run on.
    BackgroundProgram again(demoDir / "demo", {}, demoDir.path());
    ASSERT_TRUE(server.WaitLog("Xsd Server MSG_COMM_CLOSE_SESSION\n", 2, std::chrono::seconds(20)));
    EXPECT_EQ(ReadFile(record), SessionText({TelemetryRecordText(4), TelemetryRecordText(5),
                                             TelemetryRecordText(6)}));
    EXPECT_EQ(again.Stop(SIGTERM), 0);
    EXPECT_EQ(server.program().Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace morvane::test
