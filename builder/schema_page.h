// CSchemaPage: the "Schema" page. Edits the current schema of the model:
// its element lines through the shared element editor, and its name and id
// as they are saved. Creates the schema on the first "Add" when there is
// none and asks to save such a new schema when the user leaves the page.
#pragma once

#include "builder/builder_page.h"
#include "builder/schema_save.h"

class QLineEdit;
class QPushButton;

namespace morvane {

class CElementEditor;
class CSpinEdit;

class CSchemaPage : public CBuilderPage {
    Q_OBJECT

  public:
    CSchemaPage(CEditModel& model, CUserDialogs& dialogs, QWidget* parent = nullptr);

    // Keeps the Name and Id fields in the schema, then asks "Do you want to
    // save schema?" for a schema made by "Add" and not saved: Yes saves (the
    // page is left only when that succeeds), No drops the schema, Cancel
    // stays.
    bool OnLeave() override;
    // Asks "Do you want to save schema?" (Yes, No, Cancel). True when the
    // user may go on: Yes and the save succeeded, or No (which drops the
    // schema when dropOnNo is set and takes the model as saved).
    bool AskToSave(bool dropOnNo);

    QLineEdit* NameEdit() const { return name_; }
    CSpinEdit* IdEdit() const { return id_; }
    QPushButton* SaveButton() const { return save_; }
    CElementEditor* Editor() const { return editor_; }

  protected:
    void OnInitialise() override;
    void OnActivate() override;

  private:
    void ResetEditor();
    // The Name and Id fields into the current schema, while the page shows
    // them.
    void StoreNameAndId();
    SaveOutcome Save();
    void KindChanged();
    void Add();
    void Delete();
    void Edit();
    void RowDoubleClicked(int row);

    QLineEdit* name_;
    CSpinEdit* id_;
    QPushButton* save_;
    CElementEditor* editor_;
    bool shown_ = false;  // the fields show the model: between activation and leave
};

}  // namespace morvane
