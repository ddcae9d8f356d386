#include "builder/key_swallower.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QWidget>

namespace morvane {

CKeySwallower::CKeySwallower(QWidget* root) : QObject(root), root_(root) { Watch(root); }

bool CKeySwallower::IsSwallowed(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

void CKeySwallower::Watch(QObject* object) {
    object->installEventFilter(this);
    for (QObject* child : object->children())
        if (child->isWidgetType()) Watch(child);
}

bool CKeySwallower::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ChildAdded: {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType()) Watch(child);
            break;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride: {
            auto* key = static_cast<QKeyEvent*>(event);
            auto* widget = qobject_cast<QWidget*>(watched);
            // A drop-down list is a window of its own: Enter there chooses.
            if (IsSwallowed(key->key()) && widget != nullptr && widget->window() == root_->window()) {
                event->accept();
                return true;
            }
            break;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace morvane
