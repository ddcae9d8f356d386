#include "builder/property_sheet.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include "builder/enumerations_page.h"
#include "builder/general_page.h"
#include "builder/key_swallower.h"
#include "builder/schema_page.h"
#include "builder/templates_page.h"

namespace morvane {

CMyPropertySheet::CMyPropertySheet(const QString& caption, Configuration* configuration,
                                   const std::string& workingDirectory, CUserDialogs& dialogs,
                                   QWidget* owner, int startPage)
    : QDialog(owner), model_(configuration) {
    model_.workingDirectory.Assign(workingDirectory);
    setWindowTitle(caption + tr(" Properties"));

    tabs_ = new QTabWidget(this);
    pages_ = {new CGeneral(model_, dialogs), new CEnumerations(model_, dialogs),
              new CTemplateStructures(model_, dialogs), new CSchemaPage(model_, dialogs)};
    for (CBuilderPage* page : pages_) tabs_->addTab(page, page->Title());

    auto* buttons = new QDialogButtonBox(this);
    close_ = buttons->addButton(tr("&Close"), QDialogButtonBox::AcceptRole);
    close_->setDefault(true);
    connect(close_, &QPushButton::clicked, this, &CMyPropertySheet::CloseWithLeave);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addWidget(buttons);
    resize(760, 600);

    if (startPage < 0 || startPage >= static_cast<int>(pages_.size())) startPage = kGeneralPage;
    tabs_->setCurrentIndex(startPage);
    PageChanged(startPage);
    connect(tabs_, &QTabWidget::currentChanged, this, &CMyPropertySheet::PageChanged);
}

CMyPropertySheet::~CMyPropertySheet() {
    // The pages go first, while the model they work on still exists, and no
    // page change may reach a page being destroyed.
    tabs_->disconnect(this);
    for (int index : {kSchemaPage, kTemplatesPage, kEnumerationsPage, kGeneralPage})
        delete pages_[static_cast<size_t>(index)];
}

CGeneral* CMyPropertySheet::General() const {
    return static_cast<CGeneral*>(pages_[kGeneralPage]);
}

CEnumerations* CMyPropertySheet::Enumerations() const {
    return static_cast<CEnumerations*>(pages_[kEnumerationsPage]);
}

CTemplateStructures* CMyPropertySheet::Templates() const {
    return static_cast<CTemplateStructures*>(pages_[kTemplatesPage]);
}

CSchemaPage* CMyPropertySheet::Schema() const {
    return static_cast<CSchemaPage*>(pages_[kSchemaPage]);
}

void CMyPropertySheet::PageChanged(int index) {
    if (index < 0 || index >= static_cast<int>(pages_.size())) return;
    if (active_ >= 0 && active_ != index && !pages_[static_cast<size_t>(active_)]->OnLeave()) {
        // Back to the page left, which keeps its fields as they were.
        QSignalBlocker block(tabs_);
        tabs_->setCurrentIndex(active_);
        return;
    }
    active_ = index;
    pages_[static_cast<size_t>(index)]->Activate();
}

bool CMyPropertySheet::MayClose() {
    if (active_ >= 0 && !pages_[static_cast<size_t>(active_)]->OnLeave()) return false;
    return !model_.HasUnsavedEdits() || Schema()->AskToSave(false);
}

void CMyPropertySheet::CloseWithLeave() {
    if (MayClose()) accept();
}

void CMyPropertySheet::reject() {
    if (MayClose()) QDialog::reject();
}

void CMyPropertySheet::keyPressEvent(QKeyEvent* event) {
    if (CKeySwallower::IsSwallowed(event->key())) {
        // Escape would cancel the sheet and Enter press its default button;
        // neither is wanted. The focused "Close" button still takes Enter.
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace morvane
