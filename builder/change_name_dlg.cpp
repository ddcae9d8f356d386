#include "builder/change_name_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace morvane {

CChangeNameDlg::CChangeNameDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Change File Name"));
    edit_ = new QLineEdit(this);
    close_ = new QPushButton(tr("&Close"), this);
    close_->setDefault(true);
    auto* label = new QLabel(tr("&Enter new name:"), this);
    label->setBuddy(edit_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    setMinimumWidth(480);

    connect(close_, &QPushButton::clicked, this, &CChangeNameDlg::TakePath);
}

void CChangeNameDlg::SetPath(const std::string& path) {
    path_ = path;
    edit_->setText(QString::fromStdString(path));
}

void CChangeNameDlg::TakePath() {
    path_ = edit_->text().toStdString();
    accept();
}

}  // namespace morvane
