#include "builder/builder_dlg.h"

#include <QAction>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "builder/builder_icon.h"
#include "builder/builder_messages.h"
#include "builder/property_sheet.h"
#include "builder/user_dialogs.h"
#include "server/config/configuration.h"

namespace morvane {

int ReadBuilderConfiguration(Configuration& config, const std::string& programPath,
                             CUserDialogs& dialogs) {
    config.programPath = programPath;
    if (!config.ReadConfiguration()) {
        if (config.loggerMissing) {
            std::fputs(msg::kLoggerAbsent, stdout);
            std::fflush(stdout);
            return 1;
        }
        dialogs.Message(msg::kConfigurationErrors);
        return 1;
    }
    config.PublishLogBinding();
    return 0;
}

std::string InitialWorkingDirectory(const Configuration& config) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::canonical(config.schemasDirectory, ec);
    if (ec) path = std::filesystem::absolute(config.schemasDirectory, ec);
    return path.string();
}

CMorvaneBuilderDlg::CMorvaneBuilderDlg(Configuration& config, CUserDialogs& dialogs,
                                       QWidget* parent)
    : QDialog(parent), config_(config), dialogs_(dialogs) {
    setWindowTitle(tr("MorvaneBuilder"));
    setWindowIcon(BuilderIcon());
    auto* picture = new QLabel(this);
    picture->setPixmap(BuilderIcon().pixmap(64, 64));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture, 0, Qt::AlignCenter);

    // The window menu of the platform has no room for items of our own;
    // the About entry lives in the dialog's context menu instead.
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    auto* about = new QAction(tr("&About MorvaneBuilder..."), this);
    connect(about, &QAction::triggered, this, [this] { dialogs_.About(); });
    addAction(about);
}

int CMorvaneBuilderDlg::Run(const std::string& programPath) {
    int status = ReadBuilderConfiguration(config_, programPath, dialogs_);
    if (status != 0) return status;
    {
        CMyPropertySheet sheet(QStringLiteral("RivivarozeRivirov"), &config_,
                               InitialWorkingDirectory(config_), dialogs_, this);
        sheet.setWindowIcon(BuilderIcon());
        sheet.exec();
    }
    reject();
    return 0;
}

}  // namespace morvane
