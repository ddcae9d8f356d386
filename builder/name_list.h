// CNameList: the editable drop-down list of names on the Enumerations and
// Templates pages. Entry i always names entry i of the model's list the
// page shows; the pages refill it from the model on every activation and
// after each change they make.
#pragma once

#include <QComboBox>
#include <QStringList>

#include <memory>
#include <vector>

namespace morvane {

class CNameList : public QComboBox {
    Q_OBJECT

  public:
    explicit CNameList(QWidget* parent = nullptr);

    // The names of entries of a model list, in order.
    template <class T>
    static QStringList NamesOf(const std::vector<std::unique_ptr<T>>& list) {
        QStringList names;
        for (const auto& entry : list) names << QString::fromUtf8(entry->name.c_str());
        return names;
    }

    // Shows names and selects the first; nothing is selected when empty.
    void SetNames(const QStringList& names);
    // Appends name, opens the drop-down and selects the new entry.
    void AppendAndSelect(const QString& name);
    // The selected entry: the one whose text the field shows, or -1 when the
    // field holds typed text that names no entry.
    int Selected() const;

  signals:
    // The user picked an entry. Filling the list from code emits nothing.
    void Picked();
};

}  // namespace morvane
