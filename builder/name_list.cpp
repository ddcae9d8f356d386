#include "builder/name_list.h"

#include <QSignalBlocker>

#include "builder/element_editor.h"

namespace morvane {

CNameList::CNameList(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::activated, this, [this] { emit Picked(); });
}

void CNameList::SetNames(const QStringList& names) {
    QSignalBlocker block(this);
    clear();
    addItems(names);
    setCurrentIndex(names.isEmpty() ? -1 : 0);
}

void CNameList::AppendAndSelect(const QString& name) {
    QSignalBlocker block(this);
    addItem(name);
    setCurrentIndex(count() - 1);
    showPopup();
}

int CNameList::Selected() const { return CElementEditor::SelectedIndex(this); }

}  // namespace morvane
