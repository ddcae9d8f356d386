#include "builder/enumerations_page.h"

namespace morvane {

// TODO(issue 7): the enumeration list and the item editor come with the
// Enumerations page's own issue; until then the page is empty.
CEnumerations::CEnumerations(CEditModel& model, CUserDialogs& dialogs, QWidget* parent)
    : CBuilderPage(tr("Enumerations"), model, dialogs, parent) {}

}  // namespace morvane
