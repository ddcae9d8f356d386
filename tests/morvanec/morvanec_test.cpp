// morvanec as users run it: one table per command of arguments, input files,
// exit status and what the command prints, run against the built program in
// a working directory of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/resource.h>
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
        {a, 0, "",
         "a.xsd:12:5: note: member flags (int[4]) is collapsed: XML data files do not carry its "
         "values; to-json and from-json do\n",
         PosRecWith("type=\"char\" nrepetitions", "type=\"int\" nrepetitions")},
        {a, 1, "",
         "a.xsd:4:8: error: enumeration Axis is declared inside template Point: its C header "
         "cannot be generated; declare it beside the templates\n",
         PosRecWith("<Item name=\"x\"", "<Enum name=\"Axis\"/><Item name=\"x\"")},
        {a, 0, "", "", kPosRec},
        {ab, 0, "", "b.xsd:2:2: warning: schema id 7 is also the id of PosRec (a.xsd)\n", kPosRec,
         "b.xsd", PosRecWith("\"PosRec\"", "\"Other\"")},
        {ab, 1, "",
         "b.xsd:2:2: error: schema name POSREC differs from PosRec (a.xsd) only in letter case: "
         "both generate posrec.h, posrec.xml and E_SCHEMA_ENUM_POSREC\n",
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
        {"a name the header checks take",
         {"generate", "-o", "out", "--checks", "clash.xsd"},
         1,
         0,
         nullptr,
         "clash.xsd: error: Error! The name \"POSREC_SIZE\" of member 1 of the record \"PosRec\" "
         "is also a macro of the header\n"},
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
        WriteFile(dir / "clash.xsd", PosRecWith("name=\"count\"", "name=\"POSREC_SIZE\""));
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
         "{\"name\": \"PosRec\", \"id\": 7, \"size\": 20, \"byte_order\": \"little\", "
         "\"fingerprint\": \"0x",
         "", PosRecWith("nrepetitions=\"2\"", "")},
        {json, 0,
         "\", \"fields\": [\n"
         "  {\"path\": \"count\", \"offset\": 0, \"size\": 4, \"type\": \"int\", \"visible\": true},\n"
         "  {\"path\": \"flags\", \"offset\": 4, \"size\": 4, \"type\": \"char[4]\", "
         "\"visible\": false},\n"
         "  {\"path\": \"mode\", \"offset\": 8, \"size\": 4, \"type\": \"Mode\", \"visible\": true},\n"
         "  {\"path\": \"pos.x\", \"offset\": 12, \"size\": 4, \"type\": \"int\", \"visible\": true},\n"
         "  {\"path\": \"pos.y\", \"offset\": 16, \"size\": 4, \"type\": \"int\", \"visible\": true}\n"
         "], \"members\": [\n"
         "  {\"name\": \"count\", \"kind\": \"item\", \"type\": \"int\", \"offset\": 0, \"size\": 4, "
         "\"repetitions\": 1, \"element_size\": 4, \"visible\": true},\n"
         "  {\"name\": \"flags\", \"kind\": \"item\", \"type\": \"char\", \"offset\": 4, \"size\": 4, "
         "\"repetitions\": 4, \"element_size\": 1, \"visible\": false},\n"
         "  {\"name\": \"mode\", \"kind\": \"enum\", \"type\": \"int\", \"enum\": \"Mode\", \"offset\": 8, "
         "\"size\": 4, \"repetitions\": 1, \"element_size\": 4, \"visible\": true},\n"
         "  {\"name\": \"pos\", \"kind\": \"struct\", \"template\": \"Point\", \"offset\": 12, "
         "\"size\": 8, \"repetitions\": 1, \"element_size\": 8, \"visible\": true, \"members\": ["
         "{\"name\": \"x\", \"kind\": \"item\", \"type\": \"int\", \"offset\": 0, \"size\": 4, "
         "\"repetitions\": 1, \"element_size\": 4, \"visible\": true}, "
         "{\"name\": \"y\", \"kind\": \"item\", \"type\": \"int\", \"offset\": 4, \"size\": 4, "
         "\"repetitions\": 1, \"element_size\": 4, \"visible\": true}]}\n"
         "], \"enums\": [\n"
         "  {\"name\": \"Mode\", \"items\": [{\"name\": \"OFF\", \"value\": 0}, "
         "{\"name\": \"ON\", \"value\": 1}]}\n"
         "]}\n",
         "", PosRecWith("nrepetitions=\"2\"", "")},
        // A text member takes no bytes; a bool four; a collapsed structure
        // collapses its fields.
        {json, 0,
         "{\"name\": \"note\", \"kind\": \"text\", \"type\": \"text\", \"offset\": 8, "
         "\"size\": 0, \"repetitions\": 1, \"element_size\": 0, \"visible\": true}",
         "", PosRecWith("<Item_enum", "<Item name=\"note\" type=\"text\"/>\n<Item_enum")},
        {json, 0,
         "{\"path\": \"pos[1].y\", \"offset\": 24, \"size\": 4, \"type\": \"int\", \"visible\": false}",
         "", PosRecWith("nrepetitions=\"2\"", "nrepetitions=\"2\" visibility=\"0\"")},
        {json, 0,
         "{\"name\": \"count\", \"kind\": \"item\", \"type\": \"bool\", \"offset\": 0, \"size\": 4, "
         "\"repetitions\": 1, \"element_size\": 4",
         "", PosRecWith("name=\"count\" type=\"int\"", "name=\"count\" type=\"bool\"")},
        // Names beyond ASCII are no C identifiers: refused at load, never
        // printed as bytes that are not UTF-8.
        {json, 1, "",
         "a.xsd: error: Error! The name \"m\xc3\xa9\" of member 1 of the record \"PosRec\" is not a C "
         "identifier (letters, digits and _, not first a digit)\n",
         PosRecWith("name=\"count\"", "name=\"m\xe9\"").replace(0, 21, "<?xml version=\"1.0\" "
                                                                     "encoding=\"ISO-8859-1\"?>")},
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
        // The items of an enumerated field: what programs built against the
        // old header would misread is incompatible.
        diff(PosRecWith("\"ON\" id=\"1\"", "\"ON\" id=\"9\""), 1,
             "renumbered mode  ON 1 -> 9\nincompatible\n"),
        diff(PosRecWith("      <Item name=\"ON\" id=\"1\"/>\n", ""), 1,
             "dropped mode  ON 1\nincompatible\n"),
        diff(PosRecWith("<Item name=\"OFF\" id=\"0\"/>\n      <Item name=\"ON\" id=\"1\"/>",
                        "<Item name=\"OFF\" id=\"1\"/>"),
             1, "renumbered mode  OFF 0 -> 1\nreassigned mode  value 1: ON -> OFF\nincompatible\n"),
        diff(PosRecWith("\"ON\" id=\"1\"", "\"RUN\" id=\"1\""), 0,
             "renamed mode  value 1: ON -> RUN\ncompatible\n"),
        diff(PosRecWith("<Item name=\"ON\" id=\"1\"/>",
                        "<Item name=\"ON\" id=\"1\"/>\n      <Item name=\"AUTO\" id=\"2\"/>"),
             0, "added item mode  AUTO 2\ncompatible\n"),
        diff(PosRecWith("\"ON\" id=\"1\"", "\"ON\" id=\"9\""), 1,
             "{\"change\": \"renumbered\", \"path\": \"mode\", \"old\": {\"item\": \"ON\", "
             "\"value\": 1}, \"new\": {\"item\": \"ON\", \"value\": 9}}",
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
        // A file cut inside the session header was never a session file.
        row(kSessionHeader.substr(0, 10), 1,
            "s.xml: error: not a session file: it does not start with the session header\n",
            kSessionHeader.substr(0, 10)),
        row("<?x", 1,
            "s.xml: error: not a session file: it does not start with the session header\n",
            "<?x"),
        row("<Schema/>\n", 1,
            "s.xml: error: not a session file: it does not start with the session header\n",
            "<Schema/>\n"),
        row("", 1, "s.xml: error: No such file or directory\n", kAbsent),
    });
    // A FIFO without a writer is refused at once, not waited on.
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "s.xml").c_str(), 0600), 0);
    ProgramResult r =
        RunProgram(BinDir() + "/morvanec", recover, dir.path(), std::chrono::seconds(10));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "s.xml: error: not a regular file\n");
    // An empty file is no session either.
    WriteFile(dir / "e.xml", "");
    r = Morvanec({"recover", "e.xml"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "e.xml: error: not a session file: it is empty\n");
    EXPECT_EQ(ReadFile(dir / "e.xml"), "");
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
        row(kSessionHeader + "<" + std::string(5000, 'N') + ">", 1, "",
            "d.xml:3:1: error: an element name longer than 4096 bytes: not a session or data "
            "file\n"),
    });
}

// Between record elements a session file may hold anything the XML allows
// (blanks, comments), and that much: what is passed over is not kept. Each
// CTest case is a process of its own, so the children's peak is this one's.
TEST(MorvanecToBinary, MemoryStaysBoundedBetweenRecords) {
    const std::string one = PosRecRecord(1, "5", 1);
    const std::string bytes = PosRecBytes(5, 1) + PosRecBytes(5, 1);
    const size_t kLarge = size_t{48} << 20;
    TempDir dir;
    WriteFile(dir / "a.xsd", kPosRec);
    const struct {
        const char* what;
        char filler;
        const char* open;
        const char* close;
    } rows[] = {
        {"blank lines", '\n', "", ""},
        {"a comment", 'x', "<!--", "-->\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        {
            // Gone before the program starts: its fork would count them.
            std::string between = row.open + std::string(kLarge, row.filler) + row.close;
            WriteFile(dir / "d.xml", Session(one + between + one));
        }
        ProgramResult r = Morvanec({"to-binary", "a.xsd", "d.xml", "-o", "out.bin"}, dir.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFile(dir / "out.bin"), bytes);
    }
#if !defined(__SANITIZE_ADDRESS__)  // its shadow memory and quarantine count too
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 32 * 1024) << "KiB at the peak";
#endif
}

TEST(MorvanecToXml, TheSessionFileMorvaneWrites) {
    const std::vector<std::string> toXml = {"to-xml", "a.xsd", "in.bin"};
    const std::vector<std::string> toXmlFile = {"to-xml", "a.xsd", "in.bin", "-o", "out.xml"};
    RunCases({
        {toXml, 0, Session(PosRecRecord(1, "5", 1) + PosRecRecord(2, "6", -1)), "", kPosRec,
         "in.bin", PosRecBytes(5, 1) + PosRecBytes(6, -1)},
        {toXml, 0, Session(""), "", kPosRec, "in.bin", ""},
        {toXml, 0, "", 
         "in.bin: warning: the collapsed member flags holds bytes other than zero in 2 records; "
         "the XML data format does not carry them (they read back as zero)\n",
         kPosRec, "in.bin",
         PosRecBytes(5, 1).replace(4, 1, "\x01") + PosRecBytes(5, 1) +
             PosRecBytes(5, 1).replace(7, 1, "\x80")},
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

// With everyBit, the bool and the collapsed member hold any bytes too, as
// only JSON carries them.
AllTypes AllTypesRecords(int reps, uint32_t seed, bool everyBit = false) {
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
            if (everyBit) {
                bits(4), bits(4), bits(3), bits(8);
            } else {
                put(static_cast<int32_t>(rng() & 1));
                bits(4), bits(3);
                a.records.append(8, '\0');
            }
        }
    }
    return a;
}

// Three records of each row's schema go out with the command out and come
// back with back: the same bytes.
void ExpectRoundTrip(const std::pair<AllTypes, size_t>& row, const std::string& out,
                     const std::string& back) {
    const auto& [a, size] = row;
    SCOPED_TRACE(size);
    ASSERT_EQ(a.records.size(), 3 * size);
    TempDir dir;
    WriteFile(dir / "all.xsd", a.schema);
    WriteFile(dir / "in.bin", a.records);
    ProgramResult x = Morvanec({out, "all.xsd", "in.bin", "-o", "mid"}, dir.path());
    ASSERT_EQ(x.exitCode, 0) << x.err;
    ProgramResult b = Morvanec({back, "all.xsd", "mid", "-o", "out.bin"}, dir.path());
    ASSERT_EQ(b.exitCode, 0) << b.err.substr(0, 2000);
    EXPECT_TRUE(ReadFile(dir / "out.bin") == a.records);
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
    for (const auto& row : rows) ExpectRoundTrip(row, "to-xml", "to-binary");
}

// One value at each edge of its type: the largest char, the 64-bit limits,
// unsigned's top, a bool of another byte than its first, floats that read
// as integers, negative zero, infinity, a NaN, the smallest subnormal, and
// enumerated values that have one name, two names or none.
const std::string kEdgeSchema =
    "<Schema name=\"Edge\" id=\"4\">\n"
    "<Enum name=\"E\"><Item name=\"A\" id=\"1\"/><Item name=\"B\" id=\"2\"/>"
    "<Item name=\"C\" id=\"2\"/></Enum>\n"
    "<Item name=\"c\" type=\"char\"/><Item name=\"i64\" type=\"int64\"/>"
    "<Item name=\"u64\" type=\"unsigned64\"/><Item name=\"u\" type=\"unsigned\"/>"
    "<Item name=\"b\" type=\"bool\"/><Item name=\"f\" type=\"float\" nrepetitions=\"4\"/>"
    "<Item name=\"d\" type=\"double\"/><Item_enum name=\"e\" type=\"E\" nrepetitions=\"3\"/>"
    "<Item name=\"t\" type=\"text\"/>\n</Schema>\n";

std::string EdgeBytes() {
    std::string r;
    auto put = [&](auto v) { r.append(reinterpret_cast<const char*>(&v), sizeof v); };
    put(uint8_t{0xFF}), put(INT64_MIN), put(UINT64_MAX), put(UINT32_MAX), put(int32_t{0x01000000});
    put(-0.0f), put(1.0f), put(HUGE_VALF), put(std::bit_cast<float>(0xFFC00000u));
    put(DBL_TRUE_MIN), put(int32_t{1}), put(int32_t{2}), put(int32_t{7});
    return r;
}

const std::string kEdgeJson =
    "{\"$schema\":\"Edge\",\"$id\":4,\"c\":255,\"i64\":-9223372036854775808,"
    "\"u64\":18446744073709551615,\"u\":4294967295,\"b\":16777216,"
    "\"f\":[-0.0,1.0,\"inf\",\"-nan\"],\"d\":5e-324,\"e\":[\"A\",2,7]}\n";

// binary -> JSON -> binary gives the same bytes, every bit of every type
// code: bools and collapsed members included, which XML cannot carry.
TEST(MorvanecRoundTrip, JsonKeepsEveryBit) {
    const std::pair<AllTypes, size_t> rows[] = {
        {AllTypesRecords(1, 78, true), 100},
        {AllTypesRecords(1666, 1743, true), 100000},
        {{kEdgeSchema, EdgeBytes() + EdgeBytes() + EdgeBytes()}, 61},
    };
    for (const auto& row : rows) ExpectRoundTrip(row, "to-json", "from-json");
}

// The same records give the same JSON (but for their numbers) and the same
// CSV read from their packed form and from the session file to-xml writes.
TEST(MorvanecRoundTrip, JsonAndCsvOfXmlAndBinaryAgree) {
    const AllTypes a = AllTypesRecords(5, 99);
    TempDir dir;
    WriteFile(dir / "all.xsd", a.schema);
    WriteFile(dir / "in.bin", a.records);
    ASSERT_EQ(Morvanec({"to-xml", "all.xsd", "in.bin", "-o", "s.xml"}, dir.path()).exitCode, 0);
    std::string out[4];
    int i = 0;
    for (const char* command : {"to-json", "to-csv"}) {
        for (const char* input : {"in.bin", "s.xml"}) {
            ProgramResult r = Morvanec({command, "all.xsd", input}, dir.path());
            EXPECT_EQ(r.exitCode, 0) << r.err;
            out[i++] = r.out;
        }
    }
    for (int n = 1; n <= 3; ++n) {
        const std::string key = ",\"$number\":" + std::to_string(n);
        ASSERT_NE(out[1].find(key), std::string::npos) << n;
        out[1].erase(out[1].find(key), key.size());
    }
    EXPECT_EQ(out[0], out[1]);
    EXPECT_EQ(std::count(out[0].begin(), out[0].end(), '\n'), 3);
    EXPECT_EQ(out[2], out[3]);
    EXPECT_EQ(std::count(out[2].begin(), out[2].end(), '\n'), 4);
}

TEST(MorvanecToJson, OneObjectPerRecord) {
    const std::vector<std::string> bin = {"to-json", "a.xsd", "in.bin"};
    const std::vector<std::string> xml = {"to-json", "a.xsd", "s.xml"};
    std::string deadBeef = PosRecBytes(-3, 2147483647);
    deadBeef.replace(4, 4, "\xde\xad\xbe\xef");
    deadBeef[8] = 9;  // a mode no item has
    RunCases({
        {bin, 0,
         "{\"$schema\":\"PosRec\",\"$id\":7,\"count\":5,\"flags\":\"00000000\",\"mode\":\"ON\","
         "\"pos\":[{\"x\":1,\"y\":2},{\"x\":3,\"y\":4}]}\n"
         "{\"$schema\":\"PosRec\",\"$id\":7,\"count\":-3,\"flags\":\"deadbeef\",\"mode\":9,"
         "\"pos\":[{\"x\":2147483647,\"y\":2},{\"x\":3,\"y\":4}]}\n",
         "", kPosRec, "in.bin", PosRecBytes(5, 1) + deadBeef},
        {xml, 0,
         "{\"$schema\":\"PosRec\",\"$id\":7,\"$number\":12,\"count\":6,\"flags\":\"00000000\","
         "\"mode\":\"ON\",\"pos\":{\"x\":-1,\"y\":2}}\n",
         "", PosRecWith("nrepetitions=\"2\"", ""), "s.xml",
         Session(PosRecRecord(12, "6", -1)
                     .replace(PosRecRecord(12, "6", -1).find("      <Structure name=\"pos\" offset=\"20"),
                              std::string::npos, "   </Schema>\n")
                     .replace(PosRecRecord(12, "6", -1).find(" index=\"0\""), 10, ""))},
        {bin, 0, kEdgeJson, "", kEdgeSchema, "in.bin", EdgeBytes()},
        {bin, 1, "",
         "in.bin: error: its size of 29 bytes is not a multiple of the record size of PosRec "
         "(a.xsd), 28 bytes\n",
         kPosRec, "in.bin", PosRecBytes(5, 1) + "x"},
        {xml, 1, "", "s.xml:4:37: error: element Item name=\"count\" holds \"x\", which does not fit int\n",
         kPosRec, "s.xml", Session(PosRecRecord(1, "x", 1))},
    });
}

TEST(MorvanecFromJson, StrictDiagnosticsAndNoOutput) {
    auto row = [](const std::string& lines, int exit, const std::string& err,
                  const std::string& bytes = kAbsent, const std::string& option = "") {
        std::vector<std::string> args = {"from-json", "a.xsd", "in.jsonl", "-o", "out.bin"};
        if (!option.empty()) args.insert(args.begin() + 1, option);
        return Case{args, exit, "", err, kPosRec, "in.jsonl", lines, bytes};
    };
    const std::string good =
        "{\"count\":5,\"flags\":\"00000000\",\"mode\":\"ON\",\"pos\":[{\"x\":1,\"y\":2},{\"x\":3,"
        "\"y\":4}]}";
    // base with its first from replaced by to.
    auto replaced = [](std::string base, const std::string& from, const std::string& to) {
        return base.replace(base.find(from), from.size(), to);
    };
    auto with = [&](const std::string& from, const std::string& to) { return replaced(good, from, to); };
    // The lines to-json writes, which its scanner reads, and departures
    // from them late in the line.
    const std::string written = "{\"$schema\":\"PosRec\",\"$id\":7," + good.substr(1);
    auto writtenWith = [&](const std::string& from, const std::string& to) {
        return replaced(written, from, to);
    };
    RunCases({
        row(written + "\r\n" + writtenWith("7,", "7,\"$number\":2,") + "\r\n", 0, "",
            PosRecBytes(5, 1) + PosRecBytes(5, 1)),
        row(written + "\n" + writtenWith("\"y\":4", "\"y\":2147483648") + "\n", 1,
            "in.jsonl:2:102: error: field pos[1].y: 2147483648 does not fit int\n"),
        row(writtenWith("\"$id\":7", "\"$id\":8") + "\n" + writtenWith(",\"mode\":\"ON\"", ""), 1,
            "in.jsonl:1:27: error: key $id: expected 7, found 8\n"
            "in.jsonl:2:93: error: missing field mode: expected an item name of Mode or an "
            "integer\n"),
        row(written + "\n" + writtenWith(",\"mode\":\"ON\"", ""), 0, "",
            PosRecBytes(5, 1) + PosRecBytes(5, 1).replace(8, 1, std::string(1, '\0')),
            "--lenient"),
        row(good + "\n\n" + with("\"ON\"", "0") + "\n", 0, "",
            PosRecBytes(5, 1) + PosRecBytes(5, 1).replace(8, 1, std::string(1, '\0'))),
        row(good.substr(0, 30) + "\n" + good + "\n", 1,
            "in.jsonl:1:31: error: not JSON: Missing a name for object member.\n"),
        row(with("5", "\"5\""), 1,
            "in.jsonl:1:10: error: field count: expected an integer (int), found \"5\"\n"),
        row(with("5", "5.0"), 1,
            "in.jsonl:1:10: error: field count: expected an integer (int), found 5.0\n"),
        row(with("5", "2147483648"), 1,
            "in.jsonl:1:10: error: field count: 2147483648 does not fit int\n"),
        row(with("5", "123456789012345678901234567890"), 1,
            "in.jsonl:1:10: error: field count: 123456789012345678901234567890 does not fit int\n"),
        row(with("\"y\":4", "\"y\":1e400"), 1,
            "in.jsonl:1:75: error: field pos[1].y: not JSON: Number too big to be stored in "
            "double.\n"),
        row(with("[{", "[nul{"), 1, "in.jsonl:1:53: error: field pos[0]: not JSON: Invalid value.\n"),
        row(with("\"x\":3", "\"x\":3,\"x\":3"), 1,
            "in.jsonl:1:71: error: field pos[1].x is given twice\n"),
        row(with("\"x\":3", "\"z\":3"), 1, "in.jsonl:1:65: error: unknown field pos[1].z\n"),
        row(with(",\"y\":4", ""), 1,
            "in.jsonl:1:70: error: missing field pos[1].y: expected an integer (int)\n"),
        row(with(",\"y\":4", ""), 0, "", PosRecBytes(5, 1).replace(24, 1, std::string(1, '\0')),
            "--lenient"),
        row(with("ON", "On"), 1, "in.jsonl:1:38: error: field mode: \"On\" is not an item of Mode\n"),
        row(with("00000000", "000000"), 1,
            "in.jsonl:1:20: error: field flags: expected a string of 8 hexadecimal digits "
            "(collapsed char[4]), found \"000000\"\n"),
        row(with(",{\"x\":3,\"y\":4}", ""), 1,
            "in.jsonl:1:63: error: field pos: expected an array of 2 objects, found 1\n"),
        row(with("{\"x\":1", "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[{\"x\":1"), 1,
            "in.jsonl:1:50: error: field pos[0]: expected an object, found an array\n"),
        row("{\"$schema\":\"Other\"}", 1,
            "in.jsonl:1:12: error: key $schema: expected \"PosRec\", found \"Other\"\n"),
        row("[1]\n", 1, "in.jsonl:1:1: error: expected a record object, found an array\n"),
        // An item's name is taken though another item has its value too.
        {{"from-json", "a.xsd", "in.jsonl", "-o", "out.bin"}, 0, "", "", kEdgeSchema, "in.jsonl",
         std::string(kEdgeJson).replace(kEdgeJson.find("2,7"), 1, "\"B\""), EdgeBytes()},
    });
}

TEST(MorvanecToCsv, HeaderOfValuePathsAndQuotedCells) {
    std::vector<std::string> csv = {"to-csv", "a.xsd", "in.bin"};
    const auto delimited = [](const char* d) {
        return std::vector<std::string>{"to-csv", "--delimiter", d, "a.xsd", "in.bin"};
    };
    const std::string flagsSplit = PosRecWith(" visibility=\"0\"", "");
    RunCases({
        {csv, 0,
         "count,flags[0],flags[1],flags[2],flags[3],mode,pos[0].x,pos[0].y,pos[1].x,pos[1].y\r\n"
         "5,0,0,0,0,ON,1,2,3,4\r\n",
         "", flagsSplit, "in.bin", PosRecBytes(5, 1)},
        {delimited("-"), 0, "count-flags-mode-pos[0].x-pos[0].y-pos[1].x-pos[1].y\r\n\"-6\"-00000000-ON-\"-1\"-2-3-4\r\n",
         "", kPosRec, "in.bin", PosRecBytes(-6, -1)},
        {delimited("tab"), 0, "c\ti64\tu64\tu\tb\tf[0]\tf[1]\tf[2]\tf[3]\td\te[0]\te[1]\te[2]\r\n"
         "255\t-9223372036854775808\t18446744073709551615\t4294967295\t16777216\t-0.0\t1.0\tinf\t-nan\t5e-324\tA\t2\t7\r\n",
         "", kEdgeSchema, "in.bin", EdgeBytes()},
        // A delimiter that numbers, names or the texts of NaN can hold:
        // the cells holding it are quoted, the others not.
        {delimited("."), 0, "c.i64.u64.u.b.f[0].f[1].f[2].f[3].d.e[0].e[1].e[2]\r\n"
         "255.-9223372036854775808.18446744073709551615.4294967295.16777216.\"-0.0\".\"1.0\".inf.-nan.5e-324.A.2.7\r\n",
         "", kEdgeSchema, "in.bin", EdgeBytes()},
        {delimited("e"), 0, "cei64eu64euebef[0]ef[1]ef[2]ef[3]ede\"e[0]\"e\"e[1]\"e\"e[2]\"\r\n"
         "255e-9223372036854775808e18446744073709551615e4294967295e16777216e-0.0e1.0einfe-nane\"5e-324\"eAe2e7\r\n",
         "", kEdgeSchema, "in.bin", EdgeBytes()},
        {delimited("n"), 0, "cni64nu64nunbnf[0]nf[1]nf[2]nf[3]ndne[0]ne[1]ne[2]\r\n"
         "255n-9223372036854775808n18446744073709551615n4294967295n16777216n-0.0n1.0n\"inf\"n\"-nan\"n5e-324nAn2n7\r\n",
         "", kEdgeSchema, "in.bin", EdgeBytes()},
        {delimited("A"), 0, "cAi64Au64AuAbAf[0]Af[1]Af[2]Af[3]AdAe[0]Ae[1]Ae[2]\r\n"
         "255A-9223372036854775808A18446744073709551615A4294967295A16777216A-0.0A1.0AinfA-nanA5e-324A\"A\"A2A7\r\n",
         "", kEdgeSchema, "in.bin", EdgeBytes()},
        {delimited("\""), 2, "",
         "morvanec: option --delimiter takes one character other than a quote or a line end, or "
         "tab"},
    });
}

}  // namespace
}  // namespace morvane::test
