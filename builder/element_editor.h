// CElementEditor: the "Element:" group shared by the Schema and Templates
// pages. It holds the fields of one element line (name, kind, type,
// repetition count, "Collapsed:", comment), the list of element lines and
// the buttons "Add", "Delete" and "Edit".
//
// The editor knows the controls and the rules that are the same on every
// page; what the buttons do to which list of elements is the page's
// business. Its signals report user actions only: filling the controls
// from code emits nothing.
#pragma once

#include <QGroupBox>
#include <QStringList>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace morvane {

class CEditModel;
class CReportView;
class CSpinEdit;
struct CEditElement;

class CElementEditor : public QGroupBox {
    Q_OBJECT

  public:
    enum Kind { kItem = 0, kItemEnum = 1, kStructure = 2 };

    // The ten primitive type names in their list order ("char" is 0).
    static const QStringList& PrimitiveTypes();
    static const QStringList& Kinds();
    // The position of a kind text in Kinds(), in any letter case; -1 for
    // any other text.
    static int KindIndex(const QString& kind);
    // The kind text an element stores for a typed kind: "item" is stored
    // "Item", as the parser wants it; a "Structure" in any case as typed.
    static QString KindText(const QString& kind);
    // "char" in any case, as the parser reads type names.
    static bool IsCharType(const QString& type);
    // The type choices of a kind: the primitive names, the model's
    // enumerations or its templates (without any named excludedTemplate).
    static QStringList TypeChoices(int kind, const CEditModel& model,
                                   const QString& excludedTemplate = QString());
    // The cells of one list row.
    static QStringList RowTexts(const CEditElement& e);

    explicit CElementEditor(QWidget* parent = nullptr);

    QLineEdit* NameEdit() const { return name_; }
    QComboBox* KindCombo() const { return kind_; }
    QComboBox* TypeCombo() const { return type_; }
    CSpinEdit* RepetitionsEdit() const { return repetitions_; }
    QCheckBox* CollapsedCheck() const { return collapsed_; }
    QPlainTextEdit* CommentEdit() const { return comment_; }
    CReportView* List() const { return list_; }
    QPushButton* AddButton() const { return add_; }
    QPushButton* DeleteButton() const { return delete_; }
    QPushButton* EditButton() const { return edit_; }

    // Spin bound to 1..10000 at 1, kinds filled with "Item" selected, types
    // with the primitive names and "int" selected, "Collapsed:" disabled and
    // cleared. The name and comment fields are left as they are.
    void Reset();
    // Fills "Type:" and selects position select (none when out of range).
    void SetTypeChoices(const QStringList& choices, int select);
    // Fills "Type:" with TypeChoices() of kind and selects "int" for "Item",
    // the first choice for the other kinds. A kind of -1 (typed text that
    // names no kind) leaves the types as they are.
    void FillTypes(int kind, const CEditModel& model, const QString& excludedTemplate = QString());
    // Shows a kind text in "Element:" as it is (the entry when it is one)
    // without refilling "Type:".
    void ShowKind(const QString& kind);
    void DisableCollapsed();
    // The "Type:" change rule, for a pick and for typed text alike: for
    // kind "Item", "Collapsed:" is enabled exactly when the type is "char"
    // (in any case); it is cleared either way.
    void ApplyTypeRule();

    // The selected entry of an editable drop-down list: the entry whose text
    // the field shows, or -1 when the text matches none (typed text).
    static int SelectedIndex(const QComboBox* combo);
    // The kind the "Element:" field names (KindIndex()), or -1.
    int SelectedKind() const;
    // The text the "Type:" field shows, an entry or typed.
    QString SelectedType() const;

    // Builds an element from the fields for "Add": kind and type as the
    // fields show them. Refuses a kind that names none ("Error! Type is
    // empty"), an empty type (the same), an empty name ("Error! name is
    // empty") and texts too long for the record. Returns the message, empty
    // on success.
    std::string ElementForAdd(CEditElement& out) const;
    // The same for "Edit", whose name check gives "Error! Empty field".
    std::string ElementForEdit(CEditElement& out) const;
    // "Edit": overwrites elements[row] (row must be an index of elements)
    // and its list row with the fields. Returns ElementForEdit()'s refusal,
    // empty when the row was changed.
    std::string EditRow(std::vector<CEditElement>& elements, int row);
    // Shows an element's fields as a double click on its row does, once the
    // page has shown its kind and refilled the types: name, type (the entry
    // of that name, or the text as it is when none is offered), repetition
    // text, "Collapsed:" and comment.
    void LoadElement(const CEditElement& e);

    void ShowElements(const std::vector<CEditElement>& elements);
    void ShowElementRow(int row, const CEditElement& e);
    int SelectedRow() const;

  signals:
    void KindActivated();
    void TypeActivated();
    void AddClicked();
    void DeleteClicked();
    void EditClicked();
    void RowDoubleClicked(int row);

  private:
    std::string BuildElement(CEditElement& out) const;

    QLineEdit* name_;
    QComboBox* kind_;
    QComboBox* type_;
    CSpinEdit* repetitions_;
    QCheckBox* collapsed_;
    QPlainTextEdit* comment_;
    CReportView* list_;
    QPushButton* add_;
    QPushButton* delete_;
    QPushButton* edit_;
    int typesKind_ = kItem;  // the kind whose choices "Type:" holds
};

}  // namespace morvane
