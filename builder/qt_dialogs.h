// CQtDialogs: CUserDialogs answered by the user through real Qt dialogs.
// Message boxes belong to the application (no owner window) and carry the
// program's name as their title.
#pragma once

#include <QFileDialog>
#include <QString>

#include "builder/user_dialogs.h"

namespace morvane {

// The width a window of the editor needs for its whole title in the frame.
int TitleWidth(const QWidget& window);

// The folder browser, kept inside a root directory: any way out (the
// parent button, the path list, a typed path, the history) leads back to
// the root, the side bar offers the root alone, and a pick outside it is
// not accepted.
class CFolderBrowser : public QFileDialog {
    Q_OBJECT

  public:
    // root empty: no confinement.
    CFolderBrowser(const QString& title, const QString& root, const QString& start);

    void accept() override;

  private:
    bool IsWithinRoot(const QString& path) const;
    void Confine(const QString& path);
    // Shows the root, with no history to go back out by.
    void BackToRoot();

    QString root_;
};

class CQtDialogs : public CUserDialogs {
  public:
    void Message(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    Answer AskYesNoCancel(const std::string& question) override;
    bool ChangeFileName(const std::string& path, std::string& chosen) override;
    bool BrowseForFolder(const std::string& title, const std::string& rootDirectory,
                         const std::string& startDirectory, std::string& chosen) override;
    void About() override;
};

}  // namespace morvane
