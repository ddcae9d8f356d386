// CKeySwallower: takes Enter and Escape away from every control of a
// widget tree before the control sees them, so that neither presses a
// default button, closes the sheet or starts a new line in a multi-line
// field. Controls added to the tree later are covered too. Pop-up lists
// (a combo box's drop-down) are separate windows and keep their keys.
#pragma once

#include <QObject>

class QWidget;

namespace morvane {

class CKeySwallower : public QObject {
    Q_OBJECT

  public:
    // Watches root and everything below it; the object is a child of root.
    explicit CKeySwallower(QWidget* root);

    static bool IsSwallowed(int key);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Watch(QObject* object);

    QWidget* root_;
};

}  // namespace morvane
