#include "builder/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QUrl>

#include "builder/about_dlg.h"
#include "builder/change_name_dlg.h"

namespace morvane {
namespace {

const QString kTitle = QStringLiteral("MorvaneBuilder");

// What a title bar needs besides the title's text: the window's icon and
// buttons, and margins.
constexpr int kTitleBarExtra = 160;

// A message box of the program's title that the title fits whole: a short
// text would make it too narrow, and the window frame would cut the title.
int Ask(QMessageBox::Icon icon, const std::string& text, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton, QMessageBox::StandardButton escapeButton) {
    QMessageBox box(icon, kTitle, QString::fromStdString(text), buttons);
    box.setDefaultButton(defaultButton);
    box.setEscapeButton(escapeButton);
    box.setMinimumWidth(TitleWidth(box));
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(TitleWidth(box), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box.exec();
}

}  // namespace

int TitleWidth(const QWidget& window) {
    return window.fontMetrics().horizontalAdvance(window.windowTitle()) + kTitleBarExtra;
}

CFolderBrowser::CFolderBrowser(const QString& title, const QString& root, const QString& start)
    : QFileDialog(nullptr, title), root_(QDir(root).canonicalPath()) {
    setOption(QFileDialog::DontUseNativeDialog);  // a native one cannot be confined
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
    if (!root_.isEmpty()) {
        setSidebarUrls({QUrl::fromLocalFile(root_)});
        // Every change of the shown directory goes through the dialog's
        // file system model, whichever control made it.
        for (QFileSystemModel* m : findChildren<QFileSystemModel*>())
            connect(m, &QFileSystemModel::rootPathChanged, this, &CFolderBrowser::Confine);
        connect(this, &QFileDialog::directoryEntered, this, &CFolderBrowser::Confine);
    }
    setDirectory(!start.isEmpty() && IsWithinRoot(start) ? start : root_);
}

bool CFolderBrowser::IsWithinRoot(const QString& path) const {
    if (root_.isEmpty()) return true;
    const QString canonical = QDir(path).canonicalPath();
    if (canonical.isEmpty()) return false;
    return canonical == root_ || canonical.startsWith(root_ + QLatin1Char('/')) ||
           root_ == QLatin1String("/");
}

void CFolderBrowser::Confine(const QString& path) {
    if (IsWithinRoot(path)) return;
    // Deferred: the dialog is still in the middle of its own change.
    QMetaObject::invokeMethod(this, [this] { BackToRoot(); }, Qt::QueuedConnection);
}

void CFolderBrowser::BackToRoot() {
    setHistory({});
    setDirectory(root_);
}

void CFolderBrowser::accept() {
    const QStringList picked = selectedFiles();
    if (picked.isEmpty() || !IsWithinRoot(picked.front())) {
        BackToRoot();
        return;
    }
    QFileDialog::accept();
}

void CQtDialogs::Message(const std::string& text) {
    Ask(QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok);
}

bool CQtDialogs::AskYesNo(const std::string& question) {
    return Ask(QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

CUserDialogs::Answer CQtDialogs::AskYesNoCancel(const std::string& question) {
    // Escape and the close box give the escape button, Cancel.
    switch (Ask(QMessageBox::Question, question,
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes,
                QMessageBox::Cancel)) {
        case QMessageBox::Yes:
            return Answer::kYes;
        case QMessageBox::No:
            return Answer::kNo;
        default:
            return Answer::kCancel;
    }
}

bool CQtDialogs::ChangeFileName(const std::string& path, std::string& chosen) {
    CChangeNameDlg dialog;
    dialog.SetPath(path);
    if (dialog.exec() != QDialog::Accepted) return false;
    chosen = dialog.Path();
    return true;
}

bool CQtDialogs::BrowseForFolder(const std::string& title, const std::string& rootDirectory,
                                 const std::string& startDirectory, std::string& chosen) {
    CFolderBrowser browser(QString::fromStdString(title), QString::fromStdString(rootDirectory),
                           QString::fromStdString(startDirectory));
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty()) return false;
    chosen = browser.selectedFiles().front().toStdString();
    return true;
}

void CQtDialogs::About() {
    CAboutDlg dialog;
    dialog.exec();
}

}  // namespace morvane
