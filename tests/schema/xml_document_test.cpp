#include <gtest/gtest.h>

#include <string>

#include "schema_test_util.h"

namespace morvane {
namespace {

using test::TempDir;
using test::WriteFile;

std::string Nested(int levels) {
    std::string xml;
    for (int i = 0; i < levels; ++i) xml += "<e>";
    for (int i = 0; i < levels; ++i) xml += "</e>";
    return xml;
}

struct DocumentCase {
    const char* label;
    std::string text;
    bool ok;
    std::string error;  // for a refused document: the description, when ours
};

std::ostream& operator<<(std::ostream& out, const DocumentCase& c) { return out << c.label; }

class LoadXmlDocumentTest : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(LoadXmlDocumentTest, AcceptsOrRefuses) {
    const DocumentCase& c = GetParam();
    TempDir dir;
    WriteFile(dir / "doc.xml", c.text);
    pugi::xml_document doc;
    std::string error = "stale";
    bool ok = LoadXmlDocument((dir / "doc.xml").c_str(), doc, error);
    EXPECT_EQ(ok, c.ok);
    if (ok) {
        EXPECT_EQ(error, "");
        EXPECT_TRUE(doc.document_element());
    } else {
        EXPECT_FALSE(error.empty());
        if (!c.error.empty()) {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_FALSE(doc.first_child());  // nothing half-built is left
    }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, LoadXmlDocumentTest,
    ::testing::Values(
        DocumentCase{"Plain", "<Schema name=\"S\"><Item name=\"a\"/></Schema>", true, ""},
        DocumentCase{"Declaration", "<?xml version=\"1.0\"?>\n<Schema name=\"S\"/>\n", true, ""},
        DocumentCase{"AtTheDepthLimit", Nested(kMaxXmlDepth), true, ""},
        DocumentCase{"OneLevelTooDeep", Nested(kMaxXmlDepth + 1), false,
                     "Elements nested deeper than 256 levels"},
        DocumentCase{"FarTooDeep", Nested(200000), false, "Elements nested deeper than 256 levels"},
        DocumentCase{"TextAtTheDepthLimit",
                     Nested(kMaxXmlDepth - 1).insert(3 * (kMaxXmlDepth - 1), "<e>text<!--c--></e>"),
                     true, ""},
        DocumentCase{"Empty", "", false, ""},
        DocumentCase{"CommentOnly", "<!-- nothing -->", false, ""},
        DocumentCase{"Unclosed", "<Schema name=\"S\"><Item name=\"a\"></Schema>", false, ""},
        DocumentCase{"TwoRoots", "<a/><b/>", true, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(LoadXmlDocumentFileTest, MissingFile) {
    TempDir dir;
    pugi::xml_document doc;
    std::string error;
    EXPECT_FALSE(LoadXmlDocument((dir / "absent.xsd").c_str(), doc, error));
    EXPECT_EQ(error, "File was not found");
}

// A directory named like a schema file once made pugixml ask for a buffer
// sized from a length the directory does not have.
TEST(LoadXmlDocumentFileTest, DirectoryIsRefused) {
    TempDir dir;
    test::MakeDirs(dir / "folder.xsd");
    pugi::xml_document doc;
    std::string error;
    EXPECT_FALSE(LoadXmlDocument((dir / "folder.xsd").c_str(), doc, error));
    EXPECT_EQ(error, "Not a regular file");
}

TEST(LoadXmlDocumentFileTest, CommentsReachTheParser) {
    TempDir dir;
    WriteFile(dir / "s.xsd", "<Schema name=\"S\">\n   <!--the a-->\n   <Item name=\"a\"/>\n</Schema>\n");
    pugi::xml_document doc;
    std::string error;
    ASSERT_TRUE(LoadXmlDocument((dir / "s.xsd").c_str(), doc, error)) << error;
    test::LogRecorder log;
    Schema schema;
    ASSERT_TRUE(LoadSchema(schema, doc));
    EXPECT_EQ(schema.Top()->units.at(0)->comment, "the a");
}

}  // namespace
}  // namespace morvane
