// The client protocol against the real Morvane: a program directory of its
// own with the example archive, a free port, hand-built frames over
// loopback, and the log and session files it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "channel/messages.h"
#include "schema/fingerprint.h"
#include "schema/schema.h"
#include "server/data_file_cache.h"
#include "server_test_util.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// Records of exactly the record area and one byte more.
constexpr int32_t kFullId = 20;
constexpr int32_t kHugeId = 21;
constexpr int32_t kAbsentId = 99;

const char kFullSchema[] =
    "<Schema name=\"Full\" id=\"20\">\n"
    "   <Item name=\"blob\" type=\"char\" nrepetitions=\"100000\" visibility=\"0\"/>\n"
    "</Schema>\n";
const char kHugeSchema[] =
    "<Schema name=\"Huge\" id=\"21\">\n"
    "   <Item name=\"blob\" type=\"char\" nrepetitions=\"100001\" visibility=\"0\"/>\n"
    "</Schema>\n";

const PosRecValues kPosA{5, 1, 10, -20, 30, 40};
const PosRecValues kPosB{-7, 0, 1, 2, 3, 4};
const PosRecValues kPosC{2147483647, 1, -2147483647 - 1, 0, 9, 9};

const std::string kSizeAnswered = "Xsd Server MSG_COMM_SIZE MSG_COMM_ANSWER_SIZE\n";
const std::string kReadAnswered = "Xsd Server MSG_COMM_READ_XML MSG_COMM_ANSWER_READ_XML\n";
const std::string kCloseHandled = "Xsd Server MSG_COMM_CLOSE_SESSION\n";
const std::string kClientGone =
    "CChannelXsd::OnReceive CChannelXsd::OnReceive Reconnection err=0\n";
const std::string kWriteNoSession =
    "Error CChannelXsd::Processsing_MsgCommWriteXml no session file is open\n";
const std::string kCloseNoSession =
    "Error CChannelXsd::ProcessingCloseSession no session file is open\n";

std::string WriteLine(int number) {
    return "Xsd Server MSG_COMM_WRITE_XML " + std::to_string(number) + "\n";
}

Bytes SizeAnswer(int32_t id, int32_t size) {
    return Frame(MSG_COMM_ANSWER_SIZE, Int32Body({id, size}));
}

int32_t Int32At(const Bytes& b, size_t at) { return GetInt32(b.data() + at); }

bool AllZero(const Bytes& b, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (b[i] != 0) return false;
    return true;
}

// A frame whose body the server has no use for, filling the frame buffer
// far beyond any record with bytes that must never come back.
Bytes Filler(size_t bodyBytes) { return Frame(9, Bytes(bodyBytes, 0xAB)); }

// Closes with a reset instead of an orderly end.
void Abort(Socket& s) {
    linger l{1, 0};
    setsockopt(s.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    s.Close();
}

std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

class ProtocolTest : public ::testing::Test {
  protected:
    ProtocolTest() : server_(FreeTcpPort(), "CreateFilesFlag=0\n") {}

    void SetUp() override {
        WriteFile(server_ / "Schemas/Full.xsd", kFullSchema);
        WriteFile(server_ / "Schemas/Huge.xsd", kHugeSchema);
        ASSERT_TRUE(server_.Start()) << server_.program().Stderr() << server_.Log();
        client_ = server_.NextClient();
        ASSERT_TRUE(client_.valid());
    }

    std::string Data(const std::string& name) const { return server_ / ("XML_Data/" + name); }
    std::string DataPath(const std::string& name) const {
        return server_.dir() + "/XML_Data/" + name;
    }

    void Send(const Bytes& frame) { ASSERT_TRUE(SendAll(client_, frame)); }
    // Sends a size request and checks its answer: the stream is still in step.
    void ExpectInStep(int32_t id = kPosRecId, int32_t size = kPosRecSize) {
        Send(SizeRequest(id));
        EXPECT_EQ(RecvExact(client_, 16), SizeAnswer(id, size));
    }
    Bytes ReadAnswer(int32_t id, const Bytes& initial) {
        Send(ReadRequest(id, initial));
        auto answer = RecvExact(client_, kAnswerReadXmlLength);
        EXPECT_TRUE(answer.has_value());
        return answer.value_or(Bytes(kAnswerReadXmlLength));
    }
    // Waits until the server has handled the frames sent so far: a size
    // request behind them is answered.
    void Settle() { ExpectInStep(); }

    MorvaneServer server_;
    Socket client_;
};

TEST_F(ProtocolTest, SizeRequestsAnswerEveryLoadedSchema) {
    const struct {
        int32_t id;
        int32_t size;
    } cases[] = {{kTelemetryId, kTelemetrySize},
                 {kPosRecId, kPosRecSize},
                 {kFullId, 100000},
                 {kHugeId, 100001}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        Send(SizeRequest(c.id));
        EXPECT_EQ(RecvExact(client_, 16), SizeAnswer(c.id, c.size));
    }
    EXPECT_EQ(server_.LogCount("CChannelXsd::OnReceive CChannelXsd::OnReceive id=0 length=12\n"),
              4);
    // Logged after the answer is sent.
    EXPECT_TRUE(server_.WaitLog(kSizeAnswered, 4));
    EXPECT_EQ(server_.LogCount(kSizeAnswered), 4);
}

TEST_F(ProtocolTest, SizeRequestBodiesOfOtherLengths) {
    // A longer body is read and ignored.
    Bytes longer = Int32Body({kTelemetryId, 77, 78});
    Send(Frame(MSG_COMM_SIZE, longer));
    EXPECT_EQ(RecvExact(client_, 16), SizeAnswer(kTelemetryId, kTelemetrySize));
    // A body too short for the schema id is read and refused.
    Send(Frame(MSG_COMM_SIZE, Bytes{1, 0}));
    ASSERT_TRUE(server_.WaitLog(
        "Error CChannelXsd::Processsing_MsgCommSize length=10 is too short for a schema id\n"));
    EXPECT_TRUE(Silent(client_, milliseconds(200)));
    ExpectInStep();
}

TEST_F(ProtocolTest, RequestsForAnAbsentSchemaGetNoAnswer) {
    const struct {
        Bytes frame;
        const char* handler;
    } cases[] = {
        {SizeRequest(kAbsentId), "Processsing_MsgCommSize"},
        {ReadRequest(kAbsentId, Bytes(8, 0)), "Processsing_MsgCommReadXml"},
        {WriteRequest(kAbsentId, Bytes(8, 0)), "Processsing_MsgCommWriteXml"},
    };
    Send(OpenSession("Absent.xml"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handler);
        Send(c.frame);
        EXPECT_TRUE(server_.WaitLog(std::string("Xsd Server CChannelXsd::") + c.handler +
                                    " Schema_id=99 is absent\n"));
        EXPECT_TRUE(Silent(client_, milliseconds(200)));
    }
    Send(CloseSession());
    Settle();
    EXPECT_EQ(ReadFile(Data("Absent.xml")), SessionText({}));
    EXPECT_EQ(server_.LogCount("Xsd Server MSG_COMM_WRITE_XML"), 0);
}

TEST_F(ProtocolTest, ReadRequestAnswersTheRecordOfTheDataFile) {
    Send(Filler(60000));
    Bytes a = ReadAnswer(kTelemetryId, Bytes(kTelemetrySize, 0));
    EXPECT_EQ(Int32At(a, 0), MSG_COMM_ANSWER_READ_XML);
    EXPECT_EQ(Int32At(a, 4), kAnswerReadXmlLength);
    EXPECT_EQ(Int32At(a, 8), kTelemetryId);
    const uint8_t* r = a.data() + kRecordOffset;
    EXPECT_EQ(GetInt32(r + 0), 1);  // frame
    EXPECT_EQ(r[4], 0x41);          // tag
    EXPECT_EQ(GetInt32(r + 5), -42);
    EXPECT_EQ(static_cast<int16_t>(r[9] | r[10] << 8), -7);
    int64_t stamp;
    std::memcpy(&stamp, r + 11, 8);
    EXPECT_EQ(stamp, 1234567890123);
    EXPECT_TRUE(std::all_of(r + 19, r + 27, [](uint8_t b) { return b == 0xFF; }));  // total
    double ratio;
    std::memcpy(&ratio, r + 27, 8);
    EXPECT_DOUBLE_EQ(ratio, 3.141593);
    EXPECT_EQ(GetInt32(r + 39), 1);  // status RUNNING
    EXPECT_EQ(GetInt32(r + 47), 7);  // history[1] FAULT
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 55), 3), "MVN");
    float value;
    std::memcpy(&value, r + 66 + 2, 4);
    EXPECT_FLOAT_EQ(value, -3.25f);
    // Nothing of the filler frame comes back in the record area.
    EXPECT_TRUE(AllZero(a, kRecordOffset + kTelemetrySize, a.size()));
    EXPECT_TRUE(server_.WaitLog(kReadAnswered));
    // The reader's trace follows the request's line, byte for byte as when
    // each line was logged on its own (its end: ReadsFollowTheDataFile).
    EXPECT_NE(server_.Log().find("CChannelXsd::OnReceive CChannelXsd::OnReceive id=2 length=94\n"
                                 "offset0 =0\n"
                                 "   name_unit=Item, struct_name=frame offset_elem=0 text=1\n"),
              std::string::npos)
        << server_.Log();
}

TEST_F(ProtocolTest, ReadRecordsStartAsTheRequestBytes) {
    // PosRec ships without a data file.
    const Bytes pattern = Pattern(40, 3);
    const Bytes first28(pattern.begin(), pattern.begin() + kPosRecSize);
    Bytes partial = first28;
    PutInt32(partial.data(), 5);
    const struct {
        const char* name;
        const char* dataFile;  // null: none
        Bytes initial;
        Bytes record;
        size_t carried;  // bytes of the request behind the schema id
    } cases[] = {
        {"no data file", nullptr, first28, first28, 28},
        {"request shorter than the record", nullptr, Bytes(first28.begin(), first28.begin() + 10),
         [&] {
             Bytes b(first28.begin(), first28.begin() + 10);
             b.resize(kPosRecSize, 0);
             return b;
         }(),
         28},
        {"no record bytes at all", nullptr, Bytes(), Bytes(kPosRecSize, 0), 28},
        {"request longer than the record", nullptr, pattern, first28, 40},
        {"data file with one field",
         "<Schema name=\"PosRec\"><Item name=\"count\" type=\"int\">5</Item></Schema>\n", first28,
         partial, 28},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(Data("PosRec_dataR.xml").c_str());
        if (c.dataFile != nullptr) WriteFile(Data("PosRec_dataR.xml"), c.dataFile);
        Send(Filler(90000));
        Bytes a = ReadAnswer(kPosRecId, c.initial);
        EXPECT_EQ(Bytes(a.begin() + kRecordOffset, a.begin() + kRecordOffset + kPosRecSize),
                  c.record);
        EXPECT_TRUE(AllZero(a, kRecordOffset + c.carried, a.size()));
    }
}

TEST_F(ProtocolTest, ReadRequestWithAMalformedDataFileIsRefused) {
    WriteFile(Data("Telemetry_dataR.xml"), "<Schema name=\"Telemetry\"><Item>");
    Send(ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0)));
    EXPECT_TRUE(
        server_.WaitLog("Error CChannelXsd::Processsing_MsgCommReadXml problems reading file " +
                        DataPath("Telemetry_dataR.xml") + "\n"))
        << server_.Log();
    EXPECT_TRUE(Silent(client_, milliseconds(200)));
    ExpectInStep();
    EXPECT_EQ(server_.LogCount(kReadAnswered), 0);
}

TEST_F(ProtocolTest, RecordsBeyondTheRecordAreaAreRefused) {
    Send(OpenSession("Big.xml"));
    Send(ReadRequest(kHugeId, {}));
    EXPECT_TRUE(server_.WaitLog(
        "Error CChannelXsd::Processsing_MsgCommReadXml Schema_id=21 record size 100001 exceeds the "
        "record area of 100000 bytes\n"));
    Send(WriteRequest(kHugeId, Bytes(100, 1)));
    EXPECT_TRUE(server_.WaitLog(
        "Error CChannelXsd::Processsing_MsgCommWriteXml Schema_id=21 record size 100001 exceeds "
        "the record area of 100000 bytes\n"));
    EXPECT_TRUE(Silent(client_, milliseconds(200)));
    Send(SizeRequest(kHugeId));
    EXPECT_EQ(RecvExact(client_, 16), SizeAnswer(kHugeId, 100001));

    // A record that fills the area exactly travels both ways.
    Bytes a = ReadAnswer(kFullId, Bytes(100000, 0x5A));
    EXPECT_EQ(Int32At(a, 8), kFullId);
    EXPECT_TRUE(
        std::all_of(a.begin() + kRecordOffset, a.end(), [](uint8_t b) { return b == 0x5A; }));
    Send(WriteRequest(kFullId, Bytes(100000, 0x5A)));
    Send(CloseSession());
    Settle();
    EXPECT_EQ(ReadFile(Data("Big.xml")),
              SessionText({"   <Schema name=\"Full\" id=\"20\" number=\"1\" offset=\"0\" "
                           "size=\"100000\">\n"
                           "      <Item name=\"blob\" type=\"char\" nrepetitions=\"100000\"/>\n"
                           "   </Schema>\n"}));
}

TEST_F(ProtocolTest, SessionFileHoldsEveryRecordInOrder) {
    Bytes answer = ReadAnswer(kTelemetryId, Bytes(kTelemetrySize, 0));
    const Bytes telemetry(answer.begin() + kRecordOffset,
                          answer.begin() + kRecordOffset + kTelemetrySize);
    Send(OpenSession("Session.xml"));
    Send(WriteRequest(kTelemetryId, telemetry));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
    // Records of several schemas share the file; a longer body is ignored.
    Bytes longer = PosRecRecord(kPosB);
    longer.resize(longer.size() + 6, 0xEE);
    Send(WriteRequest(kPosRecId, longer));
    Send(WriteRequest(kTelemetryId, telemetry));
    Send(CloseSession());
    Settle();
    EXPECT_EQ(ReadFile(Data("Session.xml")),
              SessionText({TelemetryRecordText(1), PosRecRecordText(2, kPosA),
                           PosRecRecordText(3, kPosB), TelemetryRecordText(4)}));
    std::string log = server_.Log();
    EXPECT_NE(log.find("Xsd Server MSG_COMM_OPEN_SESSION [" + DataPath("Session.xml") + "]\n"),
              std::string::npos);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(CountOf(log, WriteLine(n)), 1) << n;
    EXPECT_EQ(CountOf(log, kCloseHandled), 1);
    EXPECT_EQ(CountOf(log, "CChannelXsd::OnReceive CChannelXsd::OnReceive id=6 length=94\n"), 2);
    EXPECT_EQ(CountOf(log, "CChannelXsd::OnReceive CChannelXsd::OnReceive id=6 length=46\n"), 1);
}

// A session file the server wrote becomes JSON Lines and CSV with morvanec,
// and the JSON comes back to the bytes the server wrote (the collapsed
// flags, which the XML file does not hold, as zeros).
TEST_F(ProtocolTest, SessionFileBecomesJsonLinesAndCsv) {
    Send(OpenSession("Json.xml"));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosB)));
    Send(CloseSession());
    Settle();
    const std::string morvanec = BinDir() + "/morvanec";
    const std::string schema = server_ / "Schemas/PosRec.xsd";
    auto run = [&](const std::vector<std::string>& args) {
        ProgramResult r = RunProgram(morvanec, args, server_.dir());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    };
    EXPECT_EQ(run({"to-json", schema, Data("Json.xml"), "-o", "r.jsonl"}), "");
    EXPECT_EQ(ReadFile(server_ / "r.jsonl"),
              "{\"$schema\":\"PosRec\",\"$id\":7,\"$number\":1,\"count\":5,\"flags\":\"00000000\","
              "\"mode\":\"ON\",\"pos\":[{\"x\":10,\"y\":-20},{\"x\":30,\"y\":40}]}\n"
              "{\"$schema\":\"PosRec\",\"$id\":7,\"$number\":2,\"count\":-7,\"flags\":\"00000000\","
              "\"mode\":\"OFF\",\"pos\":[{\"x\":1,\"y\":2},{\"x\":3,\"y\":4}]}\n");
    EXPECT_EQ(run({"to-csv", schema, Data("Json.xml")}),
              "count,flags,mode,pos[0].x,pos[0].y,pos[1].x,pos[1].y\r\n"
              "5,00000000,ON,10,-20,30,40\r\n-7,00000000,OFF,1,2,3,4\r\n");
    Bytes records = PosRecRecord(kPosA);
    const Bytes b = PosRecRecord(kPosB);
    records.insert(records.end(), b.begin(), b.end());
    for (size_t at : {4, 5, 32, 33}) records[at] = 0;
    const std::string back = run({"from-json", schema, "r.jsonl"});
    EXPECT_EQ(Bytes(back.begin(), back.end()), records);
}

TEST_F(ProtocolTest, WriteRequestShorterThanItsRecordIsRefused) {
    Send(OpenSession("Short.xml"));
    Bytes record = PosRecRecord(kPosA);
    record.pop_back();
    Send(WriteRequest(kPosRecId, record));
    Send(Frame(MSG_COMM_WRITE_XML, Bytes{7, 0}));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
    Send(CloseSession());
    Settle();
    EXPECT_EQ(server_.LogCount("Error CChannelXsd::Processsing_MsgCommWriteXml length=39 is too "
                               "short for a record of 28 bytes\n"),
              1);
    EXPECT_EQ(server_.LogCount("Error CChannelXsd::Processsing_MsgCommWriteXml length=10 is too "
                               "short for a schema id\n"),
              1);
    // Refused records take no number.
    EXPECT_EQ(ReadFile(Data("Short.xml")), SessionText({PosRecRecordText(1, kPosA)}));
}

TEST_F(ProtocolTest, NextClientContinuesTheSessionOfAClientThatLeft) {
    Send(OpenSession("Shared.xml"));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosB)));
    Settle();
    client_.Close();
    ASSERT_TRUE(server_.WaitLog(kClientGone));
    // The file stays open, its records complete on disk.
    EXPECT_EQ(ReadFile(Data("Shared.xml")), "<?xml version=\"1.0\"?>\n<Root>\n" +
                                                PosRecRecordText(1, kPosA) +
                                                PosRecRecordText(2, kPosB));

    client_ = server_.NextClient();
    ASSERT_TRUE(client_.valid());
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosC)));
    Send(CloseSession());
    Settle();
    EXPECT_EQ(ReadFile(Data("Shared.xml")),
              SessionText({PosRecRecordText(1, kPosA), PosRecRecordText(2, kPosB),
                           PosRecRecordText(3, kPosC)}));

    // A second session numbers on.
    Send(OpenSession("Second.xml"));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosB)));
    Send(CloseSession());
    Settle();
    EXPECT_EQ(ReadFile(Data("Second.xml")), SessionText({PosRecRecordText(4, kPosB)}));
}

TEST_F(ProtocolTest, SessionMisuseIsRefused) {
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
    Send(CloseSession());
    Settle();
    EXPECT_EQ(server_.LogCount(kWriteNoSession), 1);
    EXPECT_EQ(server_.LogCount(kCloseNoSession), 1);

    Send(OpenSession("First.xml"));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
    // Opening again finishes the open file first.
    Send(OpenSession("Second.xml"));
    Settle();
    EXPECT_EQ(ReadFile(Data("First.xml")), SessionText({PosRecRecordText(1, kPosA)}));
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosB)));
    // A close request with a body: the body is read past.
    Send(Frame(MSG_COMM_CLOSE_SESSION, SizeRequest(kTelemetryId)));
    Send(CloseSession());
    Settle();
    EXPECT_EQ(ReadFile(Data("Second.xml")), SessionText({PosRecRecordText(2, kPosB)}));
    EXPECT_EQ(server_.LogCount(kCloseNoSession), 2);
    EXPECT_EQ(server_.LogCount(kCloseHandled), 1);
    EXPECT_EQ(server_.LogCount(
                  "Xsd Server CChannelXsd::ProcessingOpenSession the open session file is finished "
                  "first\n"),
              1);
}

TEST_F(ProtocolTest, HostileSessionNamesAreRefused) {
    const std::string prefix =
        "Error CChannelXsd::ProcessingOpenSession session file name refused: ";
    // The longest name the 259-character path limit leaves.
    const size_t room = 259 - (server_.dir() + "/XML_Data/").size();
    const std::string longest(room, 'n');
    auto nameFrame = [](const std::string& bytes) {
        return Frame(MSG_COMM_OPEN_SESSION, Bytes(bytes.begin(), bytes.end()));
    };
    const struct {
        std::string body;  // the raw body, terminating zero included where there is one
        const char* reason;
    } cases[] = {
        {std::string(1, '\0'), "it is empty"},
        {"Record.xml", "it has no terminating zero"},
        {std::string("a/b.xml\0", 8), "it holds '/', '\\' or a control character"},
        {std::string("..\\up.xml\0", 10), "it begins with '.'"},
        {std::string("a\\b.xml\0", 8), "it holds '/', '\\' or a control character"},
        {std::string("a\nb.xml\0", 8), "it holds '/', '\\' or a control character"},
        {std::string("a\x7f.xml\0", 7), "it holds '/', '\\' or a control character"},
        {std::string(".hidden\0", 8), "it begins with '.'"},
        {std::string("../../outside.xml\0", 18), "it begins with '.'"},
        {longest + "x" + std::string(1, '\0'), "the path would be longer than 259 characters"},
        {std::string("Telemetry_dataR.xml\0", 20), "it is the name of a data file"},
        {std::string("posrec_DATAW.XML\0", 17), "it is the name of a data file"},
        {std::string("formattedoutput.LOG\0", 20), "it is the name of a data file"},
    };
    const std::string data = ReadFile(Data("Telemetry_dataR.xml"));
    const auto before = Entries(server_ / "XML_Data");
    const auto beforeTop = Entries(server_.dir());
    std::map<std::string, int> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        Send(nameFrame(c.body));
        int n = ++expected[c.reason];
        EXPECT_TRUE(server_.WaitLog(prefix + c.reason + "\n", n));
    }
    Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
    Settle();
    EXPECT_EQ(server_.LogCount(kWriteNoSession), 1);
    EXPECT_EQ(Entries(server_ / "XML_Data"), before);
    EXPECT_EQ(Entries(server_.dir()), beforeTop);
    EXPECT_EQ(ReadFile(Data("Telemetry_dataR.xml")), data);

    // Names that are merely unusual are fine, up to the longest.
    for (const std::string& name : {longest, std::string("-odd name \xC3\xA9.xml")}) {
        Send(OpenSession(name));
        Send(CloseSession());
        Settle();
        EXPECT_EQ(ReadFile(Data(name)), SessionText({})) << name;
    }
}

TEST_F(ProtocolTest, SessionFilesAreOnlyRegularFilesInsideTheDataDirectory) {
    const std::string outside = server_ / "outside.xml";
    WriteFile(outside, "keep");
    ASSERT_EQ(symlink(outside.c_str(), Data("link.xml").c_str()), 0);
    ASSERT_EQ(symlink((server_ / "created.xml").c_str(), Data("dangling.xml").c_str()), 0);
    ASSERT_EQ(mkfifo(Data("fifo.xml").c_str(), 0644), 0);
    MakeDirs(Data("dir.xml"));
    // The same file under a second name.
    ASSERT_EQ(link(outside.c_str(), Data("hardlink.xml").c_str()), 0);
    const struct {
        const char* name;
        int err;
    } cases[] = {{"link.xml", ELOOP},
                 {"dangling.xml", ELOOP},
                 {"fifo.xml", ENXIO},
                 {"dir.xml", EISDIR},
                 {"hardlink.xml", EMLINK}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Send(OpenSession(c.name));
        EXPECT_TRUE(server_.WaitLog("Error CChannelXsd::ProcessingOpenSession session file " +
                                    DataPath(c.name) +
                                    " cannot be created err=" + std::to_string(c.err) + "\n"))
            << server_.Log();
        Send(WriteRequest(kPosRecId, PosRecRecord(kPosA)));
        Settle();  // not stuck on the FIFO
    }
    EXPECT_EQ(server_.LogCount(kWriteNoSession), 5);
    EXPECT_EQ(ReadFile(outside), "keep");
    EXPECT_FALSE(FileExists(server_ / "created.xml"));
    struct stat st {};
    ASSERT_EQ(lstat(Data("link.xml").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ProtocolTest, LengthFieldsOutsideTheFrameBufferDropTheClient) {
    const struct {
        int32_t id;
        int32_t length;
    } cases[] = {{MSG_COMM_SIZE, 0},
                 {MSG_COMM_WRITE_XML, 7},
                 {MSG_COMM_READ_XML, -1},
                 {MSG_COMM_WRITE_XML, kFrameBufferSize + 1},
                 {MSG_COMM_OPEN_SESSION, INT_MAX}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Bytes header(kFrameHeaderSize);
        WriteFrameHeader(header.data(), c.id, c.length);
        Send(header);
        // Bytes that a server following the length would take for a body.
        Send(SizeRequest(kPosRecId));
        EXPECT_TRUE(server_.WaitLog("Error CChannelXsd::OnReceive id=" + std::to_string(c.id) +
                                    " length=" + std::to_string(c.length) +
                                    " does not fit the frame buffer of 100012 bytes, "
                                    "Reconnection\n"));
        EXPECT_TRUE(PeerCloses(client_));
        EXPECT_EQ(server_.LogCount(kSizeAnswered), 0);
        client_ = server_.NextClient();
        ASSERT_TRUE(client_.valid());
    }
    ExpectInStep();
    EXPECT_TRUE(server_.program().Running());
}

TEST_F(ProtocolTest, UnknownIdsHaveTheirBodiesSkipped) {
    // Each body holds a whole size request, which must not be answered.
    Bytes body = SizeRequest(kHugeId);
    body.push_back(0x42);
    const int32_t ids[] = {MSG_COMM_ANSWER_SIZE, MSG_COMM_ANSWER_READ_XML, MSG_COMM_ANSWER_STATUS,
                           -5, 9, 1000};
    for (int32_t id : ids) {
        SCOPED_TRACE(id);
        Send(Frame(id, body));
        Send(SizeRequest(kPosRecId));
        EXPECT_EQ(RecvExact(client_, 16), SizeAnswer(kPosRecId, kPosRecSize));
        EXPECT_TRUE(server_.WaitLog("Xsd Server CChannelXsd::OnReceive id=" + std::to_string(id) +
                                    " has no handler, 13 body bytes skipped\n"));
    }
    // No body at all, and the largest body that fits.
    Send(Frame(9, {}));
    Send(Frame(9, Bytes(kFrameBufferSize - kFrameHeaderSize, 0)));
    ExpectInStep();
    EXPECT_TRUE(Silent(client_, milliseconds(200)));
}

// Each row's frames on one connection, then a status request: its answer
// reports the row's records and failures alone, the counts of the rows
// before having been reset by their answers.
TEST_F(ProtocolTest, StatusReportsWhatBecameOfEachRequest) {
    const std::string data = DataPath("");
    ASSERT_EQ(mkdir((server_ / "XML_Data/dir.xml").c_str(), 0755), 0);
    WriteFile(Data("Full_dataR.xml"), "<?x");
    const std::string kSizeH = "CChannelXsd::Processsing_MsgCommSize";
    const std::string kReadH = "CChannelXsd::Processsing_MsgCommReadXml";
    const std::string kWriteH = "CChannelXsd::Processsing_MsgCommWriteXml";
    const std::string kOpenH = "CChannelXsd::ProcessingOpenSession";
    Bytes longer = PosRecRecordOf(2);
    longer.push_back(9);
    const Bytes shorter(kPosRecSize - 1, 0);
    const struct {
        const char* name;
        std::vector<Bytes> frames;
        int readAnswers;  // read answers to take before the status answer
        int32_t written;
        std::vector<StatusFailure> failures;
    } cases[] = {
        {"nothing", {}, 0, 0, {}},
        {"unknown schema ids",
         {SizeRequest(kAbsentId), ReadRequest(kAbsentId, {}), WriteRequest(kAbsentId, Bytes(4))},
         0,
         0,
         {{1, 99, "Xsd Server " + kSizeH + " Schema_id=99 is absent"},
          {1, 99, "Xsd Server " + kReadH + " Schema_id=99 is absent"},
          {1, 99, "Xsd Server " + kWriteH + " Schema_id=99 is absent"}}},
        {"a body without a schema id",
         {Frame(MSG_COMM_SIZE, Bytes{1, 0})},
         0,
         0,
         {{1, 0, "Error " + kSizeH + " length=10 is too short for a schema id"}}},
        {"a read without a data file",
         {ReadRequest(kPosRecId, {})},
         1,
         0,
         {{2, 7,
           "Xsd Server " + kReadH + " no data file " + data +
               "PosRec_dataR.xml, the record sent holds no values of it"}}},
        {"a read of a data file that is not XML, and of a record beyond the area",
         {ReadRequest(kFullId, {}), ReadRequest(kHugeId, {})},
         0,
         0,
         {{3, 20, "Error " + kReadH + " problems reading file " + data + "Full_dataR.xml"},
          {3, 21,
           "Error " + kReadH + " Schema_id=21 record size 100001 exceeds the record area of "
           "100000 bytes"}}},
        {"refused session names",
         {OpenSession(""), OpenSession(".x")},
         0,
         0,
         {{4, 0, "Error " + kOpenH + " session file name refused: it is empty"},
          {4, 0, "Error " + kOpenH + " session file name refused: it begins with '.'"}}},
        {"a session file that cannot be created",
         {OpenSession("dir.xml")},
         0,
         0,
         {{6, 0, "Error " + kOpenH + " session file " + data + "dir.xml cannot be created err=21"}}},
        {"a write and a close without a session",
         {WriteRequest(kPosRecId, PosRecRecordOf(1)), CloseSession()},
         0,
         0,
         {{7, 7, "Error " + kWriteH + " no session file is open"},
          {10, 0, "Error CChannelXsd::ProcessingCloseSession no session file is open"}}},
        {"writes of the wrong length in a session",
         {OpenSession("lengths.xml"), WriteRequest(kPosRecId, PosRecRecordOf(1)),
          WriteRequest(kPosRecId, shorter), WriteRequest(kPosRecId, longer),
          Frame(MSG_COMM_WRITE_XML, Bytes{7, 0}), CloseSession()},
         0,
         2,
         {{8, 7, "Error " + kWriteH + " length=39 is too short for a record of 28 bytes"},
          {8, 7,
           "Xsd Server " + kWriteH +
               " length=41 is longer than a record of 28 bytes, the bytes beyond it are ignored"},
          {8, 0, "Error " + kWriteH + " length=10 is too short for a schema id"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Bytes& f : c.frames) Send(f);
        for (int i = 0; i < c.readAnswers; ++i)
            EXPECT_TRUE(RecvExact(client_, kAnswerReadXmlLength).has_value());
        Send(StatusRequest());
        auto status = RecvStatus(client_);
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->written, c.written);
        EXPECT_EQ(status->failures, static_cast<int32_t>(c.failures.size()));
        EXPECT_EQ(status->schemaPart, 0);
        ASSERT_EQ(status->listed.size(), c.failures.size());
        for (size_t i = 0; i < c.failures.size(); ++i) {
            EXPECT_EQ(status->listed[i].code, c.failures[i].code) << i;
            EXPECT_EQ(status->listed[i].schemaId, c.failures[i].schemaId) << i;
            EXPECT_EQ(status->listed[i].text, c.failures[i].text) << i;
        }
    }
    EXPECT_TRUE(server_.WaitLog("Xsd Server MSG_COMM_STATUS MSG_COMM_ANSWER_STATUS written=2 "
                                "failures=3\n"));
    EXPECT_EQ(server_.LogCount("CChannelXsd::OnReceive CChannelXsd::OnReceive id=7 length=8\n"),
              static_cast<int>(std::size(cases)));
}

TEST_F(ProtocolTest, StatusListsSixteenFailuresAndCountsTheRest) {
    for (int i = 0; i < 20; ++i) Send(SizeRequest(100 + i));
    Send(StatusRequest());
    auto status = RecvStatus(client_);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->failures, 20);
    ASSERT_EQ(status->listed.size(), 16u);
    EXPECT_EQ(status->listed[15].schemaId, 115);
    // A new client starts with nothing to report.
    Send(SizeRequest(kAbsentId));
    Settle();
    client_.Close();
    client_ = server_.NextClient();
    ASSERT_TRUE(client_.valid());
    Send(StatusRequest());
    status = RecvStatus(client_);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->failures, 0);
}

TEST_F(ProtocolTest, StatusNamesTheSchemaAsked) {
    Schema posRec;
    pugi::xml_document doc;
    std::string error;
    ASSERT_TRUE(LoadXmlDocument((SourceDir() + "/examples/Schemas/PosRec.xsd").c_str(), doc, error));
    ASSERT_TRUE(LoadSchema(posRec, doc));
    const struct {
        Bytes frame;
        int32_t part, id, size;
        uint64_t fingerprint;
        std::string name;
        std::string line;  // logged after the answer; empty: none
    } cases[] = {
        {StatusRequest(kPosRecId), 1, 7, 28, LayoutFingerprint(posRec), "PosRec",
         "Xsd Server CChannelXsd::ProcessingStatus Schema_id=7 is loaded\n"},
        {StatusRequest(kAbsentId), 2, 99, 0, 0, "",
         "Xsd Server CChannelXsd::ProcessingStatus Schema_id=99 is absent\n"},
        // A body too short for an id asks for none; one beyond it is read past.
        {Frame(MSG_COMM_STATUS, Bytes{7, 0}), 0, 0, 0, 0, "", ""},
        {Frame(MSG_COMM_STATUS, Int32Body({kPosRecId, 5})), 1, 7, 28, LayoutFingerprint(posRec),
         "PosRec", ""},
    };
    for (const auto& c : cases) {
        Send(c.frame);
        auto status = RecvStatus(client_);
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->schemaPart, c.part);
        EXPECT_EQ(status->schemaId, c.id);
        EXPECT_EQ(status->recordSize, c.size);
        EXPECT_EQ(status->fingerprint, c.fingerprint);
        EXPECT_EQ(status->name, c.name);
        if (!c.line.empty()) {
            EXPECT_TRUE(server_.WaitLog(c.line));
        }
    }
    EXPECT_NE(LayoutFingerprint(posRec), 0u);
    ExpectInStep();
}

TEST_F(ProtocolTest, RequestsWithoutABodyTakeTheReconnectionPath) {
    const struct {
        int32_t id;
        const char* handler;
    } cases[] = {{MSG_COMM_SIZE, "Processsing_MsgCommSize"},
                 {MSG_COMM_READ_XML, "Processsing_MsgCommReadXml"},
                 {MSG_COMM_OPEN_SESSION, "ProcessingOpenSession"},
                 {MSG_COMM_WRITE_XML, "Processsing_MsgCommWriteXml"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handler);
        Send(Frame(c.id, {}));
        EXPECT_TRUE(server_.WaitLog(std::string("Xsd Server CChannelXsd::") + c.handler +
                                    " Reconnection\n"));
        EXPECT_TRUE(PeerCloses(client_));
        client_ = server_.NextClient();
        ASSERT_TRUE(client_.valid());
    }
    ExpectInStep();
}

TEST_F(ProtocolTest, AClientThatGoesDuringAnAnswerDoesNotEndTheServer) {
    Socket slow = Socket(socket(AF_INET, SOCK_STREAM, 0));
    int small = 4096;
    setsockopt(slow.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    client_.Close();
    ASSERT_TRUE(server_.WaitLog(kClientGone));
    ASSERT_TRUE(WaitFor([&] { return server_.ListenCount() >= 2; }));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server_.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(slow.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // More answers than the socket buffers hold: the server blocks in a send.
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(SendAll(slow, ReadRequest(kTelemetryId, {})));
    ASSERT_TRUE(server_.WaitLog(kReadAnswered, 2));
    SleepMs(200);
    Abort(slow);
    EXPECT_TRUE(WaitFor([&] {
        return server_.Log().find(
                   "Error CChannelXsd::Processsing_MsgCommReadXml the answer was "
                   "not sent err=") != std::string::npos;
    }));
    ASSERT_TRUE(WaitFor([&] { return server_.ListenCount() >= 3; }));
    EXPECT_TRUE(server_.program().Running());
    client_ = Connect(server_.port());
    ASSERT_TRUE(client_.valid());
    ExpectInStep();
}

TEST(ProtocolQuietTest, ErrorsReachTheLogWithoutTheTraceFlag) {
    MorvaneServer server(FreeTcpPort(), "LogFlag=0\nCreateFilesFlag=0\n");
    ASSERT_TRUE(server.Start());
    Socket client = server.NextClient();
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(SendAll(client, SizeRequest(kAbsentId)));
    ASSERT_TRUE(SendAll(client, OpenSession(".x")));
    ASSERT_TRUE(SendAll(client, CloseSession()));
    ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
    EXPECT_EQ(RecvExact(client, 16), SizeAnswer(kPosRecId, kPosRecSize));
    std::string log = server.Log();
    EXPECT_EQ(CountOf(log, "Xsd Server"), 0) << log;
    EXPECT_EQ(CountOf(log, "CChannelXsd::OnReceive CChannelXsd::OnReceive"), 0);
    EXPECT_EQ(CountOf(log,
                      "Error CChannelXsd::ProcessingOpenSession session file name refused: "
                      "it begins with '.'\n"),
              1);
    EXPECT_EQ(CountOf(log, kCloseNoSession), 1);
}

// The server keeps what a data file sets while the file stays the same;
// every change must show. With the trace flag, so must the reader's trace
// lines: every read logs them, also one answered from what was kept.
void ReadsFollowTheDataFile(bool trace) {
    MorvaneServer server(FreeTcpPort(), trace ? "LogFlag=1\nCreateFilesFlag=0\n"
                                              : "LogFlag=0\nCreateFilesFlag=0\n");
    ASSERT_TRUE(server.Start());
    Socket client = server.NextClient();
    ASSERT_TRUE(client.valid());
    const std::string dataFile = server / "XML_Data/PosRec_dataR.xml";
    auto fileSetting = [&](int count) {
        WriteFile(dataFile, "<Schema name=\"PosRec\"><Item name=\"count\" type=\"int\">" +
                                std::to_string(count) + "</Item></Schema>\n");
    };
    // The record of a read request that carries initial, and what it should be.
    auto read = [&](const Bytes& initial) {
        EXPECT_TRUE(SendAll(client, ReadRequest(kPosRecId, initial)));
        auto a = RecvExact(client, kAnswerReadXmlLength);
        EXPECT_TRUE(a.has_value());
        if (!a) return Bytes();
        return Bytes(a->begin() + kRecordOffset, a->begin() + kRecordOffset + kPosRecSize);
    };
    auto expected = [](const Bytes& initial, int count) {
        Bytes b = initial;
        PutInt32(b.data(), count);
        return b;
    };
    const Bytes p1 = Pattern(kPosRecSize, 1), p2 = Pattern(kPosRecSize, 90);
    const milliseconds settle(DataFileCache::kSettleSeconds * 1000 + 200);

    fileSetting(5);
    EXPECT_EQ(read(p1), expected(p1, 5));  // a fresh file is read each time
    SleepMs(static_cast<int>(settle.count()));
    EXPECT_EQ(read(p1), expected(p1, 5));
    EXPECT_EQ(read(p2), expected(p2, 5));  // kept: the request's bytes still show
    fileSetting(7);                        // the same size
    EXPECT_EQ(read(p2), expected(p2, 7));
    SleepMs(static_cast<int>(settle.count()));
    EXPECT_EQ(read(p1), expected(p1, 7));
    EXPECT_EQ(read(p1), expected(p1, 7));
    std::remove(dataFile.c_str());
    EXPECT_EQ(read(p2), p2);
    WriteFile(dataFile, "<Schema name=\"PosRec\"><Item");
    SleepMs(static_cast<int>(settle.count()));
    for (int i = 1; i <= 2; ++i) {
        ASSERT_TRUE(SendAll(client, ReadRequest(kPosRecId, p1)));
        EXPECT_TRUE(
            server.WaitLog("Error CChannelXsd::Processsing_MsgCommReadXml problems reading "
                           "file " +
                               server.dir() + "/XML_Data/PosRec_dataR.xml\n",
                           i));
        EXPECT_TRUE(Silent(client, milliseconds(100)));
    }
    auto traced = [](int count) {
        return "offset0 =0\n   name_unit=Item, struct_name=count offset_elem=0 text=" +
               std::to_string(count) + "\n" + kReadAnswered;
    };
    EXPECT_TRUE(server.WaitLog(traced(5), trace ? 3 : 0));
    EXPECT_TRUE(server.WaitLog(traced(7), trace ? 3 : 0));
    EXPECT_EQ(server.LogCount(traced(5)), trace ? 3 : 0) << server.Log();
    EXPECT_EQ(server.LogCount(traced(7)), trace ? 3 : 0);
}

TEST(ProtocolQuietTest, ReadsFollowTheDataFile) { ReadsFollowTheDataFile(false); }

TEST(ProtocolTracedTest, ReadsFollowTheDataFile) { ReadsFollowTheDataFile(true); }

// Each case runs a server of its own: the signal ends it and finishes the
// open session of every client.
TEST(ProtocolStopTest, StopSignalsFinishEveryOpenSession) {
    const struct {
        int sig;
        int clients;  // more than one: MaxClients=4
    } cases[] = {{SIGINT, 1}, {SIGTERM, 1}, {SIGHUP, 1}, {SIGQUIT, 1}, {SIGTERM, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "signal " << c.sig << ", clients " << c.clients);
        MorvaneServer server(FreeTcpPort(), c.clients > 1 ? "CreateFilesFlag=0\nMaxClients=4\n"
                                                          : "CreateFilesFlag=0\n");
        ASSERT_TRUE(server.Start());
        std::vector<Socket> clients;
        for (int n = 0; n < c.clients; ++n) {
            clients.push_back(Connect(server.port()));
            ASSERT_TRUE(SendAll(clients.back(), OpenSession("S" + std::to_string(n) + ".xml")));
            ASSERT_TRUE(SendAll(clients.back(), WriteRequest(kPosRecId, PosRecRecord(kPosA))));
            ASSERT_TRUE(server.WaitLog(WriteLine(n + 1)));
        }
        EXPECT_EQ(server.program().Stop(c.sig), 0);
        for (int n = 0; n < c.clients; ++n)
            EXPECT_EQ(ReadFile(server / ("XML_Data/S" + std::to_string(n) + ".xml")),
                      SessionText({PosRecRecordText(n + 1, kPosA)}));
    }
}

TEST(ProtocolStartTest, ATakenPortIsReportedAndRetried) {
    const int port = FreeTcpPort();
    Socket squatter = Listen(port);
    ASSERT_TRUE(squatter.valid());
    // Morvane must not inherit it.
    fcntl(squatter.fd(), F_SETFD, FD_CLOEXEC);
    MorvaneServer server(port, "CreateFilesFlag=0\n");
    EXPECT_FALSE(server.Start(milliseconds(300)));
    ASSERT_TRUE(server.program().Running());
    const std::regex onError(R"(CChannelXsd::OnError  this=0x[0-9A-F]+  err=2\n)");
    EXPECT_TRUE(WaitFor([&] {
        std::string log = server.Log();
        return std::regex_search(log, onError);
    }));
    EXPECT_NE(server.program().Stderr().find("bind() failed with error 98\n"), std::string::npos);

    squatter.Close();
    Socket client = server.NextClient();
    ASSERT_TRUE(client.valid()) << server.program().Stderr() << server.program().Stdout();
    ASSERT_TRUE(SendAll(client, SizeRequest(kTelemetryId)));
    EXPECT_EQ(RecvExact(client, 16), SizeAnswer(kTelemetryId, kTelemetrySize));
}

// Sends a size request on s and checks its answer: the stream is in step.
void ExpectInStep(const Socket& s) {
    ASSERT_TRUE(SendAll(s, SizeRequest(kPosRecId)));
    EXPECT_EQ(RecvExact(s, 16), SizeAnswer(kPosRecId, kPosRecSize));
}

// Several clients at once (MaxClients above 1): a client is answered while
// another stays connected, and a session file belongs to one client until
// it closes the session or leaves.
TEST(ProtocolClientsTest, ASessionFileBelongsToOneClientUntilClosedOrLeft) {
    MorvaneServer server(FreeTcpPort(), "CreateFilesFlag=0\nMaxClients=3\n");
    ASSERT_TRUE(server.Start()) << server.program().Stderr() << server.Log();
    auto data = [&](const std::string& name) { return ReadFile(server / ("XML_Data/" + name)); };
    Socket a = Connect(server.port());
    Socket b = Connect(server.port());
    ASSERT_TRUE(SendAll(a, OpenSession("Same.xml")));
    ASSERT_TRUE(SendAll(a, WriteRequest(kPosRecId, PosRecRecord(kPosA))));
    ExpectInStep(a);
    ASSERT_TRUE(SendAll(b, OpenSession("Same.xml")));
    ASSERT_TRUE(SendAll(b, WriteRequest(kPosRecId, PosRecRecord(kPosB))));
    ExpectInStep(b);
    EXPECT_EQ(server.LogCount("Error CChannelXsd::ProcessingOpenSession session file " +
                              server.dir() + "/XML_Data/Same.xml is open by another client\n"),
              1);
    EXPECT_EQ(server.LogCount(kWriteNoSession), 1);
    // Each client's status answer reports its own requests.
    ASSERT_TRUE(SendAll(b, StatusRequest()));
    auto status = RecvStatus(b);
    ASSERT_TRUE(status.has_value());
    ASSERT_EQ(status->listed.size(), 2u);
    EXPECT_EQ(status->listed[0].code, 5);
    EXPECT_EQ(status->listed[0].text, "Error CChannelXsd::ProcessingOpenSession session file " +
                                          server.dir() +
                                          "/XML_Data/Same.xml is open by another client");
    EXPECT_EQ(status->listed[1].code, 7);
    ASSERT_TRUE(SendAll(a, StatusRequest()));
    status = RecvStatus(a);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->written, 1);
    EXPECT_EQ(status->failures, 0);
    ASSERT_TRUE(SendAll(a, CloseSession()));
    ExpectInStep(a);
    EXPECT_EQ(data("Same.xml"), SessionText({PosRecRecordText(1, kPosA)}));

    // Once closed, the name is free for the other client.
    ASSERT_TRUE(SendAll(b, OpenSession("Same.xml")));
    ASSERT_TRUE(SendAll(b, WriteRequest(kPosRecId, PosRecRecord(kPosC))));
    ASSERT_TRUE(SendAll(b, CloseSession()));
    ExpectInStep(b);
    EXPECT_EQ(data("Same.xml"), SessionText({PosRecRecordText(2, kPosC)}));

    // A client that leaves has its session finished, and the name is free.
    int number = 2;
    for (bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "reset" : "orderly close");
        const std::string name = abort ? "Reset.xml" : "Left.xml";
        Socket c = Connect(server.port());
        ASSERT_TRUE(SendAll(c, OpenSession(name)));
        ASSERT_TRUE(SendAll(c, WriteRequest(kPosRecId, PosRecRecord(kPosA))));
        ExpectInStep(c);
        if (abort)
            Abort(c);
        else
            c.Close();
        ASSERT_TRUE(
            server.WaitLog("Xsd Server CChannelXsd::OnReceive the client left, session file " +
                           name + " finished\n"));
        EXPECT_EQ(data(name), SessionText({PosRecRecordText(++number, kPosA)}));
    }
    ASSERT_TRUE(SendAll(b, OpenSession("Left.xml")));
    ASSERT_TRUE(SendAll(b, CloseSession()));
    ExpectInStep(b);
    EXPECT_EQ(data("Left.xml"), SessionText({}));
}

// The plug-in receives the records of several clients one whole record
// after the other.
TEST(ProtocolEightClientsTest, EightClientsWriteAtOnce) {
    MorvaneServer server(FreeTcpPort(),
                         "CreateFilesFlag=0\nMaxClients=8\nPrintDataDll=libprintdata.so\n");
    CopyFromBin(server.dir(), {"libprintdata.so"});
    ASSERT_TRUE(server.Start()) << server.program().Stderr();
    constexpr int kClients = 8, kRecords = 150;
    std::vector<Socket> clients;
    for (int c = 0; c < kClients; ++c) clients.push_back(Connect(server.port()));
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            Bytes stream = OpenSession("C" + std::to_string(c) + ".xml");
            for (int r = 0; r < kRecords; ++r)
                Append(stream, WriteRequest(kPosRecId, PosRecRecordOf(c * 1000 + r)));
            Append(stream, CloseSession());
            EXPECT_TRUE(SendAll(clients[static_cast<size_t>(c)], stream));
            ExpectInStep(clients[static_cast<size_t>(c)]);
        });
    }
    for (auto& t : threads) t.join();
    // Record numbers rise within each file and are never given twice.
    std::set<int> numbers;
    const std::regex numberAttribute("number=\"([0-9]+)\"");
    for (int c = 0; c < kClients; ++c) {
        std::string text = ReadFile(server / ("XML_Data/C" + std::to_string(c) + ".xml"));
        int previous = 0, count = 0;
        for (std::sregex_iterator m(text.begin(), text.end(), numberAttribute), end; m != end;
             ++m, ++count) {
            const int number = std::stoi((*m)[1]);
            EXPECT_GT(number, previous);
            numbers.insert(previous = number);
        }
        EXPECT_EQ(count, kRecords);
        EXPECT_EQ(text.substr(text.size() - 8), "</Root>\n");
    }
    EXPECT_EQ(numbers.size(), static_cast<size_t>(kClients * kRecords));

    // Every header line is followed by the values of one record: count n
    // gives pos:x 3n (PosRecOf).
    const std::string out = ReadFile(server / "XML_Data/FormattedOutput.log");
    EXPECT_EQ(CountOf(out, "--------------PosRec--------------\n"), kClients * kRecords);
    const std::regex record(
        "--------------PosRec--------------\ncount = ([0-9]+)\n[^\n]*\n[^\n]*\npos:x = ([0-9]+)\n");
    int records = 0;
    for (std::sregex_iterator m(out.begin(), out.end(), record), end; m != end; ++m, ++records)
        EXPECT_EQ(std::stoi((*m)[2]), 3 * std::stoi((*m)[1])) << (*m)[0];
    EXPECT_EQ(records, kClients * kRecords);
}

// A client that sends nothing for IdleTimeout seconds is dropped with a log
// line, in both modes, and the next is served.
TEST(ProtocolIdleTest, SilentClientsAreDroppedAfterTheIdleTime) {
    for (int maxClients : {1, 2}) {
        SCOPED_TRACE(maxClients);
        MorvaneServer server(FreeTcpPort(), "CreateFilesFlag=0\nIdleTimeout=1\nMaxClients=" +
                                                std::to_string(maxClients) + "\n");
        ASSERT_TRUE(server.Start());
        std::vector<Socket> silent;
        for (int i = 0; i < maxClients; ++i) silent.push_back(Connect(server.port()));
        Socket next = Connect(server.port());
        ASSERT_TRUE(SendAll(next, SizeRequest(kTelemetryId)));
        for (auto& s : silent) EXPECT_TRUE(PeerCloses(s));
        EXPECT_EQ(RecvExact(next, 16), SizeAnswer(kTelemetryId, kTelemetrySize));
        EXPECT_TRUE(server.WaitLog(
            "Xsd Server CChannelXsd::OnReceive the client sent nothing for 1 s and is dropped\n",
            maxClients));
    }
}

}  // namespace
}  // namespace morvane::test
