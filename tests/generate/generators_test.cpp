// The generators against golden files, their failure paths, and a set of
// schemas generated on several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "generate/generators.h"
#include "generate/schema_set.h"
#include "logging/log.h"
#include "schema/schema.h"
#include "support/test_support.h"
#include "test_schemas.h"

namespace morvane {
namespace {

using test::FileExists;
using test::Golden;
using test::LoadTestSchema;
using test::LogRecorder;
using test::ReadFile;
using test::TempDir;

// Every test runs with the main log replaced by a recorder, and writes below
// a fresh temporary directory.
class GeneratorsTest : public ::testing::Test {
  protected:
    std::string Include() const { return tmp_ / "ResultsInclude"; }
    std::string EmptyXml() const { return tmp_ / "ResultsEmptyXml"; }

    bool Generate(const Schema& s) {
        return GenerateSchemaFiles(s, EmptyXml().c_str(), Include().c_str());
    }

    TempDir tmp_;
    LogRecorder log_{true};
};

struct GoldenCase {
    const char* schema;
    const char* header;  // file names in the output directories and golden/
    const char* data;
    const char* valueLog;
};

// The worked example and edge cases: repetitions of 0, 1 and 3, collapsed
// members, empty templates and enumerations, multi-line comments, nested
// member structures, records of size 0 with and without members, a schema
// called Root.
TEST_F(GeneratorsTest, GeneratedFilesMatchTheGoldenFiles) {
    const GoldenCase cases[] = {
        {"PosRec.xsd", "posrec.h", "posrec.xml", "PosRec.log"},
        {"Edges.xsd", "edges.h", "edges.xml", "Edges.log"},
        {"Bare.xsd", "bare.h", "bare.xml", "Bare.log"},
        {"Root.xsd", "root.h", "root.xml", "Root.log"},
        {"Void.xsd", "void.h", "void.xml", "Void.log"},  // no member at all
        // bool, text, structure members with members of their own and
        // comments holding C comment marks
        {"AllTypes.xsd", "alltypes.h", "alltypes.xml", "AllTypes.log"},
    };
    for (const GoldenCase& c : cases) {
        SCOPED_TRACE(c.schema);
        auto schema = LoadTestSchema(c.schema);
        ASSERT_NE(schema, nullptr);
        EXPECT_TRUE(Generate(*schema));
        EXPECT_EQ(ReadFile(Include() + "/" + c.header), Golden(c.header));
        EXPECT_EQ(ReadFile(EmptyXml() + "/" + c.data), Golden(c.data));
        EXPECT_EQ(ReadFile(EmptyXml() + "/" + c.valueLog), Golden(c.valueLog));
    }
}

TEST_F(GeneratorsTest, GenerationLogsItsBannersAroundTheLayoutReport) {
    auto schema = LoadTestSchema("PosRec.xsd");
    ASSERT_NE(schema, nullptr);
    log_.Clear();
    ASSERT_TRUE(Generate(*schema));
    const auto& lines = log_.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "\n=========PrintUnits===============================\n");
    EXPECT_EQ(lines[2], "\n=========CreateEmptyXmlFile=======================\n");
    EXPECT_EQ(lines[3], "\n=========CreateIncludeFile========================\n");
    // The layout report sits between the first two banners, in one call.
    EXPECT_NE(lines[1].find(
                  "\n\tname={PosRec:count}\ttype=int[1]\toffset=0\tsize=4\tnrepet=1\tvis=1\n"),
              std::string::npos);
}

TEST_F(GeneratorsTest, WithoutTraceNothingIsLoggedForASuccessfulRun) {
    auto schema = LoadTestSchema("PosRec.xsd");
    ASSERT_NE(schema, nullptr);
    LogRecorder quiet(false);
    ASSERT_TRUE(Generate(*schema));
    EXPECT_TRUE(quiet.lines().empty());
    EXPECT_EQ(ReadFile(Include() + "/posrec.h"), Golden("posrec.h"));
}

TEST_F(GeneratorsTest, OnlyTheFileNameIsLowerCasedAndOldFilesAreReplaced) {
    auto schema = LoadTestSchema("PosRec.xsd");
    ASSERT_NE(schema, nullptr);
    const std::string include = tmp_ / "Mixed/Case.Dir";
    test::MakeDirs(include);
    test::WriteFile(include + "/posrec.h", std::string(10000, '#'));
    ASSERT_TRUE(CreateIncludeFile(*schema, include.c_str()));
    EXPECT_EQ(ReadFile(include + "/posrec.h"), Golden("posrec.h"));
    EXPECT_FALSE(FileExists(tmp_ / "mixed"));
    test::WriteFile(include + "/posrec.xml", std::string(10000, '<'));
    ASSERT_TRUE(CreateEmptyXmlFile(*schema, include.c_str()));
    EXPECT_EQ(ReadFile(include + "/posrec.xml"), Golden("posrec.xml"));
    EXPECT_TRUE(FileExists(include + "/PosRec.log"));
    test::WriteFile(include + "/Schema_Enum.h", std::string(10000, '/'));
    std::vector<Schema*> list{schema.get()};
    ASSERT_TRUE(CreateSchemaEnumIncludeFile(list, include.c_str()));
    EXPECT_EQ(ReadFile(include + "/Schema_Enum.h"),
              "#ifndef __E_SCHEMA_ENUM__\n#define __E_SCHEMA_ENUM__\n\ntypedef enum\n{\n"
              "   /*size=28*/ E_SCHEMA_ENUM_POSREC= 7\n"
              "} E_SCHEMA_ENUM;\n\n#endif //__E_SCHEMA_ENUM__\n");
}

TEST_F(GeneratorsTest, EnumInsideTemplateCutsTheHeaderOffAndTheNextSchemaIsWhole) {
    auto broken = LoadTestSchema("Broken.xsd");
    auto next = LoadTestSchema("PosRec.xsd");
    ASSERT_NE(broken, nullptr);
    ASSERT_NE(next, nullptr);
    // A longer header from an earlier start must not show through.
    test::MakeDirs(Include());
    test::WriteFile(Include() + "/broken.h", std::string(10000, '#'));
    log_.Clear();
    EXPECT_FALSE(Generate(*broken));
    EXPECT_TRUE(log_.Contains("error! ENUM inside TEMPLATE\n"));
    EXPECT_EQ(ReadFile(Include() + "/broken.h"), Golden("broken.h"));
    // The empty data file does not depend on the header and is complete.
    EXPECT_EQ(ReadFile(EmptyXml() + "/broken.xml"), Golden("broken.xml"));

    EXPECT_TRUE(Generate(*next));
    EXPECT_EQ(ReadFile(Include() + "/posrec.h"), Golden("posrec.h"));
    // And the broken one again: the abort left no run state behind.
    EXPECT_FALSE(CreateIncludeFile(*broken, Include().c_str()));
    EXPECT_EQ(ReadFile(Include() + "/broken.h"), Golden("broken.h"));
}

TEST_F(GeneratorsTest, EnumInsideTemplateAbortIsSilentWithoutTrace) {
    auto broken = LoadTestSchema("Broken.xsd");
    ASSERT_NE(broken, nullptr);
    LogRecorder quiet(false);
    EXPECT_FALSE(CreateIncludeFile(*broken, tmp_.path().c_str()));
    EXPECT_TRUE(quiet.lines().empty());
}

// A member type with no C declaration cannot come from the parser; build
// the tree by hand.
TEST_F(GeneratorsTest, UndefinedMemberTypeAbortsTheHeaderWithoutMessage) {
    Schema schema;
    schema.name = "Odd";
    schema.id = 4;
    schema.root = std::make_unique<CStructure>("Root", kTypeStructure);
    auto top = std::make_unique<CStructure>("Odd", kTypeStructure);
    top->schema = &schema;
    auto good = std::make_unique<Unit>("good", kTypeInt);
    good->size = 4;
    top->units.push_back(std::move(good));
    top->units.push_back(std::make_unique<Unit>("bad", kTypeUndefined));
    top->size = 4;
    schema.root->units.push_back(std::move(top));

    log_.Clear();
    EXPECT_FALSE(CreateIncludeFile(schema, tmp_.path().c_str()));
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_EQ(ReadFile(tmp_ / "odd.h"),
              "#ifndef __ODD__\n#define __ODD__\n// id=4\n\n#pragma pack(push, 1)\n\n"
              "//--- size of structure = 4\ntypedef struct\n{\n    int good;\n");
}

TEST_F(GeneratorsTest, SchemaWithoutRootMembersWritesNothing) {
    Schema schema;
    schema.root = std::make_unique<CStructure>("Root", kTypeStructure);
    EXPECT_FALSE(CreateIncludeFile(schema, tmp_.path().c_str()));
    EXPECT_FALSE(CreateEmptyXmlFile(schema, tmp_.path().c_str()));
    Schema unloaded;
    EXPECT_FALSE(CreateIncludeFile(unloaded, tmp_.path().c_str()));
    EXPECT_TRUE(std::filesystem::is_empty(tmp_.path()));
}

TEST_F(GeneratorsTest, FilesThatCannotBeCreatedFailWithALineNamingThePath) {
    auto schema = LoadTestSchema("PosRec.xsd");
    ASSERT_NE(schema, nullptr);
    // A plain file where the directory should be.
    const std::string notDir = tmp_ / "plain";
    test::WriteFile(notDir, "x");

    log_.Clear();
    EXPECT_FALSE(CreateIncludeFile(*schema, notDir.c_str()));
    EXPECT_EQ(log_.Text(), "Error! CreateIncludeFile [" + notDir +
                               "/posrec.h] [Not a directory] is not opened\n");

    log_.Clear();
    EXPECT_FALSE(CreateEmptyXmlFile(*schema, notDir.c_str()));
    EXPECT_EQ(log_.Text(), "Error! CreateEmptyXmlFile [" + notDir +
                               "/posrec.xml] [Not a directory] is not opened\n");
    EXPECT_FALSE(FileExists(notDir + "/PosRec.log"));  // no value-name log either

    // The data file fails first: the header is not attempted.
    log_.Clear();
    EXPECT_FALSE(GenerateSchemaFiles(*schema, notDir.c_str(), Include().c_str()));
    EXPECT_TRUE(log_.Contains("Error! CreateEmptyXmlFile [" + notDir +
                              "/posrec.xml] [Not a directory] is not opened\n"));
    EXPECT_FALSE(log_.Contains("\n=========CreateIncludeFile========================\n"));
    EXPECT_FALSE(FileExists(Include()));

    // A directory that cannot be created.
    log_.Clear();
    const std::string below = notDir + "/sub";
    EXPECT_FALSE(GenerateSchemaFiles(*schema, EmptyXml().c_str(), below.c_str()));
    EXPECT_TRUE(FileExists(EmptyXml() + "/posrec.xml"));
    EXPECT_TRUE(log_.Contains("Error! directory [" + below +
                              "] cannot be created [Not a directory]\n"));
}

TEST_F(GeneratorsTest, SchemaNameThatLeavesTheDirectoryIsRefused) {
    Schema schema;
    schema.root = std::make_unique<CStructure>("Root", kTypeStructure);
    auto top = std::make_unique<CStructure>("../escape", kTypeStructure);
    top->units.push_back(std::make_unique<Unit>("a", kTypeInt));
    schema.root->units.push_back(std::move(top));
    const std::string out = tmp_ / "out";
    test::MakeDirs(out);

    LogRecorder errors(false);  // error lines only
    EXPECT_FALSE(GenerateSchemaFiles(schema, out.c_str(), out.c_str()));
    EXPECT_FALSE(CreateIncludeFile(schema, out.c_str()));
    EXPECT_EQ(errors.lines().size(), 2u);
    EXPECT_TRUE(errors.Contains(
        "Error! CreateEmptyXmlFile: schema name [../escape] cannot be a file name\n"));
    EXPECT_TRUE(errors.Contains(
        "Error! CreateIncludeFile: schema name [../escape] cannot be a file name\n"));
    EXPECT_FALSE(FileExists(tmp_ / "escape.h"));
    EXPECT_FALSE(FileExists(tmp_ / "escape.xml"));
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(GeneratorsTest, TooDeepStructuresFailTheDataFileWithAnError) {
    // A chain of member structures deeper than the writer's indent limit.
    Schema schema;
    schema.name = "Deep";
    schema.root = std::make_unique<CStructure>("Root", kTypeStructure);
    auto top = std::make_unique<CStructure>("Deep", kTypeStructure);
    CStructure* at = top.get();
    for (int i = 0; i < 400; ++i) {
        auto s = std::make_unique<CStructure>("s", kTypeStructure);
        s->parent = at;
        CStructure* next = s.get();
        at->units.push_back(std::move(s));
        at = next;
    }
    at->units.push_back(std::make_unique<Unit>("leaf", kTypeInt));
    schema.root->units.push_back(std::move(top));

    log_.Clear();
    EXPECT_FALSE(CreateEmptyXmlFile(schema, tmp_.path().c_str()));
    EXPECT_EQ(log_.Text(), "Error! CreateEmptyXmlFile [" + tmp_.path() + "/deep.xml] is not written\n");
    EXPECT_TRUE(std::filesystem::is_empty(tmp_.path()));  // no half file, no value-name log
}

struct EnumCase {
    const char* label;
    std::vector<const char*> files;  // loaded in this order
    const char* golden;              // golden file, or null: use expected
    const char* expected;
};

TEST_F(GeneratorsTest, SchemaEnumHeaderListsSchemasByAscendingId) {
    const EnumCase cases[] = {
        {"worked example", {"PosRec.xsd", "Alarm.xsd"}, "Schema_Enum.h", nullptr},
        {"no schema", {}, "Schema_Enum_empty.h", nullptr},
        {"single schema, no comma", {"Alarm.xsd"}, nullptr,
         "#ifndef __E_SCHEMA_ENUM__\n#define __E_SCHEMA_ENUM__\n\ntypedef enum\n{\n"
         "   /*size=12*/ E_SCHEMA_ENUM_ALARM= 3\n"
         "} E_SCHEMA_ENUM;\n\n#endif //__E_SCHEMA_ENUM__\n"},
        {"wide numbers, size 0", {"Layout.xsd", "Bare.xsd", "Edges.xsd"}, nullptr,
         "#ifndef __E_SCHEMA_ENUM__\n#define __E_SCHEMA_ENUM__\n\ntypedef enum\n{\n"
         "   /*size= 0*/ E_SCHEMA_ENUM_BARE= 0,\n"
         "   /*size=76*/ E_SCHEMA_ENUM_EDGES=12,\n"
         "   /*size=500*/ E_SCHEMA_ENUM_LAYOUT=21\n"
         "} E_SCHEMA_ENUM;\n\n#endif //__E_SCHEMA_ENUM__\n"},
    };
    for (const EnumCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::unique_ptr<Schema>> owned;
        std::vector<Schema*> list;
        for (const char* f : c.files) {
            owned.push_back(LoadTestSchema(f));
            ASSERT_NE(owned.back(), nullptr);
            list.push_back(owned.back().get());
        }
        log_.Clear();
        ASSERT_TRUE(CreateSchemaEnumIncludeFile(list, tmp_.path().c_str()));
        EXPECT_EQ(log_.Text(), "\n=========Create SchemaEnumIncludeFile=======================\n");
        const std::string text = ReadFile(tmp_ / "Schema_Enum.h");
        EXPECT_EQ(text, c.golden != nullptr ? Golden(c.golden) : std::string(c.expected));
        for (size_t i = 1; i < list.size(); ++i) EXPECT_LE(list[i - 1]->id, list[i]->id);
    }
}

TEST_F(GeneratorsTest, SchemaEnumHeaderKeepsSchemasOfEqualIdAndLargeIds) {
    auto a = LoadTestSchema("Alarm.xsd");
    auto b = LoadTestSchema("Alarm.xsd");
    auto c = LoadTestSchema("PosRec.xsd");
    ASSERT_TRUE(a && b && c);
    b->name = "Twin";
    c->id = 1234;
    std::vector<Schema*> list{c.get(), a.get(), b.get()};
    ASSERT_TRUE(CreateSchemaEnumIncludeFile(list, tmp_.path().c_str()));
    EXPECT_EQ(list[2], c.get());
    const std::string text = ReadFile(tmp_ / "Schema_Enum.h");
    EXPECT_NE(text.find("   /*size=12*/ E_SCHEMA_ENUM_ALARM= 3,\n"), std::string::npos);
    EXPECT_NE(text.find("   /*size=12*/ E_SCHEMA_ENUM_TWIN= 3,\n"), std::string::npos);
    EXPECT_NE(text.find("   /*size=28*/ E_SCHEMA_ENUM_POSREC=1234\n} E_SCHEMA_ENUM;"),
              std::string::npos);
}

TEST_F(GeneratorsTest, SchemaEnumHeaderThatCannotBeCreatedIsReported) {
    std::vector<Schema*> none;
    const std::string missing = tmp_ / "missing";
    log_.Clear();
    EXPECT_FALSE(CreateSchemaEnumIncludeFile(none, missing.c_str()));
    ASSERT_EQ(log_.lines().size(), 2u);
    EXPECT_EQ(log_.lines()[1],
              "CreateSchemaEnumIncludeFile [" + missing + "/Schema_Enum.h] [] is not opened\n");
}

// A set of schema files loaded and generated on several threads gives what
// one thread gives: the same schemas, failure, files and log text, in the
// same order. Schemas differ in size so that threads finish out of order.
TEST(SchemaSetTest, SeveralThreadsGiveWhatOneThreadGives) {
    constexpr int kFiles = 24;
    enum Fault { kUnknownType, kBadXml, kCaseTwin, kIdTwice };
    struct Case {
        const char* what;
        int failing;  // index of the bad file, -1 for none
        Fault fault;
        bool unreadable;
        // A line the log must hold (either run).
        const char* logged;
    } cases[] = {
        {"all load", -1, kUnknownType, false, nullptr},
        {"bad XML in the middle", 9, kBadXml, true, nullptr},
        {"unknown type in the middle", 17, kUnknownType, false, nullptr},
        {"first file refused", 0, kUnknownType, false, nullptr},
        // "s4" after "S4": the same s4.h, s4.xml and E_SCHEMA_ENUM_S4.
        {"a name that differs from an earlier one in letter case", 13, kCaseTwin, false,
         "Error! schema [s4] differs from schema [S4] of "},
        {"an id that an earlier schema has", -1, kIdTwice, false,
         "Warning! schema [S11] of "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        std::vector<std::string> paths;
        for (int i = 0; i < kFiles; ++i) {
            const bool faulty = i == c.failing || (c.fault == kIdTwice && i == 11);
            const std::string name =
                faulty && c.fault == kCaseTwin ? "s4" : "S" + std::to_string(i);
            const int id = faulty && c.fault == kIdTwice ? 3 : i;
            std::string xml =
                "<Schema name=\"" + name + "\" id=\"" + std::to_string(id) + "\">\n";
            for (int k = 0; k < 1 + (i % 5) * 40; ++k)
                xml += "<Item name=\"f" + std::to_string(k) + "\" type=\"int\" nrepetitions=\"2\"/>\n";
            if (faulty && c.fault == kBadXml) xml += "<Item";
            if (faulty && c.fault == kUnknownType) xml += "<Item name=\"x\" type=\"nosuch\"/>\n";
            paths.push_back(tmp / ("s" + std::to_string(i) + ".xsd"));
            test::WriteFile(paths.back(), xml + "</Schema>\n");
        }
        std::string logs[2];
        std::vector<std::string> outputs[2];
        SchemaSet sets[2];
        for (int run = 0; run < 2; ++run) {
            LogRecorder log(true);
            SchemaSetOptions options;
            options.generate = true;
            options.emptyXmlDirectory = tmp / ("xml" + std::to_string(run));
            options.includeDirectory = tmp / ("include" + std::to_string(run));
            options.threads = run == 0 ? 1 : 4;
            sets[run] = LoadSchemaSet(paths, options);
            // Addresses in trace lines differ from run to run.
            logs[run] = std::regex_replace(log.Text(), std::regex("0x[0-9A-F]+"), "0x?");
            for (const std::string& dir : {options.emptyXmlDirectory, options.includeDirectory}) {
                if (!FileExists(dir)) continue;
                for (const auto& entry : std::filesystem::directory_iterator(dir))
                    outputs[run].push_back(entry.path().filename().string() + "\n" +
                                           ReadFile(entry.path().string()));
            }
            std::sort(outputs[run].begin(), outputs[run].end());
        }
        const size_t loaded = c.failing < 0 ? kFiles : static_cast<size_t>(c.failing);
        for (const SchemaSet& set : sets) {
            ASSERT_EQ(set.schemas.size(), loaded);
            for (size_t i = 0; i < loaded; ++i) EXPECT_EQ(set.schemas[i]->name, "S" + std::to_string(i));
            EXPECT_EQ(set.failed, c.failing >= 0);
            EXPECT_EQ(set.failure.index, set.failed ? loaded : 0);
            EXPECT_EQ(set.failure.unreadable, c.unreadable);
        }
        if (c.logged != nullptr) {
            EXPECT_NE(logs[0].find(c.logged), std::string::npos) << logs[0];
            if (c.fault == kCaseTwin) {
                EXPECT_NE(sets[0].failure.text.find(paths[4]), std::string::npos);
            }
            if (c.fault == kIdTwice) {
                EXPECT_NE(logs[0].find(" has the id 3 of schema [S3] of " + paths[3] + "\n"),
                          std::string::npos);
            }
        }
        EXPECT_EQ(sets[1].failure.text, sets[0].failure.text);
        EXPECT_EQ(sets[1].failure.offset, sets[0].failure.offset);
        EXPECT_EQ(outputs[0].size(), 3 * loaded);  // header, data file, value-name log
        EXPECT_EQ(outputs[1], outputs[0]);
        EXPECT_NE(logs[0].find("[S" + std::to_string(loaded > 0 ? loaded - 1 : 0) + "]"),
                  std::string::npos);
        // The first line that differs, rather than the whole text.
        const size_t differs =
            std::mismatch(logs[0].begin(), logs[0].end(), logs[1].begin(), logs[1].end()).first -
            logs[0].begin();
        const size_t line = logs[0].rfind('\n', differs);
        const size_t from = line == std::string::npos ? 0 : line;
        EXPECT_EQ(logs[1].substr(from, 200), logs[0].substr(from, 200));
        EXPECT_EQ(logs[1].size(), logs[0].size());
    }
}

}  // namespace
}  // namespace morvane
