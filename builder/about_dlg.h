// CAboutDlg: the About box, opened by the main dialog's menu item and the
// General page's "Help" button.
#pragma once

#include <QDialog>

namespace morvane {

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace morvane
