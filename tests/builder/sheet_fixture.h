// What the Qt Test suites of the builder share: a property sheet on a
// temporary working directory, with a configuration whose save targets lie
// below it and scripted dialogs, and the ways a user reaches its controls.
//
// With MORVANE_SCREENSHOTS set to a directory, Shot() saves the sheet there
// as a PNG named after the test function.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

#include "builder/property_sheet.h"
#include "scripted_dialogs.h"
#include "server/config/configuration.h"
#include "support/test_support.h"

class QComboBox;
class QLineEdit;
class QWidget;

namespace morvane {
class CElementEditor;
class CReportView;
}  // namespace morvane

namespace morvane::test {

class SheetFixture {
  protected:
    // A fresh directory, configuration and dialogs; no sheet yet.
    void SetUpFixture();
    // Fails the test when a dialog came that no script answered, then drops
    // everything SetUpFixture() and MakeSheet() made.
    void TearDownFixture();
    // Makes a fresh sheet, General page first, on the directory the program
    // starts on (the Schemas directory), and waits until it is shown. The
    // sheet asks through dialogs, the scripted dialogs when it is null.
    void MakeSheet(CUserDialogs* dialogs = nullptr);
    // A path in the Schemas directory, the program directory's "Schemas".
    std::string InSchemas(const std::string& name) const;

    // Clicks the page's tab, as a user switches pages.
    void GoTo(int page);
    void Shot(const QString& name);

    // On the Enumerations page: types name into "Name:" and presses "Create
    // New Enumeration". When that was accepted, checks that the drop-down
    // opened on the new entry, then closes it as a click elsewhere would.
    void CreateEnum(const QString& name);
    // On the Enumerations page: types name, and id unless it is null, into
    // the item fields and presses "Add".
    void AddItem(const QString& name, const QString& id = QString());
    // On the Templates page, as CreateEnum() with the template comment.
    void CreateTemplate(const QString& name, const QString& comment = QString());
    // Chooses kind and type in editor when they are not negative, types name
    // and presses "Add".
    static void AddElementIn(CElementEditor* editor, const QString& name, int kind = -1,
                             int type = -1);

    static void DoubleClick(QWidget* viewport, QPoint at);
    static void ClickViewRow(CReportView* view, int row);
    static void DoubleClickViewRow(CReportView* view, int row);
    // What a pick in a drop-down does: select, then report the activation.
    static void Choose(QComboBox* combo, int index);
    // Empties the field and types text into it.
    static void TypeInto(QLineEdit* edit, const QString& text);
    // The same in the field of an editable drop-down list.
    static void TypeIntoCombo(QComboBox* combo, const QString& text);
    static QStringList RowCells(const CReportView* view, int row);
    // Every row's cells joined by '|', one entry a row.
    static QStringList Rows(const CReportView* view);

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<Configuration> config_;
    std::unique_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<CMyPropertySheet> sheet_;
};

}  // namespace morvane::test
