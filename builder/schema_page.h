// CSchemaPage: the "Schema" page. Edits the current schema of the model:
// its element lines through the shared element editor, and its name and id
// as they are saved. Creates the schema on the first "Add" when there is
// none and asks to save such a new schema when the user leaves the page.
#pragma once

#include "builder/builder_page.h"

class QLineEdit;
class QPushButton;

namespace morvane {

class CElementEditor;
class CSpinEdit;

class CSchemaPage : public CBuilderPage {
    Q_OBJECT

  public:
    CSchemaPage(CEditModel& model, CUserDialogs& dialogs, QWidget* parent = nullptr);

    // Asks "Do you want to save schema?" for a schema made by "Add" and not
    // saved; Yes saves, No drops the schema.
    void OnLeave() override;

    QLineEdit* NameEdit() const { return name_; }
    CSpinEdit* IdEdit() const { return id_; }
    QPushButton* SaveButton() const { return save_; }
    CElementEditor* Editor() const { return editor_; }

  protected:
    void OnInitialise() override;
    void OnActivate() override;

  private:
    void ResetEditor();
    void Save();
    void KindChanged();
    void Add();
    void Delete();
    void Edit();
    void RowDoubleClicked(int row);

    QLineEdit* name_;
    CSpinEdit* id_;
    QPushButton* save_;
    CElementEditor* editor_;
};

}  // namespace morvane
