#include <gtest/gtest.h>

#include <string>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder_test_util.h"

namespace morvane {
namespace {

using test::AddEnum;
using test::AddTemplate;
using test::Element;

TEST(FixedTextTest, RefusesTextsThatDoNotFitAndKeepsTheOldOne) {
    struct Row {
        std::string text;
        bool fits;
    };
    const Row rows[] = {
        {"", true},
        {std::string(9, 'a'), true},
        {std::string(10, 'b'), false},  // the tenth byte is the terminator's
        {std::string(300, 'c'), false},
        {std::string("a\0b", 3), false},
    };
    for (const Row& row : rows) {
        FixedText<10> field{"old"};
        EXPECT_EQ(field.Assign(row.text), row.fits) << row.text.size();
        EXPECT_EQ(field.view(), row.fits ? std::string_view(row.text) : "old");
    }
}

TEST(FieldCheckTest, EmptyAndTooLongAreRefusedWithTheFieldAndItsLimit) {
    EXPECT_EQ(msg::FieldCheck("", kNameWidth, "N"), "Error! Empty field");
    EXPECT_EQ(msg::FieldCheck(std::string(49, 'n'), kNameWidth, "N"), "");
    EXPECT_EQ(msg::FieldCheck(std::string(50, 'n'), kNameWidth, "\"Name:\" of the item"),
              "Error! Size of field > max[50]: \"Name:\" of the item is 50 characters long; at "
              "most 49 fit");
    EXPECT_EQ(msg::FieldCheck(std::string(10, '1'), kRepetitionsWidth, "R"),
              "Error! Size of field > max[10]: R is 10 characters long; at most 9 fit");
    // 25 letters of two bytes each: the limit is in bytes, and said so.
    std::string accents;
    for (int i = 0; i < 25; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(msg::FieldCheck(accents, kNameWidth, "N"),
              "Error! Size of field > max[50]: N is 50 bytes long in UTF-8 (25 characters); at "
              "most 49 bytes fit");
}

TEST(AssignElementTest, ReportsTheFieldThatDoesNotFit) {
    struct Row {
        std::string kind, name, type, nrepetitions;
        std::string message;
    };
    const Row rows[] = {
        {"Item", std::string(49, 'n'), std::string(49, 't'), "123456789", ""},
        {"Item", std::string(50, 'n'), "int", "1",
         "Error! Size of field > max[50]: \"Name:\" of the element is 50 characters long; at "
         "most 49 fit"},
        {"Item", "a", std::string(51, 't'), "1",
         "Error! Size of field > max[50]: \"Type:\" of the element is 51 characters long; at "
         "most 49 fit"},
        {"Item", "a", "int", "1234567890",
         "Error! Size of field > max[10]: \"NRepetitions:\" of the element is 10 characters "
         "long; at most 9 fit"},
        {std::string(20, 'K'), "a", "int", "1",
         "Error! Size of field > max[20]: \"Element:\" of the element is 20 characters long; at "
         "most 19 fit"},
    };
    for (const Row& row : rows) {
        CEditElement e;
        std::string message;
        EXPECT_EQ(AssignElement(e, row.kind, row.name, row.type, row.nrepetitions, true, "c",
                                message),
                  row.message.empty());
        EXPECT_EQ(message, row.message) << row.name << ' ' << row.type;
    }
}

TEST(InsertElementTest, InsertsBeforeThePositionOrAppends) {
    struct Row {
        int position;
        size_t expectedIndex;
    };
    const Row rows[] = {{-1, 3}, {0, 0}, {1, 1}, {2, 2}, {3, 3}, {17, 3}};
    for (const Row& row : rows) {
        std::vector<CEditElement> elements = {Element("Item", "a", "int"),
                                              Element("Item", "b", "int"),
                                              Element("Item", "c", "int")};
        size_t at = InsertElement(elements, row.position, Element("Item", "new", "char"));
        EXPECT_EQ(at, row.expectedIndex);
        ASSERT_EQ(elements.size(), 4u);
        EXPECT_EQ(elements[row.expectedIndex].name, "new") << row.position;
    }
}

class EditModelTest : public ::testing::Test {
  protected:
    CEditModel model;
};

TEST_F(EditModelTest, RemovingTheCurrentEnumerationMakesItNone) {
    AddEnum(model, "A", {});
    CEditEnum& b = AddEnum(model, "B", {{"x", "1"}});
    model.SetCurrentEnum(&b);
    model.RemoveEnum(0);
    EXPECT_EQ(model.CurrentEnum(), &b);  // another entry went
    model.RemoveEnum(0);
    EXPECT_EQ(model.CurrentEnum(), nullptr);
    EXPECT_TRUE(model.Enumerations().empty());
    model.RemoveEnum(5);  // no such entry: nothing happens
}

TEST_F(EditModelTest, RemovingTheCurrentTemplateMakesItNone) {
    CEditTemplate& a = AddTemplate(model, "A", "", {});
    AddTemplate(model, "B", "", {});
    model.SetCurrentTemplate(&a);
    model.RemoveTemplate(1);
    EXPECT_EQ(model.CurrentTemplate(), &a);
    model.RemoveTemplate(0);
    EXPECT_EQ(model.CurrentTemplate(), nullptr);
}

TEST_F(EditModelTest, ClearEmptiesEverythingButTheWorkingDirectory) {
    ASSERT_TRUE(model.workingDirectory.Assign("/some/where"));
    CEditEnum& e = AddEnum(model, "E", {{"a", "1"}});
    CEditTemplate& t = AddTemplate(model, "T", "c", {Element("Item", "x", "int")});
    model.SetCurrentEnum(&e);
    model.SetCurrentTemplate(&t);
    model.EnsureSchema().elements.push_back(Element("Item", "a", "int"));
    model.newSchema = true;

    model.Clear();
    EXPECT_TRUE(model.Enumerations().empty());
    EXPECT_TRUE(model.Templates().empty());
    EXPECT_EQ(model.CurrentSchema(), nullptr);
    EXPECT_EQ(model.CurrentEnum(), nullptr);
    EXPECT_EQ(model.CurrentTemplate(), nullptr);
    EXPECT_FALSE(model.newSchema);
    EXPECT_EQ(model.workingDirectory, "/some/where");
}

}  // namespace
}  // namespace morvane
