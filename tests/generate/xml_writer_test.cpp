// CXmlWriter: the exact line of every operation, indentation, the name and
// depth limits, and record transactions (a record reaches the disk whole or
// not at all).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "generate/xml_writer.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::ReadFile;
using test::TempDir;

const std::string kDecl = "<?xml version=\"1.0\"?>\n";

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

class XmlWriterTest : public ::testing::Test {
  protected:
    std::string Path() const { return dir_ / "out.xml"; }
    std::string Content() const { return ReadFile(Path()); }

    TempDir dir_;
    CXmlWriter w_;
};

struct LineCase {
    const char* label;
    std::function<bool(CXmlWriter&)> op;
    const char* line;
};

// Every operation of the writer, each variant of its format.
TEST_F(XmlWriterTest, EveryOperationWritesItsExactLine) {
    const LineCase cases[] = {
        {"id size", [](CXmlWriter& w) { return w.OpenIdElement(7, "Schema", "PosRec", 0, 28); },
         "<Schema name=\"PosRec\" id=\"7\" offset=\"0\" size=\"28\">\n"},
        {"id no size", [](CXmlWriter& w) { return w.OpenIdElement(-2, "Schema", "E", 3, 0); },
         "<Schema name=\"E\" id=\"-2\" offset=\"3\">\n"},
        {"open index", [](CXmlWriter& w) { return w.OpenElement("Structure", "pos", 0, 0, 0); },
         "<Structure name=\"pos\" offset=\"0\" size=\"0\" index=\"0\">\n"},
        {"open off+size", [](CXmlWriter& w) { return w.OpenElement("S", "n", 12, 8, -1); },
         "<S name=\"n\" offset=\"12\" size=\"8\">\n"},
        {"open size", [](CXmlWriter& w) { return w.OpenElement("S", "n", 0, 8, -1); },
         "<S name=\"n\" size=\"8\">\n"},
        {"open offset", [](CXmlWriter& w) { return w.OpenElement("S", "n", 12, 0, -1); },
         "<S name=\"n\" offset=\"12\">\n"},
        {"open bare name", [](CXmlWriter& w) { return w.OpenElement("Template", "Point", 0, 0, -1); },
         "<Template name=\"Point\">\n"},
        {"record size",
         [](CXmlWriter& w) { return w.OpenRecordElement(7, "Schema", 3, "PosRec", 0, 28, -1); },
         "<Schema name=\"PosRec\" id=\"7\" number=\"3\" offset=\"0\" size=\"28\">\n"},
        {"record no size",
         [](CXmlWriter& w) { return w.OpenRecordElement(7, "Schema", 1, "E", 0, 0, -1); },
         "<Schema name=\"E\" id=\"7\" number=\"1\" offset=\"0\">\n"},
        {"record index",
         [](CXmlWriter& w) { return w.OpenRecordElement(7, "Schema", 2, "P", 4, 0, 5); },
         "<Schema name=\"P\" id=\"7\" number=\"2\" offset=\"4\" size=\"0\" index=\"5\">\n"},
        {"bare", [](CXmlWriter& w) { return w.OpenBareElement("Root"); }, "<Root>\n"},
        {"empty index", [](CXmlWriter& w) { return w.WriteEmptyElement("Item", "a", "int", 2); },
         "<Item name=\"a\" type=\"int\" index=\"2\"></Item>\n"},
        {"empty type", [](CXmlWriter& w) { return w.WriteEmptyElement("Item_enum", "m", "Mode", -1); },
         "<Item_enum name=\"m\" type=\"Mode\"></Item_enum>\n"},
        {"empty no type", [](CXmlWriter& w) { return w.WriteEmptyElement("Item", "a", nullptr, -1); },
         "<Item name=\"a\"></Item>\n"},
        {"empty type blank", [](CXmlWriter& w) { return w.WriteEmptyElement("Item", "a", "", -1); },
         "<Item name=\"a\" type=\"\"></Item>\n"},
        {"collapsed", [](CXmlWriter& w) { return w.WriteCollapsedElement("Item", "f", "char", 4); },
         "<Item name=\"f\" type=\"char\" nrepetitions=\"4\"/>\n"},
        {"collapsed zero", [](CXmlWriter& w) { return w.WriteCollapsedElement("Item", "f", nullptr, 0); },
         "<Item name=\"f\" nrepetitions=\"0\"/>\n"},
        {"value index",
         [](CXmlWriter& w) { return w.WriteValueElement("Item", "a", "-5", "int", 1); },
         "<Item name=\"a\" type=\"int\" index=\"1\">-5</Item>\n"},
        {"value type",
         [](CXmlWriter& w) { return w.WriteValueElement("Item_enum", "m", "ON", "Mode", -1); },
         "<Item_enum name=\"m\" type=\"Mode\">ON</Item_enum>\n"},
        {"value no type", [](CXmlWriter& w) { return w.WriteValueElement("Item", "a", "", nullptr, -1); },
         "<Item name=\"a\"></Item>\n"},
        // Names and values go out as given, without escaping.
        {"no escaping", [](CXmlWriter& w) { return w.WriteValueElement("Item", "a&b", "<1>", "t", -1); },
         "<Item name=\"a&b\" type=\"t\"><1></Item>\n"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(w_.OpenFile(Path().c_str()));
        EXPECT_TRUE(c.op(w_));
        ASSERT_TRUE(w_.CloseFile());
        EXPECT_EQ(Content(), kDecl + c.line);
    }
}

TEST_F(XmlWriterTest, NestingIndentsThreeSpacesPerLevelAndClosesInnermostFirst) {
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    EXPECT_TRUE(w_.OpenBareElement("Root"));
    EXPECT_TRUE(w_.OpenIdElement(1, "Schema", "S", 0, 4));
    EXPECT_TRUE(w_.OpenElement("Structure", "p", 0, 4, 0));
    EXPECT_EQ(w_.Depth(), 3);
    EXPECT_TRUE(w_.WriteEmptyElement("Item", "x", "int", -1));
    EXPECT_TRUE(w_.CloseElement());
    EXPECT_TRUE(w_.WriteCollapsedElement("Item", "c", "char", 2));
    EXPECT_TRUE(w_.CloseElement());
    EXPECT_TRUE(w_.CloseElement());
    EXPECT_FALSE(w_.CloseElement());  // nothing open: nothing written
    EXPECT_EQ(w_.Depth(), 0);
    ASSERT_TRUE(w_.CloseFile());
    EXPECT_EQ(Content(), kDecl +
                             "<Root>\n"
                             "   <Schema name=\"S\" id=\"1\" offset=\"0\" size=\"4\">\n"
                             "      <Structure name=\"p\" offset=\"0\" size=\"4\" index=\"0\">\n"
                             "         <Item name=\"x\" type=\"int\"></Item>\n"
                             "      </Structure>\n"
                             "      <Item name=\"c\" type=\"char\" nrepetitions=\"2\"/>\n"
                             "   </Schema>\n"
                             "</Root>\n");
}

TEST_F(XmlWriterTest, OperationsWithoutAnOpenFileFail) {
    EXPECT_FALSE(w_.CloseFile());
    EXPECT_FALSE(w_.OpenBareElement("Root"));
    EXPECT_FALSE(w_.WriteEmptyElement("Item", "a", "int", -1));
    EXPECT_FALSE(w_.CloseElement());
    EXPECT_FALSE(w_.Flush());
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    ASSERT_TRUE(w_.CloseFile());
    EXPECT_FALSE(w_.CloseFile());  // a second time
    EXPECT_FALSE(w_.WriteValueElement("Item", "a", "1", "int", -1));
    EXPECT_EQ(Content(), kDecl);
}

TEST_F(XmlWriterTest, OpenFileFailsInAMissingDirectory) {
    EXPECT_FALSE(w_.OpenFile((dir_ / "missing/out.xml").c_str()));
    EXPECT_FALSE(w_.IsOpen());
    EXPECT_FALSE(w_.OpenBareElement("Root"));
}

TEST_F(XmlWriterTest, ReopeningStartsAFreshFileWithNoOpenElement) {
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    ASSERT_TRUE(w_.OpenBareElement("Root"));
    ASSERT_TRUE(w_.OpenBareElement("Inner"));
    ASSERT_TRUE(w_.CloseFile());  // left with two open elements
    const std::string second = dir_ / "second.xml";
    ASSERT_TRUE(w_.OpenFile(second.c_str()));
    EXPECT_EQ(w_.Depth(), 0);
    EXPECT_FALSE(w_.CloseElement());  // the old names do not leak into this file
    EXPECT_TRUE(w_.OpenBareElement("Root"));
    ASSERT_TRUE(w_.CloseFile());
    EXPECT_EQ(ReadFile(second), kDecl + "<Root>\n");
    EXPECT_EQ(Content(), kDecl + "<Root>\n   <Inner>\n");
}

TEST_F(XmlWriterTest, OpenFileTruncatesAnExistingFile) {
    test::WriteFile(Path(), std::string(5000, 'x'));
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    ASSERT_TRUE(w_.CloseFile());
    EXPECT_EQ(Content(), kDecl);
}

TEST_F(XmlWriterTest, DocumentInMemoryIsHandedOverWholeAndNeverFlushed) {
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    ASSERT_TRUE(w_.OpenBareElement("Left"));  // a file closed with an open element
    ASSERT_TRUE(w_.OpenDocument());
    ASSERT_TRUE(w_.OpenBareElement("Root"));
    // Far past the size at which a file gets its pending text written.
    const std::string name(40, 'n');
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(w_.WriteEmptyElement("Item", name.c_str(), "int", i));
    ASSERT_TRUE(w_.CloseElement());
    EXPECT_FALSE(w_.CloseElement());  // "Left" belongs to the closed file
    const std::string text = w_.TakeDocument();
    EXPECT_FALSE(w_.IsOpen());
    EXPECT_EQ(text.rfind(kDecl + "<Root>\n   <Item name=\"" + name + "\" type=\"int\" index=\"0\"></Item>\n", 0),
              0u);
    EXPECT_EQ(text.size() - text.rfind("</Root>\n"), 8u);
    EXPECT_EQ(w_.TakeDocument(), "");
    EXPECT_EQ(Content(), kDecl + "<Left>\n");
}

TEST_F(XmlWriterTest, ElementNamesLongerThanTheLimitAreRefusedNotCut) {
    const std::string fits(CXmlWriter::kMaxElementNameLength, 'e');
    const std::string tooLong(CXmlWriter::kMaxElementNameLength + 1, 'e');
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    EXPECT_FALSE(w_.OpenBareElement(tooLong.c_str()));
    EXPECT_FALSE(w_.OpenElement(tooLong.c_str(), "n", 0, 0, -1));
    EXPECT_FALSE(w_.WriteEmptyElement(tooLong.c_str(), "n", "int", -1));
    EXPECT_FALSE(w_.WriteValueElement(tooLong.c_str(), "n", "1", "int", -1));
    EXPECT_FALSE(w_.WriteCollapsedElement(tooLong.c_str(), "n", "int", 2));
    EXPECT_FALSE(w_.OpenBareElement(""));
    EXPECT_EQ(w_.Depth(), 0);
    EXPECT_TRUE(w_.OpenBareElement(fits.c_str()));
    EXPECT_TRUE(w_.CloseElement());
    ASSERT_TRUE(w_.CloseFile());
    EXPECT_EQ(Content(), kDecl + "<" + fits + ">\n</" + fits + ">\n");
}

TEST_F(XmlWriterTest, NestingStopsAtTheIndentLimit) {
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    for (int i = 0; i < CXmlWriter::kMaxDepth; ++i) ASSERT_TRUE(w_.OpenBareElement("E")) << i;
    EXPECT_FALSE(w_.OpenBareElement("E"));
    EXPECT_FALSE(w_.OpenElement("S", "n", 0, 0, 0));
    EXPECT_EQ(w_.Depth(), CXmlWriter::kMaxDepth);
    EXPECT_TRUE(w_.WriteEmptyElement("Item", "deep", nullptr, -1));
    for (int i = 0; i < CXmlWriter::kMaxDepth; ++i) ASSERT_TRUE(w_.CloseElement());
    ASSERT_TRUE(w_.CloseFile());
    const std::string text = Content();
    const std::string deepest = std::string(999, ' ') + "<Item name=\"deep\"></Item>\n";
    EXPECT_NE(text.find("\n" + deepest), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 5), "</E>\n");
    EXPECT_EQ(text.find(std::string(1000, ' ')), std::string::npos);
}

// The editor's schema writer adds line forms through the protected hooks.
class ExtendedWriter : public CXmlWriter {
  public:
    bool OpenSchema(const char* name) {
        if (!CanPush("Schema")) return false;
        AppendFormat("%s<Schema name=\"%s\">\n", Indent().c_str(), name);
        Push("Schema");
        return AutoFlush();
    }
    void Comment(const char* text) { AppendFormat("<!-- %s -->\n", text); }
};

TEST_F(XmlWriterTest, ProtectedHooksFormatLinesOfAnyLength) {
    ExtendedWriter w;
    const std::string longName(3000, 'n');  // beyond the first formatting guess
    ASSERT_TRUE(w.OpenFile(Path().c_str()));
    ASSERT_TRUE(w.OpenSchema(longName.c_str()));
    w.Comment("note");
    ASSERT_TRUE(w.WriteValueElement("Item", "v", longName.c_str(), "text", -1));
    ASSERT_TRUE(w.CloseElement());
    ASSERT_TRUE(w.CloseFile());
    EXPECT_EQ(Content(), kDecl + "<Schema name=\"" + longName + "\">\n<!-- note -->\n" +
                             "   <Item name=\"v\" type=\"text\">" + longName + "</Item>\n" +
                             "</Schema>\n");
}

TEST_F(XmlWriterTest, ARecordReachesTheDiskOnlyAtEndRecord) {
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    ASSERT_TRUE(w_.OpenBareElement("Root"));
    ASSERT_TRUE(w_.Flush());
    const long long before = FileSize(Path());
    EXPECT_EQ(before, static_cast<long long>(kDecl.size() + 7));
    w_.BeginRecord();
    ASSERT_TRUE(w_.OpenRecordElement(1, "Schema", 1, "R", 0, 4, -1));
    // Far more than the writer keeps before writing on its own outside records.
    for (int i = 0; i < 5000; ++i) ASSERT_TRUE(w_.WriteValueElement("Item", "a", "1", "int", -1));
    ASSERT_TRUE(w_.CloseElement());
    EXPECT_EQ(FileSize(Path()), before);
    ASSERT_TRUE(w_.EndRecord());
    EXPECT_GT(FileSize(Path()), before + 5000 * 20);
    ASSERT_TRUE(w_.CloseElement());
    ASSERT_TRUE(w_.CloseFile());
    const std::string text = Content();
    const std::string tail = "   </Schema>\n</Root>\n";
    ASSERT_GT(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(XmlWriterTest, AbortedRecordLeavesNoTraceAndRestoresTheElementStack) {
    ASSERT_TRUE(w_.OpenFile(Path().c_str()));
    ASSERT_TRUE(w_.OpenBareElement("Root"));
    w_.BeginRecord();
    ASSERT_TRUE(w_.OpenRecordElement(1, "Schema", 1, "R", 0, 4, -1));
    ASSERT_TRUE(w_.OpenElement("Structure", "s", 0, 4, 0));
    ASSERT_TRUE(w_.WriteValueElement("Item", "a", "1", "int", -1));
    w_.AbortRecord();
    EXPECT_EQ(w_.Depth(), 1);
    w_.BeginRecord();
    ASSERT_TRUE(w_.OpenRecordElement(1, "Schema", 2, "R", 0, 4, -1));
    ASSERT_TRUE(w_.WriteValueElement("Item", "a", "2", "int", -1));
    ASSERT_TRUE(w_.CloseElement());
    ASSERT_TRUE(w_.EndRecord());
    // An unfinished record at close never reaches the file.
    w_.BeginRecord();
    ASSERT_TRUE(w_.OpenRecordElement(1, "Schema", 3, "R", 0, 4, -1));
    ASSERT_TRUE(w_.Flush());  // writes nothing of the open record
    ASSERT_TRUE(w_.CloseFile());
    EXPECT_EQ(Content(), kDecl +
                             "<Root>\n"
                             "   <Schema name=\"R\" id=\"1\" number=\"2\" offset=\"0\" size=\"4\">\n"
                             "      <Item name=\"a\" type=\"int\">2</Item>\n"
                             "   </Schema>\n");
}

TEST_F(XmlWriterTest, FailedRecordWriteOnAFullDeviceRestoresTheStack) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    ASSERT_TRUE(w_.OpenFile("/dev/full"));
    ASSERT_TRUE(w_.OpenBareElement("Root"));
    w_.BeginRecord();
    ASSERT_TRUE(w_.OpenRecordElement(1, "Schema", 1, "R", 0, 4, -1));
    ASSERT_TRUE(w_.OpenElement("Structure", "s", 0, 4, 0));
    EXPECT_FALSE(w_.EndRecord());
    EXPECT_EQ(w_.Depth(), 1);  // back to "Root" as at BeginRecord
    EXPECT_FALSE(w_.CloseFile());
}

// Runs body in a child process whose files may not grow beyond limit bytes
// and returns its exit code (-1 when it did not end within the time limit).
int RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl {limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(body());
    }
    int status = 0;
    bool ended = test::WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; },
                               std::chrono::seconds(10));
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(XmlWriterTest, RecordThatDoesNotFitIsCutBackAndEarlierRecordsStayIntact) {
    const std::string path = Path();
    auto writeRecord = [](CXmlWriter& w, int number, int values) {
        w.BeginRecord();
        w.OpenRecordElement(4, "Schema", number, "R", 0, 4, -1);
        for (int i = 0; i < values; ++i) w.WriteValueElement("Item", "a", "7", "int", i);
        w.CloseElement();
        return w.EndRecord();
    };
    // The first record fits in 4 KiB; the second would pass the limit
    // halfway and must vanish whole; the third fits again.
    int code = RunWithFileSizeLimit(4096, [&] {
        CXmlWriter w;
        if (!w.OpenFile(path.c_str()) || !w.OpenBareElement("Root")) return 10;
        if (!writeRecord(w, 1, 20)) return 11;
        if (writeRecord(w, 2, 200)) return 12;
        if (w.Depth() != 1) return 13;
        if (!writeRecord(w, 3, 2)) return 14;
        if (!w.CloseElement() || !w.CloseFile()) return 15;
        return 0;
    });
    ASSERT_EQ(code, 0);

    CXmlWriter expected;
    const std::string expectedPath = dir_ / "expected.xml";
    ASSERT_TRUE(expected.OpenFile(expectedPath.c_str()));
    ASSERT_TRUE(expected.OpenBareElement("Root"));
    ASSERT_TRUE(writeRecord(expected, 1, 20));
    ASSERT_TRUE(writeRecord(expected, 3, 2));
    ASSERT_TRUE(expected.CloseElement());
    ASSERT_TRUE(expected.CloseFile());
    EXPECT_EQ(ReadFile(path), ReadFile(expectedPath));
}

}  // namespace
}  // namespace morvane
