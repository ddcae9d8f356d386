// morvanec as users run it: one table per command of arguments, input files,
// exit status and what the command prints, run against the built program in
// a working directory of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <random>

#include "support/test_support.h"

namespace morvane::test {
namespace {

// The example schema, 28 bytes: count, flags (4 chars, collapsed), mode and
// pos[2] of Point (x, y).
const std::string kPosRec = ReadFile(SourceDir() + "/examples/Schemas/PosRec.xsd");

// kPosRec with one text replaced.
std::string PosRecWith(const std::string& from, const std::string& to) {
    std::string text = kPosRec;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

const char kSessionHeader[] = "<?xml version=\"1.0\"?>\n<Root>\n";

struct Case {
    std::string what;
    std::vector<std::string> args;
    std::map<std::string, std::string> files;  // written into the working directory first
    int exit;
    std::string out;  // contained in standard output (empty: not checked)
    std::string err;  // contained in standard error (empty: standard error stays empty)
};

ProgramResult Morvanec(const std::vector<std::string>& args, const std::string& cwd) {
    return RunProgram(BinDir() + "/morvanec", args, cwd, std::chrono::seconds(120));
}

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& [name, text] : c.files) WriteFile(dir / name, text);
        ProgramResult r = Morvanec(c.args, dir.path());
        EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
        if (!c.out.empty()) {
            EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        }
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        }
    }
}

TEST(MorvanecUsage, ExitStatusAndUsageLines) {
    RunCases({
        {"no command", {}, {}, 2, "", "morvanec: no command given\nusage: morvanec COMMAND"},
        {"unknown command", {"compile"}, {}, 2, "", "unknown command 'compile'"},
        {"help",
         {"--help"},
         {},
         0,
         "  morvanec to-binary [--lenient] FILE.xsd DATA.xml [-o OUT.bin]",
         ""},
        {"command help",
         {"diff", "--help"},
         {},
         0,
         "usage: morvanec diff [--json] OLD.xsd NEW.xsd",
         ""},
        {"version", {"--version"}, {}, 0, "morvanec 0.1.0\n", ""},
        {"missing argument",
         {"layout"},
         {},
         2,
         "",
         "missing argument\nusage: morvanec layout [--json] FILE.xsd\n"},
        {"extra argument", {"recover", "a", "b"}, {}, 2, "", "unexpected argument 'b'"},
        {"option of another command",
         {"check", "--json", "a.xsd"},
         {},
         2,
         "",
         "unknown option '--json' for check"},
        {"-o without value", {"generate", "a.xsd", "-o"}, {}, 2, "", "option -o needs an argument"},
    });
}

TEST(MorvanecCheck, ErrorsAndWarningsWithTheirPlace) {
    RunCases({
        {"clean", {"check", "a.xsd"}, {{"a.xsd", kPosRec}}, 0, "", ""},
        {"not XML",
         {"check", "a.xsd"},
         {{"a.xsd", "<Schema name=\"a\">\n<Item>\n</Schema>\n"}},
         1,
         "",
         "a.xsd:3:3: error: "},
        {"missing file", {"check", "none.xsd"}, {}, 1, "", "none.xsd: error: File was not found"},
        {"every parser error",
         {"check", "a.xsd"},
         {{"a.xsd", PosRecWith("<Item name=\"count\" type=\"int\"/>",
                               "<Item name=\"count\" type=\"nope\"/>\n   <Enum>\n   </Enum>")}},
         1,
         "",
         "a.xsd:11:5: error: Error! name=\"count\" enum type \"nope\" is wrong\n"
         "a.xsd:12:5: error: Error! attribute \"name\" is absent\n"},
        {"not a C identifier",
         {"check", "a.xsd"},
         {{"a.xsd", PosRecWith("name=\"count\"", "name=\"2nd\"")}},
         0,
         "",
         "a.xsd:11:5: warning: name \"2nd\" is not a C identifier\n"},
        {"C keyword",
         {"check", "a.xsd"},
         {{"a.xsd", PosRecWith("name=\"x\"", "name=\"int\"")}},
         0,
         "",
         "a.xsd:4:8: warning: name \"int\" is not a C identifier\n"},
        {"same id",
         {"check", "a.xsd", "b.xsd"},
         {{"a.xsd", kPosRec}, {"b.xsd", PosRecWith("\"PosRec\"", "\"Other\"")}},
         0,
         "",
         "b.xsd:2:2: warning: schema id 7 is also the id of PosRec (a.xsd)\n"},
        {"names differing in case",
         {"check", "a.xsd", "b.xsd"},
         {{"a.xsd", kPosRec}, {"b.xsd", PosRecWith("\"PosRec\" id=\"7\"", "\"POSREC\" id=\"8\"")}},
         0,
         "",
         "b.xsd:2:2: warning: schema name POSREC differs from PosRec (a.xsd) only in letter case: "
         "both generate posrec.h\n"},
    });
}

// generate writes what Morvane writes (the generators' golden files), into
// -o DIR or the working directory, and nothing for a set with an error.
TEST(MorvanecGenerate, FilesOfTheSetOrNone) {
    const std::string golden = TestDataDir() + "/generate/golden/";
    const std::string posRec = TestDataDir() + "/generate/schemas/PosRec.xsd";
    const std::string alarm = TestDataDir() + "/generate/schemas/Alarm.xsd";
    struct GenerateCase {
        const char* what;
        std::vector<std::string> args;
        int exit;
        size_t files;  // in out/, PosRec's and Schema_Enum.h equal to their golden files
    };
    const std::vector<GenerateCase> cases = {
        {"into -o DIR", {"generate", "-o", "out", posRec, alarm}, 0, 5},
        {"current directory", {"generate", posRec, alarm}, 0, 5},
        {"a set with an error", {"generate", "-o", "out", posRec, alarm, "bad.xsd"}, 1, 0},
        {"a name that cannot be a file name", {"generate", "-o", "out", posRec, "slash.xsd"}, 1, 0},
    };
    for (const GenerateCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "bad.xsd", PosRecWith("type=\"Point\"", "type=\"Pt\""));
        WriteFile(dir / "slash.xsd", PosRecWith("\"PosRec\"", "\"a/b\""));
        MakeDirs(dir / "out");
        ProgramResult r = Morvanec(c.args, c.args[1] == "-o" ? dir.path() : dir / "out");
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        std::filesystem::directory_iterator out(dir / "out");
        EXPECT_EQ(static_cast<size_t>(std::distance(out, {})), c.files);
        if (c.files == 0) continue;
        for (const char* name : {"posrec.h", "posrec.xml", "Schema_Enum.h"})
            EXPECT_EQ(ReadFile(dir / "out" + "/" + name), ReadFile(golden + name)) << name;
    }
}

TEST(MorvanecGenerate, UnchangedFilesKeepTheirTime) {
    TempDir dir;
    const struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    // Runs generate on schema with every file aged first; which kept their time.
    auto generate = [&](const std::string& schema) {
        WriteFile(dir / "a.xsd", schema);
        std::map<std::string, bool> kept;
        for (const char* name : {"posrec.h", "posrec.xml", "Schema_Enum.h"})
            EXPECT_EQ(utimes((dir / name).c_str(), old), 0);
        EXPECT_EQ(Morvanec({"generate", "a.xsd"}, dir.path()).exitCode, 0);
        for (const char* name : {"posrec.h", "posrec.xml", "Schema_Enum.h"}) {
            struct stat st;
            kept[name] = stat((dir / name).c_str(), &st) == 0 && st.st_mtime == old[1].tv_sec;
        }
        return kept;
    };
    WriteFile(dir / "a.xsd", kPosRec);
    ASSERT_EQ(Morvanec({"generate", "a.xsd"}, dir.path()).exitCode, 0);
    // The size changed in every file; a second run changes nothing.
    const std::string int16 =
        PosRecWith("name=\"count\" type=\"int\"", "name=\"count\" type=\"int16\"");
    auto all = [](bool kept) {
        return std::map<std::string, bool>{
            {"posrec.h", kept}, {"posrec.xml", kept}, {"Schema_Enum.h", kept}};
    };
    EXPECT_EQ(generate(int16), all(false));
    EXPECT_EQ(generate(int16), all(true));
}

TEST(MorvanecLayout, TextAndJson) {
    RunCases({
        {"text",
         {"layout", "a.xsd"},
         {{"a.xsd", kPosRec}},
         0,
         "schema PosRec id 7\n"
         "  offset     size  type         path\n"
         "       0        4  int          count\n"
         "       4        4  char[4]      flags\n"
         "       8        4  Mode         mode\n"
         "      12        4  int          pos[0].x\n"
         "      16        4  int          pos[0].y\n"
         "      20        4  int          pos[1].x\n"
         "      24        4  int          pos[1].y\n"
         "record size 28\n",
         ""},
        {"json",
         {"layout", "--json", "a.xsd"},
         {{"a.xsd", PosRecWith("nrepetitions=\"2\"", "")}},
         0,
         "{\"name\": \"PosRec\", \"id\": 7, \"size\": 20, \"fields\": [\n"
         "  {\"path\": \"count\", \"offset\": 0, \"size\": 4, \"type\": \"int\"},\n"
         "  {\"path\": \"flags\", \"offset\": 4, \"size\": 4, \"type\": \"char[4]\"},\n"
         "  {\"path\": \"mode\", \"offset\": 8, \"size\": 4, \"type\": \"Mode\"},\n"
         "  {\"path\": \"pos.x\", \"offset\": 12, \"size\": 4, \"type\": \"int\"},\n"
         "  {\"path\": \"pos.y\", \"offset\": 16, \"size\": 4, \"type\": \"int\"}\n"
         "]}\n",
         ""},
        {"a schema with an error",
         {"layout", "a.xsd"},
         {{"a.xsd", PosRecWith("type=\"Mode\"", "type=\"Mood\"")}},
         1,
         "",
         "a.xsd:13:5: error: Error! name=\"mode\" enum type \"Mood\" is wrong\n"},
    });
}

TEST(MorvanecDiff, CompatibilityOfTwoVersions) {
    auto diff = [](const std::string& now, int exit, const std::string& out,
                   std::vector<std::string> options = {}) {
        std::vector<std::string> args = {"diff"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"old.xsd", "new.xsd"});
        return Case{out.c_str(), args, {{"old.xsd", kPosRec}, {"new.xsd", now}}, exit, out, ""};
    };
    const std::string added = "<Item name=\"extra\" type=\"double\"/>\n</Schema>";
    RunCases({
        diff(kPosRec, 0, "compatible\n"),
        diff(PosRecWith("</Schema>", added), 0,
             "added   extra  offset 28, size 8, double\nsize    28 -> 36\ncompatible\n"),
        diff(PosRecWith("id=\"7\"", "id=\"9\""), 0, "id      7 -> 9\ncompatible\n"),
        diff(PosRecWith("name=\"count\" type=\"int\"", "name=\"count\" type=\"float\""), 1,
             "retyped count  type int -> float\nincompatible\n"),
        diff(PosRecWith("nrepetitions=\"4\"", "nrepetitions=\"8\""), 1,
             "resized flags  size 4 -> 8\nmoved   mode  offset 8 -> 12\n"),
        diff(PosRecWith("nrepetitions=\"2\"", "nrepetitions=\"1\""), 1,
             "removed pos[0].x  offset 12, size 4, int\n"),
        diff(PosRecWith("type=\"int\"/>\n   </Template>", "type=\"int16\"/>\n   </Template>"), 1,
             "{\"change\": \"resized\", \"path\": \"pos[0].y\", "
             "\"old\": {\"path\": \"pos[0].y\", \"offset\": 16, \"size\": 4, \"type\": \"int\"}, "
             "\"new\": {\"path\": \"pos[0].y\", \"offset\": 16, \"size\": 2, \"type\": \"int16\"}}",
             {"--json"}),
    });
}

// The record element of the writer's golden session file (number 1, count
// 5, pos[0].x 1) with those three values replaced.
std::string PosRecRecord(int number, int count, int x0) {
    static const std::string golden =
        ReadFile(TestDataDir() + "/convert/golden/posrec_session.xml");
    const size_t from = golden.find("   <Schema");
    std::string text = golden.substr(from, golden.find("</Root>") - from);
    text.replace(text.find("\"x\" type=\"int\">1<") + 15, 1, std::to_string(x0));
    text.replace(text.find(">5<") + 1, 1, std::to_string(count));
    text.replace(text.find("number=\"1\"") + 8, 1, std::to_string(number));
    return text;
}

TEST(MorvanecRecover, ClosesAfterTheLastWholeRecord) {
    const std::string record = PosRecRecord(1, 5, 1);
    const std::string whole = kSessionHeader + record + record;
    struct RecoverCase {
        const char* what;
        std::string file;
        int exit;
        std::string err;
        std::string after;  // the file afterwards
    };
    const std::vector<RecoverCase> cases = {
        {"closed", whole + "</Root>\n", 0, "s.xml: closed, 2 records; left untouched\n",
         whole + "</Root>\n"},
        {"part of a record", whole + record.substr(0, 40), 0,
         "s.xml: kept 2 records, dropped 40 bytes\n", whole + "</Root>\n"},
        {"cut after a record", whole, 0, "s.xml: kept 2 records, dropped 0 bytes\n",
         whole + "</Root>\n"},
        {"cut inside the end tag", whole + record.substr(0, record.size() - 4), 0,
         "s.xml: kept 2 records, dropped " + std::to_string(record.size() - 4) + " bytes\n",
         whole + "</Root>\n"},
        {"cut in the header", std::string(kSessionHeader).substr(0, 10), 0,
         "s.xml: kept 0 records, dropped 0 bytes\n", kSessionHeader + std::string("</Root>\n")},
        {"not a session file", "<Schema/>\n", 1,
         "s.xml: error: not a session file: it does not start with the session header\n",
         "<Schema/>\n"},
    };
    for (const RecoverCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "s.xml", c.file);
        ProgramResult r = Morvanec({"recover", "s.xml"}, dir.path());
        EXPECT_EQ(r.exitCode, c.exit);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(ReadFile(dir / "s.xml"), c.after);
    }
    TempDir dir;
    ProgramResult missing = Morvanec({"recover", "none.xml"}, dir.path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "none.xml: error: No such file or directory\n");
}

// The packed PosRec record of PosRecRecord(), as text for the table.
std::string PosRecBytes(int count, int x0) {
    const int32_t values[7] = {count, 0, 1, x0, 2, 3, 4};
    return std::string(reinterpret_cast<const char*>(values), sizeof values);
}

TEST(MorvanecToBinary, StrictByDefault) {
    const std::string two = kSessionHeader + PosRecRecord(1, 5, 1) + PosRecRecord(2, 6, -1);
    // A session of several megabytes, read in several batches, with a bad
    // value in its last record: placed by the whole file's lines.
    std::string many = kSessionHeader;
    for (int i = 1; many.size() < (size_t{3} << 20); ++i) many += PosRecRecord(i, 5, 1);
    std::string last = PosRecRecord(9999, 5, 1);
    many += last.replace(last.find(">5<"), 3, ">5000000000<") + "</Root>\n";
    const size_t bad = many.rfind(">5000000000<") + 1;
    const std::string badPlace =
        "d.xml:" + std::to_string(std::count(many.begin(), many.begin() + bad, '\n') + 1) + ":" +
        std::to_string(bad - many.rfind('\n', bad)) + ": error: element Item name=\"count\"";
    struct BinaryCase {
        const char* what;
        std::vector<std::string> options;
        std::string data;
        int exit;
        std::string err;
        std::string bytes;  // the output
    };
    const std::vector<BinaryCase> cases = {
        {"session file", {}, two + "</Root>\n", 0, "", PosRecBytes(5, 1) + PosRecBytes(6, -1)},
        {"empty session", {}, kSessionHeader + std::string("</Root>\n"), 0, "", ""},
        {"data file",
         {},
         "<?xml version=\"1.0\"?>\n" + PosRecRecord(9, 7, 8),
         0,
         "",
         PosRecBytes(7, 8)},
        {"value out of range",
         {},
         kSessionHeader + PosRecRecord(1, 5, 1) + PosRecRecord(2, 6, 1) +
             PosRecRecord(3, 5, 1).replace(PosRecRecord(3, 5, 1).find(">5<"), 3, ">5000000000<") +
             "</Root>\n",
         1,
         "d.xml:30:37: error: element Item name=\"count\" holds \"5000000000\", which does not fit "
         "int\n",
         ""},
        {"value out of range after megabytes", {}, many, 1, badPlace, ""},
        {"lenient",
         {"--lenient"},
         two.substr(0, two.find(">6<")) + ">6 apples<" + two.substr(two.find(">6<") + 3) +
             "</Root>\n",
         0,
         "",
         PosRecBytes(5, 1) + PosRecBytes(6, -1)},
        {"unknown element",
         {},
         kSessionHeader +
             PosRecRecord(1, 5, 1).replace(PosRecRecord(1, 5, 1).find("      <Item_enum"), 0,
                                           "      <Item name=\"extra\" type=\"int\">1</Item>\n") +
             "</Root>\n",
         1,
         "d.xml:6:8: error: ",
         ""},
        {"another schema",
         {},
         kSessionHeader + PosRecRecord(1, 5, 1).replace(14, 6, "Alarms") + "</Root>\n",
         1,
         "d.xml:3:",
         ""},
        {"record cut off",
         {},
         two.substr(0, two.size() - 20),
         1,
         "d.xml:16:4: error: the record element Schema is not complete (the file ends inside it); "
         "morvanec recover closes the file after its last whole record\n",
         ""},
        {"session not closed",
         {},
         two,
         1,
         "d.xml:29:1: error: the session file is not closed (no </Root>); morvanec recover closes "
         "it\n",
         ""},
        {"session not closed, lenient",
         {"--lenient"},
         two,
         0,
         "d.xml: warning: the session file is not closed (no </Root>)\n",
         PosRecBytes(5, 1) + PosRecBytes(6, -1)},
        {"not XML", {}, "junk", 1, "d.xml: error: no element\n", ""},
    };
    for (const BinaryCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "a.xsd", kPosRec);
        WriteFile(dir / "d.xml", c.data);
        std::vector<std::string> args = {"to-binary"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"a.xsd", "d.xml", "-o", "out.bin"});
        ProgramResult r = Morvanec(args, dir.path());
        EXPECT_EQ(r.exitCode, c.exit);
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
        EXPECT_EQ(FileExists(dir / "out.bin"), c.exit == 0);
        if (c.exit == 0) {
            EXPECT_EQ(ReadFile(dir / "out.bin"), c.bytes);
        }
    }
}

TEST(MorvanecToXml, TheSessionFileMorvaneWrites) {
    RunCases({
        {"records",
         {"to-xml", "a.xsd", "in.bin"},
         {{"a.xsd", kPosRec}, {"in.bin", PosRecBytes(5, 1) + PosRecBytes(6, -1)}},
         0,
         kSessionHeader + PosRecRecord(1, 5, 1) + PosRecRecord(2, 6, -1) + "</Root>\n",
         ""},
        {"no record",
         {"to-xml", "a.xsd", "in.bin"},
         {{"a.xsd", kPosRec}, {"in.bin", ""}},
         0,
         kSessionHeader + std::string("</Root>\n"),
         ""},
        {"not a multiple",
         {"to-xml", "a.xsd", "in.bin", "-o", "out.xml"},
         {{"a.xsd", kPosRec}, {"in.bin", PosRecBytes(5, 1) + "x"}},
         1,
         "",
         "in.bin: error: its size of 29 bytes is not a multiple of the record size of PosRec "
         "(a.xsd), 28 bytes\n"},
    });
}

// A schema with a value of every type code in a template repeated reps
// times after ten leading ints, and a packed record of it holding values that
// use every bit a type keeps: 64-bit values beyond 32 bits, floats and
// doubles of any magnitude (subnormal, huge, negative zero, infinite). The
// collapsed member's bytes are not in data files, so they stay zero; a bool
// keeps 0 or 1.
struct AllTypes {
    std::string schema;
    std::string record;
};

AllTypes AllTypesRecord(int reps, uint32_t seed) {
    AllTypes a;
    a.schema = "<Schema name=\"All\" id=\"3\">\n"
               "<Enum name=\"E\"><Item name=\"A\" id=\"1\"/></Enum>\n<Template name=\"T\">\n";
    for (const char* type : {"char", "int", "int16", "int64", "unsigned", "unsigned16",
                             "unsigned64", "float", "double", "text", "bool"})
        a.schema += std::string("<Item name=\"m_") + type + "\" type=\"" + type + "\"/>\n";
    a.schema += "<Item_enum name=\"e\" type=\"E\"/>\n"
                "<Item name=\"cs\" type=\"char\" nrepetitions=\"3\"/>\n"
                "<Item name=\"hidden\" type=\"int\" nrepetitions=\"2\" visibility=\"0\"/>\n"
                "</Template>\n<Item name=\"lead\" type=\"int\" nrepetitions=\"10\"/>\n"
                "<Structure name=\"v\" type=\"T\" nrepetitions=\"" +
                std::to_string(reps) + "\"/>\n</Schema>\n";
    std::mt19937_64 rng(seed);
    auto put = [&](const void* p, size_t n) { a.record.append(static_cast<const char*>(p), n); };
    auto bits = [&](size_t n) {
        uint64_t v = rng();
        put(&v, n);
    };
    const float floats[] = {
        0.0f,          -0.0f, 1e-45f,    1.17549435e-38f,
        3.4028235e38f, 0.1f,  -123.456f, std::numeric_limits<float>::infinity()};
    const double doubles[] = {0.0,    -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                              0.1, -1e-300, -std::numeric_limits<double>::infinity()};
    for (int j = 0; j < 10; ++j) bits(4);
    for (int k = 0; k < reps; ++k) {
        bits(1), bits(4), bits(2), bits(8), bits(4), bits(2), bits(8);
        float f;
        double d;
        do {
            uint32_t u = static_cast<uint32_t>(rng());
            std::memcpy(&f, &u, 4);
        } while (std::isnan(f));
        do {
            uint64_t u = rng();
            std::memcpy(&d, &u, 8);
        } while (std::isnan(d));
        if (k % 3 == 0) f = floats[(k / 3) % 8], d = doubles[(k / 3) % 8];
        put(&f, 4), put(&d, 8);
        int32_t b = static_cast<int32_t>(rng() & 1);
        put(&b, 4);
        bits(4), bits(3);
        a.record.append(8, '\0');
    }
    return a;
}

// to-xml then to-binary gives back the same bytes, strict mode included.
TEST(MorvanecRoundTrip, EveryTypeCodeAndRecordSize) {
    const struct {
        int reps;
        size_t size;
    } rows[] = {{0, 40}, {1, 100}, {50, 3040}, {1666, 100000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        TempDir dir;
        AllTypes a = AllTypesRecord(row.reps, 77 + row.reps);
        ASSERT_EQ(a.record.size(), row.size);
        WriteFile(dir / "all.xsd", a.schema);
        WriteFile(dir / "in.bin", a.record + a.record + a.record);
        ProgramResult x = Morvanec({"to-xml", "all.xsd", "in.bin", "-o", "s.xml"}, dir.path());
        ASSERT_EQ(x.exitCode, 0) << x.err;
        ProgramResult b = Morvanec({"to-binary", "all.xsd", "s.xml", "-o", "out.bin"}, dir.path());
        ASSERT_EQ(b.exitCode, 0) << b.err.substr(0, 2000);
        EXPECT_TRUE(ReadFile(dir / "out.bin") == a.record + a.record + a.record);
    }
    // The smallest record: one byte.
    TempDir dir;
    WriteFile(dir / "c.xsd",
              "<Schema name=\"C\" id=\"1\"><Item name=\"c\" type=\"char\"/></Schema>");
    WriteFile(dir / "in.bin", std::string("\xff\x00\x7f", 3));
    ASSERT_EQ(Morvanec({"to-xml", "c.xsd", "in.bin", "-o", "s.xml"}, dir.path()).exitCode, 0);
    ASSERT_EQ(Morvanec({"to-binary", "c.xsd", "s.xml", "-o", "out.bin"}, dir.path()).exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "out.bin"), std::string("\xff\x00\x7f", 3));
}

}  // namespace
}  // namespace morvane::test
