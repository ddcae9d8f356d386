// CMorvaneBuilderDlg: the main dialog. It reads the configuration, then
// runs the property sheet modally and ends when the sheet closes; it owns
// the sheet while it runs.
#pragma once

#include <QDialog>

#include <string>

namespace morvane {

class Configuration;
class CUserDialogs;

// Start-up of the editor: sets the program path, reads the configuration
// (which binds the logger library and opens Morvane.log) and publishes the
// log binding. Returns 0 when the editor can go on; otherwise the exit
// status after the failure was reported: "Error! Quillog is absent\n" on
// standard output when the logger library is missing, the message box
// "Errors in configuration file, see Morvane.log\n" for any other failure
// (the reasons are in the log).
int ReadBuilderConfiguration(Configuration& config, const std::string& programPath,
                             CUserDialogs& dialogs);

// The General page's first directory: the absolute path of the configured
// Schemas directory.
std::string InitialWorkingDirectory(const Configuration& config);

class CMorvaneBuilderDlg : public QDialog {
    Q_OBJECT

  public:
    // config and dialogs must outlive the dialog.
    CMorvaneBuilderDlg(Configuration& config, CUserDialogs& dialogs, QWidget* parent = nullptr);

    // The dialog's initialisation: configuration, then the sheet, modal,
    // with the Schemas directory as working directory. Returns the exit
    // status of the program.
    int Run(const std::string& programPath);

  private:
    Configuration& config_;
    CUserDialogs& dialogs_;
};

}  // namespace morvane
