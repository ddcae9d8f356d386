// CChangeNameDlg: "Change File Name", opened by the save when its target
// file exists. "Close" (also the default button) takes the text as the new
// path; dismissing the dialog otherwise keeps the path it was opened with.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;

namespace morvane {

class CChangeNameDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CChangeNameDlg(QWidget* parent = nullptr);

    // Shows path in the text field; Path() is path until "Close".
    void SetPath(const std::string& path);
    const std::string& Path() const { return path_; }

    QLineEdit* PathEdit() const { return edit_; }
    QPushButton* CloseButton() const { return close_; }

  private:
    void TakePath();

    QLineEdit* edit_;
    QPushButton* close_;
    std::string path_;
};

}  // namespace morvane
