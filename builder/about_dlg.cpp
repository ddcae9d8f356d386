#include "builder/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "builder/builder_icon.h"

namespace morvane {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About MorvaneBulder"));
    auto* icon = new QLabel(this);
    icon->setPixmap(BuilderIcon().pixmap(48, 48));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(new QLabel(tr("MorvaneBuilder, Version 1.1"), this), 0, 1);
    layout->addWidget(new QLabel(tr("Schema editor of the Morvane system"), this), 1, 1);
    layout->addWidget(new QLabel(tr("Saves schema files with their C headers and XML templates"),
                                 this),
                      2, 1);
    layout->addWidget(buttons, 3, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace morvane
