#include "builder/schema_file_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <pugixml.hpp>
#include <string>

#include "builder/edit_model.h"
#include "builder/schema_file_loader.h"
#include "builder_test_util.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::AddEnum;
using test::AddTemplate;
using test::Dump;
using test::Element;
using test::ReadFile;
using test::TempDir;

class SchemaFileWriterTest : public ::testing::Test {
  protected:
    // Writes the model with name and id and returns the file's text.
    std::string Save(const CEditModel& m, const std::string& name, const std::string& id) {
        std::string error;
        EXPECT_TRUE(WriteSchemaFile(m, name, id, path, error)) << error;
        return ReadFile(path);
    }

    TempDir dir;
    std::string path = dir / "out.xsd";
    CEditModel model;
};

TEST_F(SchemaFileWriterTest, CollapsedAndPlainMembersTakeTheirForms) {
    CEditSchema& s = model.EnsureSchema();
    s.elements.push_back(Element("Item", "a", "char", "20", true));
    s.elements.push_back(Element("Item", "b", "int", "1", false));
    EXPECT_EQ(Save(model, "S", "3"),
              "<?xml version=\"1.0\"?>\n"
              "<Schema name=\"S\" id=\"3\">\n"
              "   <Item name=\"a\" type=\"char\" nrepetitions=\"20\" visibility=\"0\"/>\n"
              "   <Item name=\"b\" type=\"int\"/>\n"
              "</Schema>\n");
}

TEST_F(SchemaFileWriterTest, WholeModelMatchesTheExpectedFile) {
    AddEnum(model, "Mode", {{"OFF", "0"}, {"ON", "1"}});
    AddEnum(model, "Empty", {});  // no items: not written
    AddTemplate(model, "Point", "a point",
                {Element("Item", "x", "int", "1", false, "first"), Element("Item", "y", "int")});
    AddTemplate(model, "Unused", "never written", {});
    CEditSchema& s = model.EnsureSchema();
    s.elements = {Element("Item", "count", "int"),
                  Element("Item", "flags", "char", "4", true, "reserved"),
                  Element("Item_enum", "mode", "Mode"),
                  Element("Structure", "pos", "Point", "2"),
                  Element("Item", "one", "char", "1", true),
                  Element("Item", "blank", "int", ""),
                  Element("Item", "zero", "int", "01")};
    EXPECT_EQ(Save(model, "PosRec", "7"),
              ReadFile(test::TestDataDir() + "/builder/golden/full_model.xsd"));
}

TEST_F(SchemaFileWriterTest, EmptyModelGivesABareSchemaElement) {
    EXPECT_EQ(Save(model, "S", ""),
              "<?xml version=\"1.0\"?>\n<Schema name=\"S\" id=\"\">\n</Schema>\n");
}

TEST_F(SchemaFileWriterTest, AttributeValuesAreEscapedAndReadBackUnchanged) {
    const std::string odd = "a&b<c>d\"e'f";
    AddEnum(model, "E&<>\"", {{"i\"1", "1&2"}});
    AddTemplate(model, "T<1>", "<&> are fine in comments",
                {Element("Item", "x\"y", "int", "1", false)});
    CEditSchema& s = model.EnsureSchema();
    s.elements = {Element("Item", odd, "E&<>\"", "2<3"), Element("Structure", "s", "T<1>"),
                  Element("Item", "tab\tline\nbreak", "int")};
    ASSERT_TRUE(s.name.Assign("S&\"1"));
    ASSERT_TRUE(s.id.Assign("7<"));

    std::string text = Save(model, "S&\"1", "7<");
    EXPECT_NE(text.find("<Item name=\"a&amp;b&lt;c&gt;d&quot;e'f\" type=\"E&amp;&lt;&gt;&quot;\" "
                        "nrepetitions=\"2&lt;3\"/>"),
              std::string::npos)
        << text;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(text.c_str(), pugi::parse_default | pugi::parse_comments));

    CEditModel back;
    ASSERT_EQ(LoadSchemaFile(back, path).outcome, LoadOutcome::kLoaded);
    EXPECT_EQ(Dump(back), Dump(model));
}

TEST_F(SchemaFileWriterTest, CommentsSurviveAnyNumberOfLoadAndSaveCycles) {
    CEditSchema& s = model.EnsureSchema();
    s.elements = {Element("Item", "a", "int", "1", false, "plain"),
                  Element("Item", "b", "int", "1", false, " leading blank"),
                  Element("Item", "c", "int", "1", false, "trailing blank "),
                  Element("Item", "d", "int", "1", false, "  both  "),
                  Element("Item", "e", "int", "1", false, "two\nlines"),
                  Element("Item", "f", "int", "1", false, "-starts with a dash")};
    AddTemplate(model, "T", " t ", {Element("Item", "x", "int", "1", false, "x")});
    ASSERT_TRUE(s.name.Assign("S"));
    ASSERT_TRUE(s.id.Assign("1"));
    const std::string first = Save(model, "S", "1");
    for (int cycle = 0; cycle < 3; ++cycle) {
        CEditModel back;
        ASSERT_EQ(LoadSchemaFile(back, path).outcome, LoadOutcome::kLoaded);
        EXPECT_EQ(Dump(back), Dump(model)) << "cycle " << cycle;
        EXPECT_EQ(Save(back, "S", "1"), first) << "cycle " << cycle;
    }
}

TEST(WritableCommentTest, DoubleDashAndTrailingDashCannotBeWritten) {
    struct Row {
        const char* text;
        bool writable;
    };
    const Row rows[] = {{"", true},       {"plain", true},  {"-lead", true}, {"a - b", true},
                        {"a--b", false},  {"--", false},    {"end-", false}, {"-", false},
                        {"a---b", false}, {"x -- y", false}};
    for (const Row& row : rows) EXPECT_EQ(IsWritableComment(row.text), row.writable) << row.text;
}

TEST(CheckCommentsTest, NamesTheElementWhoseCommentCannotBeWritten) {
    struct Row {
        std::function<void(CEditModel&)> build;
        std::string needle;  // "" when every comment can be written
    };
    const std::vector<Row> rows = {
        {[](CEditModel& m) {
             m.EnsureSchema().elements = {Element("Item", "ok", "int", "1", false, "fine")};
         },
         ""},
        {[](CEditModel& m) {
             m.EnsureSchema().elements = {Element("Item", "bad", "int", "1", false, "a--b")};
         },
         "element \"bad\""},
        {[](CEditModel& m) { AddTemplate(m, "T", "t-", {Element("Item", "x", "int")}); },
         "template \"T\""},
        {[](CEditModel& m) {
             AddTemplate(m, "T", "", {Element("Item", "x", "int", "1", false, "--")});
         },
         "element \"x\" of template \"T\""},
        // A template without elements is not written, nor is its comment.
        {[](CEditModel& m) { AddTemplate(m, "T", "a--b", {}); }, ""},
    };
    for (const Row& row : rows) {
        CEditModel m;
        row.build(m);
        std::string message = CheckComments(m);
        if (row.needle.empty()) {
            EXPECT_EQ(message, "");
        } else {
            EXPECT_NE(message.find(row.needle), std::string::npos) << message;
            EXPECT_EQ(message.rfind("Error! ", 0), 0u) << message;
        }
    }
}

TEST_F(SchemaFileWriterTest, UnwritablePathIsReported) {
    std::string error;
    EXPECT_FALSE(WriteSchemaFile(model, "S", "1", dir / "missing/out.xsd", error));
    EXPECT_EQ(error, "Error! File " + (dir / "missing/out.xsd") +
                         " cannot be created [No such file or directory]");
}

}  // namespace
}  // namespace morvane
