#include "builder/templates_page.h"

namespace morvane {

// TODO(issue 7): the template list and its CElementEditor come with the
// Templates page's own issue; until then the page is empty.
CTemplateStructures::CTemplateStructures(CEditModel& model, CUserDialogs& dialogs,
                                         QWidget* parent)
    : CBuilderPage(tr("Templates"), model, dialogs, parent) {}

}  // namespace morvane
