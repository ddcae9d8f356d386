#include "builder/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "builder/about_dlg.h"
#include "builder/change_name_dlg.h"

namespace morvane {
namespace {

const QString kTitle = QStringLiteral("MorvaneBuilder");

}  // namespace

void CQtDialogs::Message(const std::string& text) {
    QMessageBox::information(nullptr, kTitle, QString::fromStdString(text), QMessageBox::Ok);
}

bool CQtDialogs::AskYesNo(const std::string& question) {
    return QMessageBox::question(nullptr, kTitle, QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

CUserDialogs::Answer CQtDialogs::AskYesNoCancel(const std::string& question) {
    // Escape and the close box give the escape button, Cancel.
    switch (QMessageBox::question(nullptr, kTitle, QString::fromStdString(question),
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                  QMessageBox::Yes)) {
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

bool CQtDialogs::BrowseForFolder(const std::string& title, const std::string& startDirectory,
                                 std::string& chosen) {
    QString picked = QFileDialog::getExistingDirectory(
        nullptr, QString::fromStdString(title), QString::fromStdString(startDirectory),
        QFileDialog::ShowDirsOnly);
    if (picked.isEmpty()) return false;
    chosen = picked.toStdString();
    return true;
}

void CQtDialogs::About() {
    CAboutDlg dialog;
    dialog.exec();
}

}  // namespace morvane
