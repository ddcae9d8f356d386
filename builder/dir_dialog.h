// CDirDialog: the directory chooser of the General page, a small wrapper
// around the folder browser that confines the choice to a root directory.
#pragma once

#include <string>

namespace morvane {

class CUserDialogs;

class CDirDialog {
  public:
    // Opens the folder browser through dialogs. True, with path set to the
    // chosen directory, when the user picked a directory that exists, lies
    // within rootDirectory (when that is set) and fits a path field. False
    // when the user cancels, when rootDirectory does not name a directory,
    // or when the pick is refused; a refusal also sets error for the caller
    // to show.
    bool Browse(CUserDialogs& dialogs);

    std::string path;              // the chosen directory
    std::string rootDirectory;     // empty: no confinement
    std::string initialDirectory;  // empty: the browser opens in the root
    std::string title;             // empty: "Open"
    std::string error;             // why the last pick was refused
};

}  // namespace morvane
