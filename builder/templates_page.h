// CTemplateStructures: the "Templates" page. Creates and deletes the
// model's templates, keeps their comments and edits the element lines of
// the current one with the element editor the Schema page uses.
#pragma once

#include "builder/builder_page.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace morvane {

class CElementEditor;
class CNameList;
struct CEditTemplate;

class CTemplateStructures : public CBuilderPage {
    Q_OBJECT

  public:
    CTemplateStructures(CEditModel& model, CUserDialogs& dialogs, QWidget* parent = nullptr);

    CNameList* TemplateList() const { return templates_; }
    QLineEdit* TemplateNameEdit() const { return name_; }
    QPlainTextEdit* TemplateCommentEdit() const { return comment_; }
    QPushButton* ChangeCommentButton() const { return changeComment_; }
    QPushButton* CreateButton() const { return create_; }
    QPushButton* DeleteOneButton() const { return deleteOne_; }
    QPushButton* DeleteAllButton() const { return deleteAll_; }
    CElementEditor* Editor() const { return editor_; }

  protected:
    void OnInitialise() override;
    void OnActivate() override;
    // Keeps a Commentary typed for the current template, as "Change
    // Commentary" would.
    bool OnLeave() override;

  private:
    void Reset();
    // Refills "Template List:" from the model and makes the first entry
    // current, showing its elements (none when the model has no template).
    void ShowFirstTemplate();
    // The template of the selected "Template List:" entry, or null.
    CEditTemplate* SelectedTemplate() const;
    void SetElementButtons(bool enabled);
    void SetDeleteButtons(bool enabled);

    void TemplatePicked();
    void ChangeComment();
    void Create();
    void DeleteOne();
    void DeleteAll();
    void KindChanged();
    void Add();
    void Delete();
    void Edit();
    void RowDoubleClicked(int row);

    CNameList* templates_;
    QLineEdit* name_;
    QPlainTextEdit* comment_;
    QPushButton* changeComment_;
    QPushButton* create_;
    QPushButton* deleteOne_;
    QPushButton* deleteAll_;
    CElementEditor* editor_;
};

}  // namespace morvane
