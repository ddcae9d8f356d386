// The length field of every message id set to each length of a table that
// reaches from the lowest int32 through the edges of the frame buffer to the
// highest. Each case gets its own outcome: a length the frame buffer cannot
// hold drops the client before a body byte is read, a length of 8 leaves
// the requests that need a body without one, and any other length has its
// body read whole. After every case the next request on a new connection
// is answered.
#include <gtest/gtest.h>

#include <climits>

#include "battery_util.h"
#include "channel/messages.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

const int32_t kLengths[] = {INT_MIN, -1,     0,      7,      8,      9,
                            100000,  100007, 100008, 100012, 100013, INT_MAX};
constexpr uint8_t kFiller = 0xAB;

Bytes SizeAnswer() { return Frame(MSG_COMM_ANSWER_SIZE, Int32Body({kPosRecId, kPosRecSize})); }

std::string Name(int32_t id, int32_t length) {
    return "len_" + std::to_string(id) + "_" + std::to_string(length) + ".xml";
}

// The body the case sends: what the id's handler reads first, then filler,
// cut to length - 8 bytes.
Bytes Body(int32_t id, int32_t length, const Bytes& record) {
    Bytes body;
    if (id == MSG_COMM_OPEN_SESSION) {
        std::string name = Name(id, length);
        body.assign(name.begin(), name.end());
        body.push_back(0);
    } else if (id == MSG_COMM_SIZE || id == MSG_COMM_READ_XML || id == MSG_COMM_WRITE_XML) {
        body = Int32Body({kPosRecId});
        Append(body, record);
    }
    body.resize(static_cast<size_t>(length - kFrameHeaderSize), kFiller);
    return body;
}

const char* Handler(int32_t id) {
    switch (id) {
        case MSG_COMM_SIZE:
            return "CChannelXsd::Processsing_MsgCommSize";
        case MSG_COMM_READ_XML:
            return "CChannelXsd::Processsing_MsgCommReadXml";
        case MSG_COMM_OPEN_SESSION:
            return "CChannelXsd::ProcessingOpenSession";
        case MSG_COMM_WRITE_XML:
            return "CChannelXsd::Processsing_MsgCommWriteXml";
        default:
            return "";
    }
}

// Runs every length for one id against a server of its own.
void RunLengths(int32_t id, MorvaneServer& server) {
    SCOPED_TRACE("id " + std::to_string(id));
    ASSERT_TRUE(server.Start()) << server.program().Stderr();
    const Bytes record = PosRecRecordOf(1);
    int written = 0;
    bool first = true;
    for (int32_t length : kLengths) {
        SCOPED_TRACE("length " + std::to_string(length));
        Socket client = server.NextClient();
        ASSERT_TRUE(client.valid()) << "no new connection taken";
        if (!first) {
            // The request after the previous case, on a new connection.
            ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
            ASSERT_EQ(RecvExact(client, 16), SizeAnswer());
        }
        first = false;
        const bool withSession = id == MSG_COMM_CLOSE_SESSION || id == MSG_COMM_WRITE_XML;
        if (withSession) {
            ASSERT_TRUE(SendAll(client, OpenSession(Name(id, length))));
        }

        const char kEmptyReceive[] = "CChannel::ReceiveData  numrecv=0  err=0\n";
        const int emptyReceives = CountOf(server.program().Stdout(), kEmptyReceive);
        Bytes header(kFrameHeaderSize);
        WriteFrameHeader(header.data(), id, length);
        ASSERT_TRUE(SendAll(client, header));
        const std::string onReceive =
            "CChannelXsd::OnReceive CChannelXsd::OnReceive id=" + std::to_string(id) +
            " length=" + std::to_string(length) + "\n";

        if (length < kFrameHeaderSize || length > kFrameBufferSize) {
            // A whole request that a server following the length would take
            // as body bytes: it must not be answered.
            ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
            EXPECT_TRUE(server.WaitLog("Error CChannelXsd::OnReceive id=" + std::to_string(id) +
                                       " length=" + std::to_string(length) +
                                       " does not fit the frame buffer of 100012 bytes, "
                                       "Reconnection\n"))
                << server.Log();
            EXPECT_EQ(BytesBeforeClose(client), 0) << "the client was not dropped unanswered";
            continue;
        }
        if (length == kFrameHeaderSize &&
            (id == MSG_COMM_SIZE || id == MSG_COMM_READ_XML || id == MSG_COMM_OPEN_SESSION ||
             id == MSG_COMM_WRITE_XML)) {
            // A request without its body: the reconnection path.
            ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
            EXPECT_TRUE(
                server.WaitLog(std::string("Xsd Server ") + Handler(id) + " Reconnection\n"))
                << server.Log();
            // The size request behind it is never read.
            EXPECT_EQ(BytesBeforeClose(client), 0);
            // The body read of 0 bytes fails as the channel's receive does.
            EXPECT_EQ(CountOf(server.program().Stdout(), kEmptyReceive), emptyReceives + 1);
            continue;
        }

        const Bytes body = Body(id, length, record);
        ASSERT_TRUE(SendAll(client, body));
        ASSERT_TRUE(server.WaitLog(onReceive)) << server.Log();
        const bool tooShortForId = length < kFrameHeaderSize + 4;
        switch (id) {
            case MSG_COMM_SIZE:
                if (tooShortForId) break;
                EXPECT_EQ(RecvExact(client, 16), SizeAnswer());
                break;
            case MSG_COMM_READ_XML: {
                if (tooShortForId) break;
                // PosRec has no data file: the answer's record area holds the
                // request's bytes, zeros behind them.
                auto answer = RecvExact(client, kAnswerReadXmlLength);
                ASSERT_TRUE(answer.has_value());
                EXPECT_EQ(GetInt32(answer->data()), MSG_COMM_ANSWER_READ_XML);
                EXPECT_EQ(GetInt32(answer->data() + 4), kAnswerReadXmlLength);
                EXPECT_EQ(GetInt32(answer->data() + 8), kPosRecId);
                Bytes expected(answer->size(), 0);
                std::copy(body.begin() + 4, body.end(), expected.begin() + kRecordOffset);
                std::copy(answer->begin(), answer->begin() + kRecordOffset, expected.begin());
                EXPECT_TRUE(*answer == expected) << "record area differs";
                break;
            }
            case MSG_COMM_OPEN_SESSION:
                if (length == 9) {
                    EXPECT_TRUE(server.WaitLog(
                        "Error CChannelXsd::ProcessingOpenSession session file name refused: "
                        "it has no terminating zero\n"));
                    break;
                }
                ASSERT_TRUE(SendAll(client, CloseSession()));
                break;
            case MSG_COMM_CLOSE_SESSION:
                break;
            case MSG_COMM_WRITE_XML:
                if (!tooShortForId) ++written;
                ASSERT_TRUE(SendAll(client, CloseSession()));
                break;
            default:
                EXPECT_TRUE(
                    server.WaitLog("Xsd Server CChannelXsd::OnReceive id=" + std::to_string(id) +
                                   " has no handler, " + std::to_string(length - kFrameHeaderSize) +
                                   " body bytes skipped\n"));
                break;
        }
        if (tooShortForId &&
            (id == MSG_COMM_SIZE || id == MSG_COMM_READ_XML || id == MSG_COMM_WRITE_XML)) {
            EXPECT_TRUE(server.WaitLog(std::string("Error ") + Handler(id) +
                                       " length=9 is too short for a schema id\n"));
        }
        // Still in step on the same connection.
        ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
        ASSERT_EQ(RecvExact(client, 16), SizeAnswer());

        const std::string session = server / ("XML_Data/" + Name(id, length));
        if (id == MSG_COMM_OPEN_SESSION && length > 9) {
            EXPECT_EQ(ReadFile(session), SessionText({}));
        } else if (id == MSG_COMM_CLOSE_SESSION) {
            EXPECT_EQ(ReadFile(session), SessionText({}));
        } else if (id == MSG_COMM_WRITE_XML) {
            std::vector<std::string> records;
            if (!tooShortForId) records.push_back(PosRecRecordText(written, PosRecOf(1)));
            EXPECT_EQ(ReadFile(session), SessionText(records));
        }
    }
    // A session left open by a dropped client is finished by the next
    // open, the last one here; then every session file is whole.
    Socket last = server.NextClient();
    ASSERT_TRUE(last.valid());
    ASSERT_TRUE(SendAll(last, CloseSession()));
    ASSERT_TRUE(SendAll(last, SizeRequest(kPosRecId)));
    EXPECT_EQ(RecvExact(last, 16), SizeAnswer());
    EXPECT_TRUE(server.program().Running());
    for (int32_t length : kLengths) {
        const std::string session = server / ("XML_Data/" + Name(id, length));
        if (FileExists(session)) {
            EXPECT_EQ(SessionFileProblem(ReadFile(session)), "") << session;
        }
    }
}

// The requests, the two answer ids and one id beyond them, each on a server
// of its own, side by side.
TEST(LengthFieldBattery, EveryIdWithEveryEdgeLength) {
    const std::vector<int32_t> ids = {
        MSG_COMM_SIZE,         MSG_COMM_ANSWER_SIZE,   MSG_COMM_READ_XML,  MSG_COMM_ANSWER_READ_XML,
        MSG_COMM_OPEN_SESSION, MSG_COMM_CLOSE_SESSION, MSG_COMM_WRITE_XML, 9};
    auto servers = MakeServers(static_cast<int>(ids.size()), "CreateFilesFlag=0\n");
    RunOnThreads(static_cast<int>(ids.size()), [&](int i) {
        RunLengths(ids[static_cast<size_t>(i)], *servers[static_cast<size_t>(i)]);
    });
}

}  // namespace
}  // namespace morvane::test
