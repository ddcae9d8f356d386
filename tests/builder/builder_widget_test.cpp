// The General and Schema pages of MorvaneBuilder and the sheet around
// them, driven as a user drives them, offscreen.
//
// With MORVANE_SCREENSHOTS set to a directory, every page a test visits is
// saved there as a PNG.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QAbstractButton>
#include <QGroupBox>
#include <QUrl>
#include <QKeySequence>
#include <QLabel>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "builder/builder_page.h"
#include "builder/change_name_dlg.h"
#include "builder/edit_model.h"
#include "builder/element_editor.h"
#include "builder/enumerations_page.h"
#include "builder/general_page.h"
#include "builder/name_list.h"
#include "builder/property_sheet.h"
#include "builder/qt_dialogs.h"
#include "builder/report_view.h"
#include "builder/schema_page.h"
#include "builder/spin_edit.h"
#include "builder/templates_page.h"
#include "builder_test_util.h"
#include "sheet_fixture.h"

using namespace morvane;

namespace {

const char* const kPosRec = R"(<?xml version="1.0"?>
<Schema name="PosRec" id="7">
   <Template name="Point"><Item name="x"/><Item name="y"/></Template>
   <Enum name="Mode"><Item name="OFF" id="0"/><Item name="ON" id="1"/></Enum>
   <Item name="count" type="int"/>
   <!-- reserved -->
   <Item name="flags" type="char" nrepetitions="4" visibility="0"/>
   <Item_enum name="mode" type="Mode"/>
   <Structure name="pos" type="Point" nrepetitions="2"/>
</Schema>
)";

const char* const kSecond = R"(<Schema name="Second" id="9"><Item name="extra" type="double"/></Schema>)";

// The four pages, as rows of a data-driven test.
void PageRows() {
    QTest::addColumn<int>("page");
    QTest::newRow("General") << int(CMyPropertySheet::kGeneralPage);
    QTest::newRow("Enumerations") << int(CMyPropertySheet::kEnumerationsPage);
    QTest::newRow("Templates") << int(CMyPropertySheet::kTemplatesPage);
    QTest::newRow("Schema") << int(CMyPropertySheet::kSchemaPage);
}

QStringList Texts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

}  // namespace

class BuilderWidgetTest : public QObject, public test::SheetFixture {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void sheetHasFourPagesAndOneCloseButton();
    void generalListsOnlyExactXsdNames();
    void generalLoadsTwoFilesIntoTheSchemaPage();
    void generalRefusesAFileAlreadyLoaded();
    void generalShowsAnUnparsableFileAndGoesOn();
    void generalRootWithoutIdIsListedButDoesNotEnableNewSchema();
    void generalNewSchemaEmptiesTheModel();
    void generalBrowse_data();
    void generalBrowse();
    void generalHelpOpensTheAboutBox();
    void schemaAddCreatesTheSchema();
    void schemaAddInsertsBeforeTheSelectedRow();
    void schemaAddRefusals_data();
    void schemaAddRefusals();
    void schemaKindChoosesTheTypeList();
    void schemaCollapsedOnlyForChar();
    void schemaEditChangesTheSelectedRow();
    void schemaDeleteAsks();
    void schemaDoubleClickLoadsTheRow();
    void schemaSaveUsesTheNameAndIdFields();
    void leaveQuestion_data();
    void leaveQuestion();
    void leaveAfterLoadingNeverAsks();
    void closeAsksAboutUnsavedEdits();
    void enterAndEscapeAreSwallowed_data();
    void enterAndEscapeAreSwallowed();
    // Tab order and access keys.
    void keyboardReachesEveryControl_data();
    void keyboardReachesEveryControl();
    // Data the editor must not change or drop, through the real message
    // boxes.
    void dataKept_data();
    void dataKept();
    // Saves that must not leave a broken or misplaced file.
    void saves_data();
    void saves();
    // A schema loaded and saved without edits: the same layout, the same
    // comments.
    void roundTrip_data();
    void roundTrip();
    // What a save does to the files on disk: links kept, modes kept, all
    // of them or none replaced.
    void saveOnDisk_data();
    void saveOnDisk();
    // The list headers and columns at any width.
    void gettingAround_data();
    void gettingAround();
    void changeNameDialog();
    void folderBrowserStaysInTheRoot();
    void messageBoxesShowTheirWholeTitle();
    void spinEditKeepsFreeText();

  private:
    void Write(const std::string& name, const char* text) {
        test::WriteFile(InSchemas(name), text);
    }
    void DoubleClickFile(const QString& name);
    void DoubleClickRow(int row) { DoubleClickViewRow(Editor()->List(), row); }
    void ClickRow(int row) { ClickViewRow(Editor()->List(), row); }
    void AddElement(const QString& name, int kind = -1, int type = -1) {
        AddElementIn(Editor(), name, kind, type);
    }

    CGeneral* General() const { return sheet_->General(); }
    CSchemaPage* SchemaPage() const { return sheet_->Schema(); }
    CElementEditor* Editor() const { return SchemaPage()->Editor(); }
    CEditModel& Model() const { return sheet_->Model(); }
};

void BuilderWidgetTest::init() {
    SetUpFixture();
    Write("PosRec.xsd", kPosRec);
    Write("Second.xsd", kSecond);
    MakeSheet();
}

void BuilderWidgetTest::cleanup() { TearDownFixture(); }

void BuilderWidgetTest::DoubleClickFile(const QString& name) {
    QListWidget* list = General()->FileList();
    QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    DoubleClick(list->viewport(), list->visualItemRect(found[0]).center());
}

void BuilderWidgetTest::sheetHasFourPagesAndOneCloseButton() {
    QTabWidget* tabs = sheet_->Tabs();
    QCOMPARE(tabs->count(), 4);
    const QStringList titles = {"General", "Enumerations", "Templates", "Schema"};
    for (int i = 0; i < 4; ++i) QCOMPARE(tabs->tabText(i), titles[i]);
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(sheet_->windowTitle().contains("RivivarozeRivirov"));

    QStringList outsidePages;
    for (QPushButton* b : sheet_->findChildren<QPushButton*>())
        if (!tabs->isAncestorOf(b) && b->isVisible()) outsidePages << b->text();
    QCOMPARE(outsidePages, QStringList{"&Close"});
    Shot("general");
    for (int i = 1; i < 4; ++i) {
        GoTo(i);
        Shot(titles[i].toLower());
    }
}

void BuilderWidgetTest::generalListsOnlyExactXsdNames() {
    test::TempDir other;
    for (const char* name : {"a.xsd", "b.XSD", "c.xsd.bak", "d.xsdx"}) test::WriteFile(other / name, "x");
    test::MakeDirs(other / "dir.xsd.d");
    test::MakeDirs(other / "sub");
    const std::string working = std::filesystem::canonical(config_->schemasDirectory).string();
    sheet_.reset();
    std::filesystem::remove_all(working);
    std::filesystem::copy(other.path(), working, std::filesystem::copy_options::recursive);
    MakeSheet();
    QCOMPARE(Texts(General()->FileList()), QStringList{"a.xsd"});
    QCOMPARE(General()->DirectoryEdit()->text(), QString::fromStdString(working));
    QVERIFY(Texts(General()->LoadedList()).isEmpty());
    QVERIFY(!General()->NewSchemaButton()->isEnabled());
}

void BuilderWidgetTest::generalLoadsTwoFilesIntoTheSchemaPage() {
    QCOMPARE(Texts(General()->FileList()), (QStringList{"PosRec.xsd", "Second.xsd"}));
    DoubleClickFile("PosRec.xsd");
    DoubleClickFile("Second.xsd");
    QVERIFY(dialogs_->messages.empty());
    QCOMPARE(Texts(General()->LoadedList()),
             (QStringList{QString::fromStdString(InSchemas("PosRec.xsd")),
                          QString::fromStdString(InSchemas("Second.xsd"))}));
    QVERIFY(General()->NewSchemaButton()->isEnabled());
    Shot("loaded");

    GoTo(CMyPropertySheet::kSchemaPage);
    QCOMPARE(SchemaPage()->NameEdit()->text(), QString("Second"));
    QCOMPARE(SchemaPage()->IdEdit()->Text(), QString("9"));
    QVERIFY(SchemaPage()->SaveButton()->isEnabled());
    CReportView* list = Editor()->List();
    QCOMPARE(list->rowCount(), 5);
    QCOMPARE(RowCells(list, 0), (QStringList{"Item", "count", "int", "1", ""}));
    QCOMPARE(RowCells(list, 1), (QStringList{"Item", "flags", "char", "4", "1"}));
    QCOMPARE(RowCells(list, 2), (QStringList{"Item_enum", "mode", "Mode", "1", ""}));
    QCOMPARE(RowCells(list, 3), (QStringList{"Structure", "pos", "Point", "2", ""}));
    QCOMPARE(RowCells(list, 4), (QStringList{"Item", "extra", "double", "1", ""}));
    Shot("schema");
}

void BuilderWidgetTest::generalRefusesAFileAlreadyLoaded() {
    DoubleClickFile("PosRec.xsd");
    const std::string before = test::Dump(Model());
    DoubleClickFile("PosRec.xsd");
    QCOMPARE(dialogs_->messages,
             std::vector<std::string>{"Selected file exists in the list of loaded xsd files"});
    QCOMPARE(General()->LoadedList()->count(), 1);
    QCOMPARE(test::Dump(Model()), before);
}

void BuilderWidgetTest::generalShowsAnUnparsableFileAndGoesOn() {
    Write("Broken.xsd", "<Schema name=\"B\" id=\"1\"><Item name=\"a\">");
    sheet_.reset();
    MakeSheet();
    DoubleClickFile("PosRec.xsd");
    const std::string before = test::Dump(Model());
    DoubleClickFile("Broken.xsd");
    QCOMPARE(dialogs_->messages.size(), size_t{1});
    const std::string expectedStart = "Error  during reading  " + InSchemas("Broken.xsd") + "[";
    QVERIFY2(dialogs_->messages[0].rfind(expectedStart, 0) == 0, dialogs_->messages[0].c_str());
    QCOMPARE(General()->LoadedList()->count(), 1);
    QCOMPARE(test::Dump(Model()), before);
    QVERIFY(sheet_->isVisible());
    DoubleClickFile("Second.xsd");  // the editor goes on
    QCOMPARE(General()->LoadedList()->count(), 2);
}

void BuilderWidgetTest::generalRootWithoutIdIsListedButDoesNotEnableNewSchema() {
    Write("NoId.xsd", R"(<Schema name="N"><Item name="a"/></Schema>)");
    sheet_.reset();
    MakeSheet();
    DoubleClickFile("NoId.xsd");
    QCOMPARE(dialogs_->messages, std::vector<std::string>{"Error!  Root Element struct_name is absent"});
    QCOMPARE(General()->LoadedList()->count(), 1);
    QVERIFY(!General()->NewSchemaButton()->isEnabled());
    QCOMPARE(Model().CurrentSchema(), nullptr);
}

void BuilderWidgetTest::generalNewSchemaEmptiesTheModel() {
    DoubleClickFile("PosRec.xsd");
    QTest::mouseClick(General()->NewSchemaButton(), Qt::LeftButton);
    QVERIFY(dialogs_->questions.empty());
    QCOMPARE(test::Dump(Model()), std::string("no schema\n"));
    QVERIFY(Texts(General()->LoadedList()).isEmpty());
    QVERIFY(!General()->NewSchemaButton()->isEnabled());
    QCOMPARE(General()->FileList()->count(), 2);
    GoTo(CMyPropertySheet::kSchemaPage);
    QCOMPARE(Editor()->List()->rowCount(), 0);
    QVERIFY(!SchemaPage()->SaveButton()->isEnabled());
    // The same file can be loaded again.
    GoTo(CMyPropertySheet::kGeneralPage);
    DoubleClickFile("PosRec.xsd");
    QCOMPARE(General()->LoadedList()->count(), 1);
}

void BuilderWidgetTest::generalBrowse_data() {
    QTest::addColumn<int>("pick");  // 0 sub, 1 outside, 2 cancel, 3 the program directory
    QTest::addColumn<bool>("changed");
    QTest::addColumn<bool>("message");
    QTest::newRow("subdirectory") << 0 << true << false;
    QTest::newRow("outside the root") << 1 << false << true;
    QTest::newRow("cancelled") << 2 << false << false;
    QTest::newRow("up to the program directory") << 3 << true << false;
}

void BuilderWidgetTest::generalBrowse() {
    QFETCH(int, pick);
    QFETCH(bool, changed);
    QFETCH(bool, message);
    test::MakeDirs(*dir_ / "sub");
    test::WriteFile(*dir_ / "sub/Only.xsd", "x");
    test::WriteFile(*dir_ / "Top.xsd", "x");
    test::TempDir outside;
    const std::string picks[] = {*dir_ / "sub", outside.path(), "", dir_->path()};
    dialogs_->folders = {pick != 2 ? std::optional<std::string>(picks[pick]) : std::nullopt};

    const std::string schemas = InSchemas("").substr(0, InSchemas("").size() - 1);
    QTest::mouseClick(General()->BrowseButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->browseTitles, std::vector<std::string>{"Select Directory:"});
    QCOMPARE(dialogs_->browseRoots,
             std::vector<std::string>{std::filesystem::canonical(dir_->path()).string()});
    QCOMPARE(dialogs_->browseStarts, std::vector<std::string>{schemas});
    QCOMPARE(!dialogs_->messages.empty(), message);
    const std::string expected =
        changed ? std::filesystem::canonical(picks[pick]).string() : schemas;
    QCOMPARE(General()->DirectoryEdit()->text(), QString::fromStdString(expected));
    QCOMPARE(Model().workingDirectory.str(), expected);
    const QStringList files[] = {{"Only.xsd"}, {"PosRec.xsd", "Second.xsd"}, {"Top.xsd"}};
    QCOMPARE(Texts(General()->FileList()), files[!changed ? 1 : pick == 0 ? 0 : 2]);
}

void BuilderWidgetTest::generalHelpOpensTheAboutBox() {
    QTest::mouseClick(General()->HelpButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->aboutCount, 1);
}

void BuilderWidgetTest::schemaAddCreatesTheSchema() {
    // Ids 1, 2, 7 and 9 are taken: a new schema is proposed 3.
    Write("One.xsd", R"(<Schema name="One" id="1"><Item name="a"/></Schema>)");
    Write("Two.xsd", R"(<Schema name="Two" id="02"><Item name="a"/></Schema>)");
    sheet_.reset();
    MakeSheet();
    GoTo(CMyPropertySheet::kSchemaPage);
    QCOMPARE(SchemaPage()->IdEdit()->Text(), QString("3"));
    QVERIFY(!SchemaPage()->SaveButton()->isEnabled());
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Item"));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("int"));
    QCOMPARE(Editor()->RepetitionsEdit()->Text(), QString("1"));
    QTest::keyClicks(Editor()->NameEdit(), "x");
    QTest::mouseClick(Editor()->AddButton(), Qt::LeftButton);
    QVERIFY(dialogs_->messages.empty());
    QVERIFY(SchemaPage()->SaveButton()->isEnabled());
    QVERIFY(Model().newSchema);
    QCOMPARE(Editor()->List()->rowCount(), 1);
    QCOMPARE(RowCells(Editor()->List(), 0), (QStringList{"Item", "x", "int", "1", ""}));
    QCOMPARE(Model().CurrentSchema()->elements.size(), size_t{1});
    Shot("added");
}

void BuilderWidgetTest::schemaAddInsertsBeforeTheSelectedRow() {
    GoTo(CMyPropertySheet::kSchemaPage);
    AddElement("a");
    AddElement("b");
    AddElement("c");
    ClickRow(1);
    AddElement("new", CElementEditor::kItem, 0);
    CReportView* list = Editor()->List();
    QCOMPARE(list->rowCount(), 4);
    const QStringList order = {"a", "new", "b", "c"};
    for (int r = 0; r < 4; ++r) {
        QCOMPARE(list->CellText(r, 1), order[r]);
        QCOMPARE(QString::fromUtf8(Model().CurrentSchema()->elements[size_t(r)].name.c_str()), order[r]);
    }
    QCOMPARE(list->CellText(1, 2), QString("char"));
}

void BuilderWidgetTest::schemaAddRefusals_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("repetitions");
    QTest::addColumn<bool>("clearType");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty name") << "" << "1" << false << "Error! name is empty";
    QTest::newRow("name of 50") << QString(50, 'n') << "1" << false
                                << "Error! Size of field > max[50]: \"Name:\" of the element is 50 "
                                   "characters long; at most 49 fit";
    QTest::newRow("repetitions of 10") << "a" << "1234567890" << false
                                       << "Error! Size of field > max[10]: \"NRepetitions:\" of the "
                                          "element is 10 characters long; at most 9 fit";
    QTest::newRow("type cleared") << "a" << "1" << true << "Error! Type is empty";
}

void BuilderWidgetTest::schemaAddRefusals() {
    QFETCH(QString, name);
    QFETCH(QString, repetitions);
    QFETCH(bool, clearType);
    QFETCH(QString, message);
    GoTo(CMyPropertySheet::kSchemaPage);
    QTest::keyClicks(Editor()->NameEdit(), name);
    Editor()->RepetitionsEdit()->SetText(repetitions);
    if (clearType) Editor()->TypeCombo()->setEditText("");
    QTest::mouseClick(Editor()->AddButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{message.toStdString()});
    QCOMPARE(Model().CurrentSchema(), nullptr);
    QCOMPARE(Editor()->List()->rowCount(), 0);
}

void BuilderWidgetTest::schemaKindChoosesTheTypeList() {
    GoTo(CMyPropertySheet::kSchemaPage);
    Choose(Editor()->KindCombo(), CElementEditor::kStructure);
    QCOMPARE(Editor()->TypeCombo()->count(), 0);
    QTest::keyClicks(Editor()->NameEdit(), "s");
    QTest::mouseClick(Editor()->AddButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{"Error! Type is empty"});

    GoTo(CMyPropertySheet::kGeneralPage);
    DoubleClickFile("PosRec.xsd");
    GoTo(CMyPropertySheet::kSchemaPage);
    Choose(Editor()->KindCombo(), CElementEditor::kItemEnum);
    QCOMPARE(Editor()->TypeCombo()->itemText(0), QString("Mode"));
    QCOMPARE(Editor()->TypeCombo()->count(), 1);
    QCOMPARE(Editor()->TypeCombo()->currentIndex(), 0);
    Choose(Editor()->KindCombo(), CElementEditor::kStructure);
    QCOMPARE(Editor()->TypeCombo()->itemText(0), QString("Point"));
    Choose(Editor()->KindCombo(), CElementEditor::kItem);
    QCOMPARE(Editor()->TypeCombo()->count(), 10);
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("int"));
    // A kind typed in any case is that kind: its types are offered, and
    // Add stores "Item" and "Item_enum" as the parser wants them.
    TypeIntoCombo(Editor()->KindCombo(), "item_ENUM");
    QCOMPARE(Editor()->TypeCombo()->count(), 1);
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("Mode"));
    AddElement("e");
    TypeIntoCombo(Editor()->KindCombo(), "ITEM");
    QCOMPARE(Editor()->TypeCombo()->count(), 10);
    AddElement("i");
    TypeIntoCombo(Editor()->KindCombo(), "structure");
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("Point"));
    AddElement("s");
    QCOMPARE(dialogs_->messages.size(), size_t{1});  // the refusal above only
    const QStringList rows = Rows(Editor()->List());
    QCOMPARE(rows.mid(rows.size() - 3), (QStringList{"Item_enum|e|Mode|1|", "Item|i|int|1|",
                                                     "structure|s|Point|1|"}));
}

void BuilderWidgetTest::schemaCollapsedOnlyForChar() {
    GoTo(CMyPropertySheet::kSchemaPage);
    QCheckBox* collapsed = Editor()->CollapsedCheck();
    QVERIFY(!collapsed->isEnabled());
    Choose(Editor()->TypeCombo(), 0);  // char
    QVERIFY(collapsed->isEnabled());
    QTest::mouseClick(collapsed, Qt::LeftButton);
    QVERIFY(collapsed->isChecked());
    AddElement("c");
    QCOMPARE(RowCells(Editor()->List(), 0), (QStringList{"Item", "c", "char", "1", "1"}));
    Choose(Editor()->TypeCombo(), 1);  // int
    QVERIFY(!collapsed->isEnabled());
    QVERIFY(!collapsed->isChecked());
    // Typed text counts as a pick, "char" in any case as the parser reads it.
    for (const char* typed : {"char", "CHAR", "int"}) {
        TypeIntoCombo(Editor()->TypeCombo(), typed);
        QCOMPARE(collapsed->isEnabled(), QString(typed) != "int");
    }
    TypeIntoCombo(Editor()->TypeCombo(), "Char");
    QTest::mouseClick(collapsed, Qt::LeftButton);
    AddElement("d");
    QCOMPARE(RowCells(Editor()->List(), 1), (QStringList{"Item", "d", "Char", "1", "1"}));
}

void BuilderWidgetTest::schemaEditChangesTheSelectedRow() {
    GoTo(CMyPropertySheet::kSchemaPage);
    AddElement("a");
    AddElement("b");
    QTest::mouseClick(Editor()->EditButton(), Qt::LeftButton);  // no row: nothing
    QVERIFY(dialogs_->messages.empty());

    ClickRow(1);
    Editor()->NameEdit()->setText("renamed");
    Choose(Editor()->TypeCombo(), 8);  // double
    Editor()->RepetitionsEdit()->SetText("3");
    Editor()->CommentEdit()->setPlainText("why");
    QTest::mouseClick(Editor()->EditButton(), Qt::LeftButton);
    QVERIFY(dialogs_->messages.empty());
    QCOMPARE(RowCells(Editor()->List(), 1), (QStringList{"Item", "renamed", "double", "3", ""}));
    const CEditElement& e = Model().CurrentSchema()->elements[1];
    QCOMPARE(e.name.str(), std::string("renamed"));
    QCOMPARE(e.comment, std::string("why"));

    Editor()->NameEdit()->clear();
    QTest::mouseClick(Editor()->EditButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->LastMessage(), std::string("Error! Empty field"));
    Editor()->NameEdit()->setText(QString(50, 'n'));
    QTest::mouseClick(Editor()->EditButton(), Qt::LeftButton);
    QCOMPARE(QString::fromStdString(dialogs_->LastMessage()),
             QString("Error! Size of field > max[50]: \"Name:\" of the element is 50 characters "
                     "long; at most 49 fit"));
    QCOMPARE(Model().CurrentSchema()->elements[1].name.str(), std::string("renamed"));
}

void BuilderWidgetTest::schemaDeleteAsks() {
    GoTo(CMyPropertySheet::kSchemaPage);
    AddElement("a");
    AddElement("b");
    QTest::mouseClick(Editor()->DeleteButton(), Qt::LeftButton);  // no row: not even asked
    QVERIFY(dialogs_->questions.empty());

    ClickRow(0);
    dialogs_->answers = {false};
    QTest::mouseClick(Editor()->DeleteButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->questions, std::vector<std::string>{"Are you sure that you want to delete item?"});
    QCOMPARE(Editor()->List()->rowCount(), 2);

    dialogs_->answers = {true};
    QTest::mouseClick(Editor()->DeleteButton(), Qt::LeftButton);
    QCOMPARE(Editor()->List()->rowCount(), 1);
    QCOMPARE(Editor()->List()->CellText(0, 1), QString("b"));
    QCOMPARE(Model().CurrentSchema()->elements.size(), size_t{1});
    QCOMPARE(Model().CurrentSchema()->elements[0].name.str(), std::string("b"));
}

void BuilderWidgetTest::schemaDoubleClickLoadsTheRow() {
    DoubleClickFile("PosRec.xsd");
    GoTo(CMyPropertySheet::kSchemaPage);
    QCheckBox* collapsed = Editor()->CollapsedCheck();

    DoubleClickRow(1);  // flags: char, 4, collapsed, commented
    QCOMPARE(Editor()->NameEdit()->text(), QString("flags"));
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Item"));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("char"));
    QCOMPARE(Editor()->RepetitionsEdit()->Text(), QString("4"));
    QVERIFY(collapsed->isEnabled());
    QVERIFY(collapsed->isChecked());
    QCOMPARE(Editor()->CommentEdit()->toPlainText(), QString("reserved"));
    Shot("row-loaded");

    DoubleClickRow(0);  // count: int
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("int"));
    QVERIFY(!collapsed->isEnabled());
    QVERIFY(!collapsed->isChecked());
    QCOMPARE(Editor()->CommentEdit()->toPlainText(), QString());

    DoubleClickRow(3);  // pos: Structure of Point
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Structure"));
    QCOMPARE(Editor()->TypeCombo()->count(), 1);
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("Point"));
    QCOMPARE(Editor()->RepetitionsEdit()->Text(), QString("2"));

    DoubleClickRow(2);  // mode: Item_enum of Mode
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Item_enum"));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("Mode"));
}

void BuilderWidgetTest::schemaSaveUsesTheNameAndIdFields() {
    DoubleClickFile("PosRec.xsd");
    GoTo(CMyPropertySheet::kSchemaPage);
    SchemaPage()->NameEdit()->setText("Typed");
    SchemaPage()->IdEdit()->SetText("5");
    QTest::mouseClick(SchemaPage()->SaveButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{"Schema created successfully!"});
    // Written back to the file it came from, without a question.
    const std::string saved = test::ReadFile(config_->schemasDirectory + "/PosRec.xsd");
    QVERIFY2(saved.find("<Schema name=\"Typed\" id=\"5\">") != std::string::npos, saved.c_str());
    QVERIFY(test::FileExists(config_->resultsIncludeDirectory + "/typed.h"));
    QVERIFY(!test::FileExists(config_->schemasDirectory + "/Typed.xsd"));
    QTest::mouseClick(SchemaPage()->SaveButton(), Qt::LeftButton);
    QVERIFY(dialogs_->questions.empty());
    QCOMPARE(dialogs_->messages.size(), size_t(2));
}

void BuilderWidgetTest::leaveQuestion_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("no") << false;
    QTest::newRow("yes") << true;
}

void BuilderWidgetTest::leaveQuestion() {
    QFETCH(bool, answer);
    GoTo(CMyPropertySheet::kSchemaPage);
    SchemaPage()->NameEdit()->setText("Fresh");
    AddElement("x");
    dialogs_->choices = {answer ? CUserDialogs::Answer::kYes : CUserDialogs::Answer::kNo};
    GoTo(CMyPropertySheet::kGeneralPage);
    QCOMPARE(dialogs_->questions, std::vector<std::string>{"Do you want to save schema?"});
    QCOMPARE(Model().CurrentSchema() != nullptr, answer);
    QCOMPARE(test::FileExists(config_->schemasDirectory + "/Fresh.xsd"), answer);
    // The General page lists the file the save made.
    QCOMPARE(Texts(General()->FileList()).contains("Fresh.xsd"), answer);

    GoTo(CMyPropertySheet::kSchemaPage);
    QCOMPARE(Editor()->List()->rowCount(), answer ? 1 : 0);
    QCOMPARE(SchemaPage()->SaveButton()->isEnabled(), answer);
    // Entering the page again clears the flag: no second question.
    GoTo(CMyPropertySheet::kGeneralPage);
    QCOMPARE(dialogs_->questions.size(), size_t{1});
    if (!answer) return;
    // The file the schema was saved in is its own: the next save writes it
    // without asking whether to overwrite it.
    GoTo(CMyPropertySheet::kSchemaPage);
    AddElement("y");
    QTest::mouseClick(SchemaPage()->SaveButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->questions.size(), size_t{1});
    QCOMPARE(QString::fromStdString(dialogs_->LastMessage()), QString("Schema created successfully!"));
    QVERIFY(test::ReadFile(config_->schemasDirectory + "/Fresh.xsd").find("name=\"y\"") !=
            std::string::npos);
}

void BuilderWidgetTest::leaveAfterLoadingNeverAsks() {
    DoubleClickFile("PosRec.xsd");
    GoTo(CMyPropertySheet::kSchemaPage);
    AddElement("more");
    GoTo(CMyPropertySheet::kTemplatesPage);
    QVERIFY(dialogs_->questions.empty());
}

void BuilderWidgetTest::closeAsksAboutUnsavedEdits() {
    DoubleClickFile("PosRec.xsd");
    sheet_->close();  // nothing changed since the load: nothing asked
    QVERIFY(dialogs_->questions.empty());
    QVERIFY(!sheet_->isVisible());

    MakeSheet();
    DoubleClickFile("PosRec.xsd");
    GoTo(CMyPropertySheet::kSchemaPage);
    AddElement("x");
    GoTo(CMyPropertySheet::kGeneralPage);
    dialogs_->choices = {CUserDialogs::Answer::kCancel, CUserDialogs::Answer::kYes,
                         CUserDialogs::Answer::kNo};
    const std::string before = test::Dump(Model());
    sheet_->close();  // the window frame, Cancel
    QVERIFY(sheet_->isVisible());
    QCOMPARE(test::Dump(Model()), before);
    // Yes, and the save fails (a directory stands where the header goes):
    // the editor stays open with the edits.
    test::MakeDirs(config_->resultsIncludeDirectory + "/posrec.h");
    QTest::mouseClick(sheet_->CloseButton(), Qt::LeftButton);
    QVERIFY(sheet_->isVisible());
    QVERIFY2(dialogs_->LastMessage().find("was not saved") != std::string::npos,
             dialogs_->LastMessage().c_str());
    QCOMPARE(test::Dump(Model()), before);
    QTest::mouseClick(sheet_->CloseButton(), Qt::LeftButton);
    QCOMPARE(dialogs_->questions, std::vector<std::string>(3, "Do you want to save schema?"));
    QCOMPARE(sheet_->result(), int(QDialog::Accepted));
    QVERIFY(!sheet_->isVisible());
}

void BuilderWidgetTest::enterAndEscapeAreSwallowed_data() { PageRows(); }

void BuilderWidgetTest::enterAndEscapeAreSwallowed() {
    QFETCH(int, page);
    DoubleClickFile("PosRec.xsd");
    GoTo(page);
    Editor()->CommentEdit()->setPlainText("one line");
    const std::string before = test::Dump(Model());
    const QList<QWidget*> widgets = sheet_->Page(page)->findChildren<QWidget*>();
    int tried = 0;
    for (QWidget* w : widgets) {
        if (!w->isVisible() || !w->isEnabled() || w->focusPolicy() == Qt::NoFocus) continue;
        if (w == General()->FileList()) continue;  // Enter loads the file there
        w->setFocus();
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(w, Qt::Key(key));
            QVERIFY2(sheet_->isVisible(), qPrintable(w->objectName() + " " + w->metaObject()->className()));
        }
        ++tried;
    }
    QVERIFY(tried >= 5);
    QTest::keyClick(sheet_.get(), Qt::Key_Escape);
    QVERIFY(sheet_->isVisible());
    QCOMPARE(test::Dump(Model()), before);
    QCOMPARE(Editor()->CommentEdit()->toPlainText(), QString("one line"));
    QVERIFY(dialogs_->messages.empty());
    QVERIFY(dialogs_->questions.empty());
    QCOMPARE(General()->LoadedList()->count(), 1);
}

void BuilderWidgetTest::keyboardReachesEveryControl_data() { PageRows(); }

void BuilderWidgetTest::keyboardReachesEveryControl() {
    QFETCH(int, page);
    GoTo(page);
    // Every button and labelled control of the page has an access key of
    // its own, different from Close's; Alt and the key of a label focus
    // its control.
    QWidget* shown = sheet_->Page(page);
    QMap<QString, QString> owners;  // access key -> text
    auto takeKey = [&](const QString& text) {
        const QString key = QKeySequence::mnemonic(text).toString();
        QVERIFY2(!key.isEmpty(), qPrintable(text + " has no access key"));
        QVERIFY2(!owners.contains(key), qPrintable(text + " and " + owners.value(key)));
        owners[key] = text;
    };
    takeKey(sheet_->CloseButton()->text());
    for (QAbstractButton* b : shown->findChildren<QAbstractButton*>())
        if (!b->text().isEmpty()) takeKey(b->text());
    QList<QLabel*> labels;
    for (QLabel* l : shown->findChildren<QLabel*>())
        if (l->buddy() != nullptr) labels << l;
    QVERIFY(labels.size() >= 3);
    for (QLabel* l : labels) takeKey(l->text());
    for (QGroupBox* g : shown->findChildren<QGroupBox*>())
        if (!QKeySequence::mnemonic(g->title()).isEmpty()) takeKey(g->title());
    for (QLabel* l : labels) {
        if (!l->buddy()->isEnabled()) continue;
        QWidget* from = QApplication::focusWidget() ? QApplication::focusWidget() : sheet_.get();
        QTest::keySequence(from, QKeySequence(QKeySequence::mnemonic(l->text())));
        QTRY_VERIFY2_WITH_TIMEOUT(l->buddy()->hasFocus(), qPrintable(l->text()), 2000);
    }
    if (page == CMyPropertySheet::kGeneralPage) {  // and a button's key presses it
        QTest::keySequence(QApplication::focusWidget(), QKeySequence(Qt::ALT | Qt::Key_H));
        QTRY_COMPARE_WITH_TIMEOUT(dialogs_->aboutCount, 1, 2000);
    }

    // The controls in tab order; a page of two columns starts its right
    // column at columnStart.
    QList<QWidget*> expected;
    int columnStart = -1;
    auto editorOrder = [](const CElementEditor* e) {
        return QList<QWidget*>{e->NameEdit(),  e->KindCombo(),   e->TypeCombo(),
                               e->RepetitionsEdit(), e->CollapsedCheck(), e->CommentEdit(),
                               e->List(),      e->AddButton(),   e->DeleteButton(),
                               e->EditButton()};
    };
    if (page == CMyPropertySheet::kGeneralPage) {
        expected = {General()->DirectoryEdit(), General()->BrowseButton(), General()->HelpButton(),
                    General()->FileList(),      General()->LoadedList(),   General()->NewSchemaButton()};
    } else if (page == CMyPropertySheet::kEnumerationsPage) {
        const CEnumerations* p = sheet_->Enumerations();
        expected = {p->EnumList(),      p->EnumNameEdit(), p->CreateButton(), p->DeleteOneButton(),
                    p->DeleteAllButton(), p->ItemNameEdit(), p->IdEdit(),       p->ItemList(),
                    p->AddButton(),     p->DeleteButton(), p->EditButton()};
        columnStart = 5;
    } else if (page == CMyPropertySheet::kTemplatesPage) {
        const CTemplateStructures* p = sheet_->Templates();
        expected = {p->TemplateList(),   p->TemplateNameEdit(), p->TemplateCommentEdit(),
                    p->ChangeCommentButton(), p->CreateButton(), p->DeleteOneButton(),
                    p->DeleteAllButton()};
        columnStart = expected.size();
        expected += editorOrder(p->Editor());
    } else {
        expected = {SchemaPage()->NameEdit(), SchemaPage()->IdEdit(), SchemaPage()->SaveButton()};
        expected += editorOrder(Editor());
    }
    // Walk the focus chain once round and keep the widgets of interest.
    QList<QWidget*> seen;
    QWidget* w = expected.first();
    for (int steps = 0; steps < 500 && seen.size() < expected.size(); ++steps) {
        if (expected.contains(w) && !seen.contains(w)) seen << w;
        w = w->nextInFocusChain();
    }
    QCOMPARE(seen, expected);
    // Reading order: each next control lies below, or on the same row to
    // the right; the right column begins right of everything on the left.
    for (int i = 1; i < expected.size(); ++i) {
        QPoint a = expected[i - 1]->mapTo(sheet_.get(), QPoint(0, 0));
        QPoint b = expected[i]->mapTo(sheet_.get(), QPoint(0, 0));
        bool sameRow = qAbs(a.y() - b.y()) < expected[i - 1]->height() / 2 + 4;
        bool ordered = i == columnStart ? b.x() > a.x() + expected[i - 1]->width() / 2
                                        : (sameRow ? b.x() > a.x() : b.y() > a.y());
        QVERIFY2(ordered, qPrintable(QString("%1 before %2").arg(i - 1).arg(i)));
    }
}

void BuilderWidgetTest::changeNameDialog() {
    CChangeNameDlg dialog;
    dialog.SetPath("/a/S.xsd");
    QCOMPARE(dialog.windowTitle(), QString("Change File Name"));
    QCOMPARE(dialog.PathEdit()->text(), QString("/a/S.xsd"));
    dialog.show();
    dialog.PathEdit()->setText("/a/T.xsd");
    dialog.reject();  // Escape or the close box
    QCOMPARE(dialog.Path(), std::string("/a/S.xsd"));
    dialog.show();
    QTest::mouseClick(dialog.CloseButton(), Qt::LeftButton);
    QCOMPARE(dialog.Path(), std::string("/a/T.xsd"));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void BuilderWidgetTest::folderBrowserStaysInTheRoot() {
    namespace fs = std::filesystem;
    test::MakeDirs(*dir_ / "sub");
    test::TempDir outside;
    const QString root = QString::fromStdString(fs::canonical(dir_->path()).string());
    const QString schemas =
        QString::fromStdString(fs::canonical(config_->schemasDirectory).string());
    CFolderBrowser browser("Select Directory:", root, schemas);
    QCOMPARE(browser.windowTitle(), QString("Select Directory:"));
    QCOMPARE(browser.directory().absolutePath(), schemas);
    QCOMPARE(browser.sidebarUrls(), QList<QUrl>{QUrl::fromLocalFile(root)});
    browser.show();
    auto* up = browser.findChild<QAbstractButton*>("toParentButton");
    QVERIFY(up != nullptr);
    QTest::mouseClick(up, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(browser.directory().absolutePath(), root, 5000);
    // Up from the root, or any other way out, leads back to the root.
    QTest::mouseClick(up, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(browser.directory().absolutePath(), root, 5000);
    browser.setDirectory(QString::fromStdString(outside.path()));
    QTRY_COMPARE_WITH_TIMEOUT(browser.directory().absolutePath(), root, 5000);
    // A pick outside is not taken; one inside is.
    browser.selectFile(QString::fromStdString(outside.path()));
    browser.accept();
    QVERIFY(browser.isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(browser.directory().absolutePath(), root, 5000);
    browser.setDirectory(root + "/sub");  // entered, nothing selected in it
    browser.accept();
    QCOMPARE(browser.result(), int(QDialog::Accepted));
    QCOMPARE(browser.selectedFiles(), QStringList{root + "/sub"});
}

void BuilderWidgetTest::messageBoxesShowTheirWholeTitle() {
    // The shortest texts make the narrowest boxes; each is answered with
    // Enter, its default button.
    CQtDialogs real;
    QStringList cut;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, &answerer, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        if (box->windowTitle() != "MorvaneBuilder" || box->width() < TitleWidth(*box))
            cut << box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    answerer.start(20);
    real.Message("x");
    QVERIFY(!real.AskYesNo("y"));
    QCOMPARE(real.AskYesNoCancel("z"), CUserDialogs::Answer::kYes);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
}

void BuilderWidgetTest::spinEditKeepsFreeText() {
    CSpinEdit spin;
    spin.Bind(1, 10000, 1);
    QCOMPARE(spin.Text(), QString("1"));
    spin.stepBy(1);
    QCOMPARE(spin.Text(), QString("2"));
    struct Row {
        QString text;
        int steps;
        QString after;
    };
    const Row rows[] = {{"abc", 1, "3"},     // no number: the last position steps
                        {"", -1, "2"},       // no number: from 3, down
                        {"0007", 1, "8"},    // the number the text holds
                        {"10000", 1, "10000"}, {"1", -5, "1"}, {"-40", 1, "2"}};
    spin.stepBy(0);
    for (const Row& row : rows) {
        spin.SetText(row.text);
        QCOMPARE(spin.Text(), row.text);  // any text is kept as typed
        spin.stepBy(row.steps);
        QCOMPARE(spin.Text(), row.after);
    }
}

namespace {

enum DataStep { kEditRow, kLeaveNew, kNewSchemaEdited, kRenameLoaded, kDeleteUsed };

}  // namespace

void BuilderWidgetTest::dataKept_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("key");        // pressed in the message box
    QTest::addColumn<QString>("shown");  // the Type field, the question, or the Name field
    const int escape = Qt::Key_Escape, schema = CMyPropertySheet::kSchemaPage;
    const QString save = "Do you want to save schema?";
    QTest::newRow("type not offered") << int(kEditRow) << schema << escape << QString("text");
    QTest::newRow("leave a new schema, Escape") << int(kLeaveNew) << schema << escape << save;
    QTest::newRow("New Schema with edits, Escape")
        << int(kNewSchemaEdited) << int(CMyPropertySheet::kGeneralPage) << escape << save;
    QTest::newRow("renamed loaded schema")
        << int(kRenameLoaded) << schema << escape << QString("Renamed");
    QTest::newRow("used enumeration, Enter")
        << int(kDeleteUsed) << int(CMyPropertySheet::kEnumerationsPage) << int(Qt::Key_Return)
        << QString("Enumeration \"Status\" is still used by status, history. Are you sure that "
                   "you want to delete enumeration?");
}

void BuilderWidgetTest::dataKept() {
    QFETCH(int, step);
    QFETCH(int, page);
    QFETCH(int, key);
    QFETCH(QString, shown);
    Write("Telemetry.xsd",
          test::ReadFile(test::SourceDir() + "/examples/Schemas/Telemetry.xsd").c_str());
    CQtDialogs real;
    MakeSheet(&real);
    // Answers every message box that comes, as a user at the keyboard:
    // records its text and default button, then presses key.
    QStringList texts;
    QList<QMessageBox::StandardButton> defaults;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, &answerer, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        texts << box->text();
        defaults << box->standardButton(box->defaultButton());
        QTest::keyClick(box, Qt::Key(key));
    });
    answerer.start(20);
    if (step != kLeaveNew) {  // loaded with Enter
        QListWidget* files = General()->FileList();
        files->setCurrentItem(files->findItems("Telemetry.xsd", Qt::MatchExactly).value(0));
        QTest::keyClick(files, Qt::Key_Return);
        QCOMPARE(General()->LoadedList()->count(), 1);
    }
    GoTo(step == kNewSchemaEdited ? int(CMyPropertySheet::kSchemaPage) : page);
    if (step == kLeaveNew) TypeInto(SchemaPage()->NameEdit(), "Fresh");
    if (step == kLeaveNew || step == kNewSchemaEdited) AddElement("x");
    if (step == kNewSchemaEdited) GoTo(page);
    const std::string before = test::Dump(Model());
    QTabBar* tabs = sheet_->Tabs()->tabBar();
    switch (step) {
        case kEditRow:
            DoubleClickRow(8);  // note, of type text
            QCOMPARE(Editor()->TypeCombo()->currentText(), shown);
            QTest::mouseClick(Editor()->EditButton(), Qt::LeftButton);
            break;
        case kLeaveNew:
            QTest::mouseClick(tabs, Qt::LeftButton, {},
                              tabs->tabRect(CMyPropertySheet::kGeneralPage).center());
            break;
        case kNewSchemaEdited:
            QTest::mouseClick(General()->NewSchemaButton(), Qt::LeftButton);
            break;
        case kRenameLoaded:
            TypeInto(SchemaPage()->NameEdit(), shown);
            GoTo(CMyPropertySheet::kTemplatesPage);
            GoTo(page);
            QCOMPARE(SchemaPage()->NameEdit()->text(), shown);
            return;
        default:
            QTest::mouseClick(sheet_->Enumerations()->DeleteOneButton(), Qt::LeftButton);
    }
    if (step == kEditRow) {
        QVERIFY(texts.isEmpty());
    } else {  // the question came, its default button the one that loses nothing
        QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 1, 20000);
        QCOMPARE(texts[0], shown);
        QCOMPARE(defaults[0], step == kDeleteUsed ? QMessageBox::No : QMessageBox::Yes);
    }
    // Nothing changed or dropped; the user is still where he was.
    QCOMPARE(test::Dump(Model()), before);
    QVERIFY(sheet_->isVisible());
    QCOMPARE(sheet_->Tabs()->currentIndex(), page);
    if (page == CMyPropertySheet::kSchemaPage) {
        QCOMPARE(SchemaPage()->NameEdit()->text(), step == kLeaveNew ? "Fresh" : "Telemetry");
        QCOMPARE(Editor()->List()->rowCount(), int(Model().CurrentSchema()->elements.size()));
    }
}

namespace {

const std::string kNotIdentifier =
    " is not a C identifier (letters, digits and _, not first a digit, no C keyword, not beginning "
    "with two underscores or an underscore and a capital). The schema is not saved.";
const std::string kNotPlainDecimal =
    " is not a plain decimal integer (digits, a '-' before them for a negative one, no '+' and no "
    "leading zero). The schema is not saved.";

// A save from the Schema page of PosRec (and Second when both), loaded,
// then changed by tweak.
const struct SaveRow {
    const char *tag, *name, *id;
    bool (*tweak)(CEditModel&);  // null: as loaded
    const char* newPath;         // typed into "Change File Name"; null: not opened; "": Escape
    std::string message;         // part of the last message; %1 the Schemas directory
    const char* written;         // the file the save made in Schemas, if any
    bool both = false;           // Second.xsd loaded too: only Save As
    int answer = -1;             // to the one Yes/No question: 0 No, 1 Yes; -1 none comes
    const char* onDisk = nullptr;  // written over PosRec.xsd after the load, as by another program
} kSaveRows[] = {
    {"member name", "Rec", "1",
     [](CEditModel& m) { return m.CurrentSchema()->elements[0].name.Assign("my field"); }, nullptr,
     "Error! Name of member 1 of the schema \"my field\"" + kNotIdentifier, nullptr},
    {"schema name of 60 characters, kept whole", "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn",
     "1", nullptr, nullptr,
     "Error! Size of field > max[50]: \"Name:\" of the schema is 60 characters long; at most 49 "
     "fit. The schema is not saved.",
     nullptr},
    {"leading digit in a member name", "Rec", "1",
     [](CEditModel& m) { return m.CurrentSchema()->elements[0].name.Assign("1st"); }, nullptr,
     "Error! Name of member 1 of the schema \"1st\"" + kNotIdentifier, nullptr},
    {"template member name", "Rec", "1",
     [](CEditModel& m) { return m.Templates()[0]->elements[1].name.Assign("2y"); }, nullptr,
     "Error! Name of member 2 of template \"Point\" \"2y\"" + kNotIdentifier, nullptr},
    {"C keyword as template name", "Rec", "1",
     [](CEditModel& m) { return m.Templates()[0]->name.Assign("struct"); }, nullptr,
     "Error! Name of template \"struct\"" + kNotIdentifier, nullptr},
    {"quote in enumeration name", "Rec", "1",
     [](CEditModel& m) { return m.Enumerations()[0]->name.Assign("Q\"<&"); }, nullptr,
     "Name of enumeration \"Q\"<&\"" + kNotIdentifier, nullptr},
    {"empty NRepetitions", "Rec", "1",
     [](CEditModel& m) { return m.CurrentSchema()->elements[0].nrepetitions.Assign(""); },
     nullptr,
     "Error! NRepetitions of member \"count\" of the schema \"\" is not a non-negative integer.",
     nullptr},
    {"enumeration id x", "Rec", "1",
     [](CEditModel& m) { return m.Enumerations()[0]->items[1].id.Assign("x"); }, nullptr,
     "Error! Id of item \"ON\" of enumeration \"Mode\" \"x\"" + kNotPlainDecimal, nullptr},
    {"empty schema id", "Rec", "", nullptr, nullptr, "Error! Id of schema \"\"" + kNotPlainDecimal,
     nullptr},
    {"schema id a bare minus", "Rec", "-", nullptr, nullptr,
     "Error! Id of schema \"-\"" + kNotPlainDecimal, nullptr},
    {"enumeration id a bare minus", "Rec", "1",
     [](CEditModel& m) { return m.Enumerations()[0]->items[0].id.Assign("-"); }, nullptr,
     "Error! Id of item \"OFF\" of enumeration \"Mode\" \"-\"" + kNotPlainDecimal, nullptr},
    {"does not compile over a file", "PosRec", "7",
     [](CEditModel& m) {
         m.CurrentSchema()->elements.push_back(test::Element("Item_enum", "e", "NoSuchEnum"));
         return true;
     },
     nullptr, "Error! The schema was not saved in %1/PosRec.xsd: it does not compile", nullptr},
    {"duplicate member name", "PosRec", "7",
     [](CEditModel& m) { return m.CurrentSchema()->elements[1].name.Assign("count"); }, nullptr,
     "\"count\"", nullptr},
    {"enumerator in two enumerations", "PosRec", "7",
     [](CEditModel& m) {
         CEditEnum& e = m.AppendEnum(std::make_unique<CEditEnum>());
         e.items.push_back({});
         return e.name.Assign("Power") && e.items[0].name.Assign("OFF") && e.items[0].id.Assign("5");
     },
     nullptr, "\"OFF\"", nullptr},
    {"enumeration and template of one type name", "PosRec", "7",
     [](CEditModel& m) {
         CEditEnum& e = m.AppendEnum(std::make_unique<CEditEnum>());
         e.items.push_back({});
         return e.name.Assign("POINT") && e.items[0].name.Assign("P_A") && e.items[0].id.Assign("5");
     },
     nullptr, "POINT", nullptr},
    {"another file, the name of PosRec", "PosRec", "8", nullptr, "Merged",
     "Error! Schema name \"PosRec\" is already used by %1/PosRec.xsd (schema \"PosRec\"). The "
     "schema is not saved.",
     nullptr, true},
    {"another file, the id of Second", "Merged", "9", nullptr, "Merged",
     "Error! Schema id 9 is already used by %1/Second.xsd (schema \"Second\")", nullptr, true},
    {"bare new name", "Merged", "8", nullptr, "Merged3", "Schema created successfully!",
     "Merged3.xsd", true},
    {"Escape in Change File Name", "Merged", "8", nullptr, "", "", nullptr, true},
    {"Change File Name onto another schema, No", "Merged", "8", nullptr, "%1/Second.xsd", "",
     nullptr, true, 0},
    {"what the editor cannot keep, No", "PosRec", "7",
     [](CEditModel& m) {
         m.notKept.push_back("the text \"t\" inside <Schema name=\"PosRec\">");
         return true;
     },
     nullptr, "", nullptr, false, 0},
    {"changed on disk since the load, No", "PosRec", "7", nullptr, nullptr, "", nullptr, false, 0,
     kSecond},
    {"path outside Schemas", "Merged", "8", nullptr, "../PosRec3",
     "Error! ../PosRec3 is not in the Schemas directory %1. The schema is not saved.", nullptr,
     true},
};

}  // namespace

void BuilderWidgetTest::saves_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kSaveRows)); ++i) QTest::newRow(kSaveRows[i].tag) << i;
}

void BuilderWidgetTest::saves() {
    QFETCH(int, row);
    const SaveRow& r = kSaveRows[row];
    const QString schemas = QString::fromStdString(InSchemas("")).chopped(1);
    DoubleClickFile("PosRec.xsd");
    if (r.both) DoubleClickFile("Second.xsd");
    const std::string onDisk = r.onDisk != nullptr ? r.onDisk : kPosRec;
    if (r.onDisk != nullptr) Write("PosRec.xsd", r.onDisk);
    GoTo(CMyPropertySheet::kSchemaPage);
    if (r.tweak != nullptr) QVERIFY(r.tweak(Model()));
    TypeInto(SchemaPage()->NameEdit(), r.name);
    SchemaPage()->IdEdit()->SetText(r.id);
    if (r.newPath != nullptr && *r.newPath == '\0') dialogs_->newPaths = {std::nullopt};
    else if (r.newPath != nullptr)
        dialogs_->newPaths = {QString(r.newPath).replace("%1", schemas).toStdString()};
    if (r.answer >= 0) dialogs_->answers = {r.answer == 1};
    QTest::mouseClick(SchemaPage()->SaveButton(), Qt::LeftButton);

    QCOMPARE(SchemaPage()->NameEdit()->text(), QString(r.name));  // nothing cut
    QCOMPARE(dialogs_->changeNameOpenedWith.size(), size_t(r.newPath == nullptr ? 0 : 1));
    QCOMPARE(dialogs_->questions.size(), size_t(r.answer >= 0 ? 1 : 0));
    const QString last = QString::fromStdString(dialogs_->LastMessage());
    const QString message = QString::fromStdString(r.message).replace("%1", schemas);
    QVERIFY2(last.contains(message), qPrintable(last));
    // Schemas holds the files it held, and the new one: no temporary, no
    // file cut short; the file that was there is untouched.
    QStringList expected = {"PosRec.xsd", "Second.xsd"};
    if (r.written != nullptr) expected << r.written;
    expected.sort();
    QCOMPARE(QDir(schemas).entryList(QDir::Files | QDir::Hidden), expected);
    QCOMPARE(test::ReadFile(InSchemas("PosRec.xsd")), onDisk);
    QCOMPARE(test::ReadFile(InSchemas("Second.xsd")), std::string(kSecond));
    QCOMPARE(test::FileExists(config_->resultsIncludeDirectory), r.written != nullptr);
    QVERIFY(!test::FileExists(*dir_ / "PosRec3.xsd") && !test::FileExists("PosRec3"));
}

namespace {

// Every construct the parser accepts, with what no page shows.
const char* const kEveryConstruct = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- before the root -->
<Record name="Every" id="12" nrepetitions="2" visibility="1" owner="lab &amp; co &lt;x&gt;">
   <!-- before the enumeration -->
   <Enum name="Mode" note="x"><!-- before an item --><Item name="OFF" id="0" extra="e"/>
      <Item name="ON" id="-1"/><!-- end of the enumeration --></Enum>
   <enum name="Level"><Item name="LOW" id="3"/><Item name="HIGH" id="4"/></enum>
   <Item name="first" type="int"/>
   <Template name="Point" kind="2d"><Item name="x"/><Item name="y" type="int16"/>
   <!-- end of the template --></Template>
   <!-- one -->
   <!-- two -->
   <Item name="hidden" type="int" visibility="no"/>
   <Item name="gone" type="char" nrepetitions="3" visibility="false"/>
   <ENUM name="Side"><Item name="LEFT" id="0"/><Item name="RIGHT" id="1"/></ENUM>
   <TEMPLATE name="Line">
      <Structure name="from" type="Point"/>
      <structure name="to" type="Point" nrepetitions="0"/>
      <Item_enum name="side" type="Side" nrepetitions="2"/>
   </TEMPLATE>
   <Structure name="pos" type="Point" nrepetitions="2" visibility="no">
      <Item name="z" type="double"/>
      <Item_enum name="m" type="Mode"/>
      <Structure name="inner" type="Point"><Item name="w" type="unsigned64"/></Structure>
   </Structure>
   <Structure name="plain" type="Point" visibility=""/>
   <STRUCTURE name="line" type="Line" nrepetitions="" visibility="1"/>
   <Item name="tail" type="int16" unit="mm"/>
   <Item name="letters" type="CHAR" nrepetitions="2" visibility="0"/>
   <Item name="words" type="Text"/>
   <Item name="u" type="unsigned"/><Item name="u16" type="unsigned16"/>
   <Item name="i64" type="int64" nrepetitions="0"/>
   <Item name="f" type="float"/><Item name="flag" type="bool" visibility="2"/>
   <Item name="level" type="Level" nrepetitions="3" visibility="-1"/>
   <Item_enum name="lv" type="Level" visibility="0"/>
   <Item name="blank" type="int" visibility=""/>
   <Item name='quoted' type='double'/>
   <!-- several
        lines & <marks> -->
   <!-- at the end -->
</Record>
<!-- after the root -->
)";

// The comments of an XML text, blanks at their ends dropped.
QStringList Comments(const std::string& text) {
    QStringList comments;
    static const QRegularExpression comment("<!--(.*?)-->",
                                            QRegularExpression::DotMatchesEverythingOption);
    for (auto it = comment.globalMatch(QString::fromStdString(text)); it.hasNext();)
        comments << it.next().captured(1).trimmed();
    return comments;
}

}  // namespace

void BuilderWidgetTest::roundTrip_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");  // empty: the shipped example of that name
    // Every shipped example.
    const QDir examples(QString::fromStdString(test::SourceDir() + "/examples/Schemas"));
    const QStringList shipped = examples.entryList({"*.xsd"}, QDir::Files, QDir::Name);
    QVERIFY(shipped.size() >= 2);
    for (const QString& file : shipped)
        QTest::newRow(qPrintable(file + " example")) << file << QString();
    QTest::newRow("every construct") << "Every.xsd" << QString(kEveryConstruct);
}

void BuilderWidgetTest::roundTrip() {
    QFETCH(QString, file);
    QFETCH(QString, text);
    const std::string original =
        text.isEmpty()
            ? test::ReadFile(test::SourceDir() + "/examples/Schemas/" + file.toStdString())
            : text.toStdString();
    const std::string path = InSchemas(file.toStdString());
    test::WriteFile(path, original);
    test::WriteFile(*dir_ / "original.xsd", original);
    sheet_.reset();
    MakeSheet();
    DoubleClickFile(file);
    QVERIFY(dialogs_->messages.empty());
    GoTo(CMyPropertySheet::kSchemaPage);
    QTest::mouseClick(SchemaPage()->SaveButton(), Qt::LeftButton);
    QCOMPARE(QString::fromStdString(dialogs_->LastMessage()),
             QString("Schema created successfully!"));

    const std::string saved = test::ReadFile(path);
    QVERIFY2(saved != original || text.isEmpty(), saved.c_str());
    QCOMPARE(Comments(saved), Comments(original));
    auto layout = [this](const std::string& xsd) {
        test::ProgramResult r =
            test::RunProgram(test::BinDir() + "/morvanec", {"layout", "--json", xsd}, dir_->path());
        return QString::number(r.exitCode) + "\n" + QString::fromStdString(r.out + r.err);
    };
    const QString before = layout(*dir_ / "original.xsd");
    QVERIFY2(before.startsWith("0\n"), qPrintable(before));
    QCOMPARE(layout(path), before);
}

void BuilderWidgetTest::saveOnDisk_data() {
    QTest::addColumn<QString>("setup");
    QTest::newRow("schema file behind a symbolic link, mode 0600") << "link";
    QTest::newRow("header cannot be written") << "header";
    QTest::newRow("ResultsInclude is a file") << "include";
}

void BuilderWidgetTest::saveOnDisk() {
    QFETCH(QString, setup);
    namespace fs = std::filesystem;
    const std::string schemaPath = InSchemas("PosRec.xsd");
    const std::string shared = *dir_ / "shared.xsd";
    const std::string header = config_->resultsIncludeDirectory + "/posrec.h";
    const std::string data = config_->resultsEmptyXmlDirectory + "/posrec.xml";
    if (setup == "link") {
        fs::rename(schemaPath, shared);
        fs::permissions(shared, fs::perms::owner_read | fs::perms::owner_write);
        fs::create_symlink(shared, schemaPath);
    } else if (setup == "header") {
        test::MakeDirs(header);  // a directory where the header goes
    } else {  // the generator cannot make its directory
        fs::remove_all(config_->resultsIncludeDirectory);
        test::WriteFile(config_->resultsIncludeDirectory, "not a directory");
    }
    DoubleClickFile("PosRec.xsd");
    GoTo(CMyPropertySheet::kSchemaPage);
    AddElement("extra");
    QTest::mouseClick(SchemaPage()->SaveButton(), Qt::LeftButton);

    if (setup == "link") {
        QCOMPARE(dialogs_->LastMessage(), std::string("Schema created successfully!"));
        QVERIFY(fs::is_symlink(schemaPath));
        QVERIFY(test::ReadFile(shared).find("name=\"extra\"") != std::string::npos);
        QCOMPARE(fs::status(shared).permissions() & fs::perms::all,
                 fs::perms::owner_read | fs::perms::owner_write);
    } else {
        // Nothing replaced, and the message names the file and the reason.
        const std::string last = dialogs_->LastMessage();
        const std::string reason = setup == "header" ? header + ": Is a directory"
                                                     : header + ": Not a directory";
        QVERIFY2(last.find(reason) != std::string::npos, last.c_str());
        QCOMPARE(test::ReadFile(schemaPath), std::string(kPosRec));
        QVERIFY(!test::FileExists(data));
        QCOMPARE(fs::is_directory(header), setup == "header");
    }
    QStringList left = QDir(QString::fromStdString(config_->schemasDirectory))
                           .entryList(QDir::Files | QDir::Hidden | QDir::System);
    QCOMPARE(left, (QStringList{"PosRec.xsd", "Second.xsd"}));
}

void BuilderWidgetTest::gettingAround_data() {
    QTest::addColumn<QSize>("size");  // invalid: the sheet's own size
    QTest::addColumn<bool>("exact");  // wide enough for the proportions alone
    QTest::newRow("default size") << QSize() << false;
    QTest::newRow("2400 wide") << QSize(2400, 900) << true;
}

void BuilderWidgetTest::gettingAround() {
    QFETCH(QSize, size);
    QFETCH(bool, exact);
    DoubleClickFile("PosRec.xsd");
    if (size.isValid()) {
        sheet_->resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(sheet_->size(), size, 10000);
    }
    const double fractions[] = {0.2, 0.35, 0.3, 0.1, 0.05};
    for (int page : {CMyPropertySheet::kTemplatesPage, CMyPropertySheet::kSchemaPage}) {
        GoTo(page);
        CReportView* list = page == CMyPropertySheet::kSchemaPage
                                ? Editor()->List()
                                : sheet_->Templates()->Editor()->List();
        // Every header whole, all columns within the view, and exactly the
        // proportions when there is room for them.
        auto laidOut = [&] {
            const int width = list->viewport()->width();
            const int margin = 2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin);
            int sum = 0;
            for (int c = 0; c < 5; ++c) {
                const QString title = list->horizontalHeaderItem(c)->text();
                const int w = list->columnWidth(c);
                if (w < list->horizontalHeader()->fontMetrics().horizontalAdvance(title) + margin)
                    return false;
                if (exact && w != int(width * fractions[c])) return false;
                sum += w;
            }
            return width > 0 && sum <= width;
        };
        QTRY_VERIFY_WITH_TIMEOUT(laidOut(), 10000);
    }
    Shot("schema");
}

QTEST_MAIN(BuilderWidgetTest)
#include "builder_widget_test.moc"
