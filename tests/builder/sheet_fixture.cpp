#include "sheet_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

#include <filesystem>

#include "builder/builder_dlg.h"
#include "builder/element_editor.h"
#include "builder/enumerations_page.h"
#include "builder/name_list.h"
#include "builder/report_view.h"
#include "builder/spin_edit.h"
#include "builder/templates_page.h"

namespace morvane::test {

void SheetFixture::SetUpFixture() {
    dir_ = std::make_unique<TempDir>();
    config_ = std::make_unique<Configuration>();
    config_->programDirectory = dir_->path();
    config_->schemasDirectory = *dir_ / "Schemas";
    MakeDirs(config_->schemasDirectory);
    config_->resultsIncludeDirectory = *dir_ / "ResultsInclude";
    config_->resultsEmptyXmlDirectory = *dir_ / "ResultsEmptyXml";
    dialogs_ = std::make_unique<ScriptedDialogs>();
}

void SheetFixture::TearDownFixture() {
    const std::string unexpected = dialogs_->unexpected.empty() ? "" : dialogs_->unexpected.front();
    sheet_.reset();
    dialogs_.reset();
    config_.reset();
    dir_.reset();
    QVERIFY2(unexpected.empty(), unexpected.c_str());
}

void SheetFixture::MakeSheet(CUserDialogs* dialogs) {
    sheet_.reset();
    sheet_ = std::make_unique<CMyPropertySheet>("RivivarozeRivirov", config_.get(),
                                                InitialWorkingDirectory(*config_),
                                                dialogs ? *dialogs : *dialogs_);
    sheet_->show();
    QVERIFY(QTest::qWaitForWindowExposed(sheet_.get(), 5000));
}

std::string SheetFixture::InSchemas(const std::string& name) const {
    return std::filesystem::canonical(config_->schemasDirectory).string() + "/" + name;
}

void SheetFixture::GoTo(int page) {
    QTabBar* bar = sheet_->Tabs()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(page).center());
    QCOMPARE(sheet_->Tabs()->currentIndex(), page);
}

void SheetFixture::Shot(const QString& name) {
    const QByteArray dir = qgetenv("MORVANE_SCREENSHOTS");
    if (dir.isEmpty()) return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    QApplication::processEvents();
    const QString file =
        QString::fromLocal8Bit(dir) + "/" + QTest::currentTestFunction() + "-" + name + ".png";
    QVERIFY2(sheet_->grab().save(file), qPrintable(file));
}

namespace {

// Presses create; when no message came, the drop-down is open on name.
void CreateEntry(QPushButton* create, CNameList* list, const QString& name,
                 const ScriptedDialogs& dialogs) {
    const size_t messages = dialogs.messages.size();
    QTest::mouseClick(create, Qt::LeftButton);
    if (dialogs.messages.size() == messages) {
        QVERIFY(list->view()->isVisible());
        QCOMPARE(list->currentText(), name);
    }
    list->hidePopup();
}

}  // namespace

void SheetFixture::CreateEnum(const QString& name) {
    CEnumerations* page = sheet_->Enumerations();
    TypeInto(page->EnumNameEdit(), name);
    CreateEntry(page->CreateButton(), page->EnumList(), name, *dialogs_);
}

void SheetFixture::AddItem(const QString& name, const QString& id) {
    CEnumerations* page = sheet_->Enumerations();
    TypeInto(page->ItemNameEdit(), name);
    if (!id.isNull()) page->IdEdit()->SetText(id);
    QTest::mouseClick(page->AddButton(), Qt::LeftButton);
}

void SheetFixture::CreateTemplate(const QString& name, const QString& comment) {
    CTemplateStructures* page = sheet_->Templates();
    TypeInto(page->TemplateNameEdit(), name);
    page->TemplateCommentEdit()->setPlainText(comment);
    CreateEntry(page->CreateButton(), page->TemplateList(), name, *dialogs_);
}

void SheetFixture::AddElementIn(CElementEditor* editor, const QString& name, int kind, int type) {
    if (kind >= 0) Choose(editor->KindCombo(), kind);
    if (type >= 0) Choose(editor->TypeCombo(), type);
    TypeInto(editor->NameEdit(), name);
    QTest::mouseClick(editor->AddButton(), Qt::LeftButton);
}

void SheetFixture::DoubleClick(QWidget* viewport, QPoint at) {
    // As a user does it: the first click, then the second one that makes the
    // double click. (Qt Test's double click alone does not reach an item
    // view that has seen no click yet.)
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
}

void SheetFixture::ClickViewRow(CReportView* view, int row) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(row, 0)).center());
    QCOMPARE(view->FirstSelectedRow(), row);
}

void SheetFixture::DoubleClickViewRow(CReportView* view, int row) {
    DoubleClick(view->viewport(), view->visualRect(view->model()->index(row, 1)).center());
}

void SheetFixture::Choose(QComboBox* combo, int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void SheetFixture::TypeInto(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

void SheetFixture::TypeIntoCombo(QComboBox* combo, const QString& text) {
    TypeInto(combo->lineEdit(), text);
}

QStringList SheetFixture::RowCells(const CReportView* view, int row) {
    QStringList cells;
    for (int c = 0; c < view->columnCount(); ++c) cells << view->CellText(row, c);
    return cells;
}

QStringList SheetFixture::Rows(const CReportView* view) {
    QStringList rows;
    for (int r = 0; r < view->rowCount(); ++r) rows << RowCells(view, r).join('|');
    return rows;
}

}  // namespace morvane::test
