#include "builder/builder_page.h"

#include <QLabel>

#include "builder/builder_messages.h"
#include "builder/key_swallower.h"
#include "builder/report_view.h"
#include "builder/user_dialogs.h"

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

QLabel* CBuilderPage::BuddyLabel(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, this);
    label->setBuddy(buddy);
    return label;
}

int CBuilderPage::ConfirmRowDelete(const CReportView* view, size_t count) {
    const int row = view->FirstSelectedRow();
    if (row < 0 || static_cast<size_t>(row) >= count) return -1;
    return dialogs_.AskYesNo(msg::kDeleteItem) ? row : -1;
}

}  // namespace morvane
