// The session file on a device that fills up while records are written. The
// limit is set so that the k-th record is the first that does not fit, for
// each k in turn: that record and every later one fail with an error line,
// the file keeps exactly the records before it, the server goes on serving,
// and closing the session leaves a well-formed file.
//
// The device is played by a file-size limit (RLIMIT_FSIZE) on the server
// process: a write that crosses it writes what fits, the next one fails, as
// on a full file system; the partial record must be cut away.
#include <gtest/gtest.h>

#include <random>

#include "battery_util.h"
#include "channel/messages.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kWideId = 30;
constexpr int32_t kWideSize = 40 * 16;
// A record element of about 10 KiB, so that the limit can lie inside one
// and still leave room for the log.
const char kWideSchema[] =
    "<?xml version=\"1.0\"?>\n"
    "<Schema name=\"Wide\" id=\"30\">\n"
    "   <Template name=\"Cell\">\n"
    "      <Item name=\"a\" type=\"int\"/>\n"
    "      <Item name=\"b\" type=\"int\"/>\n"
    "      <Item name=\"c\" type=\"int\"/>\n"
    "      <Item name=\"d\" type=\"int\"/>\n"
    "   </Template>\n"
    "   <Structure name=\"cells\" type=\"Cell\" nrepetitions=\"40\"/>\n"
    "</Schema>\n";
constexpr int kRecords = 5;
// The limit never lies below this, so that the log (the configuration block
// and the error lines) always fits.
constexpr size_t kLogRoom = 4096;

Bytes WideRecord(int n) {
    Bytes record(kWideSize);
    for (int i = 0; i < kWideSize / 4; ++i) PutInt32(record.data() + 4 * i, n * 1000 + i);
    return record;
}

const Bytes kSizeAnswer = Frame(MSG_COMM_ANSWER_SIZE, Int32Body({kWideId, kWideSize}));

// Opens full.xml and writes the records; false when the server stopped
// answering.
bool WriteSession(const Socket& client) {
    bool ok = SendAll(client, OpenSession("full.xml"));
    for (int n = 1; n <= kRecords; ++n)
        ok = ok && SendAll(client, WriteRequest(kWideId, WideRecord(n)));
    ok = ok && SendAll(client, SizeRequest(kWideId));
    return ok && RecvExact(client, 16) == kSizeAnswer;
}

bool CloseAndAsk(const Socket& client) {
    return SendAll(client, CloseSession()) && SendAll(client, SizeRequest(kWideId)) &&
           RecvExact(client, 16) == kSizeAnswer;
}

TEST(FullDeviceBattery, EveryRecordInTurnMeetsAFullDevice) {
    // The session as it is written without a limit: where each record starts.
    std::string reference;
    {
        MorvaneServer server(FreeTcpPort(), "LogFlag=0\nCreateFilesFlag=0\n");
        WriteFile(server / "Schemas/Wide.xsd", kWideSchema);
        ASSERT_TRUE(server.Start()) << server.program().Stderr();
        Socket client = server.NextClient();
        ASSERT_TRUE(client.valid());
        ASSERT_TRUE(WriteSession(client));
        ASSERT_TRUE(CloseAndAsk(client));
        reference = ReadFile(server / "XML_Data/full.xml");
    }
    ASSERT_EQ(SessionFileProblem(reference), "");
    std::vector<size_t> starts;
    for (size_t at = reference.find("   <Schema "); at != std::string::npos;
         at = reference.find("   <Schema ", at + 1))
        starts.push_back(at);
    ASSERT_EQ(starts.size(), static_cast<size_t>(kRecords));
    starts.push_back(reference.size() - std::string("</Root>\n").size());
    ASSERT_GT(starts[1] - starts[0], kLogRoom + 16);

    std::mt19937 rng(20240);
    for (int k = 1; k <= kRecords; ++k) {
        SCOPED_TRACE("record " + std::to_string(k) + " meets the full device");
        const size_t start = starts[static_cast<size_t>(k - 1)];
        const size_t length = starts[static_cast<size_t>(k)] - start;
        // Somewhere inside record k, with room for the closing line.
        const size_t lowest = std::max(start + 8, kLogRoom);
        const size_t limit = lowest + rng() % (start + length - lowest);

        MorvaneServer server(FreeTcpPort(), "LogFlag=0\nCreateFilesFlag=0\n");
        WriteFile(server / "Schemas/Wide.xsd", kWideSchema);
        BackgroundProgram morvane(BATTERY_FSIZE_EXEC, {std::to_string(limit), server / "Morvane"},
                                  server.dir());
        Socket client = server.NextClient();
        ASSERT_TRUE(client.valid()) << morvane.Stderr();
        EXPECT_TRUE(WriteSession(client)) << "limit " << limit;
        ASSERT_TRUE(morvane.Running()) << "the server ended at the full device";

        const std::string session = server / "XML_Data/full.xml";
        // The texts run to tens of KiB: only their sizes are shown.
        const std::string open = ReadFile(session);
        EXPECT_TRUE(open == reference.substr(0, start))
            << "limit " << limit << ": " << open.size() << " bytes on disk, the " << k - 1
            << " records before the limit take " << start;
        for (int n = k; n <= kRecords; ++n) {
            EXPECT_EQ(server.LogCount("Error! WriteXmlFile: writing record " + std::to_string(n) +
                                      " of Wide failed; the data file is cut back to the record "
                                      "before it\n"),
                      1)
                << server.Log();
        }
        EXPECT_EQ(server.LogCount("Error Processsing_MsgCommWriteXml problems\n"),
                  kRecords - k + 1);
        // The status answer counts the records written and reports each
        // failed write as a writer failure.
        ASSERT_TRUE(SendAll(client, StatusRequest()));
        auto status = RecvStatus(client);
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->written, k - 1);
        EXPECT_EQ(status->failures, kRecords - k + 1);
        for (const StatusFailure& f : status->listed) {
            EXPECT_EQ(f.code, 9);
            EXPECT_EQ(f.schemaId, kWideId);
            EXPECT_EQ(f.text, "Error Processsing_MsgCommWriteXml problems");
        }

        EXPECT_TRUE(CloseAndAsk(client));
        const std::string closed = ReadFile(session);
        EXPECT_TRUE(closed == reference.substr(0, start) + "</Root>\n")
            << closed.size() << " bytes once closed";
        EXPECT_EQ(SessionFileProblem(closed), "");
        EXPECT_TRUE(morvane.Running());
    }
}

// A session opened on a device that is already full: the file can be
// created but not its first line. The open fails as one that cannot create
// the file, and nothing is left of it.
TEST(FullDeviceBattery, SessionOpenedOnAFullDeviceFailsAndLeavesNoFile) {
    MorvaneServer server(FreeTcpPort(), "LogFlag=0\nCreateFilesFlag=0\n");
    WriteFile(server / "Schemas/Wide.xsd", kWideSchema);
    const std::string data = server / "XML_Data";
    BackgroundProgram morvane(BATTERY_FSIZE_EXEC, {"full=" + data, server / "Morvane"},
                              server.dir());
    Socket client = server.NextClient();
    if (!client.valid() && morvane.Stop(SIGTERM) == 77)
        GTEST_SKIP() << "no mount namespace for a full device: " << morvane.Stderr();
    ASSERT_TRUE(client.valid()) << morvane.Stderr();

    ASSERT_TRUE(SendAll(client, OpenSession("full.xml")));
    ASSERT_TRUE(SendAll(client, WriteRequest(kWideId, WideRecord(1))));
    ASSERT_TRUE(SendAll(client, StatusRequest()));
    auto status = RecvStatus(client);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->written, 0);
    ASSERT_EQ(status->listed.size(), 2u);
    const std::string refusal = "Error CChannelXsd::ProcessingOpenSession session file " + data +
                                "/full.xml cannot be created err=" + std::to_string(ENOSPC);
    EXPECT_EQ(status->listed[0].code, MSG_COMM_FAIL_SESSION_CREATE);
    EXPECT_EQ(status->listed[0].text, refusal);
    EXPECT_EQ(status->listed[1].code, MSG_COMM_FAIL_NO_SESSION_WRITE);
    EXPECT_EQ(server.LogCount(refusal + "\n"), 1) << server.Log();
    // The server's own view of the directory, under its mount.
    const std::string seen = "/proc/" + std::to_string(morvane.pid()) + "/root" + data;
    EXPECT_TRUE(FileExists(seen + "/.filler"));
    EXPECT_FALSE(FileExists(seen + "/full.xml"));
    EXPECT_TRUE(morvane.Running());
}

}  // namespace
}  // namespace morvane::test
