// CMyPropertySheet: the modal property sheet that is the editor's window.
// It owns the edit model and the four pages (General, Enumerations,
// Templates, Schema) and shows a single "Close" button under them.
//
// "Close" and the window frame run the active page's leave step and then,
// when the model holds unsaved edits, ask "Do you want to save schema?"
// (Yes, No, Cancel) before the sheet closes; Cancel, or a save that fails,
// keeps it open. A page whose leave step says so stays the active page.
// Escape never closes the sheet.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "builder/edit_model.h"

class QPushButton;
class QTabWidget;

namespace morvane {

class CBuilderPage;
class CEnumerations;
class CGeneral;
class CSchemaPage;
class CTemplateStructures;
class CUserDialogs;

class CMyPropertySheet : public QDialog {
    Q_OBJECT

  public:
    enum PageIndex { kGeneralPage = 0, kEnumerationsPage, kTemplatesPage, kSchemaPage };

    // configuration may be null (then the save cannot run); it and dialogs
    // must outlive the sheet. workingDirectory: the model's first working
    // directory (refused, leaving it empty, when it does not fit).
    CMyPropertySheet(const QString& caption, Configuration* configuration,
                     const std::string& workingDirectory, CUserDialogs& dialogs,
                     QWidget* owner = nullptr, int startPage = kGeneralPage);
    ~CMyPropertySheet() override;

    CEditModel& Model() { return model_; }
    QTabWidget* Tabs() const { return tabs_; }
    QPushButton* CloseButton() const { return close_; }
    CBuilderPage* Page(int index) const { return pages_[static_cast<size_t>(index)]; }
    CGeneral* General() const;
    CEnumerations* Enumerations() const;
    CTemplateStructures* Templates() const;
    CSchemaPage* Schema() const;

    // The frame's close: as "Close", but the sheet ends rejected.
    void reject() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void PageChanged(int index);
    void CloseWithLeave();
    // The leave step and the question about unsaved edits; true when the
    // sheet may close.
    bool MayClose();

    CEditModel model_;
    QTabWidget* tabs_;
    QPushButton* close_;
    std::vector<CBuilderPage*> pages_;
    int active_ = -1;
};

}  // namespace morvane
