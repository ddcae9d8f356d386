#include "builder/schema_file_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/edit_model.h"
#include "builder_test_util.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::Dump;
using test::TempDir;
using test::WriteFile;

TEST(SchemaFileNameTest, OnlyTheExactExtensionXsdCounts) {
    struct Row {
        const char* name;
        bool schema;
    };
    const Row rows[] = {
        {"a.xsd", true},  {"a.b.xsd", true},    {"xsd", true},  // a name without '.' is compared
                                                                // whole
        {"b.XSD", false}, {"c.xsd.bak", false}, {".xsd", false}, {"axsd", false},
        {"a.", false},    {"a.xs", false},      {"", false},
    };
    for (const Row& row : rows) EXPECT_EQ(IsSchemaFileName(row.name), row.schema) << row.name;
}

TEST(SchemaFileNameTest, AlreadyLoadedIsASubstringTest) {
    const std::vector<std::string> loaded = {"/other/ba.xsd", "/w/PosRec.xsd"};
    EXPECT_TRUE(IsAlreadyLoaded(loaded, "a.xsd"));  // the tail of /other/ba.xsd
    EXPECT_TRUE(IsAlreadyLoaded(loaded, "PosRec.xsd"));
    EXPECT_FALSE(IsAlreadyLoaded(loaded, "posrec.xsd"));
    EXPECT_FALSE(IsAlreadyLoaded({}, "a.xsd"));
}

TEST(CommentBlanksTest, ExactlyOneBlankGoesFromEachEnd) {
    struct Row {
        const char* in;
        const char* out;
    };
    const Row rows[] = {
        {" text ", "text"},
        {"  two  ", " two "},
        {"text", "text"},
        {" lead", "lead"},
        {"trail ", "trail"},
        {" ", ""},
        {"  ", ""},
        {"", ""},
        {"\ttab\t", "\ttab\t"},
    };
    for (const Row& row : rows) EXPECT_EQ(TrimCommentBlanks(row.in), row.out) << row.in;
}

class SchemaFileLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(model.workingDirectory.Assign(dir.path())); }

    std::string Write(const std::string& name, const std::string& text) {
        WriteFile(dir / name, text);
        return dir / name;
    }

    LoadResult Load(const std::string& name) { return LoadSelectedFile(model, loaded, name); }

    TempDir dir;
    CEditModel model;
    std::vector<std::string> loaded;
};

constexpr const char* kPosRec = R"(<?xml version="1.0"?>
<Schema name="PosRec" id="7">
   <!-- a point -->
   <Template name="Point">
      <!--  first  -->
      <Item name="x" type="int"/>
      <Item name="y"/>
   </Template>
   <Enum name="Mode">
      <Item name="OFF" id="0"/>
      <Value name="ON" id="1"/>
   </Enum>
   <Item name="count"/>
   <!-- dropped -->
   <!-- reserved -->
   <Item name="flags" type="char" nrepetitions="4" visibility="0"/>
   <Item_enum name="mode" type="Mode" visibility="1"/>
   <!-- not attached -->
   text
   <Structure name="pos" type="Point" nrepetitions="2"/>
   <Unknown name="u" type="x" nrepetitions="" visibility="00"/>
</Schema>
)";

TEST_F(SchemaFileLoaderTest, TakesOverEnumerationsTemplatesAndMembers) {
    Write("PosRec.xsd", kPosRec);
    LoadResult result = Load("PosRec.xsd");
    EXPECT_EQ(result.outcome, LoadOutcome::kLoaded);
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(loaded, std::vector<std::string>{dir / "PosRec.xsd"});
    EXPECT_EQ(Dump(model),
              "enum Mode\n"
              "  OFF=0\n"
              "  ON=1\n"
              "template Point [a point]\n"
              "  Item|x|int|1|0|[ first ]\n"
              "  Item|y|int(absent)|1|0|[]\n"
              "schema PosRec 7\n"
              "  Item|count|int(absent)|1|0|[]\n"
              "  Item|flags|char|4|1(visibility=\"0\")|[reserved]\n"
              "    kept [dropped] /\n"
              "  Item_enum|mode|Mode|1|0(visibility=\"1\")|[]\n"
              "  Structure|pos|Point|2|0|[]\n"
              "    kept [not attached] /\n"
              "  Unknown|u|x||0(visibility=\"00\")|[]\n");
    // The template stood before the first member, the enumeration after it.
    EXPECT_NE(model.Snapshot().find("enum Mode\n    at 0 1\n"), std::string::npos);
    EXPECT_NE(model.Snapshot().find("template Point [a point]\n    at 0 0\n"), std::string::npos);
    EXPECT_EQ(model.notKept,
              std::vector<std::string>{"the text \"text\" inside <Schema name=\"PosRec\">"});
    EXPECT_FALSE(model.newSchema);
}

TEST_F(SchemaFileLoaderTest, ASecondFileAppendsToTheSameSchema) {
    Write("a.xsd", R"(<Schema name="A" id="1"><Enum name="E"><Item name="e" id="1"/></Enum>
                      <Item name="a1"/><Item name="a2"/></Schema>)");
    Write("b.xsd", R"(<Schema name="B" id="2"><Enum name="E"><Item name="f" id="2"/></Enum>
                      <Template name="T"><Item name="t"/></Template><Item name="b1"/></Schema>)");
    ASSERT_EQ(Load("a.xsd").outcome, LoadOutcome::kLoaded);
    ASSERT_EQ(Load("b.xsd").outcome, LoadOutcome::kLoaded);
    EXPECT_EQ(Dump(model),
              "enum E\n  e=1\n"
              "enum E\n  f=2\n"  // no duplicate test between files
              "template T []\n  Item|t|int(absent)|1|0|[]\n"
              "schema B 2\n"
              "  Item|a1|int(absent)|1|0|[]\n  Item|a2|int(absent)|1|0|[]\n"
              "  Item|b1|int(absent)|1|0|[]\n");
    EXPECT_EQ(loaded.size(), 2u);
}

TEST_F(SchemaFileLoaderTest, RefusedNamesLeaveEverythingUnchanged) {
    Write("ba.xsd", R"(<Schema name="A" id="1"><Item name="a"/></Schema>)");
    Write("a.xsd", R"(<Schema name="B" id="2"><Item name="b"/></Schema>)");
    Write("c.XSD", R"(<Schema name="C" id="3"/>)");
    ASSERT_EQ(Load("ba.xsd").outcome, LoadOutcome::kLoaded);
    const std::string before = Dump(model);

    struct Row {
        const char* file;
        LoadOutcome outcome;
        const char* message;
    };
    const Row rows[] = {
        {"c.XSD", LoadOutcome::kNotSchema, "Selected file is not schema"},
        {"ba.xsd", LoadOutcome::kAlreadyLoaded,
         "Selected file exists in the list of loaded xsd files"},
        // The tail of the loaded .../ba.xsd: refused although it is another file.
        {"a.xsd", LoadOutcome::kAlreadyLoaded,
         "Selected file exists in the list of loaded xsd files"},
    };
    for (const Row& row : rows) {
        LoadResult result = Load(row.file);
        EXPECT_EQ(result.outcome, row.outcome) << row.file;
        EXPECT_EQ(result.message, row.message) << row.file;
    }
    EXPECT_EQ(Dump(model), before);
    EXPECT_EQ(loaded, std::vector<std::string>{dir / "ba.xsd"});
}

TEST_F(SchemaFileLoaderTest, MissingFileIsShownAsUnreadable) {
    LoadResult result = Load("gone.xsd");
    EXPECT_EQ(result.outcome, LoadOutcome::kUnreadable);
    EXPECT_EQ(result.message.rfind("Error  during reading  " + (dir / "gone.xsd") + "[", 0), 0u)
        << result.message;
    EXPECT_TRUE(loaded.empty());
}

TEST_F(SchemaFileLoaderTest, UnparsableFileIsShownAndLogged) {
    Write("bad.xsd", "<Schema name=\"A\" id=\"1\"><Item name=\"a\"></Schema>");
    test::LogRecorder log;
    LoadResult result = Load("bad.xsd");
    EXPECT_EQ(result.outcome, LoadOutcome::kUnreadable);
    const std::string path = dir / "bad.xsd";
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string& line = log.lines()[0];
    EXPECT_EQ(line.rfind("Error  during reading  " + path + "[", 0), 0u) << line;
    EXPECT_EQ(line.back(), '\n');
    // The message is the log line without its line end.
    EXPECT_EQ(result.message + "\n", line);
    EXPECT_TRUE(loaded.empty());
    EXPECT_EQ(Dump(model), "no schema\n");
}

TEST_F(SchemaFileLoaderTest, RootWithoutNameOrIdIsListedButTakesNothing) {
    for (const char* text :
         {R"(<Schema name="A"><Item name="a"/></Schema>)",
          R"(<Schema id="1"><Enum name="E"><Item name="x" id="1"/></Enum></Schema>)"}) {
        TempDir other;
        ASSERT_TRUE(model.workingDirectory.Assign(other.path()));
        WriteFile(other / "r.xsd", text);
        loaded.clear();
        LoadResult result = Load("r.xsd");
        EXPECT_EQ(result.outcome, LoadOutcome::kRootAttributesAbsent);
        EXPECT_EQ(result.message, "Error!  Root Element struct_name is absent");
        EXPECT_EQ(loaded, std::vector<std::string>{other / "r.xsd"});
        EXPECT_EQ(Dump(model), "no schema\n");
    }
}

TEST_F(SchemaFileLoaderTest, TextsTooLongForTheRecordsRefuseTheFile) {
    const std::string n49(49, 'n'), n50(50, 'n');
    struct Row {
        std::string body;
        std::string firstLine;  // "" when the file loads
    };
    const Row rows[] = {
        {R"(<Schema name=")" + n49 + R"(" id="1234567890123456789"><Item name=")" + n49 +
             R"(" type=")" + n49 + R"(" nrepetitions="123456789"/></Schema>)",
         ""},
        {R"(<Schema name=")" + n50 + R"(" id="1"/>)", "Error! Size of field > max[50]"},
        {R"(<Schema name="S" id="12345678901234567890"/>)", "Error! Size of field > max[20]"},
        {R"(<Schema name="S" id="1"><Item name=")" + n50 + R"("/></Schema>)",
         "Error! Size of field > max[50]"},
        {R"(<Schema name="S" id="1"><Item name="a" type=")" + n50 + R"("/></Schema>)",
         "Error! Size of field > max[50]"},
        {R"(<Schema name="S" id="1"><Item name="a" nrepetitions="1234567890"/></Schema>)",
         "Error! Size of field > max[10]"},
        {R"(<Schema name="S" id="1"><Enum name="E"><Item name="a" id="1234567890"/></Enum></Schema>)",
         "Error! Size of field > max[10]"},
        {R"(<Schema name="S" id="1"><Enum name=")" + n50 + R"("/></Schema>)",
         "Error! Size of field > max[50]"},
        {R"(<Schema name="S" id="1"><Template name="T"><Item name=")" + n50 +
             R"("/></Template></Schema>)",
         "Error! Size of field > max[50]"},
        {R"(<Schema name="S" id="1"><Item_enum_with_a_long_tag name="a"/></Schema>)",
         "Error! Size of field > max[20]"},
    };
    int i = 0;
    for (const Row& row : rows) {
        CEditModel fresh;
        ASSERT_TRUE(fresh.workingDirectory.Assign(dir.path()));
        std::string name = "long" + std::to_string(i++) + ".xsd";
        Write(name, row.body);
        std::vector<std::string> paths;
        LoadResult result = LoadSelectedFile(fresh, paths, name);
        if (row.firstLine.empty()) {
            EXPECT_EQ(result.outcome, LoadOutcome::kLoaded) << result.message;
            EXPECT_EQ(paths.size(), 1u);
            continue;
        }
        EXPECT_EQ(result.outcome, LoadOutcome::kRefused) << name;
        // The limit, the file and the attribute are named; the text is not cut.
        EXPECT_EQ(result.message.substr(0, row.firstLine.size()), row.firstLine) << name;
        const std::string limit = row.firstLine.substr(row.firstLine.find('[') + 1);
        const std::string most =
            "; at most " + std::to_string(std::stoi(limit) - 1) + " fit; the file is not loaded";
        EXPECT_NE(result.message.find(most), std::string::npos) << result.message;
        EXPECT_NE(result.message.find(dir / name), std::string::npos) << result.message;
        EXPECT_TRUE(paths.empty());
        EXPECT_EQ(Dump(fresh), "no schema\n");
    }
}

TEST_F(SchemaFileLoaderTest, MissingNamesAndIdsRefuseTheFile) {
    struct Row {
        const char* body;
        const char* needle;
    };
    const Row rows[] = {
        {R"(<Schema name="S" id="1"><Enum><Item name="a" id="1"/></Enum></Schema>)",
         "<Enum> has no attribute \"name\""},
        {R"(<Schema name="S" id="1"><Enum name="E"><Item name="a"/></Enum></Schema>)",
         "<Item> has no attribute \"id\""},
        {R"(<Schema name="S" id="1"><Template><Item name="a"/></Template></Schema>)",
         "<Template> has no attribute \"name\""},
        {R"(<Schema name="S" id="1"><Template name="T"><Item type="int"/></Template></Schema>)",
         "<Item> has no attribute \"name\""},
        {R"(<Schema name="S" id="1"><Structure type="T"/></Schema>)",
         "<Structure> has no attribute \"name\""},
    };
    for (const Row& row : rows) {
        Write("m.xsd", row.body);
        CEditModel fresh;
        LoadResult result = LoadSchemaFile(fresh, dir / "m.xsd");
        EXPECT_EQ(result.outcome, LoadOutcome::kRefused) << row.body;
        EXPECT_NE(result.message.find(row.needle), std::string::npos) << result.message;
        EXPECT_EQ(Dump(fresh), "no schema\n");
    }
}

TEST_F(SchemaFileLoaderTest, PathLongerThanAPathFieldIsRefused) {
    std::string deep = dir.path();
    while (deep.size() + 31 <= kPathWidth - 1) {
        deep += "/dddddddddddddddddddddddddddddd";
        test::MakeDirs(deep);
    }
    WriteFile(deep + "/a_rather_long_schema_name.xsd", R"(<Schema name="S" id="1"/>)");
    ASSERT_TRUE(model.workingDirectory.Assign(deep));
    LoadResult result = Load("a_rather_long_schema_name.xsd");
    EXPECT_EQ(result.outcome, LoadOutcome::kRefused);
    EXPECT_EQ(result.message.substr(0, 31), "Error! Size of field > max[260]");
    EXPECT_NE(result.message.find("; at most 259 fit"), std::string::npos) << result.message;
    EXPECT_TRUE(loaded.empty());
}

}  // namespace
}  // namespace morvane
