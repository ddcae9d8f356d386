#include "builder/builder_app.h"

#include <QCoreApplication>

#include "builder/builder_dlg.h"
#include "builder/qt_dialogs.h"
#include "server/config/configuration.h"
#include "server/startup.h"

namespace morvane {

const std::vector<ProgramOption>& BuilderOptions() {
    static const std::vector<ProgramOption> options = {
        {"--home", "DIR", "take Morvane.ini, Morvane.log and the archive from DIR"},
        {"--config", "FILE", "read the settings from FILE instead of Morvane.ini"},
    };
    return options;
}

const std::string& BuilderUsage() {
    static const std::string usage = UsageText(
        "MorvaneBuilder", "[--home DIR] [--config FILE]",
        "Opens the schema editor on the Schemas directory of the archive. Without\n"
        "--home, the directory of the executable is the home.\n",
        BuilderOptions());
    return usage;
}

int CMorvaneBuilderApp::Run(int argc, char** argv, const ParsedCommandLine& commandLine) {
    // The editor keeps no settings; the key only names where they would be.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    CQtDialogs dialogs;
    Configuration& config = Configuration::Get();
    // The program directory is that of the running executable, wherever
    // the editor was started from and whatever its first word says.
    const std::string programPath =
        ExecutablePath(argc > 0 && argv[0] != nullptr ? argv[0] : "MorvaneBuilder");
    config.programDirectory = ProgramDirectoryOf(programPath);
    if (!ApplyHomeOptions(commandLine, config)) return 1;
    CMorvaneBuilderDlg dialog(config, dialogs);
    return dialog.Run(programPath);
}

}  // namespace morvane
