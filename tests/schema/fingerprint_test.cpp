// The layout fingerprint: a table of schema edits, each with whether the
// fingerprint must change.
#include <gtest/gtest.h>

#include <string>

#include "schema/fingerprint.h"
#include "schema_test_util.h"

namespace morvane {
namespace {

using test::LoadSchemaText;
using test::LogRecorder;

// A schema with every kind of layout member; each edit below replaces one
// piece of it. $ID, $TPL, $ENUM, $ITEMS, $MEMBERS and $TAIL are the places.
const char* const kBase =
    R"(<Schema name="$NAME" id="$ID"$ROOT>
   <Template name="$TPL"><Item name="x" type="int"/><Item name="y" type="$YTYPE"/></Template>
   <Enum name="$ENUM">$ITEMS</Enum>
   <!--$COMMENT-->
   $MEMBERS
   <Item_enum name="mode" type="$ENUM"/>
   <Structure name="pos" type="$TPL" nrepetitions="$POSREP"$POSVIS/>
   <Structure name="ext" type="$TPL"><Item name="tail" type="char"/></Structure>
   <Item name="notes" type="text"/>$TAIL
</Schema>)";

struct Edit {
    const char* what;
    const char* place;
    const char* text;
    bool changes;
};

const char* Default(const std::string& place) {
    if (place == "$NAME") return "Rec";
    if (place == "$ID") return "7";
    if (place == "$TPL") return "Point";
    if (place == "$ENUM") return "Mode";
    if (place == "$ITEMS") return R"(<Item name="OFF" id="0"/><Item name="ON" id="1"/>)";
    if (place == "$MEMBERS")
        return R"(<Item name="count" type="int"/><Item name="flags" type="char" nrepetitions="4"/>)";
    if (place == "$YTYPE") return "int";
    if (place == "$POSREP") return "2";
    if (place == "$COMMENT") return "two positions";
    return "";
}

std::string SchemaWith(const std::string& place, const std::string& text) {
    std::string xml = kBase;
    for (const char* p : {"$NAME", "$ID", "$ROOT", "$TPL", "$YTYPE", "$ENUM", "$ITEMS",
                          "$COMMENT", "$MEMBERS", "$POSREP", "$POSVIS", "$TAIL"}) {
        const std::string value = place == p ? text : Default(p);
        for (size_t at; (at = xml.find(p)) != std::string::npos;)
            xml.replace(at, std::string(p).size(), value);
    }
    return xml;
}

uint64_t FingerprintOf(const std::string& xml) {
    Schema schema;
    LogRecorder quiet(false);
    EXPECT_TRUE(LoadSchemaText(xml, schema)) << xml;
    return LayoutFingerprint(schema);
}

TEST(FingerprintTest, ChangesExactlyWhenALaidOutPropertyChanges) {
    const Edit edits[] = {
        // What a program reading the bytes relies on.
        {"member renamed", "$MEMBERS",
         R"(<Item name="total" type="int"/><Item name="flags" type="char" nrepetitions="4"/>)",
         true},
        {"member retyped, same size", "$MEMBERS",
         R"(<Item name="count" type="unsigned"/><Item name="flags" type="char" nrepetitions="4"/>)",
         true},
        {"members swapped", "$MEMBERS",
         R"(<Item name="flags" type="char" nrepetitions="4"/><Item name="count" type="int"/>)",
         true},
        {"repetitions changed", "$MEMBERS",
         R"(<Item name="count" type="int"/><Item name="flags" type="char" nrepetitions="5"/>)",
         true},
        {"member collapsed", "$MEMBERS",
         R"(<Item name="count" type="int"/><Item name="flags" type="char" nrepetitions="4" visibility="0"/>)",
         true},
        {"member added at the end", "$TAIL", R"(<Item name="z" type="char"/>)", true},
        {"text member added (no bytes)", "$TAIL", R"(<Item name="memo" type="text"/>)", true},
        {"template member retyped", "$YTYPE", "float", true},
        {"structure repetitions changed", "$POSREP", "3", true},
        {"structure collapsed", "$POSVIS", R"( visibility="0")", true},
        {"enumeration value changed", "$ITEMS", R"(<Item name="OFF" id="0"/><Item name="ON" id="2"/>)",
         true},
        {"enumeration item added", "$ITEMS",
         R"(<Item name="OFF" id="0"/><Item name="ON" id="1"/><Item name="AUTO" id="2"/>)", true},
        {"record repetitions changed", "$ROOT", R"( nrepetitions="2")", true},
        // What only names or documents it.
        {"schema renamed", "$NAME", "Record", false},
        {"schema id changed", "$ID", "8", false},
        {"template renamed", "$TPL", "Pt", false},
        {"enumeration renamed", "$ENUM", "Switch", false},
        {"enumerators renamed", "$ITEMS", R"(<Item name="AUS" id="0"/><Item name="EIN" id="1"/>)",
         false},
        {"comment changed", "$COMMENT", "where it was", false},
        {"attribute written out at its default", "$POSVIS", R"( visibility="1")", false},
    };
    const uint64_t base = FingerprintOf(SchemaWith("", ""));
    for (const Edit& e : edits) {
        const uint64_t edited = FingerprintOf(SchemaWith(e.place, e.text));
        EXPECT_EQ(edited != base, e.changes) << e.what;
    }
}

TEST(FingerprintTest, FixedValuesAndText) {
    // The definition does not depend on the machine or the run: these are
    // the values every build must give.
    Schema empty;
    EXPECT_EQ(FingerprintText(LayoutFingerprint(empty)), "0xfe9967af3609ebf9");
    EXPECT_EQ(FingerprintText(FingerprintOf(R"(<Schema name="A"><Item name="x"/></Schema>)")),
              "0x76e0bfe49df0d4d4");
    EXPECT_EQ(FingerprintText(0x00ab), "0x00000000000000ab");
}

}  // namespace
}  // namespace morvane
