// CBuilderPage: what the four pages of the property sheet share. A page
// works on the editor's one CEditModel and opens dialogs only through
// CUserDialogs. Enter and Escape are swallowed in all its controls.
#pragma once

#include <QString>
#include <QWidget>

#include <cstddef>

class QLabel;

namespace morvane {

class CEditModel;
class CReportView;
class CUserDialogs;

class CBuilderPage : public QWidget {
    Q_OBJECT

  public:
    // model and dialogs must outlive the page.
    CBuilderPage(const QString& title, CEditModel& model, CUserDialogs& dialogs,
                 QWidget* parent = nullptr);

    const QString& Title() const { return title_; }

    // Called each time the page becomes the active page: initialises the
    // page the first time, then refreshes it from the model.
    void Activate();
    // Called when the user leaves the page for another or closes the sheet.
    // False keeps the user on the page (the question about unsaved work was
    // cancelled, or the save it asked for failed).
    virtual bool OnLeave() { return true; }

  protected:
    virtual void OnInitialise() {}
    virtual void OnActivate() {}

    // A label of the page whose mnemonic focuses buddy.
    QLabel* BuddyLabel(const QString& text, QWidget* buddy);
    // The first selected row of view, whose rows stand for count entries,
    // once "Are you sure that you want to delete item?" is answered Yes;
    // -1 without such a row (then nothing is asked) or on No.
    int ConfirmRowDelete(const CReportView* view, size_t count);

    CEditModel& model_;
    CUserDialogs& dialogs_;

  private:
    QString title_;
    bool initialised_ = false;
};

}  // namespace morvane
