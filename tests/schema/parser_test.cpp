// The parser and the layout rule: small schemas with the tree they must
// become, or the exact error lines they must log.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "logging/log.h"

#include "schema_test_util.h"

namespace morvane {
namespace {

using test::DescribeSchema;
using test::ErrorLines;
using test::LoadSchemaText;
using test::LogRecorder;
using Lines = std::vector<std::string>;

const std::string kLongName(52, 'n');
const std::string kFullWidthName(51, 'w');

// The schema of the worked example: PosRec, id 7.
const char* const kPosRec = R"(<?xml version="1.0"?>
<Schema name="PosRec" id="7">
   <Template name="Point">
      <Item name="x" type="int"/>
      <Item name="y" type="int"/>
   </Template>
   <Enum name="Mode">
      <Item name="OFF" id="0"/>
      <Item name="ON" id="1"/>
   </Enum>
   <Item name="count" type="int"/>
   <Item name="flags" type="char" nrepetitions="4"/>
   <Item_enum name="mode" type="Mode"/>
   <!--position, twice-->
   <Structure name="pos" type="Point" nrepetitions="2"/>
</Schema>
)";

struct LoadCase {
    const char* label;
    std::string xml;
    Lines tree;         // DescribeSchema() after a successful load
    Lines errors;       // non-empty: the load fails with exactly these error lines
    Lines alsoLogged{}; // lines that must be among the trace lines as well
};

std::ostream& operator<<(std::ostream& out, const LoadCase& c) { return out << c.label; }

class LoadSchemaTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadSchemaTest, BuildsTreeOrLogsErrors) {
    const LoadCase& c = GetParam();
    LogRecorder log;
    Schema schema;
    bool loaded = LoadSchemaText(c.xml, schema);
    EXPECT_EQ(ErrorLines(log), c.errors);
    if (c.errors.empty()) {
        ASSERT_TRUE(loaded);
        EXPECT_EQ(DescribeSchema(schema), c.tree);
    } else {
        EXPECT_FALSE(loaded);
        EXPECT_EQ(schema.root, nullptr);
        EXPECT_EQ(schema.Size(), 0);
    }
    for (const auto& line : c.alsoLogged) EXPECT_TRUE(log.Contains(line)) << line;

    // With diagnostics: the same log, and every logged error among them, in
    // order (the errors found past the first one of a structure are not
    // logged).
    const std::string logged = test::MaskIdentities(log.Text());
    log.Clear();
    Schema again;
    std::vector<SchemaDiagnostic> diagnostics;
    EXPECT_EQ(LoadSchemaText(c.xml, again, &diagnostics), loaded);
    EXPECT_EQ(test::MaskIdentities(log.Text()), logged);
    size_t next = 0;
    for (const SchemaDiagnostic& d : diagnostics) {
        if (next < c.errors.size() && d.text + "\n" == c.errors[next]) ++next;
    }
    EXPECT_EQ(next, c.errors.size()) << "logged errors missing from the diagnostics";
    EXPECT_EQ(diagnostics.empty(), c.errors.empty());
}

std::string Wrap(const std::string& members) {
    return "<Schema name=\"S\">" + members + "</Schema>";
}

const LoadCase kLayoutCases[] = {
    {"WorkedExample", kPosRec,
     {"schema PosRec id=7 size=28",
      "Root structure @0 0x1",
      "  PosRec structure @0 28x1",
      "    Point template @0 8x1",
      "      x int @0 4x1",
      "      y int @4 4x1",
      "    Mode enum {OFF=0,ON=1}",
      "    count int @0 4x1",
      "    flags char @4 1x4",
      "    mode item_enum @8 4x1 ref=Mode",
      "    pos structure @12 8x2 T=Point #position, twice",
      "      x int @0 4x1 #position, twice",
      "      y int @4 4x1 #position, twice"},
     {}},
    {"InstanceBetweenItems",
     Wrap(R"(<Template name="P"><Item name="x" type="int"/><Item name="y" type="double"/></Template>
             <Item name="a" type="int"/><Item name="b" type="char"/>
             <Structure name="s" type="P" nrepetitions="2"/><Item name="c" type="int"/>)"),
     {"schema S id=0 size=33", "Root structure @0 0x1", "  S structure @0 33x1",
      "    P template @0 12x1", "      x int @0 4x1", "      y double @4 8x1", "    a int @0 4x1",
      "    b char @4 1x1", "    s structure @5 12x2 T=P", "      x int @0 4x1",
      "      y double @4 8x1", "    c int @29 4x1"},
     {}},
    {"EveryPrimitiveTypePackedWithoutPadding",
     Wrap(R"(<Item name="c" type="char"/><Item name="i" type="INT"/><Item name="s" type="Int16"/>
             <Item name="l" type="int64"/><Item name="u" type="unsigned"/>
             <Item name="us" type="unsigned16"/><Item name="ul" type="UNSIGNED64"/>
             <Item name="f" type="float"/><Item name="d" type="Double"/>
             <Item name="t" type="text"/><Item name="b" type="bool"/>)"),
     {"schema S id=0 size=45", "Root structure @0 0x1", "  S structure @0 45x1", "    c char @0 1x1",
      "    i int @1 4x1", "    s int16 @5 2x1", "    l int64 @7 8x1", "    u unsigned @15 4x1",
      "    us unsigned16 @19 2x1", "    ul unsigned64 @21 8x1", "    f float @29 4x1",
      "    d double @33 8x1", "    t text @41 0x1", "    b bool @41 4x1"},
     {}},
    {"ItemWithoutTypeIsInt",
     Wrap(R"(<Item name="a"/><Item_enum name="e" type="int16"/>)"),
     {"schema S id=0 size=6", "Root structure @0 0x1", "  S structure @0 6x1", "    a int @0 4x1",
      "    e int16 @4 2x1"},
     {}},
    {"ItemOfEnumerationType",
     Wrap(R"(<Enum name="Mode"><Item name="A" id="1"/></Enum><Item name="m" type="Mode"/>
             <Item_enum name="n" type="Mode" nrepetitions="2"/>)"),
     {"schema S id=0 size=12", "Root structure @0 0x1", "  S structure @0 12x1",
      "    Mode enum {A=1}", "    m item_enum @0 4x1 ref=Mode", "    n item_enum @4 4x2 ref=Mode"},
     {}},
    {"EmptyRepetitionCountIsZeroOnItemOneOnStructure",
     Wrap(R"(<Template name="P"><Item name="x"/></Template><Item name="a" nrepetitions=""/>
             <Structure name="s" type="P" nrepetitions=""/><Item name="b"/>)"),
     {"schema S id=0 size=8", "Root structure @0 0x1", "  S structure @0 8x1",
      "    P template @0 4x1", "      x int @0 4x1", "    a int @0 4x0", "    s structure @0 4x1 T=P",
      "      x int @0 4x1", "    b int @4 4x1"},
     {}},
    {"RepetitionCountsReadLikeIntegers",
     Wrap(R"(<Item name="a" nrepetitions=" +2abc"/><Item name="b" nrepetitions="abc"/>
             <Item name="c" type="char" nrepetitions="0"/><Item name="d" type="char"/>)"),
     {"schema S id=0 size=9", "Root structure @0 0x1", "  S structure @0 9x1", "    a int @0 4x2",
      "    b int @8 4x0", "    c char @8 1x0", "    d char @8 1x1"},
     {}},
    {"VisibilityOfItemsStructuresAndRoot",
     R"(<Schema name="V" visibility="">
          <Template name="P"><Item name="x"/></Template>
          <Item name="two" visibility="2"/><Item name="empty" visibility=""/>
          <Item name="zero" visibility="0"/>
          <Structure name="s2" type="P" visibility="2"/><Structure name="se" type="P" visibility=""/>
          <Structure name="s1" type="P" visibility="1"/></Schema>)",
     {"schema V id=0 size=24", "Root structure @0 0x1 hidden", "  V structure @0 24x1",
      "    P template @0 4x1", "      x int @0 4x1", "    two int @0 4x1", "    empty int @4 4x1 hidden",
      "    zero int @8 4x1 hidden", "    s2 structure @12 4x1 hidden T=P", "      x int @0 4x1",
      "    se structure @16 4x1 T=P", "      x int @0 4x1", "    s1 structure @20 4x1 T=P",
      "      x int @0 4x1"},
     {}},
    {"RootAttributes",
     R"(<Record name="R" id="-5" nrepetitions="3" visibility="1"><Item name="a"/></Record>)",
     {"schema R id=-5 size=4", "Root structure @0 0x3", "  R structure @0 4x3", "    a int @0 4x1"},
     {}},
    {"EmptyRootAttributes",
     R"(<Schema name="R" id="" nrepetitions="" visibility="2"/>)",
     {"schema R id=0 size=0", "Root structure @0 0x1 hidden", "  R structure @0 0x1"},
     {}},
    {"TextItemTakesNoBytes",
     Wrap(R"(<Item name="a" type="char"/><Item name="t" type="TEXT" nrepetitions="5"/>
             <Item name="b" type="int"/>)"),
     {"schema S id=0 size=5", "Root structure @0 0x1", "  S structure @0 5x1", "    a char @0 1x1",
      "    t text @1 0x5", "    b int @1 4x1"},
     {}},
    {"TemplateEndingWithStructure",
     Wrap(R"(<Template name="P"><Item name="x"/><Item name="y" type="char"/></Template>
             <Template name="Q"><Item name="q"/><Structure name="p" type="P"/></Template>
             <Structure name="inst" type="Q" nrepetitions="2"/><Item name="after" type="char"/>)"),
     {"schema S id=0 size=19", "Root structure @0 0x1", "  S structure @0 19x1",
      "    P template @0 5x1", "      x int @0 4x1", "      y char @4 1x1", "    Q template @0 9x1",
      "      q int @0 4x1", "      p structure @4 5x1 T=P", "        x int @0 4x1",
      "        y char @4 1x1", "    inst structure @0 9x2 T=Q", "      q int @0 4x1",
      "      p structure @4 5x1", "        x int @0 4x1", "        y char @4 1x1",
      "    after char @18 1x1"},
     {}},
    {"RepeatedStructureInsideTemplate",
     Wrap(R"(<Template name="P"><Item name="x"/></Template>
             <Template name="Q"><Structure name="p" type="P" nrepetitions="3"/>
                                <Item name="z" type="char"/></Template>
             <Structure name="q" type="Q"/>)"),
     {"schema S id=0 size=13", "Root structure @0 0x1", "  S structure @0 13x1",
      "    P template @0 4x1", "      x int @0 4x1", "    Q template @0 13x1",
      "      p structure @0 4x3 T=P", "        x int @0 4x1", "      z char @12 1x1",
      "    q structure @0 13x1 T=Q", "      p structure @0 4x3", "        x int @0 4x1",
      "      z char @12 1x1"},
     {}},
    {"CommentAttachesToTheNextElementOnly",
     Wrap(R"(<!--for a--><Item name="a"/><!-- spaced  --><Item name="x"/><Item name="b"/>
             <!--one--><!--two--><Item name="c"/>)"),
     {"schema S id=0 size=16", "Root structure @0 0x1", "  S structure @0 16x1",
      "    a int @0 4x1 #for a", "    x int @4 4x1 # spaced  ", "    b int @8 4x1",
      "    c int @12 4x1 #two"},
     {},
     {"comment = for a\n", "comment =  spaced  \n"}},
    {"CopiesTakeTheCommentCurrentWhenCopied",
     // The copy of b follows the nested parse of A, whose last comment is
     // then the current one.
     Wrap(R"(<Template name="A"><!--ca--><Item name="a"/></Template>
             <Template name="B"><Structure name="sa" type="A"/><Item name="b"/></Template>
             <!--cb--><Structure name="sb" type="B"/>)"),
     {"schema S id=0 size=8", "Root structure @0 0x1", "  S structure @0 8x1",
      "    A template @0 4x1", "      a int @0 4x1 #ca", "    B template @0 8x1",
      "      sa structure @0 4x1 T=A", "        a int @0 4x1", "      b int @4 4x1",
      "    sb structure @0 8x1 T=B #cb", "      sa structure @0 4x1 #cb",
      "        a int @0 4x1 #ca", "      b int @4 4x1 #ca"},
     {}},
    {"StructureWithMembersOfItsOwn",
     // A nested instance keeps its own members when its template is copied,
     // so every instance of B has B's size.
     Wrap(R"(<Template name="P"><Item name="x"/></Template>
             <Structure name="s" type="P"><Item name="extra" type="char"/></Structure>
             <Template name="B"><Structure name="sp" type="P"><Item name="e" type="char"/></Structure>
                                <Item name="b"/></Template>
             <Structure name="sb" type="B"/>)"),
     {"schema S id=0 size=14", "Root structure @0 0x1", "  S structure @0 14x1",
      "    P template @0 4x1", "      x int @0 4x1", "    s structure @0 5x1 T=P", "      x int @0 4x1",
      "      extra char @4 1x1", "    B template @0 9x1", "      sp structure @0 5x1 T=P",
      "        x int @0 4x1", "        e char @4 1x1", "      b int @5 4x1",
      "    sb structure @5 9x1 T=B", "      sp structure @0 5x1", "        x int @0 4x1",
      "        e char @4 1x1", "      b int @5 4x1"},
     {}},
    {"InstanceMayHoldAnotherInstanceOfItsTemplate",
     Wrap(R"(<Template name="P"><Item name="x"/></Template>
             <Structure name="s" type="P"><Structure name="inner" type="P"/></Structure>)"),
     {"schema S id=0 size=8", "Root structure @0 0x1", "  S structure @0 8x1", "    P template @0 4x1",
      "      x int @0 4x1", "    s structure @0 8x1 T=P", "      x int @0 4x1",
      "      inner structure @4 4x1 T=P", "        x int @0 4x1"},
     {}},
    {"OnlyTemplatesAndEnumerations",
     Wrap(R"(<Template name="T"><Item name="x"/></Template><Enum name="M"/>)"),
     {"schema S id=0 size=0", "Root structure @0 0x1", "  S structure @0 0x1", "    T template @0 4x1",
      "      x int @0 4x1", "    M enum {}"},
     {}},
    {"NoMembers", R"(<Schema name="Empty"/>)",
     {"schema Empty id=0 size=0", "Root structure @0 0x1", "  Empty structure @0 0x1"},
     {}},
    {"SchemaNamedRoot", R"(<Schema name="Root" id="4"><Item name="a"/></Schema>)",
     {"schema Root id=4 size=4", "Root structure @0 0x1", "  Root structure @0 4x1",
      "    a int @0 4x1"},
     {}},
    {"EnumInsideTemplate",
     Wrap(R"(<Template name="Outer"><Enum name="E"><Item name="A" id="1"/></Enum>
               <Item_enum name="v" type="E"/><Item name="o" type="char"/></Template>
             <Structure name="s" type="Outer"/>)"),
     {"schema S id=0 size=5", "Root structure @0 0x1", "  S structure @0 5x1",
      "    Outer template @0 5x1", "      E enum {A=1}", "      v item_enum @0 4x1 ref=E",
      "      o char @4 1x1", "    s structure @0 5x1 T=Outer", "      E enum {A=1}",
      "      v item_enum @0 4x1 ref=E", "      o char @4 1x1"},
     {}},
    {"EnumInsideTemplateKeepsTopEnumerationsVisible",
     Wrap(R"(<Enum name="Mode"><Item name="OFF" id="0"/></Enum>
             <Template name="T"><Enum name="Inner"><Item name="X" id="1"/></Enum></Template>
             <Item_enum name="m" type="Mode"/><Item_enum name="i" type="Inner"/>)"),
     {"schema S id=0 size=8", "Root structure @0 0x1", "  S structure @0 8x1", "    Mode enum {OFF=0}",
      "    T template @0 0x1", "      Inner enum {X=1}", "    m item_enum @0 4x1 ref=Mode",
      "    i item_enum @4 4x1 ref=Inner"},
     {}},
    {"FirstTemplateOfANameWins",
     Wrap(R"(<Template name="P"><Item name="x"/></Template>
             <Template name="P"><Item name="c" type="char"/></Template>
             <Structure name="s" type="P"/>)"),
     {"schema S id=0 size=4", "Root structure @0 0x1", "  S structure @0 4x1", "    P template @0 4x1",
      "      x int @0 4x1", "    P template @0 1x1", "      c char @0 1x1",
      "    s structure @0 4x1 T=P", "      x int @0 4x1"},
     {}},
    {"ElementKindsInAnyLetterCase",
     Wrap(R"(<TEMPLATE name="P"><Item name="x"/></TEMPLATE><enum name="M"><Value name="A" id="-3"/>
             <Item name="B" id=" 7"/></enum><structure name="s" type="P"/>)"),
     {"schema S id=0 size=4", "Root structure @0 0x1", "  S structure @0 4x1", "    P template @0 4x1",
      "      x int @0 4x1", "    M enum {A=-3,B=7}", "    s structure @0 4x1 T=P",
      "      x int @0 4x1"},
     {}},
    {"NamesAtFullWidth",
     "<Schema name=\"" + kFullWidthName + "\"><Item name=\"" + kFullWidthName + "\"/></Schema>",
     {"schema " + kFullWidthName + " id=0 size=4", "Root structure @0 0x1",
      "  " + kFullWidthName + " structure @0 4x1", "    " + kFullWidthName + " int @0 4x1"},
     {}},
    // A template is not part of the record: only its size limits it.
    {"LargestTemplate",
     Wrap(R"(<Template name="P"><Item name="a" nrepetitions="536870911"/>
             <Item name="b" type="char" nrepetitions="3"/>
             <Item name="t" type="text" nrepetitions="2147483647"/></Template>)"),
     {"schema S id=0 size=0", "Root structure @0 0x1", "  S structure @0 0x1",
      "    P template @0 2147483647x1", "      a int @0 4x536870911", "      b char @2147483644 1x3",
      "      t text @2147483647 0x2147483647"},
     {}},
    // 1048575 structures of one field each and two text fields.
    {"FieldsAtTheLimit",
     Wrap(R"(<Template name="P"><Item name="x" type="char"/></Template>
             <Structure name="s" type="P" nrepetitions="1048575"/>
             <Item name="t" type="text" nrepetitions="2"/>)"),
     {"schema S id=0 size=1048575", "Root structure @0 0x1", "  S structure @0 1048575x1",
      "    P template @0 1x1", "      x char @0 1x1", "    s structure @0 1x1048575 T=P",
      "      x char @0 1x1", "    t text @1048575 0x2"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Layout, LoadSchemaTest, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.label); });

// A chain of templates, each holding one instance of the one before:
// chain(n) nests n + 1 structure levels below the top structure. With
// repetitions 10, each instance is ten: 10^n fields from a few hundred
// bytes of schema.
std::string TemplateChain(int n, int repetitions = 1) {
    const std::string count = " nrepetitions=\"" + std::to_string(repetitions) + "\"";
    std::string xml = "<Schema name=\"Chain\"><Template name=\"T0\"><Item name=\"x\"/></Template>";
    for (int i = 1; i <= n; ++i) {
        xml += "<Template name=\"T" + std::to_string(i) + "\"><Structure name=\"s\" type=\"T" +
               std::to_string(i - 1) + "\"" + count + "/></Template>";
    }
    return xml + "<Structure name=\"top\" type=\"T" + std::to_string(n) + "\"/></Schema>";
}

const LoadCase kErrorCases[] = {
    {"RootWithoutName", R"(<Schema id="1"><Item name="a"/></Schema>)", {},
     {"Error  Root Element struct_name is absent\n"}},
    {"TemplateUsedBeforeItsDeclaration",
     Wrap(R"(<Structure name="s" type="P"/><Template name="P"><Item name="x"/></Template>)"), {},
     {"Error!!! Type name [P] is wrong\n"}},
    {"TemplateNameIsCaseSensitive",
     Wrap(R"(<Template name="P"><Item name="x"/></Template><Structure name="s" type="p"/>)"), {},
     {"Error!!! Type name [p] is wrong\n"}},
    {"EnumerationNameIsCaseSensitive",
     Wrap(R"(<Enum name="Mode"><Item name="A" id="1"/></Enum><Item name="m" type="mode"/>)"), {},
     {"Error! name=\"m\" enum type \"mode\" is wrong\n"}},
    {"EnumerationFromAnotherPlaceInTheFile",
     Wrap(R"(<Item name="m" type="Later"/><Enum name="Later"><Item name="A" id="1"/></Enum>)"), {},
     {"Error! name=\"m\" enum type \"Later\" is wrong\n"}},
    {"ItemEnumWithoutType", Wrap(R"(<Item_enum name="e"/>)"), {},
     {"Error! name=\"e\" type is absent\n"}},
    {"ItemWithoutName", Wrap(R"(<Item type="int"/>)"), {}, {"Error! elem_xml=\"Item\" name is absent\n"}},
    {"ItemEnumWithoutName", Wrap(R"(<Item_enum type="int"/>)"), {},
     {"Error! elem_xml=\"Item_enum\" name is absent\n"}},
    {"StructureWithoutName", Wrap(R"(<Template name="P"/><Structure type="P"/>)"), {},
     {"Error! attribute \"name\" is absent\n"}},
    {"StructureWithoutType", Wrap(R"(<Structure name="s"/>)"), {},
     {"Error! attribute \"type\" is absent\n"}},
    {"BrokenEnumDoesNotEndTheMembers",
     Wrap(R"(<Enum><Item name="A" id="1"/></Enum><Item name="b" type="bogus"/>)"), {},
     {"Error! attribute \"name\" is absent\n", "Error! name=\"b\" enum type \"bogus\" is wrong\n"}},
    {"EnumItemWithoutIdKeepsTheItemsBefore",
     Wrap(R"(<Enum name="E"><Item name="A" id="1"/><Item name="B"/><Item name="C" id="3"/></Enum>
             <Item_enum name="e" type="E"/>)"),
     {},
     {"Error! attribute \"id\" is absent\n"},
     {"Enum name=E 1  A\n", "---e  name=S  offset_elem=0 size=0  units.size()=2\n"}},
    {"EnumItemWithoutName", Wrap(R"(<Enum name="E"><Item id="1"/></Enum>)"), {},
     {"Error! attribute \"name\" is absent\n"}},
    {"TemplateWithoutNameEndsTheMembers",
     Wrap(R"(<Template><Item name="x"/></Template><Item name="b" type="bogus"/>)"), {},
     {"Error! attribute \"name\" is absent\n"}},
    {"BrokenTemplateBodyDoesNotEndTheMembers",
     Wrap(R"(<Template name="T"><Item type="int"/><Item name="skipped" type="bogus"/></Template>
             <Item name="b" type="bogus"/>)"),
     {},
     {"Error! elem_xml=\"Item\" name is absent\n", "Error! name=\"b\" enum type \"bogus\" is wrong\n"}},
    {"BrokenInstanceEndsTheMembers",
     Wrap(R"(<Template name="T"><Item name="x"/></Template>
             <Structure name="s" type="T"><Item name="a" type="bad1"/></Structure>
             <Item name="b" type="bad2"/>)"),
     {},
     {"Error! name=\"a\" enum type \"bad1\" is wrong\n"}},
    // Names wider than the model holds.
    {"LongSchemaName", "<Schema name=\"" + kLongName + "\"><Item name=\"a\"/></Schema>", {},
     {"Error! Schema name=\"" + kLongName + "\" is longer than 51 characters\n"}},
    {"LongItemName", Wrap("<Item name=\"" + kLongName + "\"/>"), {},
     {"Error! Item name=\"" + kLongName + "\" is longer than 51 characters\n"}},
    {"LongItemEnumName", Wrap("<Item_enum name=\"" + kLongName + "\" type=\"int\"/>"), {},
     {"Error! Item_enum name=\"" + kLongName + "\" is longer than 51 characters\n"}},
    {"LongStructureName",
     Wrap("<Template name=\"P\"/><Structure name=\"" + kLongName + "\" type=\"P\"/>"), {},
     {"Error! Structure name=\"" + kLongName + "\" is longer than 51 characters\n"}},
    {"LongTemplateName", Wrap("<Template name=\"" + kLongName + "\"/>"), {},
     {"Error! Template name=\"" + kLongName + "\" is longer than 51 characters\n"}},
    {"LongEnumName", Wrap("<Enum name=\"" + kLongName + "\"/>"), {},
     {"Error! Enum name=\"" + kLongName + "\" is longer than 51 characters\n"}},
    {"LongEnumItemName",
     Wrap("<Enum name=\"E\"><Value name=\"" + kLongName + "\" id=\"1\"/></Enum>"), {},
     {"Error! Value name=\"" + kLongName + "\" is longer than 51 characters\n"}},
    // Templates that would contain themselves.
    {"TemplateContainingItself",
     Wrap(R"(<Template name="T"><Item name="a"/><Structure name="again" type="T"/></Template>)"), {},
     {"Error! Template [T] contains itself through Structure name=\"again\"\n"}},
    {"TemplateContainingItselfInANestedInstance",
     Wrap(R"(<Template name="U"><Item name="u"/></Template>
             <Template name="T"><Structure name="su" type="U">
                <Structure name="back" type="T"/></Structure></Template>)"),
     {},
     {"Error! Template [T] contains itself through Structure name=\"back\"\n"}},
    // Templates belong to the root element.
    {"TemplateInsideTemplate",
     Wrap(R"(<Template name="T"><Item name="a"/><Template name="Inner"><Item name="i"/></Template>
             </Template><Structure name="s" type="T"/>)"),
     {},
     {"Error! Template name=\"Inner\" is inside Template name=\"T\"\n"}},
    {"TemplateInsideStructure",
     Wrap(R"(<Template name="T"/><Structure name="s" type="T"><Template name="U"/></Structure>)"),
     {},
     {"Error! Template name=\"U\" is inside Structure name=\"s\"\n"}},
    {"TemplatesContainingEachOther",
     // U cannot find T when it is declared, but an instance of T builds U's
     // members again once T exists: that must stop, not recurse for ever.
     Wrap(R"(<Template name="U"><Structure name="z" type="T"/></Template>
             <Template name="T"><Structure name="u" type="U"/></Template>
             <Structure name="top" type="T"/>)"),
     {},
     {"Error!!! Type name [T] is wrong\n",
      "Error! Template [T] contains itself through Structure name=\"z\"\n"}},
    // Counts and sizes outside the 32-bit range.
    {"NegativeItemCount", Wrap(R"(<Item name="a" nrepetitions="-1"/>)"), {},
     {"Error! Item name=\"a\" nrepetitions=\"-1\" is out of range\n"}},
    {"NegativeStructureCount",
     Wrap(R"(<Template name="P"><Item name="x"/></Template><Structure name="s" type="P" nrepetitions=" -2"/>)"),
     {},
     {"Error! Structure name=\"s\" nrepetitions=\" -2\" is out of range\n"}},
    {"NegativeRootCount", R"(<Schema name="S" nrepetitions="-1"><Item name="a"/></Schema>)", {},
     {"Error! Schema name=\"S\" nrepetitions=\"-1\" is out of range\n"}},
    {"CountBeyond32Bits", Wrap(R"(<Item name="a" type="text" nrepetitions="2147483648"/>)"), {},
     {"Error! Item name=\"a\" nrepetitions=\"2147483648\" is out of range\n"}},
    {"HugeCount", Wrap(R"(<Item name="a" nrepetitions="99999999999999999999999999"/>)"), {},
     {"Error! Item name=\"a\" nrepetitions=\"99999999999999999999999999\" is out of range\n"}},
    {"RootIdBeyond32Bits", R"(<Schema name="S" id="2147483648"/>)", {},
     {"Error! Schema name=\"S\" id=\"2147483648\" is out of range\n"}},
    {"EnumItemIdBeyond32Bits", Wrap(R"(<Enum name="E"><Item name="A" id="-2147483649"/></Enum>)"), {},
     {"Error! Item name=\"A\" id=\"-2147483649\" is out of range\n"}},
    {"ItemBeyond32BitSize", Wrap(R"(<Item name="a" nrepetitions="536870912"/>)"), {},
     {"Error! name=\"S\" is larger than 2147483647 bytes\n"}},
    {"ItemsAddingUpBeyond32BitSize",
     Wrap(R"(<Template name="P"><Item name="a" type="char" nrepetitions="1073741824"/>
             <Item name="b" type="char" nrepetitions="1073741824"/></Template>)"),
     {},
     {"Error! name=\"P\" is larger than 2147483647 bytes\n"}},
    // Records of more fields than the data files are to hold.
    {"FieldsBeyondTheLimit",
     Wrap(R"(<Template name="P"><Item name="x" type="char"/></Template>
             <Structure name="s" type="P" nrepetitions="1048575"/>
             <Item name="t" type="text" nrepetitions="3"/><Item name="after" type="bad"/>)"),
     {},
     {"Error! schema [S] expands to more than 2097152 fields\n"}},
    {"RepetitionsOfAnEmptyStructureAreFields",
     Wrap(R"(<Template name="E"/><Structure name="s" type="E" nrepetitions="2097153"/>)"), {},
     {"Error! schema [S] expands to more than 2097152 fields\n"}},
    {"EightNestedTemplatesOfTen", TemplateChain(8, 10), {},
     {"Error! schema [Chain] expands to more than 2097152 fields\n"}},
    // Names that cannot be written into XML or that name a file elsewhere.
    {"SchemaNameWithASlash", R"(<Schema name="../../../x"/>)", {},
     {"Error! Schema name=\"../../../x\" is not a plain file name\n"}},
    {"SchemaNameWithABackslash", R"(<Schema name="a\b"/>)", {},
     {"Error! Schema name=\"a\\b\" is not a plain file name\n"}},
    {"SchemaNameBeginningWithADot", R"(<Record name=".hidden"/>)", {},
     {"Error! Record name=\".hidden\" is not a plain file name\n"}},
    {"SchemaNameWithAControlCharacter", "<Schema name=\"a&#9;b\"/>", {},
     {"Error! Schema name=\"a?b\" holds character 0x09, which XML cannot carry\n"}},
    {"SchemaNameWithAnAmpersand", R"(<Schema name="a&amp;b"/>)", {},
     {"Error! Schema name=\"a&b\" holds character 0x26, which XML cannot carry\n"}},
    {"TemplateNameWithALessThan", Wrap(R"(<Template name="a&lt;b"/>)"), {},
     {"Error! Template name=\"a<b\" holds character 0x3C, which XML cannot carry\n"}},
    {"EnumNameWithAGreaterThan", Wrap(R"(<Enum name="a&gt;"/>)"), {},
     {"Error! Enum name=\"a>\" holds character 0x3E, which XML cannot carry\n"}},
    {"EnumItemNameWithAQuote", Wrap(R"(<Enum name="E"><Item name="a&quot;" id="1"/></Enum>)"), {},
     {"Error! Item name=\"a\"\" holds character 0x22, which XML cannot carry\n"}},
    {"MemberNameWithAnApostrophe", Wrap(R"(<Item name="it's"/>)"), {},
     {"Error! Item name=\"it's\" holds character 0x27, which XML cannot carry\n"}},
    {"StructureNameWithANewLine",
     Wrap(R"(<Template name="P"/><Structure name="a&#10;b" type="P"/>)"), {},
     {"Error! Structure name=\"a?b\" holds character 0x0A, which XML cannot carry\n"}},
    {"InstancesBeyond32BitSize",
     Wrap(R"(<Template name="P"><Item name="x" type="double"/></Template>
             <Structure name="s" type="P" nrepetitions="268435456"/>)"),
     {},
     {"Error! name=\"S\" is larger than 2147483647 bytes\n"}},
    {"TemplateBeyond32BitSize",
     Wrap(R"(<Template name="P"><Item name="x" type="int16" nrepetitions="1073741824"/></Template>)"),
     {},
     {"Error! name=\"P\" is larger than 2147483647 bytes\n"}},
    // Member elements of no known kind.
    {"UnknownMemberElement", Wrap(R"(<Field name="f" type="int"/>)"), {},
     {"Error! elem_xml=\"Field\" is none of Structure, Template, Enum, Item, Item_enum\n"}},
    {"ItemElementNameIsCaseSensitive", Wrap(R"(<item name="f"/>)"), {},
     {"Error! elem_xml=\"item\" is none of Structure, Template, Enum, Item, Item_enum\n"}},
    {"TypeNameAsElementName", Wrap(R"(<Template name="T"><int name="f"/></Template>)"), {},
     {"Error! elem_xml=\"int\" is none of Structure, Template, Enum, Item, Item_enum\n"}},
};

INSTANTIATE_TEST_SUITE_P(Errors, LoadSchemaTest, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return std::string(info.param.label); });

// "LINE:COLUMN" of offset in the file at path, or "none" when refused.
std::string LineColumn(const std::string& path, std::ptrdiff_t offset) {
    int line = 0;
    int column = 0;
    if (!LineColumnAt(path.c_str(), offset, line, column)) return "none";
    return std::to_string(line) + ":" + std::to_string(column);
}

// Diagnostics of a schema file: each error's line and column in the file
// and its text, as "LINE:COLUMN: TEXT". An element's position is that of
// its name, as pugixml reports it.
TEST(SchemaDiagnosticTest, GivesLineColumnAndText) {
    const struct {
        std::string xml;
        Lines expected;
    } cases[] = {
        {"<Schema name=\"S\">\n  <Item name=\"a\">\n</Schema>\n", {"3:3: Start-end tags mismatch"}},
        // The first error ends the members as far as the log goes; the
        // ones after it are still found.
        {"<Schema name=\"S\">\r\n <Item name=\"a\" type=\"bad1\"/>\r\n"
         " <Item name=\"b\"/>  <Item name=\"c\" type=\"bad2\"/>\r\n</Schema>\r\n",
         {"2:3: Error! name=\"a\" enum type \"bad1\" is wrong",
          "3:21: Error! name=\"c\" enum type \"bad2\" is wrong"}},
        // Errors inside an instance and after it.
        {"<Schema name=\"S\"><Template name=\"T\"/>\n<Structure name=\"s\" type=\"T\">\n"
         "\t<Item/><Item name=\"x\" nrepetitions=\"-1\"/>\n"
         "</Structure><Enum><Item name=\"A\"/></Enum>\n</Schema>",
         {"3:3: Error! elem_xml=\"Item\" name is absent",
          "3:10: Error! Item name=\"x\" nrepetitions=\"-1\" is out of range",
          "4:14: Error! attribute \"name\" is absent"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        LogRecorder log;
        test::TempDir dir;
        const std::string path = dir / "S.xsd";
        test::WriteFile(path, c.xml);
        pugi::xml_document doc;
        std::string error;
        std::ptrdiff_t offset = -2;
        std::vector<SchemaDiagnostic> diagnostics;
        if (!LoadXmlDocument(path.c_str(), doc, error, &offset)) {
            diagnostics.push_back(SchemaDiagnostic{offset, error});
        } else {
            Schema schema;
            EXPECT_FALSE(LoadSchema(schema, doc, &diagnostics));
        }
        Lines got;
        for (const SchemaDiagnostic& d : diagnostics)
            got.push_back(LineColumn(path, d.offset) + ": " + d.text);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(LineColumnAtTest, RefusesOffsetsOutsideTheFile) {
    test::TempDir dir;
    const std::string path = dir / "f.xml";
    test::WriteFile(path, "ab\ncd");
    EXPECT_EQ(LineColumn(path, 5), "2:3");  // the end of the file
    EXPECT_EQ(LineColumn(path, 6), "none");
    EXPECT_EQ(LineColumn(path, -1), "none");
    EXPECT_EQ(LineColumn(dir / "missing.xml", 0), "none");
}

class ParserTest : public ::testing::Test {
  protected:
    LogRecorder log_;
};

TEST_F(ParserTest, WorkedExampleLinksAndRepetitions) {
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(kPosRec, schema));
    EXPECT_EQ(schema.Size(), 28);
    CStructure* top = schema.Top();
    ASSERT_NE(top, nullptr);
    ASSERT_EQ(top->units.size(), 6u);
    const Unit& mode = *top->units[4];
    const Unit& pos = *top->units[5];
    EXPECT_EQ(mode.ref, top->units[1]->AsEnum());
    EXPECT_EQ(pos.offset + 1 * pos.size, 20);  // the second repetition
    EXPECT_EQ(FindTemplate(schema, "Point"), top->units[0]->AsStructure());
    EXPECT_EQ(FindTemplate(schema, "point"), nullptr);
    EXPECT_EQ(FindTemplate(schema, "pos"), nullptr);
    // Every structure knows its schema and its parent.
    EXPECT_EQ(top->schema, &schema);
    EXPECT_EQ(pos.AsStructure()->parent, top);
    EXPECT_EQ(pos.AsStructure()->schema, &schema);
    EXPECT_TRUE(schema.IsRoot(schema.root.get()));
    EXPECT_FALSE(schema.IsRoot(top));
}

TEST_F(ParserTest, TraceOfTheWorkedExample) {
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(kPosRec, schema));
    const char* const expected =
        "Schema name=PosRec id=7 nrepetitions=1 visibility=1\n"
        "ENTRY AddStructure   this=0xID [PosRec] xml=0xID\n"
        "E_TEMPLATE Template name=\"Point\" elem=0xID pstructure=0ID\n"
        "ENTRY AddStructure   this=0xID [Point] xml=0xID\n"
        "---x  name=Point  offset_elem=0 size=0  units.size()=1\n"
        "---y  name=Point  offset_elem=4 size=4  units.size()=2\n"
        "Enum name=Mode 0  OFF\n"
        "Enum name=Mode 1  ON\n"
        "---count  name=PosRec  offset_elem=0 size=0  units.size()=3\n"
        "---flags  name=PosRec  offset_elem=4 size=4  units.size()=4\n"
        "---mode  name=PosRec  offset_elem=8 size=8  units.size()=5\n"
        "comment = position, twice\n"
        "E_STRUCTURE Structure name=\"pos\" elem=0xID\n"
        "O-T-H-E-R   Structure elem=0xID\n"
        "new CStructure  pstructure=0xID Structure name=pos type=Point nrepetitions=2 visibility=1\n"
        "     0 Added pelem3=0xID x from template=Point size=8\n"
        "     1 Added pelem3=0xID y from template=Point size=8\n"
        "     unit.size()=6 [PosRec]\n"
        "ENTRY AddStructure   this=0xID [pos] xml=0xID\n";
    EXPECT_EQ(test::MaskIdentities(log_.Text()), expected);
    EXPECT_EQ(log_.lines().size(), 1u);  // the whole trace in one call
}

// A long trace goes out in a few calls of whole lines, in order, each one
// before the load returns; so does the trace of a failed load.
TEST_F(ParserTest, LongTraceIsLoggedInBatchesOfWholeLines) {
    const std::string xml = test::ManyMembers(3000);
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(xml + "</Schema>", schema));
    test::ExpectBatchesOfWholeLines(log_, 10);
    const Lines lines = test::SplitLines(log_.Text());
    ASSERT_EQ(lines.size(), 3002u);
    EXPECT_EQ(lines[3001], "---f2999  name=Big  offset_elem=11996 size=11996  units.size()=3000\n");

    log_.Clear();
    EXPECT_FALSE(LoadSchemaText(xml + "<Item name=\"bad\" type=\"Nowhere\"/></Schema>", schema));
    const Lines failed = test::SplitLines(log_.Text());
    ASSERT_EQ(failed.size(), 3003u);
    EXPECT_EQ(failed.back(), "Error! name=\"bad\" enum type \"Nowhere\" is wrong\n");
    test::ExpectBatchesOfWholeLines(log_, 10);
}

TEST_F(ParserTest, TraceOfACopiedNestedInstance) {
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(Wrap(R"(<Template name="A"><Item name="a" type="char"/></Template>
        <Template name="B"><Item name="b"/><Structure name="sa" type="A" visibility="0"/></Template>
        <Structure name="sb" type="B"/>)"),
                               schema));
    const std::string text = test::MaskIdentities(log_.Text());
    const std::string tail =
        "new CStructure  pstructure=0xID Structure name=sb type=B nrepetitions=1 visibility=1\n"
        "     0 Added pelem3=0xID b from template=B size=5\n"
        "     1 Added pstructure3=0xID  to pstructure=0xID sa type=B size=0 elem=0xID\n"
        "ENTRY AddStructure   this=0xID [sa] xml=0xID\n"
        "---a  name=sa  offset_elem=0 size=0  units.size()=1\n"
        "     unit.size()=3 [S]\n"
        "ENTRY AddStructure   this=0xID [sb] xml=0xID\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    const CStructure* a = FindTemplate(schema, "A");
    const CStructure* copy = schema.Top()->units[2]->AsStructure()->units[1]->AsStructure();
    EXPECT_EQ(copy->nrepetitions, 1);
    EXPECT_FALSE(copy->visibility);
    EXPECT_TRUE(copy->templateName.empty());
    EXPECT_EQ(copy->units.size(), a->units.size());
}

TEST_F(ParserTest, SchemaNamedRootIsNotTakenForTheRoot) {
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(R"(<Schema name="Root"><Item name="a"/></Schema>)", schema));
    EXPECT_EQ(schema.Top()->name, "Root");
    EXPECT_FALSE(schema.IsRoot(schema.Top()));
    EXPECT_TRUE(schema.IsRoot(schema.root.get()));
}

TEST_F(ParserTest, RootWithoutNameReadsNoMembers) {
    Schema schema;
    EXPECT_FALSE(LoadSchemaText(R"(<Schema id="3"><Template name="T"/><Item name="a"/></Schema>)", schema));
    EXPECT_EQ(log_.lines(), Lines{"Error  Root Element struct_name is absent\n"});
}

TEST_F(ParserTest, DocumentWithoutElement) {
    pugi::xml_document doc;
    doc.append_child(pugi::node_comment).set_value("nothing else");
    Schema schema;
    EXPECT_FALSE(LoadSchema(schema, doc));
    EXPECT_EQ(log_.lines(), Lines{"Error  during reading  Root Element\n"});
    EXPECT_EQ(schema.Top(), nullptr);
}

TEST_F(ParserTest, FailedLoadReplacesAnEarlierTree) {
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(kPosRec, schema));
    EXPECT_FALSE(LoadSchemaText(Wrap(R"(<Item name="a" type="nope"/>)"), schema));
    EXPECT_EQ(schema.Top(), nullptr);
    EXPECT_EQ(schema.Size(), 0);
    EXPECT_EQ(FindTemplate(schema, "Point"), nullptr);
}

TEST_F(ParserTest, EnumerationsResolveWithinTheirOwnSchema) {
    Schema first;
    ASSERT_TRUE(LoadSchemaText(Wrap(R"(<Enum name="Mode"><Item name="A" id="1"/></Enum>)"), first));
    Schema second;
    EXPECT_FALSE(LoadSchemaText(Wrap(R"(<Item_enum name="m" type="Mode"/>)"), second));
    EXPECT_EQ(ErrorLines(log_), Lines{"Error! name=\"m\" enum type \"Mode\" is wrong\n"});
}

TEST_F(ParserTest, TraceOffLeavesNoLineEvenForErrors) {
    LogRecorder quiet(false);
    Schema schema;
    EXPECT_FALSE(LoadSchemaText(Wrap(R"(<Item name="a" type="nope"/>)"), schema));
    EXPECT_TRUE(quiet.lines().empty());
}

TEST_F(ParserTest, ItemNameOfValueTakesTheFirstMatch) {
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(
        Wrap(R"(<Enum name="E"><Item name="A" id="5"/><Item name="B" id="-1"/><Item name="C" id="5"/></Enum>)"),
        schema));
    const EnumUnit* e = schema.Top()->units[0]->AsEnum();
    ASSERT_NE(e, nullptr);
    std::string name = "stale";
    EXPECT_TRUE(e->ItemNameOfValue(5, name));
    EXPECT_EQ(name, "A");
    EXPECT_TRUE(e->ItemNameOfValue(-1, name));
    EXPECT_EQ(name, "B");
    EXPECT_FALSE(e->ItemNameOfValue(4, name));
    EXPECT_EQ(name, "");
}

TEST_F(ParserTest, DeepTemplateChainWithinTheLimitLoads) {
    Schema schema;
    ASSERT_TRUE(LoadSchemaText(TemplateChain(kMaxNestingDepth - 2), schema));
    EXPECT_EQ(schema.Size(), 4);
    int levels = 1;
    for (const CStructure* s = schema.Top(); !s->units.empty(); s = s->units.back()->AsStructure()) {
        if (s->units.back()->AsStructure() == nullptr) break;
        ++levels;
    }
    EXPECT_EQ(levels, kMaxNestingDepth);
}

TEST_F(ParserTest, TemplateChainBeyondTheLimitFails) {
    Schema schema;
    EXPECT_FALSE(LoadSchemaText(TemplateChain(kMaxNestingDepth + 40), schema));
    EXPECT_EQ(ErrorLines(log_), Lines{"Error! name=\"s\" nests structures deeper than 256 levels\n"});
}

TEST_F(ParserTest, DeeplyNestedElementsFailWithoutExhaustingTheStack) {
    // LoadXmlDocument() refuses such a file; LoadSchema() must stay safe on
    // a document built any other way.
    std::string xml = "<Schema name=\"Deep\"><Template name=\"P\"/>";
    const int kLevels = 100000;
    for (int i = 0; i < kLevels; ++i) xml += "<Structure name=\"s\" type=\"P\">";
    for (int i = 0; i < kLevels; ++i) xml += "</Structure>";
    xml += "</Schema>";
    Schema schema;
    EXPECT_FALSE(LoadSchemaText(xml, schema));
    EXPECT_EQ(ErrorLines(log_), Lines{"Error! name=\"s\" nests structures deeper than 256 levels\n"});
}

// Binds the main log for its life to a recorder that keeps error lines
// only: an expansion to millions of units writes millions of trace lines,
// which are not the point here.
class ErrorOnlyLog {
  public:
    ErrorOnlyLog() { BindLog(this, &ErrorOnlyLog::Record, true); }
    ~ErrorOnlyLog() { BindLog(nullptr, nullptr, false); }
    ErrorOnlyLog(const ErrorOnlyLog&) = delete;
    ErrorOnlyLog& operator=(const ErrorOnlyLog&) = delete;
    Lines lines;

  private:
    // LogLine() hands every line over as "%s" and the formatted text.
    static int Record(void* handle, bool enable, const char* format, ...) {
        va_list args;
        va_start(args, format);
        const char* text = va_arg(args, const char*);
        va_end(args);
        if (!enable || std::strcmp(format, "%s") != 0) return 0;
        for (const std::string& line : test::SplitLines(text)) {
            if (line.rfind("Error", 0) == 0) static_cast<ErrorOnlyLog*>(handle)->lines.push_back(line);
        }
        return 0;
    }
};

TEST(ParserLimitTest, ExpansionBeyondTheUnitLimitFails) {
    // L2 would hold 128 * 128 * 128 units and more.
    std::string xml = "<Schema name=\"Big\"><Template name=\"L0\">";
    for (int i = 0; i < 128; ++i) xml += "<Item name=\"i\" type=\"text\"/>";
    xml += "</Template>";
    for (int level = 1; level <= 2; ++level) {
        xml += "<Template name=\"L" + std::to_string(level) + "\">";
        for (int i = 0; i < 128; ++i) {
            xml += "<Structure name=\"s\" type=\"L" + std::to_string(level - 1) + "\"/>";
        }
        xml += "</Template>";
    }
    xml += "<Item name=\"after\"/></Schema>";
    ErrorOnlyLog errors;
    Schema schema;
    EXPECT_FALSE(LoadSchemaText(xml, schema));
    EXPECT_EQ(schema.root, nullptr);
    EXPECT_EQ(errors.lines, Lines{"Error! schema [Big] expands to more than 2097152 units\n"});
}

}  // namespace
}  // namespace morvane
