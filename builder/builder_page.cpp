#include "builder/builder_page.h"

#include "builder/key_swallower.h"

namespace morvane {

CBuilderPage::CBuilderPage(const QString& title, CEditModel& model, CUserDialogs& dialogs,
                           QWidget* parent)
    : QWidget(parent), model_(model), dialogs_(dialogs), title_(title) {
    new CKeySwallower(this);
}

void CBuilderPage::Activate() {
    if (!initialised_) {
        initialised_ = true;
        OnInitialise();
    }
    OnActivate();
}

}  // namespace morvane
