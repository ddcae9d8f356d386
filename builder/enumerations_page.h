// CEnumerations: the "Enumerations" page. It edits the model's
// enumerations and their items.
#pragma once

#include "builder/builder_page.h"

namespace morvane {

class CEnumerations : public CBuilderPage {
    Q_OBJECT

  public:
    CEnumerations(CEditModel& model, CUserDialogs& dialogs, QWidget* parent = nullptr);
};

}  // namespace morvane
