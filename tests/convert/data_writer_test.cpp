// WriteXmlFile: record elements, member forms, refusals, failing writes and
// round trips through ReadXmlFile.
#include "convert/data_writer.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "convert/data_reader.h"
#include "convert_test_util.h"
#include "generate/xml_writer.h"
#include "support/test_support.h"

namespace morvane {
namespace {

std::string Golden(const std::string& name) {
    return test::ReadFile(test::TestDataDir() + "/convert/golden/" + name);
}

using test::kAllTypesXsd;
using test::kFormsXsd;

std::vector<uint8_t> FormsRecord() {
    return {0x01, 0x02, 0x03,                          // rep
            0x11, 0x11, 0x22, 0x22,                    // hid (collapsed)
            0x7F,                                      // one
            0x09, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,  // es: NINE, unknown 5
            0xAB, 0xFF, 0xFF, 0x02, 0x01};             // out: a, in[0].v, in[1].v
}

class WriteXmlFileTest : public testing::Test {
  protected:
    // Writes one record into a file of its own (record element at level 0).
    std::string WriteOne(const Schema& schema, int32_t number, const std::vector<uint8_t>& record) {
        CXmlWriter writer;
        EXPECT_TRUE(writer.OpenFile(path_.c_str()));
        EXPECT_TRUE(WriteXmlFile(schema, writer, number, record.data(),
                                 static_cast<int32_t>(record.size())));
        EXPECT_TRUE(writer.CloseFile());
        return test::ReadFile(path_);
    }

    // Writes the worked example's record as records 1 to count of a
    // session file, as the server does between opening and closing it.
    std::string WriteSession(int32_t count) {
        auto schema = test::PosRecSchema();
        std::vector<uint8_t> record = test::PosRecRecord();
        CXmlWriter writer;
        EXPECT_TRUE(schema && writer.OpenFile(path_.c_str()) && writer.OpenBareElement("Root"));
        for (int32_t n = 1; schema && n <= count; ++n)
            EXPECT_TRUE(WriteXmlFile(*schema, writer, n, record.data(), 28));
        EXPECT_TRUE(writer.CloseElement() && writer.CloseFile());
        return test::ReadFile(path_);
    }

    test::TempDir dir_;
    std::string path_ = dir_ / "out.xml";
};

// The worked example: one PosRec record in a fresh session file.
TEST_F(WriteXmlFileTest, SessionFileOfTheWorkedExample) {
    EXPECT_EQ(WriteSession(1), Golden("posrec_session.xml"));
}

TEST_F(WriteXmlFileTest, ZeroRecordGivesZeroOfEveryType) {
    auto schema = test::SchemaFromText(kAllTypesXsd);
    ASSERT_TRUE(schema);
    EXPECT_EQ(WriteOne(*schema, 1, std::vector<uint8_t>(49, 0)), Golden("zero_record.xml"));
}

TEST_F(WriteXmlFileTest, EveryMemberForm) {
    auto schema = test::SchemaFromText(kFormsXsd);
    ASSERT_TRUE(schema);
    ASSERT_EQ(schema->Size(), 21);
    EXPECT_EQ(WriteOne(*schema, 4, FormsRecord()), Golden("forms_record.xml"));
}

TEST_F(WriteXmlFileTest, LongFloatingPointTextsAreWrittenWhole) {
    auto schema = test::SchemaFromText(
        R"(<Schema name="W" id="1"><Item name="d" type="double"/><Item name="f" type="float"/></Schema>)");
    ASSERT_TRUE(schema);
    std::vector<uint8_t> record(12);
    double d = -1.5e300;
    float f = 3e38f;
    std::memcpy(record.data(), &d, 8);
    std::memcpy(record.data() + 8, &f, 4);
    char dText[400], fText[100];
    std::snprintf(dText, sizeof dText, "%f", d);
    std::snprintf(fText, sizeof fText, "%f", static_cast<double>(f));
    ASSERT_GT(std::strlen(dText), 300u);
    std::string text = WriteOne(*schema, 1, record);
    EXPECT_NE(text.find(std::string(">") + dText + "</Item>"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(">") + fText + "</Item>"), std::string::npos) << text;
}

TEST_F(WriteXmlFileTest, RecordNumbersAreTheOnlyDifference) {
    std::string three = WriteSession(3);
    std::string one = Golden("posrec_session.xml");
    std::string body = one.substr(one.find("   <Schema"));
    body.resize(body.find("</Root>"));
    std::string expected = "<?xml version=\"1.0\"?>\n<Root>\n";
    for (const char* n : {"1", "2", "3"}) {
        std::string record = body;
        record.replace(record.find("number=\"1\""), 10, std::string("number=\"") + n + "\"");
        expected += record;
    }
    expected += "</Root>\n";
    EXPECT_EQ(three, expected);
}

TEST_F(WriteXmlFileTest, RefusedRecordsLeaveTheFileAsItWas) {
    auto schema = test::PosRecSchema();
    ASSERT_TRUE(schema);
    std::vector<uint8_t> record = test::PosRecRecord();
    CXmlWriter writer;
    {
        test::LogRecorder log;
        EXPECT_FALSE(WriteXmlFile(*schema, writer, 1, record.data(), 28));
        EXPECT_EQ(log.Text(), "Error! WriteXmlFile: no data file is open for record 1 of PosRec\n");
    }
    ASSERT_TRUE(writer.OpenFile(path_.c_str()));
    ASSERT_TRUE(writer.OpenBareElement("Root"));
    {
        test::LogRecorder log;
        EXPECT_FALSE(WriteXmlFile(*schema, writer, 2, record.data(), 27));  // short buffer
        Schema unloaded;
        EXPECT_FALSE(WriteXmlFile(unloaded, writer, 3, record.data(), 28));  // no members
        EXPECT_EQ(log.Text(), "");
    }
    ASSERT_TRUE(writer.CloseElement());
    ASSERT_TRUE(writer.CloseFile());
    EXPECT_EQ(test::ReadFile(path_), "<?xml version=\"1.0\"?>\n<Root>\n</Root>\n");
}

TEST_F(WriteXmlFileTest, AFullDeviceFailsTheRecord) {
    auto schema = test::PosRecSchema();
    ASSERT_TRUE(schema);
    std::vector<uint8_t> record = test::PosRecRecord();
    CXmlWriter writer;
    if (!writer.OpenFile("/dev/full")) GTEST_SKIP() << "/dev/full cannot be opened here";
    test::LogRecorder log;
    EXPECT_FALSE(WriteXmlFile(*schema, writer, 1, record.data(), 28));
    EXPECT_EQ(log.Text(),
              "Error! WriteXmlFile: writing record 1 of PosRec failed; the data file is cut back to "
              "the record before it\n");
    writer.CloseFile();
}

// A write-size limit that the second record crosses: that record fails and
// vanishes whole, the first stays, and the session can still be closed.
TEST_F(WriteXmlFileTest, AWriteFailingMidRecordCutsTheFileBack) {
    auto schema = test::PosRecSchema();
    ASSERT_TRUE(schema);
    std::vector<uint8_t> record = test::PosRecRecord();

    std::string reference = dir_ / "reference.xml";
    {
        CXmlWriter writer;
        ASSERT_TRUE(writer.OpenFile(reference.c_str()));
        ASSERT_TRUE(writer.OpenBareElement("Root"));
        ASSERT_TRUE(WriteXmlFile(*schema, writer, 1, record.data(), 28));
        ASSERT_TRUE(writer.Flush());
    }
    std::string firstRecord = test::ReadFile(reference);
    ASSERT_NE(firstRecord.find("</Schema>"), std::string::npos);

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child reports by exit code: 0 when every step went as expected.
        signal(SIGXFSZ, SIG_IGN);
        rlim_t limit = firstRecord.size() + 100;  // a record is about 600 bytes
        rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(10);
        CXmlWriter writer;
        if (!writer.OpenFile(path_.c_str()) || !writer.OpenBareElement("Root")) _exit(11);
        if (!WriteXmlFile(*schema, writer, 1, record.data(), 28)) _exit(12);
        test::LogRecorder log;
        if (WriteXmlFile(*schema, writer, 2, record.data(), 28)) _exit(13);
        if (log.lines().size() != 1 || log.lines()[0].find("record 2 of PosRec failed") == std::string::npos)
            _exit(14);
        if (!writer.CloseElement() || !writer.CloseFile()) _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_TRUE(test::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::ReadFile(path_), firstRecord + "</Root>\n");
}

TEST_F(WriteXmlFileTest, PosRecRoundTrip) {
    auto schema = test::PosRecSchema();
    ASSERT_TRUE(schema);
    std::vector<uint8_t> record = test::PosRecRecord();
    record[4] = 0x66;  // flags are collapsed: written as a count, never read back
    WriteOne(*schema, 1, record);
    std::vector<uint8_t> back(28, 0);
    ASSERT_TRUE(ReadXmlFile(*schema, true, path_.c_str(), back.data(), 28));
    record[4] = 0;
    EXPECT_EQ(test::Hex(back), test::Hex(record));
}

TEST_F(WriteXmlFileTest, FormsRoundTrip) {
    auto schema = test::SchemaFromText(kFormsXsd);
    ASSERT_TRUE(schema);
    std::vector<uint8_t> record = FormsRecord();
    WriteOne(*schema, 1, record);
    std::vector<uint8_t> back(21, 0);
    ASSERT_TRUE(ReadXmlFile(*schema, true, path_.c_str(), back.data(), 21));
    std::fill(record.begin() + 3, record.begin() + 7, 0);  // hid is collapsed
    EXPECT_EQ(test::Hex(back), test::Hex(record));
}

// Every NaN keeps its bits through a data file the way the server writes
// and reads it: signalling ones, payloads and signs, with the plain quiet
// NaN still written "nan".
TEST_F(WriteXmlFileTest, NanPayloadsRoundTripThroughDataFiles) {
    auto all = test::SchemaFromText(kAllTypesXsd);
    ASSERT_TRUE(all);
    const std::pair<uint32_t, uint64_t> nans[] = {
        {0x7F800001u, 0xFFF80000DEADBEEFull},
        {0x7FC00000u, 0x7FF0000000000001ull},
        {0xFFBFFFFFu, 0x7FF8000000000000ull}};
    const char* const texts[][2] = {{"snan(0x1)", "-nan(0xDEADBEEF)"},
                                    {"nan", "snan(0x1)"},
                                    {"-snan(0x3FFFFF)", "nan"}};
    for (size_t i = 0; i < std::size(nans); ++i) {
        std::vector<uint8_t> record(49, 0);
        std::memcpy(record.data() + 29, &nans[i].first, 4);
        std::memcpy(record.data() + 33, &nans[i].second, 8);
        std::string text = WriteOne(*all, 1, record);
        EXPECT_NE(text.find(std::string("type=\"float\">") + texts[i][0] + "<"), std::string::npos)
            << text;
        EXPECT_NE(text.find(std::string("type=\"double\">") + texts[i][1] + "<"), std::string::npos)
            << text;
        std::vector<uint8_t> back(49, 0);
        ASSERT_TRUE(ReadXmlFile(*all, true, path_.c_str(), back.data(), 49));
        EXPECT_EQ(test::Hex(back), test::Hex(record));
    }
}

// XML to binary to XML to binary on the Telemetry example: the records
// agree, and writing the second record gives the same text again.
TEST_F(WriteXmlFileTest, TelemetryRoundTrip) {
    auto schema = test::SchemaFromFile(test::SourceDir() + "/examples/Schemas/Telemetry.xsd");
    ASSERT_TRUE(schema);
    std::string data = test::SourceDir() + "/examples/XML_Data/Telemetry_dataR.xml";
    std::vector<uint8_t> first(82, 0), second(82, 0);
    ASSERT_TRUE(ReadXmlFile(*schema, true, data.c_str(), first.data(), 82));
    std::string text = WriteOne(*schema, 1, first);
    ASSERT_TRUE(ReadXmlFile(*schema, true, path_.c_str(), second.data(), 82));
    EXPECT_EQ(test::Hex(second), test::Hex(first));
    EXPECT_EQ(WriteOne(*schema, 1, second), text);
    EXPECT_NE(text.find("<Item name=\"total\" type=\"unsigned64\">18446744073709551615</Item>"),
              std::string::npos);
    EXPECT_NE(text.find("<Item name=\"stamp\" type=\"int64\">1234567890123</Item>"), std::string::npos);
}

// AppendRecordXml gives the bytes WriteXmlFile writes: at depth 1 those of
// a session file, at depth 0 those of a file of its own.
TEST_F(WriteXmlFileTest, AppendRecordXmlWritesWhatWriteXmlFileWrites) {
    auto posrec = test::PosRecSchema();
    auto forms = test::SchemaFromText(kFormsXsd);
    auto all = test::SchemaFromText(kAllTypesXsd);
    ASSERT_TRUE(posrec && forms && all);
    const std::string kDeclaration = "<?xml version=\"1.0\"?>\n";
    std::string out = kDeclaration + "<Root>\n";
    ASSERT_TRUE(AppendRecordXml(*posrec, 1, test::PosRecRecord().data(), 28, out));
    EXPECT_EQ(out + "</Root>\n", Golden("posrec_session.xml"));
    out = kDeclaration;
    ASSERT_TRUE(AppendRecordXml(*forms, 4, FormsRecord().data(), 21, out, 0));
    EXPECT_EQ(out, Golden("forms_record.xml"));
    out = kDeclaration;
    const std::vector<uint8_t> zero(49, 0);
    ASSERT_TRUE(AppendRecordXml(*all, 1, zero.data(), 49, out, 0));
    EXPECT_EQ(out, Golden("zero_record.xml"));

    out = "kept";
    EXPECT_FALSE(AppendRecordXml(*all, 1, zero.data(), 48, out));  // short buffer
    Schema unloaded;
    EXPECT_FALSE(AppendRecordXml(unloaded, 1, zero.data(), 49, out));
    EXPECT_EQ(out, "kept");
}

// A server serving several clients writes records of one schema on several
// threads at once, into data files (depth 0) and session files (depth 1):
// each thread gets the text of its own depth from the first record of a
// freshly loaded schema on.
TEST_F(WriteXmlFileTest, RecordsOfOneSchemaWrittenOnSeveralThreadsAtOnce) {
    constexpr int kThreads = 8;
    std::string expected[2];
    {
        auto posrec = test::PosRecSchema();
        ASSERT_TRUE(posrec);
        for (int depth = 0; depth < 2; ++depth)
            ASSERT_TRUE(AppendRecordXml(*posrec, 1, test::PosRecRecord().data(), 28,
                                        expected[depth], depth));
    }
    ASSERT_NE(expected[0], expected[1]);
    for (int round = 0; round < 100; ++round) {
        auto posrec = test::PosRecSchema();
        ASSERT_TRUE(posrec);
        std::atomic<int> ready{0};
        std::vector<std::string> texts(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                ++ready;
                while (ready.load() < kThreads) {
                }
                for (int n = 0; n < 20; ++n) {
                    texts[t].clear();
                    AppendRecordXml(*posrec, 1, test::PosRecRecord().data(), 28, texts[t], t % 2);
                    if (texts[t] != expected[t % 2]) return;
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        for (int t = 0; t < kThreads; ++t)
            ASSERT_EQ(texts[t], expected[t % 2]) << "round " << round << ", thread " << t;
    }
}

// Whatever the bytes, a strict read accepts what the writer wrote; values
// "%f" cannot carry read back exactly.
TEST_F(WriteXmlFileTest, StrictReadAcceptsEveryRecordWritten) {
    auto all = test::SchemaFromText(kAllTypesXsd);
    ASSERT_TRUE(all);
    std::vector<uint8_t> mixed(49, 0);
    float f = 1e-10f;
    double d = 3.141592653589793;
    std::memcpy(mixed.data() + 27, &f, 4);
    std::memcpy(mixed.data() + 31, &d, 8);
    std::vector<std::vector<uint8_t>> records{mixed};
    for (uint8_t fill : {0x00, 0x01, 0x7F, 0x80, 0xFF}) records.emplace_back(49, fill);
    for (const auto& record : records) {
        std::string text;
        ASSERT_TRUE(AppendRecordXml(*all, 1, record.data(), 49, text, 0));
        std::vector<uint8_t> back(49, 0);
        std::vector<ReadError> errors;
        EXPECT_TRUE(ReadXmlText(*all, true, text, "t", back.data(), 49, ReadOptions{true}, &errors))
            << text << (errors.empty() ? "" : errors[0].text);
        if (&record == &records[0]) {
            EXPECT_EQ(test::Hex(back), test::Hex(mixed)) << text;
        }
    }
}

}  // namespace
}  // namespace morvane
