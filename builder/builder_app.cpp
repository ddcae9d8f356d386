#include "builder/builder_app.h"

#include <QCoreApplication>

#include "builder/builder_dlg.h"
#include "builder/qt_dialogs.h"
#include "server/config/configuration.h"

namespace morvane {

int CMorvaneBuilderApp::Run(int argc, char** argv) {
    // The editor keeps no settings; the key only names where they would be.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    CQtDialogs dialogs;
    CMorvaneBuilderDlg dialog(Configuration::Get(), dialogs);
    // The program directory is that of the running executable, wherever
    // the editor was started from and whatever its first word says.
    return dialog.Run(ExecutablePath(argc > 0 && argv[0] != nullptr ? argv[0] : "MorvaneBuilder"));
}

}  // namespace morvane
