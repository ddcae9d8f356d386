// morvanec as users run it: one table per command of arguments, input files,
// exit status and what the command prints, run against the built program in
// a working directory of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <optional>
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

const std::string kSessionHeader = "<?xml version=\"1.0\"?>\n<Root>\n";

// A closed session file of the record elements given.
std::string Session(const std::string& records) { return kSessionHeader + records + "</Root>\n"; }

// What Case::result reads for a file that is not there.
const std::string kAbsent = "(absent)";

struct Case {
    std::vector<std::string> args;
    int exit;
    std::string out;          // contained in standard output (empty: not checked)
    std::string err;          // all of standard error; its start when without a final line end
    std::string a = kPosRec;  // written as a.xsd first
    std::string name = "";    // another file written first (empty: none) and its text
    std::string text = "";
    std::optional<std::string> result{};  // the last argument's file afterwards (unset: unchecked)
};

ProgramResult Morvanec(const std::vector<std::string>& args, const std::string& cwd) {
    return RunProgram(BinDir() + "/morvanec", args, cwd, std::chrono::seconds(120));
}

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TempDir dir;
        WriteFile(dir / "a.xsd", c.a);
        if (!c.name.empty()) WriteFile(dir / c.name, c.text);
        ProgramResult r = Morvanec(c.args, dir.path());
        EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
        if (!c.out.empty()) {
            EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        }
        const bool whole = c.err.empty() || c.err.back() == '\n';
        EXPECT_EQ(whole ? r.err : r.err.substr(0, c.err.size()), c.err);
        if (c.result) {
            const std::string path = dir / c.args.back();
            EXPECT_EQ(FileExists(path) ? ReadFile(path) : kAbsent, *c.result);
        }
    }
}

TEST(MorvanecUsage, ExitStatusAndUsageLines) {
    RunCases({
        {{}, 2, "", "morvanec: no command given\nusage: morvanec COMMAND"},
        {{"compile"}, 2, "", "morvanec: unknown command 'compile'"},
        {{"--help"}, 0, "  morvanec to-binary [--lenient] FILE.xsd DATA.xml [-o OUT.bin]", ""},
        {{"diff", "--help"}, 0, "usage: morvanec diff [--json] OLD.xsd NEW.xsd", ""},
        {{"--version"}, 0, "morvanec 0.1.0\n", ""},
        {{"layout"},
         2,
         "",
         "morvanec: missing argument\nusage: morvanec layout [--json] FILE.xsd\n"},
        {{"recover", "a", "b"}, 2, "", "morvanec: unexpected argument 'b'"},
        {{"check", "--json", "a.xsd"}, 2, "", "morvanec: unknown option '--json' for check"},
        {{"generate", "a.xsd", "-o"}, 2, "", "morvanec: option -o needs an argument"},
    });
}

TEST(MorvanecCheck, ErrorsAndWarningsWithTheirPlace) {
    const std::vector<std::string> a = {"check", "a.xsd"};
    const std::vector<std::string> ab = {"check", "a.xsd", "b.xsd"};
    RunCases({
        {a, 1, "", "a.xsd:3:3: error: ", "<Schema name=\"a\">\n<Item>\n</Schema>\n"},
        {{"check", "none.xsd"}, 1, "", "none.xsd: error: File was not found"},
        {a, 1, "",
         "a.xsd:11:5: error: Error! name=\"count\" enum type \"nope\" is wrong\n"
         "a.xsd:12:5: error: Error! attribute \"name\" is absent\n",
         PosRecWith("<Item name=\"count\" type=\"int\"/>",
                    "<Item name=\"count\" type=\"nope\"/>\n   <Enum>\n   </Enum>")},
        {a, 1, "",
         "a.xsd: error: Error! The name \"2nd\" of member 1 of the record \"PosRec\" is not a C "
         "identifier (letters, digits and _, not first a digit)\n",
         PosRecWith("name=\"count\"", "name=\"2nd\"")},
        {a, 1, "", "a.xsd: error: Error! The name \"int\" of member 1 of the template \"Point\" is a C keyword\n",
         PosRecWith("name=\"x\"", "name=\"int\"")},
        {a, 0, "", "a.xsd:11:5: warning: name \"__count\" is not a C identifier\n",
         PosRecWith("name=\"count\"", "name=\"__count\"")},
        {a, 0, "", "a.xsd:11:5: warning: name \"2nd\" is not a C identifier\n",
         PosRecWith("name=\"count\" type=\"int\"", "name=\"2nd\" type=\"text\"")},
        {ab, 0, "", "b.xsd:2:2: warning: schema id 7 is also the id of PosRec (a.xsd)\n", kPosRec,
         "b.xsd", PosRecWith("\"PosRec\"", "\"Other\"")},
        {ab, 0, "",
         "b.xsd:2:2: warning: schema name POSREC differs from PosRec (a.xsd) only in letter case: "
         "both generate posrec.h\n",
         kPosRec, "b.xsd", PosRecWith("\"PosRec\" id=\"7\"", "\"POSREC\" id=\"8\"")},
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
        const char* planted = nullptr;  // a directory made in out/ first, in the way of a file
        std::string err = "";           // the start of standard error (empty: not checked)
    };
    const std::vector<GenerateCase> cases = {
        {"into -o DIR", {"generate", "-o", "out", posRec, alarm}, 0, 5},
        {"current directory", {"generate", posRec, alarm}, 0, 5},
        {"a set with an error", {"generate", "-o", "out", posRec, alarm, "bad.xsd"}, 1, 0},
        {"a name that cannot be a file name", {"generate", "-o", "out", posRec, "slash.xsd"}, 1, 0},
        // The last file of the set cannot be written: none is.
        {"one file cannot be written",
         {"generate", "-o", "out", posRec, alarm},
         1,
         1,
         "posrec.xml",
         "out/posrec.xml: error: cannot be written: Is a directory (no file of the set was "
         "changed)\n"},
    };
    for (const GenerateCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "bad.xsd", PosRecWith("type=\"Point\"", "type=\"Pt\""));
        WriteFile(dir / "slash.xsd", PosRecWith("\"PosRec\"", "\"a/b\""));
        MakeDirs(dir / "out");
        if (c.planted != nullptr) MakeDirs(dir / "out" + "/" + c.planted);
        ProgramResult r = Morvanec(c.args, c.args[1] == "-o" ? dir.path() : dir / "out");
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        std::filesystem::directory_iterator out(dir / "out");
        EXPECT_EQ(static_cast<size_t>(std::distance(out, {})), c.files);
        if (c.files == 0 || c.planted != nullptr) continue;
        for (const char* name : {"posrec.h", "posrec.xml", "Schema_Enum.h"})
            EXPECT_EQ(ReadFile(dir / "out" + "/" + name), ReadFile(golden + name)) << name;
    }
}

// A changed size changes every file, which is rewritten; a second run keeps them all.
TEST(MorvanecGenerate, UnchangedFilesKeepTheirTime) {
    TempDir dir;
    const struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    WriteFile(dir / "a.xsd", kPosRec);
    ASSERT_EQ(Morvanec({"generate", "a.xsd"}, dir.path()).exitCode, 0);
    WriteFile(dir / "a.xsd",
              PosRecWith("name=\"count\" type=\"int\"", "name=\"count\" type=\"int16\""));
    for (bool kept : {false, true}) {
        for (const char* name : {"posrec.h", "posrec.xml", "Schema_Enum.h"})
            ASSERT_EQ(utimes((dir / name).c_str(), old), 0);
        ASSERT_EQ(Morvanec({"generate", "a.xsd"}, dir.path()).exitCode, 0);
        for (const char* name : {"posrec.h", "posrec.xml", "Schema_Enum.h"}) {
            struct stat st;
            ASSERT_EQ(stat((dir / name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mtime == old[1].tv_sec, kept) << name;
        }
    }
}

TEST(MorvanecLayout, TextAndJson) {
    const std::vector<std::string> layout = {"layout", "a.xsd"};
    const std::vector<std::string> json = {"layout", "--json", "a.xsd"};
    RunCases({
        {layout, 0,
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
        {json, 0,
         "{\"name\": \"PosRec\", \"id\": 7, \"size\": 20, \"fields\": [\n"
         "  {\"path\": \"count\", \"offset\": 0, \"size\": 4, \"type\": \"int\"},\n"
         "  {\"path\": \"flags\", \"offset\": 4, \"size\": 4, \"type\": \"char[4]\"},\n"
         "  {\"path\": \"mode\", \"offset\": 8, \"size\": 4, \"type\": \"Mode\"},\n"
         "  {\"path\": \"pos.x\", \"offset\": 12, \"size\": 4, \"type\": \"int\"},\n"
         "  {\"path\": \"pos.y\", \"offset\": 16, \"size\": 4, \"type\": \"int\"}\n"
         "]}\n",
         "", PosRecWith("nrepetitions=\"2\"", "")},
        {layout, 1, "", "a.xsd:13:5: error: Error! name=\"mode\" enum type \"Mood\" is wrong\n",
         PosRecWith("type=\"Mode\"", "type=\"Mood\"")},
    });
}

TEST(MorvanecDiff, CompatibilityOfTwoVersions) {
    auto diff = [](const std::string& now, int exit, const std::string& out,
                   std::vector<std::string> options = {}) {
        options.insert(options.begin(), "diff");
        options.insert(options.end(), {"a.xsd", "b.xsd"});
        return Case{options, exit, out, "", kPosRec, "b.xsd", now};
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
std::string PosRecRecord(int number, const std::string& count, int x0) {
    static const std::string golden =
        ReadFile(TestDataDir() + "/convert/golden/posrec_session.xml");
    const size_t from = golden.find("   <Schema");
    std::string text = golden.substr(from, golden.find("</Root>") - from);
    text.replace(text.find("\"x\" type=\"int\">1<") + 15, 1, std::to_string(x0));
    text.replace(text.find(">5<") + 1, 1, count);
    text.replace(text.find("number=\"1\"") + 8, 1, std::to_string(number));
    return text;
}

// The packed PosRec record of PosRecRecord().
std::string PosRecBytes(int count, int x0) {
    const int32_t values[7] = {count, 0, 1, x0, 2, 3, 4};
    return std::string(reinterpret_cast<const char*>(values), sizeof values);
}

TEST(MorvanecRecover, ClosesAfterTheLastWholeRecord) {
    const std::vector<std::string> recover = {"recover", "s.xml"};
    const std::string record = PosRecRecord(1, "5", 1);
    const std::string whole = kSessionHeader + record + record;
    const std::string closed = Session(record + record);
    auto row = [&](const std::string& file, int exit, const std::string& err,
                   const std::string& after) {
        return Case{recover, exit, "", err, kPosRec, file.empty() ? "" : "s.xml", file, after};
    };
    RunCases({
        row(closed, 0, "s.xml: closed, 2 records; left untouched\n", closed),
        row(whole + record.substr(0, 40), 0, "s.xml: kept 2 records, dropped 40 bytes\n", closed),
        row(whole, 0, "s.xml: kept 2 records, dropped 0 bytes\n", closed),
        row(whole + record.substr(0, record.size() - 4), 0,
            "s.xml: kept 2 records, dropped " + std::to_string(record.size() - 4) + " bytes\n",
            closed),
        row(kSessionHeader.substr(0, 10), 0, "s.xml: kept 0 records, dropped 0 bytes\n",
            Session("")),
        row("<Schema/>\n", 1,
            "s.xml: error: not a session file: it does not start with the session header\n",
            "<Schema/>\n"),
        row("", 1, "s.xml: error: No such file or directory\n", kAbsent),
    });
}

TEST(MorvanecToBinary, StrictByDefault) {
    const std::string two = PosRecRecord(1, "5", 1) + PosRecRecord(2, "6", -1);
    const std::string twoBytes = PosRecBytes(5, 1) + PosRecBytes(6, -1);
    // A session of several megabytes, read in several batches, with a bad
    // value in its last record: placed by the whole file's lines.
    std::string many = kSessionHeader;
    for (int i = 1; many.size() < (size_t{3} << 20); ++i) many += PosRecRecord(i, "5", 1);
    many += PosRecRecord(9999, "5000000000", 1) + "</Root>\n";
    const size_t bad = many.rfind(">5000000000<") + 1;
    const std::string badValue =
        "d.xml:" + std::to_string(std::count(many.begin(), many.begin() + bad, '\n') + 1) + ":" +
        std::to_string(bad - many.rfind('\n', bad)) +
        ": error: element Item name=\"count\" holds \"5000000000\", which does not fit int\n";
    std::string extra = PosRecRecord(1, "5", 1);
    extra.insert(extra.find("      <Item_enum"),
                 "      <Item name=\"extra\" type=\"int\">1</Item>\n");
    std::string alarms = PosRecRecord(1, "5", 1);
    alarms.replace(alarms.find("PosRec"), 6, "Alarms");
    // The output: out.bin when the conversion succeeds, none otherwise.
    auto row = [](const std::string& data, int exit, const std::string& bytes,
                  const std::string& err, const std::string& option = "") {
        std::vector<std::string> args = {"to-binary", "a.xsd", "d.xml", "-o", "out.bin"};
        if (!option.empty()) args.insert(args.begin() + 1, option);
        return Case{args, exit, "", err, kPosRec, "d.xml", data, exit == 0 ? bytes : kAbsent};
    };
    RunCases({
        row(Session(two), 0, twoBytes, ""),
        row(Session(""), 0, "", ""),
        row("<?xml version=\"1.0\"?>\n" + PosRecRecord(9, "7", 8), 0, PosRecBytes(7, 8), ""),
        row(many, 1, "", badValue),
        row(Session(PosRecRecord(1, "5", 1) + PosRecRecord(2, "6 apples", -1)), 0, twoBytes, "",
            "--lenient"),
        row(Session(extra), 1, "", "d.xml:6:8: error: "),
        // Records the scanner reads around ones it leaves to the parser:
        // the same order, the same places.
        row(Session(two + extra + PosRecRecord(3, "7", 2)), 1, "", "d.xml:32:8: error: "),
        row(Session(PosRecRecord(1, "5", 1) + PosRecRecord(2, "6 apples", -1) +
                    PosRecRecord(3, "7", 2)),
            0, twoBytes + PosRecBytes(7, 2), "", "--lenient"),
        row(Session(alarms), 1, "",
            "d.xml:3:5: error: element Schema name=\"Alarms\" is not a record of PosRec\n"),
        // Not well-formed.
        row(Session(PosRecRecord(1, "5", 1).replace(14, 6, "Alarms")), 1, "",
            "d.xml:3:25: error: "),
        row(kSessionHeader + two.substr(0, two.size() - 20), 1, "",
            "d.xml:16:4: error: the record element Schema is not complete (the file ends inside "
            "it); morvanec recover closes the file after its last whole record\n"),
        row(kSessionHeader + two, 1, "",
            "d.xml:29:1: error: the session file is not closed (no </Root>); morvanec recover "
            "closes it\n"),
        row(kSessionHeader + two, 0, twoBytes,
            "d.xml: warning: the session file is not closed (no </Root>)\n", "--lenient"),
        row("junk", 1, "", "d.xml: error: no element\n"),
    });
}

TEST(MorvanecToXml, TheSessionFileMorvaneWrites) {
    const std::vector<std::string> toXml = {"to-xml", "a.xsd", "in.bin"};
    const std::vector<std::string> toXmlFile = {"to-xml", "a.xsd", "in.bin", "-o", "out.xml"};
    RunCases({
        {toXml, 0, Session(PosRecRecord(1, "5", 1) + PosRecRecord(2, "6", -1)), "", kPosRec,
         "in.bin", PosRecBytes(5, 1) + PosRecBytes(6, -1)},
        {toXml, 0, Session(""), "", kPosRec, "in.bin", ""},
        {toXmlFile, 1, "",
         "in.bin: error: its size of 29 bytes is not a multiple of the record size of PosRec "
         "(a.xsd), 28 bytes\n",
         kPosRec, "in.bin", PosRecBytes(5, 1) + "x", kAbsent},
    });
}

// A schema with a value of every type code in a template repeated reps
// times after ten leading ints, and three packed records of it holding
// values that use every bit a type keeps: 64-bit values beyond 32 bits,
// floats and doubles of any magnitude (subnormal, huge, negative zero,
// infinite). The collapsed member's bytes are not in data files, so they
// stay zero; a bool keeps 0 or 1.
struct AllTypes {
    std::string schema;
    std::string records;
};

AllTypes AllTypesRecords(int reps, uint32_t seed) {
    AllTypes a;
    a.schema =
        "<Schema name=\"All\" id=\"3\">\n"
        "<Enum name=\"E\"><Item name=\"A\" id=\"1\"/></Enum>\n<Template name=\"T\">\n";
    for (const char* type : {"char", "int", "int16", "int64", "unsigned", "unsigned16",
                             "unsigned64", "float", "double", "text", "bool"})
        a.schema += std::string("<Item name=\"m_") + type + "\" type=\"" + type + "\"/>\n";
    a.schema +=
        "<Item_enum name=\"e\" type=\"E\"/>\n"
        "<Item name=\"cs\" type=\"char\" nrepetitions=\"3\"/>\n"
        "<Item name=\"hidden\" type=\"int\" nrepetitions=\"2\" visibility=\"0\"/>\n"
        "</Template>\n<Item name=\"lead\" type=\"int\" nrepetitions=\"10\"/>\n"
        "<Structure name=\"v\" type=\"T\" nrepetitions=\"" +
        std::to_string(reps) + "\"/>\n</Schema>\n";
    std::mt19937_64 rng(seed);
    auto bits = [&](size_t n) {
        uint64_t v = rng();
        a.records.append(reinterpret_cast<const char*>(&v), n);
    };
    auto put = [&](auto v) { a.records.append(reinterpret_cast<const char*>(&v), sizeof v); };
    const float floats[] = {0.0f,    -0.0f, FLT_TRUE_MIN, FLT_MIN,
                            FLT_MAX, 0.1f,  -123.456f,    HUGE_VALF};
    const double doubles[] = {0.0, -0.0, DBL_TRUE_MIN, DBL_MIN, DBL_MAX, 0.1, -1e-300, -HUGE_VAL};
    for (int r = 0; r < 3; ++r) {
        for (int j = 0; j < 10; ++j) bits(4);
        for (int k = 0; k < reps; ++k) {
            bits(1), bits(4), bits(2), bits(8), bits(4), bits(2), bits(8);
            // Every third a value of the table above, every fifth a NaN
            // with a random payload, signalling ones included.
            auto f = std::bit_cast<float>(static_cast<uint32_t>(rng()));
            auto d = std::bit_cast<double>(static_cast<uint64_t>(rng()));
            if (k % 5 == 1) {
                f = std::bit_cast<float>(std::bit_cast<uint32_t>(f) | 0x7F800001u);
                d = std::bit_cast<double>(std::bit_cast<uint64_t>(d) | 0x7FF0000000000001ull);
            }
            put(k % 3 == 0 ? floats[(k / 3) % 8] : f);
            put(k % 3 == 0 ? doubles[(k / 3) % 8] : d);
            put(static_cast<int32_t>(rng() & 1));
            bits(4), bits(3);
            a.records.append(8, '\0');
        }
    }
    return a;
}

// to-xml then to-binary gives back the same bytes, strict mode included.
TEST(MorvanecRoundTrip, EveryTypeCodeAndRecordSize) {
    const std::pair<AllTypes, size_t> rows[] = {
        {AllTypesRecords(1, 78), 100},
        {AllTypesRecords(1666, 1743), 100000},  // the largest record
        {{"<Schema name=\"C\" id=\"1\"><Item name=\"c\" type=\"char\"/></Schema>",
          std::string("\xff\x00\x7f", 3)},
         1},  // the smallest
    };
    for (const auto& [a, size] : rows) {
        SCOPED_TRACE(size);
        ASSERT_EQ(a.records.size(), 3 * size);
        TempDir dir;
        WriteFile(dir / "all.xsd", a.schema);
        WriteFile(dir / "in.bin", a.records);
        ProgramResult x = Morvanec({"to-xml", "all.xsd", "in.bin", "-o", "s.xml"}, dir.path());
        ASSERT_EQ(x.exitCode, 0) << x.err;
        ProgramResult b = Morvanec({"to-binary", "all.xsd", "s.xml", "-o", "out.bin"}, dir.path());
        ASSERT_EQ(b.exitCode, 0) << b.err.substr(0, 2000);
        EXPECT_TRUE(ReadFile(dir / "out.bin") == a.records);
    }
}

}  // namespace
}  // namespace morvane::test
