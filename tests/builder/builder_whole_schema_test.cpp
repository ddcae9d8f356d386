// A whole schema built through the editor's pages alone: enumerations with
// items, templates of Items, Item_enums and Structures of earlier
// templates, and schema elements of every kind with comments. The save
// writes the schema file, the C header and the empty XML data file; Morvane,
// started in a program directory of its own on that schema file, must write
// the same header and empty XML data file byte for byte.
#include <signal.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <string>

#include "builder/element_editor.h"
#include "builder/enumerations_page.h"
#include "builder/name_list.h"
#include "builder/report_view.h"
#include "builder/schema_page.h"
#include "builder/spin_edit.h"
#include "builder/templates_page.h"
#include "sheet_fixture.h"

using namespace morvane;

namespace {

// One element line as the user enters it.
struct Line {
    const char* name;
    int kind;
    const char* type;
    const char* nrepetitions = "1";
    bool collapsed = false;
    const char* comment = "";
};

// A header cut off by an aborted generation has no closing line.
bool IsCompleteHeader(const std::string& header, const std::string& guard) {
    const std::string end = "#endif //__" + guard + "__\n";
    return header.size() > end.size() &&
           header.compare(header.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

class BuilderWholeSchemaTest : public QObject, public test::SheetFixture {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void schemaBuiltThroughThePagesCompilesAsMorvaneCompilesIt();

  private:
    void BuildEnumerations();
    void BuildTemplates();
    void BuildSchema();
    // Fills editor's fields from line and presses "Add"; no message may come.
    void Enter(CElementEditor* editor, const Line& line);
};

void BuilderWholeSchemaTest::init() {
    SetUpFixture();
    MakeSheet();
}

void BuilderWholeSchemaTest::cleanup() { TearDownFixture(); }

void BuilderWholeSchemaTest::Enter(CElementEditor* editor, const Line& line) {
    Choose(editor->KindCombo(), line.kind);
    const int type = editor->TypeCombo()->findText(line.type);
    QVERIFY2(type >= 0, line.type);
    Choose(editor->TypeCombo(), type);
    if (line.collapsed) {
        QVERIFY(editor->CollapsedCheck()->isEnabled());
        QTest::mouseClick(editor->CollapsedCheck(), Qt::LeftButton);
    }
    QCOMPARE(editor->CollapsedCheck()->isChecked(), line.collapsed);
    editor->RepetitionsEdit()->SetText(line.nrepetitions);
    editor->CommentEdit()->setPlainText(line.comment);
    TypeInto(editor->NameEdit(), line.name);
    QTest::mouseClick(editor->AddButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{});
}

void BuilderWholeSchemaTest::BuildEnumerations() {
    GoTo(CMyPropertySheet::kEnumerationsPage);
    CreateEnum("Mode");
    AddItem("OFF", "0");
    AddItem("ON");  // the proposed 1
    AddItem("STANDBY");
    CreateEnum("Color");
    AddItem("RED");
    AddItem("BLUE");
    ClickViewRow(sheet_->Enumerations()->ItemList(), 1);
    AddItem("GREEN");      // the proposed 3, before BLUE
    CreateEnum("Unused");  // no items: offered, but not saved
    QCOMPARE(dialogs_->messages, std::vector<std::string>{});
    Shot("enumerations");
}

void BuilderWholeSchemaTest::BuildTemplates() {
    using E = CElementEditor;
    GoTo(CMyPropertySheet::kTemplatesPage);
    CTemplateStructures* page = sheet_->Templates();
    CElementEditor* editor = page->Editor();

    CreateTemplate("Point", "a point");
    Enter(editor, {"x", E::kItem, "double"});
    Enter(editor, {"y", E::kItem, "double"});
    page->TemplateCommentEdit()->setPlainText("a point in the plane");
    QTest::mouseClick(page->ChangeCommentButton(), Qt::LeftButton);

    CreateTemplate("Segment");
    Enter(editor, {"from", E::kStructure, "Point"});
    Enter(editor, {"to", E::kStructure, "Point", "1", false, "end point"});
    Enter(editor, {"mode", E::kItemEnum, "Mode"});

    CreateTemplate("Track", "one track\nof segments");
    // While a template is being named it is no type of its own.
    page->TemplateNameEdit()->setText("Track");
    Choose(editor->KindCombo(), E::kStructure);
    QCOMPARE(editor->TypeCombo()->findText("Track"), -1);
    Enter(editor, {"segs", E::kStructure, "Segment", "3"});
    page->TemplateNameEdit()->clear();
    Enter(editor, {"color", E::kItemEnum, "Color"});
    Enter(editor, {"count", E::kItem, "unsigned16"});
    Enter(editor, {"label", E::kItem, "char", "16", true});

    CreateTemplate("Empty");  // no elements: not saved
    Shot("templates");
}

void BuilderWholeSchemaTest::BuildSchema() {
    using E = CElementEditor;
    GoTo(CMyPropertySheet::kSchemaPage);
    CSchemaPage* page = sheet_->Schema();
    CElementEditor* editor = page->Editor();
    const Line lines[] = {
        {"count", E::kItem, "int", "1", false, "how many"},
        {"callsign", E::kItem, "char", "20", true, "call sign"},
        {"flags", E::kItem, "char", "4"},
        {"mode", E::kItemEnum, "Mode"},
        {"colors", E::kItemEnum, "Color", "2", false, "paint"},
        {"track", E::kStructure, "Track", "1", false, "the track"},
        {"spare", E::kStructure, "Point", "2"},
        {"s16", E::kItem, "int16"},
        {"big", E::kItem, "int64"},
        {"u", E::kItem, "unsigned"},
        {"u16", E::kItem, "unsigned16"},
        {"u64", E::kItem, "unsigned64"},
        {"speed", E::kItem, "float"},
        {"height", E::kItem, "double", "3"},
        {"ok", E::kItem, "bool"},
    };
    for (const Line& line : lines) Enter(editor, line);
    QCOMPARE(editor->List()->rowCount(), int(std::size(lines)));
    TypeInto(page->NameEdit(), "Flight");
    page->IdEdit()->SetText("12");
    Shot("schema");
    QTest::mouseClick(page->SaveButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{"Schema created successfully!"});
}

void BuilderWholeSchemaTest::schemaBuiltThroughThePagesCompilesAsMorvaneCompilesIt() {
    BuildEnumerations();
    BuildTemplates();
    BuildSchema();
    if (QTest::currentTestFailed()) return;

    const std::string saved = config_->schemasDirectory + "/Flight.xsd";
    QCOMPARE(test::ReadFile(saved),
             test::ReadFile(test::TestDataDir() + "/builder/golden/flight.xsd"));
    const std::string header = test::ReadFile(config_->resultsIncludeDirectory + "/flight.h");
    const std::string emptyXml = test::ReadFile(config_->resultsEmptyXmlDirectory + "/flight.xml");
    QVERIFY2(IsCompleteHeader(header, "FLIGHT"), header.c_str());
    QVERIFY(emptyXml.find("<Schema") != std::string::npos);

    test::TempDir program;
    test::MakeProgramDir(program.path(), {"Morvane"}, false);
    test::WriteFile(program / "Morvane.ini",
                    "[General]\nPort=" + std::to_string(test::FreeTcpPort()) + "\n");
    test::CopyFile(saved, program / "Schemas/Flight.xsd");
    test::BackgroundProgram morvane(program / "Morvane", {}, program.path());
    const bool generated =
        test::WaitFor([&] { return test::FileExists(program / "ResultsInclude/Schema_Enum.h"); },
                      std::chrono::seconds(20));
    const int status = morvane.Stop(SIGTERM);
    QVERIFY2(generated, (morvane.Stdout() + morvane.Stderr()).c_str());
    QCOMPARE(status, 0);
    const std::string log = test::ReadFile(program / "Morvane.log");
    QVERIFY2(log.find("Error") == std::string::npos, log.c_str());

    QCOMPARE(test::ReadFile(program / "ResultsInclude/flight.h"), header);
    QCOMPARE(test::ReadFile(program / "ResultsEmptyXml/flight.xml"), emptyXml);
}

QTEST_MAIN(BuilderWholeSchemaTest)
#include "builder_whole_schema_test.moc"
