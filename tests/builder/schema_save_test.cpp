#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <sstream>
#include <string>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/schema_file_loader.h"
#include "builder/schema_save.h"
#include "builder_test_util.h"
#include "generate/generators.h"
#include "schema/schema.h"
#include "scripted_dialogs.h"
#include "server/config/configuration.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::AddTemplate;
using test::Element;
using test::FileExists;
using test::ReadFile;
using test::ScriptedDialogs;
using test::TempDir;

class SchemaSaveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config.schemasDirectory = dir / "Schemas";
        config.resultsIncludeDirectory = dir / "ResultsInclude";
        config.resultsEmptyXmlDirectory = dir / "ResultsEmptyXml";
    }

    // A schema with one element, as the Schema page's first "Add" makes it.
    void AddedSchema() {
        model.EnsureSchema().elements.push_back(Element("Item", "x", "int"));
        model.newSchema = true;
    }

    // Saves a schema "S" once, then adds an element the next save would
    // write. Returns the file's path.
    std::string SavedOnceThenChanged() {
        AddedSchema();
        EXPECT_EQ(Save("S"), SaveOutcome::kSaved);
        // As a new schema of that name: the file is not the one it came from.
        model.sources.clear();
        model.CurrentSchema()->elements.push_back(Element("Item", "y", "char"));
        dialogs.messages.clear();
        return config.schemasDirectory + "/S.xsd";
    }

    SaveOutcome Save(const std::string& name, const std::string& id = "1") {
        return SaveSchema(model, name, id, dialogs);
    }

    TempDir dir;
    Configuration config;
    CEditModel model{&config};
    ScriptedDialogs dialogs;
};

TEST_F(SchemaSaveTest, WithoutSchemaOrNameNothingIsWritten) {
    EXPECT_EQ(Save("S"), SaveOutcome::kNoSchema);
    EXPECT_EQ(dialogs.LastMessage(), "Schema is not created!");
    AddedSchema();
    EXPECT_EQ(Save(""), SaveOutcome::kNameEmpty);
    EXPECT_EQ(dialogs.LastMessage(), "Error! name of schema is empty!");
    EXPECT_FALSE(FileExists(config.schemasDirectory));
    EXPECT_TRUE(model.newSchema);
}

TEST_F(SchemaSaveTest, UnusableNameIdOrCommentIsRefusedBeforeWriting) {
    AddedSchema();
    struct Row {
        std::string name, id, message;
    };
    const Row rows[] = {
        {std::string(50, 'n'), "1",
         "Error! Size of field > max[50]: \"Name:\" of the schema is 50 characters long; at most "
         "49 fit. The schema is not saved."},
        {"S", std::string(20, '1'),
         "Error! Size of field > max[20]: \"Id:\" of the schema is 20 characters long; at most 19 "
         "fit. The schema is not saved."},
        {"../S", "1",
         "Error! Name of schema \"../S\" is not a C identifier (letters, digits and _, not first a "
         "digit, no C keyword, not beginning with two underscores or an underscore and a capital). "
         "The schema is not saved."},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Save(row.name, row.id), SaveOutcome::kRefused);
        EXPECT_EQ(dialogs.LastMessage(), row.message);
    }
    model.CurrentSchema()->elements[0].comment = "a -- b";
    EXPECT_EQ(Save("S"), SaveOutcome::kRefused);
    EXPECT_NE(dialogs.LastMessage().find("element \"x\""), std::string::npos);
    EXPECT_FALSE(FileExists(config.schemasDirectory + "/S.xsd"));
    EXPECT_FALSE(FileExists(dir / "S.xsd"));
}

TEST_F(SchemaSaveTest, SaveWritesReadsBackAndGenerates) {
    AddedSchema();
    EXPECT_EQ(Save("Rec", "12"), SaveOutcome::kSaved);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Schema created successfully!"});
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_FALSE(model.newSchema);
    EXPECT_EQ(ReadFile(config.schemasDirectory + "/Rec.xsd"),
              "<?xml version=\"1.0\"?>\n<Schema name=\"Rec\" id=\"12\">\n"
              "   <Item name=\"x\" type=\"int\"/>\n</Schema>\n");
    EXPECT_TRUE(FileExists(config.resultsIncludeDirectory + "/rec.h"));
    EXPECT_TRUE(FileExists(config.resultsEmptyXmlDirectory + "/rec.xml"));
    // The model is not changed by the save.
    EXPECT_EQ(model.CurrentSchema()->elements.size(), 1u);
    EXPECT_TRUE(model.CurrentSchema()->name.empty());
}

TEST_F(SchemaSaveTest, ExistingFileAsksAndNoWritesNothing) {
    const std::string path = SavedOnceThenChanged();
    const std::string before = ReadFile(path);

    dialogs.answers = {false};
    EXPECT_EQ(Save("S"), SaveOutcome::kDeclined);
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>{"File with this name exists.Do you want to change it?"});
    EXPECT_TRUE(dialogs.changeNameOpenedWith.empty());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(SchemaSaveTest, ExistingFileYesAndCloseUnchangedOverwrites) {
    const std::string path = SavedOnceThenChanged();

    dialogs.answers = {true, true};  // change the name; replace the other file
    dialogs.newPaths = {path};
    EXPECT_EQ(Save("S"), SaveOutcome::kSaved);
    EXPECT_EQ(dialogs.changeNameOpenedWith, std::vector<std::string>{path});
    EXPECT_EQ(dialogs.questions.back(),
              "File " + path + " holds another schema. Do you want to replace it?");
    EXPECT_NE(ReadFile(path).find("<Item name=\"y\" type=\"char\"/>"), std::string::npos);
}

// The parser's reason, with its place in the file as it would have been
// written, in the message; its own line in the log.
TEST_F(SchemaSaveTest, ParserReasonReachesTheMessageAndTheLog) {
    model.EnsureSchema().elements.push_back(Element("Item", "x", "int"));
    model.EnsureSchema().elements.push_back(Element("Item_enum", "e", "NoSuchEnum"));
    test::LogRecorder log;
    EXPECT_EQ(Save("Bad"), SaveOutcome::kNotCompiled);
    const std::string reason = "Error! name=\"e\" enum type \"NoSuchEnum\" is wrong";
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Error! The schema was not saved in " +
                                                         config.schemasDirectory +
                                                         "/Bad.xsd: it does not compile: " +
                                                         reason + " (line 4, column 5)"});
    EXPECT_TRUE(log.Contains(reason + "\n")) << log.Text();
}

// The flattened layout of a loaded schema: every layout member with its
// offset, size, repetitions and visibility; comments lose one blank at each
// end (the schema file writes them inside "<!-- %s -->").
void Flatten(const CStructure& s, const std::string& prefix, std::ostringstream& out) {
    for (const auto& u : s.units) {
        if (!u->IsLayoutMember()) continue;
        out << prefix << u->name << " type=" << u->type << " offset=" << u->offset
            << " size=" << u->size << " n=" << u->nrepetitions << " vis=" << u->visibility
            << " ref=" << (u->ref ? u->ref->name : "") << " comment=["
            << TrimCommentBlanks(u->comment) << "]\n";
        if (const CStructure* child = u->AsStructure()) Flatten(*child, prefix + "  ", out);
    }
}

std::string LoadAndFlatten(const std::string& path) {
    pugi::xml_document doc;
    std::string error;
    if (!LoadXmlDocument(path.c_str(), doc, error)) return "unreadable: " + error;
    Schema schema;
    if (!LoadSchema(schema, doc)) return "not loaded";
    std::ostringstream out;
    out << schema.name << " id=" << schema.id << " size=" << schema.Size() << '\n';
    Flatten(*schema.root, "", out);
    return out.str();
}

class SavedExampleTest : public SchemaSaveTest, public ::testing::WithParamInterface<const char*> {};

// An example schema loaded into the editor and saved gives the parser the
// same record, and the generation the same empty XML file, as the original
// gives Morvane.
TEST_P(SavedExampleTest, SameLayoutAndEmptyXmlFileAsTheOriginal) {
    const std::string name = GetParam();
    const std::string original = test::SourceDir() + "/examples/Schemas/" + name + ".xsd";
    ASSERT_EQ(LoadSchemaFile(model, original).outcome, LoadOutcome::kLoaded);
    ASSERT_EQ(Save(name, model.CurrentSchema()->id.str()), SaveOutcome::kSaved)
        << dialogs.LastMessage();

    const std::string saved = config.schemasDirectory + "/" + name + ".xsd";
    const std::string flat = LoadAndFlatten(original);
    EXPECT_NE(flat.find("size="), std::string::npos);
    EXPECT_EQ(LoadAndFlatten(saved), flat);

    pugi::xml_document doc;
    std::string error;
    ASSERT_TRUE(LoadXmlDocument(original.c_str(), doc, error));
    Schema schema;
    ASSERT_TRUE(LoadSchema(schema, doc));
    const std::string morvaneOut = dir / "morvane";
    GenerateSchemaFiles(schema, morvaneOut.c_str(), morvaneOut.c_str());
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string expected = ReadFile(morvaneOut + "/" + lower + ".xml");
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(ReadFile(config.resultsEmptyXmlDirectory + "/" + lower + ".xml"), expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, SavedExampleTest, ::testing::Values("PosRec", "Telemetry"));

}  // namespace
}  // namespace morvane
