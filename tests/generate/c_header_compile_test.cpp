// The generated headers compiled by the system C compiler: every typedef
// struct must have the size, and every member the offset and size, that the
// layout computed for the packed record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "generate/generators.h"
#include "schema/schema.h"
#include "support/test_support.h"
#include "test_schemas.h"

namespace morvane {
namespace {

using test::LoadTestSchema;
using test::TempDir;

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A structure member declared with members besides its template's.
bool HasMembersOfItsOwn(const Schema& schema, const CStructure& s) {
    const CStructure* t = s.templateName.empty() ? nullptr : FindTemplate(schema, s.templateName);
    return t != nullptr && s.units.size() > t->units.size();
}

// A template's or the record's typedef name, or OWNER_MEMBER for a
// structure member with members of its own.
std::string TypeName(const CStructure& s) {
    if (s.type == kTypeTemplate || s.parent == nullptr) return Upper(s.name);
    return TypeName(*s.parent) + "_" + Upper(s.name);
}

// _Static_assert lines for one typedef struct and its layout members, then
// for the own types of those members declared in it. A text member is only
// a comment line: the members after it assert that it takes no bytes.
void AssertStruct(const Schema& schema, const CStructure& s, std::string& out) {
    const std::string type = TypeName(s);
    out += "_Static_assert(sizeof(" + type + ") == " + std::to_string(s.size) + ", \"sizeof " +
           type + "\");\n";
    for (const auto& m : s.units) {
        if (!m->IsLayoutMember() || m->type == kTypeText) continue;
        const std::string where = type + "." + m->name;
        out += "_Static_assert(offsetof(" + type + ", " + m->name + ") == " +
               std::to_string(m->offset) + ", \"offset " + where + "\");\n";
        out += "_Static_assert(sizeof(((" + type + "*)0)->" + m->name + ") == " +
               std::to_string(static_cast<long long>(m->size) * m->nrepetitions) + ", \"size " +
               where + "\");\n";
        const CStructure* own = m->AsStructure();
        if (own != nullptr && own->parent == &s && HasMembersOfItsOwn(schema, *own)) {
            AssertStruct(schema, *own, out);
        }
    }
}

// Assertions for every template, enumeration and the record of a schema.
std::string Assertions(const Schema& schema) {
    std::string out;
    const CStructure& top = *schema.Top();
    for (const auto& m : top.units) {
        if (m->type == kTypeTemplate)
            AssertStruct(schema, *m->AsStructure(), out);
        else if (m->type == kTypeEnum)
            out += "_Static_assert(sizeof(" + Upper(m->name) + ") == 4, \"enum\");\n";
    }
    AssertStruct(schema, top, out);
    return out;
}

class CHeaderCompileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access(kCompiler, X_OK) != 0) GTEST_SKIP() << "no C compiler at " << kCompiler;
    }

    // Compiles source (with the generated headers on the include path);
    // true when the compiler accepted it.
    bool Compiles(const std::string& source, std::string& diagnostics, bool cxx = false) {
        test::WriteFile(tmp_ / "check.c", source);
        std::vector<std::string> args = {"-std=c11", "-Wall", "-Wextra", "-Werror",
                                         "-pedantic-errors", "-c", "check.c", "-o", "check.o"};
        // C++11 has offsetof and static_assert for the same header.
        if (cxx) args = {"-x", "c++", "-std=c++11", "-Wall", "-Wextra", "-Werror",
                         "-pedantic-errors", "-c", "check.c", "-o", "check.o"};
        auto result = test::RunProgram(cxx ? kCxxCompiler : kCompiler, args, tmp_.path(),
                                       std::chrono::seconds(60));
        diagnostics = result.out + result.err;
        return result.exitCode == 0;
    }

    static constexpr const char* kCompiler = "/usr/bin/cc";
    static constexpr const char* kCxxCompiler = "/usr/bin/c++";
    TempDir tmp_;
    test::LogRecorder log_{true};
};

// Every type code a header can hold (text and bool included), repetitions,
// nested templates, structure members with members of their own, an
// enumeration without items and comments holding the marks of C comments.
TEST_F(CHeaderCompileTest, PackedTypedefsMatchTheComputedLayout) {
    const char* files[] = {"Layout.xsd", "PosRec.xsd", "Alarm.xsd", "AllTypes.xsd"};
    std::vector<std::unique_ptr<Schema>> schemas;
    std::vector<Schema*> list;
    std::string source = "#include <stddef.h>\n#include \"Schema_Enum.h\"\n";
    for (const char* f : files) {
        schemas.push_back(LoadTestSchema(f));
        ASSERT_NE(schemas.back(), nullptr) << f;
        ASSERT_TRUE(CreateIncludeFile(*schemas.back(), tmp_.path().c_str())) << f;
        list.push_back(schemas.back().get());
        source += "#include \"" + Lower(schemas.back()->name) + ".h\"\n";
    }
    ASSERT_TRUE(CreateSchemaEnumIncludeFile(list, tmp_.path().c_str()));
    for (const auto& s : schemas) source += Assertions(*s);
    source += "_Static_assert(E_SCHEMA_ENUM_LAYOUT == 21, \"enum value\");\n";
    // The layout's own figures, so that a wrong layout cannot agree with
    // itself: Vec 13, Body 78, Wrapper 182, the record 500.
    source += "_Static_assert(sizeof(VEC) == 13 && sizeof(BODY) == 78, \"fixed\");\n";
    source += "_Static_assert(sizeof(WRAPPER) == 182 && sizeof(LAYOUT) == 500, \"fixed\");\n";
    source += "_Static_assert(offsetof(LAYOUT, w) == 81 && offsetof(BODY, mass) == 57, \"fixed\");\n";

    std::string diagnostics;
    EXPECT_TRUE(Compiles(source, diagnostics)) << diagnostics << "\n" << source;
}

// With header checks, every header of the set compiles with its own
// assertions on, in C and in C++, and the header without them is the same
// text up to its closing line.
TEST_F(CHeaderCompileTest, HeaderChecksHoldForTheirOwnLayout) {
    const char* files[] = {"Layout.xsd", "PosRec.xsd", "Alarm.xsd", "AllTypes.xsd"};
    std::string source = "#define MORVANE_LAYOUT_CHECKS\n";
    for (const char* f : files) {
        auto schema = LoadTestSchema(f);
        ASSERT_NE(schema, nullptr) << f;
        const std::string header = tmp_ / (Lower(schema->name) + ".h");
        ASSERT_TRUE(CreateIncludeFile(*schema, tmp_.path().c_str())) << f;
        const std::string plain = test::ReadFile(header);
        ASSERT_TRUE(CreateIncludeFile(*schema, tmp_.path().c_str(), true)) << f;
        const std::string checked = test::ReadFile(header);
        EXPECT_EQ(checked.substr(0, plain.size()), plain) << f;
        const std::string name = Upper(schema->name);
        EXPECT_NE(checked.find("#define " + name + "_SIZE " + std::to_string(schema->Size()) +
                               "\n#define " + name + "_FINGERPRINT 0x"),
                  std::string::npos)
            << checked;
        source += "#include \"" + Lower(schema->name) + ".h\"\n";
    }
    std::string diagnostics;
    EXPECT_TRUE(Compiles(source, diagnostics)) << diagnostics;
    EXPECT_TRUE(Compiles(source, diagnostics, true)) << diagnostics;
}

// A header whose declarations no longer match the layout its checks were
// made for fails to compile, in C and C++.
TEST_F(CHeaderCompileTest, HeaderChecksCatchADeclarationOutOfStep) {
    auto schema = LoadTestSchema("PosRec.xsd");
    ASSERT_NE(schema, nullptr);
    ASSERT_TRUE(CreateIncludeFile(*schema, tmp_.path().c_str(), true));
    std::string text = test::ReadFile(tmp_ / "posrec.h");
    const size_t at = text.find("char flags[4];");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 14, "char flags[6];");
    test::WriteFile(tmp_ / "posrec.h", text);
    const std::string source = "#define MORVANE_LAYOUT_CHECKS\n#include \"posrec.h\"\n";
    for (bool cxx : {false, true}) {
        std::string diagnostics;
        EXPECT_FALSE(Compiles(source, diagnostics, cxx));
        EXPECT_NE(diagnostics.find("POSREC.flags: size"), std::string::npos) << diagnostics;
        EXPECT_NE(diagnostics.find("POSREC.mode: offset"), std::string::npos) << diagnostics;
        // Without the macro the same header compiles.
        EXPECT_TRUE(Compiles("#include \"posrec.h\"\n", diagnostics, cxx)) << diagnostics;
    }
}

// Schema_Enum.h of a start-up without schemas still compiles and declares
// its type.
TEST_F(CHeaderCompileTest, SchemaEnumHeaderWithoutSchemasCompiles) {
    std::vector<Schema*> none;
    ASSERT_TRUE(CreateSchemaEnumIncludeFile(none, tmp_.path().c_str()));
    std::string diagnostics;
    EXPECT_TRUE(Compiles("#include \"Schema_Enum.h\"\nE_SCHEMA_ENUM e;\n", diagnostics))
        << diagnostics;
}

// The check itself must be able to fail: a wrong offset is caught.
TEST_F(CHeaderCompileTest, AWrongOffsetIsCaughtByTheCompiler) {
    auto schema = LoadTestSchema("Layout.xsd");
    ASSERT_NE(schema, nullptr);
    ASSERT_TRUE(CreateIncludeFile(*schema, tmp_.path().c_str()));
    std::string diagnostics;
    EXPECT_FALSE(Compiles("#include <stddef.h>\n#include \"layout.h\"\n"
                          "_Static_assert(offsetof(LAYOUT, i) == 4, \"natural alignment\");\n",
                          diagnostics));
    EXPECT_NE(diagnostics.find("natural alignment"), std::string::npos) << diagnostics;
}

}  // namespace
}  // namespace morvane
