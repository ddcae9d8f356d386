// CUserDialogs: every modal dialog the editor opens, behind one small
// interface. The program answers through real Qt dialogs (CQtDialogs);
// tests answer through a scripted stand-in and never block in a nested
// event loop.
#pragma once

#include <string>

namespace morvane {

class CUserDialogs {
  public:
    virtual ~CUserDialogs() = default;

    // A message box with an OK button.
    virtual void Message(const std::string& text) = 0;
    // A Yes/No question; true only when the answer is Yes. No is the default
    // button and Escape answers No.
    virtual bool AskYesNo(const std::string& question) = 0;
    // A question about unsaved work with Yes, No and Cancel. Yes is the
    // default button; Escape or closing the box answers Cancel.
    enum class Answer { kYes, kNo, kCancel };
    virtual Answer AskYesNoCancel(const std::string& question) = 0;
    // The Change File Name dialog opened on path. True with chosen set to
    // the path it ends with when the user closes it with its button; false
    // when he dismisses it (Escape, the close box).
    virtual bool ChangeFileName(const std::string& path, std::string& chosen) = 0;
    // The folder browser: title, the directory it keeps the user in (empty:
    // anywhere) and the one it opens in (may be empty). True with chosen
    // set when the user picked a folder; false on cancel. The caller
    // (CDirDialog) checks the pick once more.
    virtual bool BrowseForFolder(const std::string& title, const std::string& rootDirectory,
                                 const std::string& startDirectory, std::string& chosen) = 0;
    // The About box.
    virtual void About() = 0;
};

}  // namespace morvane
