// The Enumerations and Templates pages of MorvaneBuilder, driven as a user
// drives them, offscreen.
//
// With MORVANE_SCREENSHOTS set to a directory, the pages are saved there as
// PNGs.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <string>
#include <vector>

#include "builder/edit_model.h"
#include "builder/element_editor.h"
#include "builder/enumerations_page.h"
#include "builder/general_page.h"
#include "builder/name_list.h"
#include "builder/report_view.h"
#include "builder/schema_page.h"
#include "builder/spin_edit.h"
#include "builder/templates_page.h"
#include "sheet_fixture.h"

using namespace morvane;

namespace {

// Two enumerations and two templates; Line uses Point, and Point carries
// a comment.
const char* const kShapes = R"(<?xml version="1.0"?>
<Schema name="Shapes" id="3">
   <Enum name="Mode"><Item name="OFF" id="0"/><Item name="ON" id="1"/></Enum>
   <Enum name="Color"><Item name="RED" id="1"/></Enum>
<!-- a point -->
   <Template name="Point">
      <Item name="x" type="int"/>
<!-- why y -->
      <Item name="y" type="char" nrepetitions="4" visibility="0"/>
   </Template>
   <Template name="Line">
      <Structure name="from" type="Point"/>
      <Item_enum name="mode" type="Mode" nrepetitions="2"/>
   </Template>
   <Structure name="line" type="Line"/>
</Schema>
)";

std::vector<std::string> Names(const CEditModel& model, bool templates) {
    std::vector<std::string> names;
    if (templates) {
        for (const auto& t : model.Templates()) names.push_back(t->name.str());
    } else {
        for (const auto& e : model.Enumerations()) names.push_back(e->name.str());
    }
    return names;
}

QStringList Entries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
    return entries;
}

}  // namespace

class BuilderPagesTest : public QObject, public test::SheetFixture {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    // The name list, create and delete buttons of both pages.
    void createRefusals_data();
    void createRefusals();
    void deleteOne_data();
    void deleteOne();
    void deleteAll_data();
    void deleteAll();

    void enumsActivationShowsTheFirstEnumeration();
    void enumsWithoutSchemaItemButtonsWaitForAnEnumeration();
    void enumsPickShowsItsItems();
    void enumsIdProposal_data();
    void enumsIdProposal();
    void enumsAddRefusals_data();
    void enumsAddRefusals();
    void enumsAddWithoutEnumeration();
    void enumsAddWithTheSecondRowSelected();
    void enumsEditItem();
    void enumsDeleteItem();
    void enumsAreOfferedAsItemEnumTypes();

    void templatesActivationShowsTheFirstTemplate();
    void templatesWithoutSchemaElementButtonsWait();
    void templatesCreateAndChangeCommentary();
    void templatesTypedCommentaryIsKept_data();
    void templatesTypedCommentaryIsKept();
    void templatesPickShowsItsElements();
    void templatesStructureTypesLeaveOutTheNamedTemplate();
    void templatesAddWithTheSecondRowSelected();
    void templatesAddRefusals_data();
    void templatesAddRefusals();
    void templatesAddWithoutTemplateAddsNothing();
    void templatesKindChangeClearsTheCollapsedTick();
    void templatesTypeChangeKeepsTheTemplateCommentary();
    void templatesEditElement();
    void templatesDeleteElement();
    void templatesDoubleClickLoadsTheRow();

  private:
    // The left-hand side of the Enumerations or Templates page, with what
    // it shows of Shapes.xsd.
    struct NamedListPage {
        CNameList* list;
        QLineEdit* name;
        QPushButton* deleteOne;
        QPushButton* deleteAll;
        CReportView* rows;
        QLineEdit* rowName;  // the item or element "Name:"
        QStringList shapes;  // the two entries Shapes.xsd brings
        QStringList secondRows;
        std::string notSelected;
        bool deleteAllKeepsButtons;
        std::string firstUsedBy;  // what the delete questions say of the users
        std::string allUsedBy;
    };
    NamedListPage ListPage(int page) const;
    void Create(int page, const QString& name, const QString& comment = QString());
    // The names of the page's model list and the index of its current entry.
    std::vector<std::string> ModelNames(int page) const {
        return Names(Model(), page == kTemplates);
    }
    int CurrentIndex(int page) const;
    static constexpr int kEnums = CMyPropertySheet::kEnumerationsPage;
    static constexpr int kTemplates = CMyPropertySheet::kTemplatesPage;

    CEnumerations* Enums() const { return sheet_->Enumerations(); }
    CTemplateStructures* Templates() const { return sheet_->Templates(); }
    CElementEditor* Editor() const { return Templates()->Editor(); }
    CEditModel& Model() const { return sheet_->Model(); }

    // Double clicks Shapes.xsd on the General page.
    void LoadShapes();
    void AddElement(const QString& name, int kind = -1, int type = -1) {
        AddElementIn(Editor(), name, kind, type);
    }
    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    bool ItemButtonsEnabled() const;
    bool ElementButtonsEnabled() const;
};

void BuilderPagesTest::init() {
    SetUpFixture();
    test::WriteFile(InSchemas("Shapes.xsd"), kShapes);
    MakeSheet();
}

void BuilderPagesTest::cleanup() { TearDownFixture(); }

void BuilderPagesTest::LoadShapes() {
    GoTo(CMyPropertySheet::kGeneralPage);
    sheet_->General()->LoadFileAt(0);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{});
    QVERIFY(Model().CurrentSchema() != nullptr);
}

BuilderPagesTest::NamedListPage BuilderPagesTest::ListPage(int page) const {
    if (page == kEnums) {
        CEnumerations* p = Enums();
        const std::string mode = "Enumeration \"Mode\" is still used by Line.mode. ";
        return {p->EnumList(),
                p->EnumNameEdit(),
                p->DeleteOneButton(),
                p->DeleteAllButton(),
                p->ItemList(),
                p->ItemNameEdit(),
                {"Mode", "Color"},
                {"RED|1"},
                "Enumeration element is not selected from the Enumeration list",
                false,
                mode,
                mode};
    }
    CTemplateStructures* p = Templates();
    const std::string point = "Template \"Point\" is still used by Line.from. ";
    return {p->TemplateList(),
            p->TemplateNameEdit(),
            p->DeleteOneButton(),
            p->DeleteAllButton(),
            p->Editor()->List(),
            p->Editor()->NameEdit(),
            {"Point", "Line"},
            {"Structure|from|Point|1|", "Item_enum|mode|Mode|2|"},
            "Template is not selected from the Template list",
            true,
            point,
            point + "Template \"Line\" is still used by line. "};
}

void BuilderPagesTest::Create(int page, const QString& name, const QString& comment) {
    if (page == kEnums) {
        CreateEnum(name);
    } else {
        CreateTemplate(name, comment);
    }
}

int BuilderPagesTest::CurrentIndex(int page) const {
    if (page == kEnums) {
        for (size_t i = 0; i < Model().Enumerations().size(); ++i)
            if (Model().Enumerations()[i].get() == Model().CurrentEnum()) return int(i);
        return -1;
    }
    for (size_t i = 0; i < Model().Templates().size(); ++i)
        if (Model().Templates()[i].get() == Model().CurrentTemplate()) return int(i);
    return -1;
}

bool BuilderPagesTest::ItemButtonsEnabled() const {
    return Enums()->AddButton()->isEnabled() && Enums()->DeleteButton()->isEnabled() &&
           Enums()->EditButton()->isEnabled();
}

bool BuilderPagesTest::ElementButtonsEnabled() const {
    return Editor()->AddButton()->isEnabled() && Editor()->DeleteButton()->isEnabled() &&
           Editor()->EditButton()->isEnabled();
}

// --- Both name lists --------------------------------------------------------

void BuilderPagesTest::createRefusals_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");  // empty: accepted
    const struct {
        int page;
        const char* tag;
        QString existing;
    } pages[] = {{kEnums, "enumeration", "Mode"}, {kTemplates, "template", "Line"}};
    for (const auto& p : pages) {
        auto row = [&](const char* what) -> QTestData& {
            return QTest::addRow("%s, %s", p.tag, what) << p.page;
        };
        row("empty") << ""
                     << "Error! Empty field";
        row("50 characters") << QString(50, 'e')
                             << QString("Error! Size of field > max[50]: \"Name:\" of the %1 is 50 "
                                        "characters long; at most 49 fit")
                                    .arg(p.tag);
        row("49 characters") << QString(49, 'e') << "";
        row("existing name") << p.existing << "Enumeration name exists";
        row("name differing in case") << p.existing.toLower() << "";
    }
}

void BuilderPagesTest::createRefusals() {
    QFETCH(int, page);
    QFETCH(QString, name);
    QFETCH(QString, message);
    LoadShapes();
    GoTo(page);
    const NamedListPage p = ListPage(page);
    Create(page, name, "comment");
    std::vector<std::string> expected = {p.shapes[0].toStdString(), p.shapes[1].toStdString()};
    if (message.isEmpty()) {
        QCOMPARE(dialogs_->messages, std::vector<std::string>{});
        expected.push_back(name.toStdString());
        QCOMPARE(Entries(p.list), p.shapes + QStringList{name});
        QCOMPARE(p.rows->rowCount(), 0);  // the new entry's, none yet
        QCOMPARE(CurrentIndex(page), 2);
        QCOMPARE(p.name->text(), QString());
    } else {
        QCOMPARE(dialogs_->messages, std::vector<std::string>{message.toStdString()});
        QCOMPARE(Entries(p.list), p.shapes);
        QCOMPARE(p.rows->rowCount(), 2);
        QCOMPARE(CurrentIndex(page), 0);
        QCOMPARE(p.name->text(), name);
    }
    QCOMPARE(ModelNames(page), expected);
}

void BuilderPagesTest::deleteOne_data() {
    QTest::addColumn<int>("page");
    QTest::newRow("Enumerations") << int(kEnums);
    QTest::newRow("Templates") << int(kTemplates);
}

void BuilderPagesTest::deleteOne() {
    QFETCH(int, page);
    LoadShapes();
    GoTo(page);
    const NamedListPage p = ListPage(page);
    const std::vector<std::string> both = {p.shapes[0].toStdString(), p.shapes[1].toStdString()};
    dialogs_->answers = {false};
    QTest::mouseClick(p.deleteOne, Qt::LeftButton);
    QCOMPARE(dialogs_->questions,
             std::vector<std::string>{p.firstUsedBy +
                                      "Are you sure that you want to delete enumeration?"});
    QCOMPARE(ModelNames(page), both);

    // The first goes; the second becomes current and shows its rows whole.
    if (page == kTemplates) Templates()->TemplateCommentEdit()->setPlainText("typed");
    p.rowName->setText("typed");
    dialogs_->answers = {true};
    QTest::mouseClick(p.deleteOne, Qt::LeftButton);
    QCOMPARE(ModelNames(page), std::vector<std::string>{both[1]});
    QCOMPARE(Entries(p.list), QStringList{p.shapes[1]});
    QCOMPARE(p.list->currentIndex(), 0);
    QCOMPARE(CurrentIndex(page), 0);
    QCOMPARE(Rows(p.rows), p.secondRows);
    QCOMPARE(p.rowName->text(), QString());
    if (page == kTemplates)  // the template "Commentary:" keeps its text
        QCOMPARE(Templates()->TemplateCommentEdit()->toPlainText(), QString("typed"));
    QVERIFY(p.deleteOne->isEnabled());
    QVERIFY(p.deleteAll->isEnabled());

    dialogs_->answers = {true};
    QTest::mouseClick(p.deleteOne, Qt::LeftButton);
    QCOMPARE(ModelNames(page), std::vector<std::string>{});
    QCOMPARE(CurrentIndex(page), -1);
    QCOMPARE(p.list->count(), 0);
    QCOMPARE(p.rows->rowCount(), 0);
    QVERIFY(!p.deleteOne->isEnabled());
    QVERIFY(!p.deleteAll->isEnabled());

    // Typed text over a list that has entries selects nothing.
    Create(page, "E");
    p.list->setEditText("F");
    QTest::mouseClick(p.deleteOne, Qt::LeftButton);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{p.notSelected});
    QCOMPARE(ModelNames(page), std::vector<std::string>{"E"});
    QCOMPARE(dialogs_->questions.size(), size_t{3});
}

void BuilderPagesTest::deleteAll_data() { deleteOne_data(); }

void BuilderPagesTest::deleteAll() {
    QFETCH(int, page);
    LoadShapes();
    GoTo(page);
    const NamedListPage p = ListPage(page);
    dialogs_->answers = {false};
    QTest::mouseClick(p.deleteAll, Qt::LeftButton);
    QCOMPARE(dialogs_->questions,
             std::vector<std::string>{
                 p.allUsedBy + "Are you sure that you want to delete all enumeration list?"});
    QCOMPARE(ModelNames(page).size(), size_t{2});

    p.rowName->setText("typed");
    dialogs_->answers = {true};
    QTest::mouseClick(p.deleteAll, Qt::LeftButton);
    QCOMPARE(ModelNames(page), std::vector<std::string>{});
    QCOMPARE(CurrentIndex(page), -1);
    QCOMPARE(p.list->count(), 0);
    QCOMPARE(p.list->currentText(), QString());
    QCOMPARE(p.rows->rowCount(), 0);
    QCOMPARE(p.rowName->text(), QString());
    // The other list and the schema are not touched.
    QCOMPARE(ModelNames(page == kEnums ? kTemplates : kEnums).size(), size_t{2});
    QVERIFY(Model().CurrentSchema() != nullptr);

    QCOMPARE(p.deleteOne->isEnabled(), p.deleteAllKeepsButtons);
    QCOMPARE(p.deleteAll->isEnabled(), p.deleteAllKeepsButtons);
    if (p.deleteAllKeepsButtons) {
        QTest::mouseClick(p.deleteOne, Qt::LeftButton);
        QCOMPARE(dialogs_->messages, std::vector<std::string>{p.notSelected});
        QTest::mouseClick(p.deleteAll, Qt::LeftButton);  // empty list: not even asked
        QCOMPARE(dialogs_->questions.size(), size_t{2});
    }
}

// --- Enumerations ---------------------------------------------------------

void BuilderPagesTest::enumsActivationShowsTheFirstEnumeration() {
    LoadShapes();
    GoTo(CMyPropertySheet::kEnumerationsPage);
    CEnumerations* page = Enums();
    QCOMPARE(Entries(page->EnumList()), (QStringList{"Mode", "Color"}));
    QCOMPARE(page->EnumList()->currentIndex(), 0);
    QCOMPARE(Model().CurrentEnum(), Model().Enumerations()[0].get());
    QCOMPARE(Rows(page->ItemList()), (QStringList{"OFF|0", "ON|1"}));
    QVERIFY(ItemButtonsEnabled());  // a schema exists
    QVERIFY(page->DeleteOneButton()->isEnabled());
    QVERIFY(page->DeleteAllButton()->isEnabled());
    QVERIFY(page->CreateButton()->isEnabled());
    QCOMPARE(page->IdEdit()->Text(), QString("1"));
    const int width = page->ItemList()->viewport()->width();
    QCOMPARE(page->ItemList()->columnWidth(0), int(width * 0.85));
    QCOMPARE(page->ItemList()->columnWidth(1), int(width * 0.15));
    Shot("enumerations");
}

void BuilderPagesTest::enumsWithoutSchemaItemButtonsWaitForAnEnumeration() {
    GoTo(CMyPropertySheet::kEnumerationsPage);
    CEnumerations* page = Enums();
    QVERIFY(!ItemButtonsEnabled());
    QVERIFY(!page->DeleteOneButton()->isEnabled());
    QVERIFY(!page->DeleteAllButton()->isEnabled());
    QVERIFY(page->CreateButton()->isEnabled());
    QCOMPARE(Model().CurrentEnum(), nullptr);

    CreateEnum("E");
    QVERIFY(ItemButtonsEnabled());
    QVERIFY(page->DeleteOneButton()->isEnabled());
    QVERIFY(page->DeleteAllButton()->isEnabled());
    QCOMPARE(page->EnumNameEdit()->text(), QString());
    QCOMPARE(Names(Model(), false), std::vector<std::string>{"E"});
    QCOMPARE(Model().CurrentEnum(), Model().Enumerations()[0].get());

    // Entering the page again, still without a schema, disables them again
    // until an enumeration is picked.
    GoTo(CMyPropertySheet::kGeneralPage);
    GoTo(CMyPropertySheet::kEnumerationsPage);
    QVERIFY(!ItemButtonsEnabled());
    Choose(page->EnumList(), 0);
    QVERIFY(ItemButtonsEnabled());
}

void BuilderPagesTest::enumsPickShowsItsItems() {
    LoadShapes();
    GoTo(CMyPropertySheet::kEnumerationsPage);
    Enums()->IdEdit()->SetText("42");
    Enums()->EnumNameEdit()->setText("draft");
    Choose(Enums()->EnumList(), 1);
    QCOMPARE(Model().CurrentEnum(), Model().Enumerations()[1].get());
    QCOMPARE(Rows(Enums()->ItemList()), QStringList{"RED|1"});
    QCOMPARE(Enums()->IdEdit()->Text(), QString("1"));
    QCOMPARE(Enums()->EnumNameEdit()->text(), QString());

    // Text typed over the list that names no enumeration selects nothing:
    // the rows go, the current enumeration stays.
    Enums()->EnumList()->setEditText("Colour");
    emit Enums()->EnumList()->Picked();
    QCOMPARE(Enums()->ItemList()->rowCount(), 0);
    QCOMPARE(Model().CurrentEnum(), Model().Enumerations()[1].get());
}

void BuilderPagesTest::enumsIdProposal_data() {
    // Items added one after another to a new enumeration: "name" takes the
    // proposed id, "name=id" types id first. proposals: "Id:" after each Add.
    QTest::addColumn<QStringList>("adds");
    QTest::addColumn<QStringList>("proposals");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("proposed ids") << QStringList{"a", "b"} << QStringList{"2", "3"}
                                  << QStringList{"a|1", "b|2"};
    QTest::newRow("typed 7") << QStringList{"a=7", "b"} << QStringList{"8", "9"}
                             << QStringList{"a|7", "b|8"};
    QTest::newRow("not a number") << QStringList{"a=x"} << QStringList{"1"} << QStringList{"a|x"};
    QTest::newRow("empty id") << QStringList{"a="} << QStringList{"1"} << QStringList{"a|"};
    QTest::newRow("leading digits")
        << QStringList{"a=12ab"} << QStringList{"13"} << QStringList{"a|12ab"};
    QTest::newRow("negative") << QStringList{"a=-3"} << QStringList{"-2"} << QStringList{"a|-3"};
    QTest::newRow("1 and 01 differ")
        << QStringList{"a=1", "b=01"} << QStringList{"2", "2"} << QStringList{"a|1", "b|01"};
    QTest::newRow("nine digits") << QStringList{"a=999999999"} << QStringList{"1000000000"}
                                 << QStringList{"a|999999999"};
}

void BuilderPagesTest::enumsIdProposal() {
    QFETCH(QStringList, adds);
    QFETCH(QStringList, proposals);
    QFETCH(QStringList, rows);
    GoTo(CMyPropertySheet::kEnumerationsPage);
    CreateEnum("E");
    QCOMPARE(Enums()->IdEdit()->Text(), QString("1"));
    for (int i = 0; i < adds.size(); ++i) {
        const qsizetype eq = adds[i].indexOf('=');
        if (eq < 0) {
            AddItem(adds[i]);
        } else {
            AddItem(adds[i].left(eq), adds[i].mid(eq + 1));
        }
        QCOMPARE(Enums()->IdEdit()->Text(), proposals[i]);
    }
    QCOMPARE(dialogs_->messages, std::vector<std::string>{});
    QCOMPARE(Rows(Enums()->ItemList()), rows);
    const CEditEnum& e = *Model().Enumerations()[0];
    QCOMPARE(int(e.items.size()), rows.size());
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(QString::fromStdString(e.items[size_t(i)].name.str() + "|" +
                                        e.items[size_t(i)].id.str()),
                 rows[i]);
}

void BuilderPagesTest::enumsAddRefusals_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("message");
    QTest::newRow("name exists") << "OFF"
                                 << "5"
                                 << "Error! name already exists";
    QTest::newRow("id exists") << "DIM"
                               << "1"
                               << "Error! id already exists";
    QTest::newRow("name and id exist") << "ON"
                                       << "0"
                                       << "Error! name already exists";
    QTest::newRow("empty name") << ""
                                << "5"
                                << "Error! Empty field";
    QTest::newRow("name of 50") << QString(50, 'n') << "5"
                                << "Error! Size of field > max[50]: \"Name:\" of the item is 50 "
                                   "characters long; at most 49 fit";
    QTest::newRow("id of 10") << "DIM"
                              << "1234567890"
                              << "Error! Size of field > max[10]: \"Id:\" of the item is 10 "
                                 "characters long; at most 9 fit";
}

void BuilderPagesTest::enumsAddRefusals() {
    QFETCH(QString, name);
    QFETCH(QString, id);
    QFETCH(QString, message);
    LoadShapes();
    GoTo(CMyPropertySheet::kEnumerationsPage);
    AddItem(name, id);
    QCOMPARE(dialogs_->messages, std::vector<std::string>{message.toStdString()});
    QCOMPARE(Rows(Enums()->ItemList()), (QStringList{"OFF|0", "ON|1"}));
    QCOMPARE(Model().Enumerations()[0]->items.size(), size_t{2});
    QCOMPARE(Enums()->IdEdit()->Text(), id);  // no proposal after a refusal
}

void BuilderPagesTest::enumsAddWithoutEnumeration() {
    LoadShapes();
    GoTo(CMyPropertySheet::kEnumerationsPage);
    dialogs_->answers = {true};
    Click(Enums()->DeleteAllButton());
    QVERIFY(ItemButtonsEnabled());  // the schema keeps them enabled
    AddItem("orphan", "1");
    QCOMPARE(dialogs_->messages,
             std::vector<std::string>{"Item is not selected from the Item list"});
    QCOMPARE(Enums()->ItemList()->rowCount(), 0);
    QVERIFY(Model().Enumerations().empty());
}

void BuilderPagesTest::enumsAddWithTheSecondRowSelected() {
    GoTo(CMyPropertySheet::kEnumerationsPage);
    CreateEnum("E");
    AddItem("a");
    AddItem("b");
    AddItem("c");
    ClickViewRow(Enums()->ItemList(), 1);
    AddItem("new");
    QCOMPARE(Rows(Enums()->ItemList()), (QStringList{"a|1", "new|4", "b|2", "c|3"}));
    const CEditEnum& e = *Model().Enumerations()[0];
    QCOMPARE(e.items[1].name.str(), std::string("new"));
    QCOMPARE(e.items[2].name.str(), std::string("b"));
    QCOMPARE(Enums()->IdEdit()->Text(), QString("5"));
    Shot("items");
}

void BuilderPagesTest::enumsEditItem() {
    LoadShapes();
    GoTo(CMyPropertySheet::kEnumerationsPage);
    Click(Enums()->EditButton());
    QCOMPARE(dialogs_->LastMessage(), std::string("Item is not selected from the Item list"));

    // Selecting a row does not copy it into the fields.
    ClickViewRow(Enums()->ItemList(), 1);
    QCOMPARE(Enums()->ItemNameEdit()->text(), QString());
    // The name of another item and its id are accepted: Edit tests neither.
    TypeInto(Enums()->ItemNameEdit(), "OFF");
    Enums()->IdEdit()->SetText("0");
    Click(Enums()->EditButton());
    QCOMPARE(dialogs_->messages.size(), size_t{1});
    QCOMPARE(Rows(Enums()->ItemList()), (QStringList{"OFF|0", "OFF|0"}));
    QCOMPARE(Model().Enumerations()[0]->items[1].name.str(), std::string("OFF"));

    const struct {
        QString name, id, message;
    } refusals[] = {{"", "3", "Error! Empty field"},
                    {QString(50, 'n'), "3",
                     "Error! Size of field > max[50]: \"Name:\" of the item is 50 characters long; "
                     "at most 49 fit"},
                    {"DIM", "1234567890",
                     "Error! Size of field > max[10]: \"Id:\" of the item is 10 characters long; at "
                     "most 9 fit"}};
    for (const auto& r : refusals) {
        TypeInto(Enums()->ItemNameEdit(), r.name);
        Enums()->IdEdit()->SetText(r.id);
        Click(Enums()->EditButton());
        QCOMPARE(dialogs_->LastMessage(), r.message.toStdString());
    }
    QCOMPARE(Rows(Enums()->ItemList()), (QStringList{"OFF|0", "OFF|0"}));
}

void BuilderPagesTest::enumsDeleteItem() {
    LoadShapes();
    GoTo(CMyPropertySheet::kEnumerationsPage);
    Click(Enums()->DeleteButton());  // no row: not even asked
    QVERIFY(dialogs_->questions.empty());

    ClickViewRow(Enums()->ItemList(), 0);
    dialogs_->answers = {false};
    Click(Enums()->DeleteButton());
    QCOMPARE(dialogs_->questions,
             std::vector<std::string>{"Are you sure that you want to delete item?"});
    QCOMPARE(Enums()->ItemList()->rowCount(), 2);

    dialogs_->answers = {true};
    Click(Enums()->DeleteButton());
    QCOMPARE(Rows(Enums()->ItemList()), QStringList{"ON|1"});
    QCOMPARE(Model().Enumerations()[0]->items.size(), size_t{1});
    QCOMPARE(Model().Enumerations()[0]->items[0].name.str(), std::string("ON"));

    // With typed text over the list nothing is selected there.
    ClickViewRow(Enums()->ItemList(), 0);
    Enums()->EnumList()->setEditText("nothing");
    Click(Enums()->DeleteButton());
    QCOMPARE(dialogs_->messages,
             std::vector<std::string>{"Item is not selected from the Item list"});
    QCOMPARE(Model().Enumerations()[0]->items.size(), size_t{1});
}

void BuilderPagesTest::enumsAreOfferedAsItemEnumTypes() {
    GoTo(CMyPropertySheet::kEnumerationsPage);
    CreateEnum("Empty");
    CreateEnum("Full");
    AddItem("A");
    GoTo(CMyPropertySheet::kSchemaPage);
    CElementEditor* editor = sheet_->Schema()->Editor();
    Choose(editor->KindCombo(), CElementEditor::kItemEnum);
    QCOMPARE(Entries(editor->TypeCombo()), (QStringList{"Empty", "Full"}));
    QCOMPARE(editor->TypeCombo()->currentIndex(), 0);
}

// --- Templates ------------------------------------------------------------

void BuilderPagesTest::templatesActivationShowsTheFirstTemplate() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    CTemplateStructures* page = Templates();
    QCOMPARE(Entries(page->TemplateList()), (QStringList{"Point", "Line"}));
    QCOMPARE(page->TemplateList()->currentIndex(), 0);
    QCOMPARE(Model().CurrentTemplate(), Model().Templates()[0].get());
    QCOMPARE(page->TemplateCommentEdit()->toPlainText(), QString("a point"));
    QCOMPARE(Rows(Editor()->List()), (QStringList{"Item|x|int|1|", "Item|y|char|4|1"}));
    QVERIFY(ElementButtonsEnabled());
    QVERIFY(page->DeleteOneButton()->isEnabled());
    QVERIFY(page->DeleteAllButton()->isEnabled());
    QVERIFY(page->CreateButton()->isEnabled());
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Item"));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("int"));
    QCOMPARE(Editor()->RepetitionsEdit()->Text(), QString("1"));
    QVERIFY(!Editor()->CollapsedCheck()->isEnabled());
    Shot("templates");

    // Every activation resets the fields.
    page->TemplateNameEdit()->setText("draft");
    Editor()->NameEdit()->setText("draft");
    Editor()->CommentEdit()->setPlainText("draft");
    Choose(Editor()->KindCombo(), CElementEditor::kStructure);
    GoTo(CMyPropertySheet::kGeneralPage);
    GoTo(CMyPropertySheet::kTemplatesPage);
    QCOMPARE(page->TemplateNameEdit()->text(), QString());
    QCOMPARE(Editor()->NameEdit()->text(), QString());
    QCOMPARE(Editor()->CommentEdit()->toPlainText(), QString());
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Item"));
    QCOMPARE(Editor()->TypeCombo()->count(), 10);
}

void BuilderPagesTest::templatesWithoutSchemaElementButtonsWait() {
    GoTo(CMyPropertySheet::kTemplatesPage);
    CTemplateStructures* page = Templates();
    QVERIFY(!ElementButtonsEnabled());
    QVERIFY(!page->DeleteOneButton()->isEnabled());
    QVERIFY(!page->DeleteAllButton()->isEnabled());
    // Without a template a kind change refills nothing and enables nothing.
    Choose(Editor()->KindCombo(), CElementEditor::kStructure);
    QCOMPARE(Editor()->TypeCombo()->count(), 10);
    QVERIFY(!ElementButtonsEnabled());

    CreateTemplate("T");
    QVERIFY(ElementButtonsEnabled());
    QVERIFY(page->DeleteOneButton()->isEnabled());
    QVERIFY(page->DeleteAllButton()->isEnabled());

    // Back on the page, still without a schema: disabled until a kind is
    // chosen (or a template picked).
    GoTo(CMyPropertySheet::kGeneralPage);
    GoTo(CMyPropertySheet::kTemplatesPage);
    QVERIFY(!ElementButtonsEnabled());
    Choose(Editor()->KindCombo(), CElementEditor::kItem);
    QVERIFY(ElementButtonsEnabled());
    QVERIFY(Model().CurrentSchema() == nullptr);  // elements of templates make no schema
    AddElement("x");
    QCOMPARE(Rows(Editor()->List()), QStringList{"Item|x|int|1|"});
    QVERIFY(Model().CurrentSchema() == nullptr);
}

void BuilderPagesTest::templatesCreateAndChangeCommentary() {
    GoTo(CMyPropertySheet::kTemplatesPage);
    CTemplateStructures* page = Templates();
    Click(page->ChangeCommentButton());  // no template: nothing happens
    QVERIFY(dialogs_->messages.empty());

    CreateTemplate("A", "first");
    AddElement("a1");
    CreateTemplate("B", "second\nline");
    QCOMPARE(Names(Model(), true), (std::vector<std::string>{"A", "B"}));
    QCOMPARE(Model().Templates()[1]->comment, std::string("second\nline"));
    QCOMPARE(Model().CurrentTemplate(), Model().Templates()[1].get());
    QCOMPARE(Editor()->List()->rowCount(), 0);  // B's elements, none yet
    QCOMPARE(page->TemplateNameEdit()->text(), QString());
    QCOMPARE(page->TemplateCommentEdit()->toPlainText(), QString("second\nline"));

    page->TemplateCommentEdit()->setPlainText("changed");
    Click(page->ChangeCommentButton());
    QCOMPARE(Model().Templates()[1]->comment, std::string("changed"));
    QCOMPARE(Model().Templates()[0]->comment, std::string("first"));
}

void BuilderPagesTest::templatesTypedCommentaryIsKept_data() {
    QTest::addColumn<QString>("how");  // how the user leaves the typed Commentary
    QTest::newRow("page switch") << "page";
    QTest::newRow("another template picked") << "pick";
    QTest::newRow("Close, then Cancel") << "close";
}

void BuilderPagesTest::templatesTypedCommentaryIsKept() {
    QFETCH(QString, how);
    GoTo(CMyPropertySheet::kTemplatesPage);
    CreateTemplate("A", "first");
    CreateTemplate("B", "second");
    Templates()->TemplateCommentEdit()->setPlainText("typed, never applied");
    if (how == "page") {
        GoTo(CMyPropertySheet::kGeneralPage);
    } else if (how == "pick") {
        Choose(Templates()->TemplateList(), 0);
        QCOMPARE(Templates()->TemplateCommentEdit()->toPlainText(), QString("first"));
    } else {
        dialogs_->choices = {CUserDialogs::Answer::kCancel};
        Click(sheet_->CloseButton());
        QCOMPARE(dialogs_->questions, std::vector<std::string>{"Do you want to save schema?"});
        QVERIFY(sheet_->isVisible());
    }
    QCOMPARE(Model().Templates()[1]->comment, std::string("typed, never applied"));
    QCOMPARE(Model().Templates()[0]->comment, std::string("first"));
}

void BuilderPagesTest::templatesPickShowsItsElements() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    Editor()->NameEdit()->setText("draft");
    Editor()->CommentEdit()->setPlainText("draft");
    Choose(Templates()->TemplateList(), 1);
    QCOMPARE(Model().CurrentTemplate(), Model().Templates()[1].get());
    QCOMPARE(Rows(Editor()->List()),
             (QStringList{"Structure|from|Point|1|", "Item_enum|mode|Mode|2|"}));
    QCOMPARE(Templates()->TemplateCommentEdit()->toPlainText(), QString());
    QCOMPARE(Editor()->NameEdit()->text(), QString());
    QCOMPARE(Editor()->CommentEdit()->toPlainText(), QString());
    Choose(Templates()->TemplateList(), 0);
    QCOMPARE(Templates()->TemplateCommentEdit()->toPlainText(), QString("a point"));
}

void BuilderPagesTest::templatesStructureTypesLeaveOutTheNamedTemplate() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    CreateTemplate("Box");
    struct Row {
        const char* named;
        int kind;
        QStringList types;
        QString selected;
    };
    const Row rows[] = {
        {"Line", CElementEditor::kStructure, {"Point", "Box"}, "Point"},
        {"Point", CElementEditor::kStructure, {"Line", "Box"}, "Line"},
        {"", CElementEditor::kStructure, {"Point", "Line", "Box"}, "Point"},
        {"point", CElementEditor::kStructure, {"Point", "Line", "Box"}, "Point"},
        {"Line", CElementEditor::kItemEnum, {"Mode", "Color"}, "Mode"},
        {"Line", CElementEditor::kItem, CElementEditor::PrimitiveTypes(), "int"},
    };
    for (const Row& row : rows) {
        Templates()->TemplateNameEdit()->setText(row.named);
        Choose(Editor()->KindCombo(), row.kind);
        QCOMPARE(Entries(Editor()->TypeCombo()), row.types);
        QCOMPARE(Editor()->TypeCombo()->currentText(), row.selected);
    }
}

void BuilderPagesTest::templatesAddWithTheSecondRowSelected() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    ClickViewRow(Editor()->List(), 1);
    Editor()->RepetitionsEdit()->SetText("3");
    Editor()->CommentEdit()->setPlainText("between");
    AddElement("mid", CElementEditor::kItem, 8);  // double
    QCOMPARE(dialogs_->messages, std::vector<std::string>{});
    QCOMPARE(Rows(Editor()->List()),
             (QStringList{"Item|x|int|1|", "Item|mid|double|3|", "Item|y|char|4|1"}));
    const CEditElement& e = Model().Templates()[0]->elements[1];
    QCOMPARE(e.name.str(), std::string("mid"));
    QCOMPARE(e.comment, std::string("between"));
    // The schema is not touched.
    QCOMPARE(Model().CurrentSchema()->elements.size(), size_t{1});
}

void BuilderPagesTest::templatesAddRefusals_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typedKind");  // typed over "Element:" when not empty
    QTest::addColumn<QString>("typedType");  // typed over "Type:" when not null
    QTest::addColumn<QString>("message");
    QTest::newRow("cleared type") << "a" << QString() << QString("") << "Error! Type is empty";
    QTest::newRow("typed kind") << "a"
                                << "Itemz" << QString() << "Error! Type is empty";
}

void BuilderPagesTest::templatesAddRefusals() {
    QFETCH(QString, name);
    QFETCH(QString, typedKind);
    QFETCH(QString, typedType);
    QFETCH(QString, message);
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    if (!typedKind.isEmpty()) Editor()->KindCombo()->setEditText(typedKind);
    if (!typedType.isNull()) Editor()->TypeCombo()->setEditText(typedType);
    TypeInto(Editor()->NameEdit(), name);
    Click(Editor()->AddButton());
    QCOMPARE(dialogs_->messages, std::vector<std::string>{message.toStdString()});
    QCOMPARE(Editor()->List()->rowCount(), 2);
    QCOMPARE(Model().Templates()[0]->elements.size(), size_t{2});
}

void BuilderPagesTest::templatesAddWithoutTemplateAddsNothing() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    dialogs_->answers = {true};
    Click(Templates()->DeleteAllButton());
    QCOMPARE(Model().CurrentTemplate(), nullptr);
    QVERIFY(ElementButtonsEnabled());
    const size_t schemaElements = Model().CurrentSchema()->elements.size();
    AddElement("lost");
    QVERIFY(dialogs_->messages.empty());
    QCOMPARE(Editor()->List()->rowCount(), 0);
    QVERIFY(Model().Templates().empty());
    QCOMPARE(Model().CurrentSchema()->elements.size(), schemaElements);
    // "Structure" without any template leaves "Type:" empty.
    GoTo(CMyPropertySheet::kSchemaPage);
    Choose(sheet_->Schema()->Editor()->KindCombo(), CElementEditor::kStructure);
    QCOMPARE(sheet_->Schema()->Editor()->TypeCombo()->count(), 0);
}

void BuilderPagesTest::templatesKindChangeClearsTheCollapsedTick() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    QCheckBox* collapsed = Editor()->CollapsedCheck();
    Choose(Editor()->TypeCombo(), 0);  // char
    QVERIFY(collapsed->isEnabled());
    QTest::mouseClick(collapsed, Qt::LeftButton);
    QVERIFY(collapsed->isChecked());
    Choose(Editor()->TypeCombo(), 2);  // int16 clears it
    QVERIFY(!collapsed->isEnabled());
    QVERIFY(!collapsed->isChecked());

    Choose(Editor()->TypeCombo(), 0);
    QTest::mouseClick(collapsed, Qt::LeftButton);
    // A kind change disables the box and clears it, so the next element
    // (here an int) is not saved collapsed by a tick nobody can see.
    Choose(Editor()->KindCombo(), CElementEditor::kItem);
    QVERIFY(!collapsed->isEnabled());
    QVERIFY(!collapsed->isChecked());
    AddElement("flags");
    QCOMPARE(RowCells(Editor()->List(), 2), (QStringList{"Item", "flags", "int", "1", ""}));
    QVERIFY(!Model().Templates()[0]->elements[2].collapsed);
}

void BuilderPagesTest::templatesTypeChangeKeepsTheTemplateCommentary() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    Templates()->TemplateCommentEdit()->setPlainText("typed");
    // Positions before, at and past the end of the two templates, for each kind.
    for (int kind :
         {CElementEditor::kItem, CElementEditor::kItemEnum, CElementEditor::kStructure}) {
        Choose(Editor()->KindCombo(), kind);
        for (int position = 0; position < Editor()->TypeCombo()->count(); ++position) {
            Choose(Editor()->TypeCombo(), position);
            QCOMPARE(Templates()->TemplateCommentEdit()->toPlainText(), QString("typed"));
        }
    }
    QCOMPARE(Model().Templates()[0]->comment, std::string("a point"));
}

void BuilderPagesTest::templatesEditElement() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    Click(Editor()->EditButton());
    QCOMPARE(dialogs_->LastMessage(), std::string("Item is not selected from the Item list"));

    ClickViewRow(Editor()->List(), 0);
    Editor()->NameEdit()->setText("x2");
    Choose(Editor()->KindCombo(), CElementEditor::kItemEnum);
    Editor()->RepetitionsEdit()->SetText("");
    Editor()->CommentEdit()->setPlainText("edited");
    Click(Editor()->EditButton());
    QCOMPARE(dialogs_->messages.size(), size_t{1});
    QCOMPARE(RowCells(Editor()->List(), 0), (QStringList{"Item_enum", "x2", "Mode", "", ""}));
    const CEditElement& e = Model().Templates()[0]->elements[0];
    QCOMPARE(e.comment, std::string("edited"));
    QCOMPARE(e.type.str(), std::string("Mode"));

    const struct {
        QString name, typedKind, typedType, message;
    } refusals[] = {{"", "", QString(), "Error! Empty field"},
                    {"ok", "", QString(""), "Error! Type is empty"},
                    {"ok", "Bogus", QString(), "Error! Type is empty"}};
    for (const auto& r : refusals) {
        Choose(Editor()->KindCombo(), CElementEditor::kItem);
        if (!r.typedKind.isEmpty()) Editor()->KindCombo()->setEditText(r.typedKind);
        if (!r.typedType.isNull()) Editor()->TypeCombo()->setEditText(r.typedType);
        Editor()->NameEdit()->setText(r.name);
        Click(Editor()->EditButton());
        QCOMPARE(dialogs_->LastMessage(), r.message.toStdString());
    }
    QCOMPARE(Model().Templates()[0]->elements[0].name.str(), std::string("x2"));
}

void BuilderPagesTest::templatesDeleteElement() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    Click(Editor()->DeleteButton());  // no row: not even asked
    QVERIFY(dialogs_->questions.empty());
    ClickViewRow(Editor()->List(), 0);
    dialogs_->answers = {false, true};
    Click(Editor()->DeleteButton());
    QCOMPARE(Editor()->List()->rowCount(), 2);
    Click(Editor()->DeleteButton());
    QCOMPARE(dialogs_->questions,
             (std::vector<std::string>{"Are you sure that you want to delete item?",
                                       "Are you sure that you want to delete item?"}));
    QCOMPARE(Rows(Editor()->List()), QStringList{"Item|y|char|4|1"});
    QCOMPARE(Model().Templates()[0]->elements.size(), size_t{1});

    ClickViewRow(Editor()->List(), 0);
    Templates()->TemplateList()->setEditText("nothing");
    Click(Editor()->DeleteButton());
    QCOMPARE(dialogs_->messages,
             std::vector<std::string>{"Item is not selected from the Item list"});
    QCOMPARE(Model().Templates()[0]->elements.size(), size_t{1});
}

void BuilderPagesTest::templatesDoubleClickLoadsTheRow() {
    LoadShapes();
    GoTo(CMyPropertySheet::kTemplatesPage);
    QCheckBox* collapsed = Editor()->CollapsedCheck();
    DoubleClickViewRow(Editor()->List(), 1);  // y: char, 4, collapsed, commented
    QCOMPARE(Editor()->NameEdit()->text(), QString("y"));
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Item"));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("char"));
    QCOMPARE(Editor()->RepetitionsEdit()->Text(), QString("4"));
    QVERIFY(collapsed->isEnabled());
    QVERIFY(collapsed->isChecked());
    QCOMPARE(Editor()->CommentEdit()->toPlainText(), QString("why y"));

    // Box holds a Structure of Line. With "Point" in the template "Name:"
    // field Point is left out of the types, and the row's type is found by
    // its name (Line), not by its position among all templates (Box).
    CreateTemplate("Box");
    Choose(Editor()->TypeCombo(), 0);  // clears the tick that row y left
    Editor()->RepetitionsEdit()->SetText("1");
    AddElement("seg", CElementEditor::kStructure, 1);
    QCOMPARE(Rows(Editor()->List()), QStringList{"Structure|seg|Line|1|"});
    Templates()->TemplateNameEdit()->setText("Point");
    DoubleClickViewRow(Editor()->List(), 0);
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Structure"));
    QCOMPARE(Entries(Editor()->TypeCombo()), (QStringList{"Line", "Box"}));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("Line"));
    // The row's own type left out of the choices: shown as it is all the same.
    Templates()->TemplateNameEdit()->setText("Line");
    DoubleClickViewRow(Editor()->List(), 0);
    QCOMPARE(Entries(Editor()->TypeCombo()), (QStringList{"Point", "Box"}));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("Line"));
    QCOMPARE(Editor()->TypeCombo()->currentIndex(), -1);

    Choose(Templates()->TemplateList(), 1);   // Line
    DoubleClickViewRow(Editor()->List(), 1);  // mode: Item_enum of Mode, 2
    QCOMPARE(Editor()->KindCombo()->currentText(), QString("Item_enum"));
    QCOMPARE(Editor()->TypeCombo()->currentText(), QString("Mode"));
    QCOMPARE(Editor()->RepetitionsEdit()->Text(), QString("2"));
    QVERIFY(!collapsed->isEnabled());
    Shot("row-loaded");
}

QTEST_MAIN(BuilderPagesTest)
#include "builder_pages_test.moc"
