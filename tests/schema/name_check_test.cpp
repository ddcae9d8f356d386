// The name checker: one row per rule, each a schema and the problems it
// must (or must not) give, and the texts of ids and names on their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schema/name_check.h"
#include "schema_test_util.h"

namespace morvane::test {
namespace {

struct NameCase {
    const char* label;
    const char* members;  // inside <Schema name="Rec" id="1">
    bool headerChecks;
    // The problems, as "!" (breaks the header) or "~" (reserved only) and
    // the text after "Error! "; empty: the schema is sound.
    std::vector<std::string> problems;
};

const NameCase kNameCases[] = {
    {"sound_schema", R"(<Template name="Point"><Item name="x"/><Item name="y"/></Template>
        <Enum name="Mode"><Item name="OFF" id="0"/><Item name="ON" id="1"/></Enum>
        <Item_enum name="mode" type="Mode"/><Structure name="pos" type="Point"/>
        <Structure name="own" type="Point"><Item name="z"/></Structure>)",
     true, {}},
    {"member_twice_in_the_record", R"(<Item name="a"/><Item name="a" type="char"/>)", false,
     {"!The member name \"a\" is used twice in the record \"Rec\""}},
    {"member_twice_in_a_template",
     R"(<Template name="T"><Item name="x"/><Item name="x"/></Template>)", false,
     {"!The member name \"x\" is used twice in the template \"T\""}},
    {"own_member_repeats_a_template_member",
     R"(<Template name="T"><Item name="x"/></Template>
        <Structure name="s" type="T"><Item name="x"/></Structure>)",
     false, {"!The member name \"x\" is used twice in the structure \"s\" of the record \"Rec\""}},
    {"text_members_only_in_a_comment", R"(<Item name="a" type="text"/><Item name="a"/>)", false,
     {"~The member name \"a\" is used twice in the record \"Rec\""}},
    {"enumerator_in_two_enumerations", R"(<Enum name="A"><Item name="OFF" id="0"/></Enum>
        <Enum name="B"><Item name="OFF" id="1"/></Enum>)",
     false, {"!The enumerator \"OFF\" of the enumeration \"B\" is also in the enumeration \"A\""}},
    {"enumeration_and_template_one_type",
     R"(<Enum name="Mode"><Item name="A" id="0"/></Enum>
        <Template name="MODE"><Item name="x"/></Template>)",
     false,
     {"!the enumeration \"Mode\" and the template \"MODE\" are both the type MODE in the header"}},
    {"template_is_the_record", R"(<Template name="rec"><Item name="x"/></Template>)", false,
     {"!the record \"Rec\" and the template \"rec\" are both the type REC in the header"}},
    {"own_member_structure_type_clashes_with_a_template",
     R"(<Template name="T"><Item name="x"/></Template><Template name="REC_S"><Item name="y"/></Template>
        <Structure name="s" type="T"><Item name="z"/></Structure>)",
     false,
     {"!the template \"REC_S\" and the structure \"s\" of the record \"Rec\" are both the type "
      "REC_S in the header"}},
    {"enumerator_is_a_type", R"(<Template name="Point"><Item name="x"/></Template>
        <Enum name="E"><Item name="POINT" id="0"/></Enum>)",
     false,
     {"!The enumerator \"POINT\" of the enumeration \"E\" is also the type name of the template "
      "\"Point\""}},
    {"macro_of_header_checks", R"(<Template name="Rec_Size"><Item name="x"/></Template>
        <Item name="REC_FINGERPRINT"/>)",
     true,
     {"!the macro REC_SIZE and the template \"Rec_Size\" are both the type REC_SIZE in the "
      "header",
      "!The name \"REC_FINGERPRINT\" of member 1 of the record \"Rec\" is also a macro of the "
      "header"}},
    {"assertion_macro_of_header_checks", R"(<Enum name="E"><Item name="REC_LAYOUT_ASSERT" id="0"/></Enum>)",
     true,
     {"!The name \"REC_LAYOUT_ASSERT\" of item 1 of the enumeration \"E\" is also a macro of the "
      "header",
      "!The enumerator \"REC_LAYOUT_ASSERT\" of the enumeration \"E\" is also the type name of "
      "the macro REC_LAYOUT_ASSERT"}},
    {"macros_only_with_header_checks", R"(<Template name="Rec_Size"><Item name="x"/></Template>)",
     false, {}},
    {"leading_digit", R"(<Item name="1x"/>)", false,
     {"!The name \"1x\" of member 1 of the record \"Rec\" is not a C identifier (letters, digits "
      "and _, not first a digit)"}},
    {"member_of_a_template_unchecked_no_more",
     R"(<Template name="T"><Item name="ok"/><Item name="a b"/></Template>)", false,
     {"!The name \"a b\" of member 2 of the template \"T\" is not a C identifier (letters, "
      "digits and _, not first a digit)"}},
    {"keyword", R"(<Item name="int"/><Enum name="E"><Item name="while" id="0"/></Enum>)", false,
     {"!The name \"while\" of item 1 of the enumeration \"E\" is a C keyword",
      "!The name \"int\" of member 1 of the record \"Rec\" is a C keyword"}},
    {"reserved_names", R"(<Item name="__x"/><Item name="_Y"/><Template name="_t"><Item name="x"/></Template>)",
     false,
     {"~the template \"_t\" gives the type name _T, which is reserved in C",
      "~The name \"__x\" of member 1 of the record \"Rec\" is reserved in C (two underscores, or "
      "an underscore and a capital, at its start)",
      "~The name \"_Y\" of member 2 of the record \"Rec\" is reserved in C (two underscores, or "
      "an underscore and a capital, at its start)"}},
};

class NameCheckTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameCheckTest, FindsEachProblem) {
    const NameCase& c = GetParam();
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(std::string("<Schema name=\"Rec\" id=\"1\">") + c.members +
                                   "</Schema>",
                               schema));
    std::vector<std::string> got;
    for (const NameProblem& p : CheckSchemaNames(schema, {c.headerChecks})) {
        ASSERT_EQ(p.text.rfind("Error! ", 0), 0u) << p.text;
        got.push_back((p.breaksHeader ? "!" : "~") + p.text.substr(7));
    }
    EXPECT_EQ(got, c.problems);
    // A load refuses exactly the schemas whose header would not compile.
    bool breaks = false;
    for (const std::string& p : c.problems) breaks = breaks || p[0] == '!';
    std::vector<SchemaDiagnostic> diagnostics;
    EXPECT_EQ(AcceptSchemaNames(schema, {c.headerChecks}, &diagnostics), !breaks);
    EXPECT_EQ(diagnostics.empty(), !breaks);
}

INSTANTIATE_TEST_SUITE_P(Rules, NameCheckTest, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.label); });

struct TextCase {
    const char* text;
    bool plainDecimal;
    bool identifier;
};

const TextCase kTextCases[] = {
    {"0", true, false},     {"7", true, false},      {"-12", true, false},
    {"", false, false},     {"-", false, false},     {"+5", false, false},
    {"007", false, false},  {"-0", false, false},    {"5x", false, false},
    {" 5", false, false},   {"x", false, true},      {"_x", false, true},
    {"x1_", false, true},   {"1x", false, false},    {"__x", false, false},
    {"_X", false, false},   {"int", false, false},   {"_Bool", false, false},
    {"a-b", false, false},  {"Int", false, true},
};

TEST(NameTextTest, IdsAndIdentifiers) {
    for (const TextCase& c : kTextCases) {
        EXPECT_EQ(IsPlainDecimal(c.text), c.plainDecimal) << '"' << c.text << '"';
        EXPECT_EQ(IsCIdentifier(c.text), c.identifier) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace morvane::test
