// CQtDialogs: CUserDialogs answered by the user through real Qt dialogs.
// Message boxes belong to the application (no owner window) and carry the
// program's name as their title.
#pragma once

#include "builder/user_dialogs.h"

namespace morvane {

class CQtDialogs : public CUserDialogs {
  public:
    void Message(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    Answer AskYesNoCancel(const std::string& question) override;
    bool ChangeFileName(const std::string& path, std::string& chosen) override;
    bool BrowseForFolder(const std::string& title, const std::string& startDirectory,
                         std::string& chosen) override;
    void About() override;
};

}  // namespace morvane
