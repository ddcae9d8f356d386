// CTemplateStructures: the "Templates" page. It edits the model's
// templates, their comments and their element lines (with the element
// editor the Schema page uses).
#pragma once

#include "builder/builder_page.h"

namespace morvane {

class CTemplateStructures : public CBuilderPage {
    Q_OBJECT

  public:
    CTemplateStructures(CEditModel& model, CUserDialogs& dialogs, QWidget* parent = nullptr);
};

}  // namespace morvane
