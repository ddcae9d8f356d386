#include "builder/element_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/report_view.h"
#include "builder/spin_edit.h"

namespace morvane {
namespace {

constexpr int kSpinMinimum = 1;
constexpr int kSpinMaximum = 10000;
constexpr int kCommentLines = 3;

QLabel* Label(const char* text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setBuddy(buddy);
    return label;
}

std::string Std(const QString& text) { return text.toStdString(); }

}  // namespace

const QStringList& CElementEditor::PrimitiveTypes() {
    static const QStringList types = {"char",     "int",        "int16",      "int64", "unsigned",
                                      "unsigned16", "unsigned64", "float", "double", "bool"};
    return types;
}

const QStringList& CElementEditor::Kinds() {
    static const QStringList kinds = {kKindItem, kKindItemEnum, kKindStructure};
    return kinds;
}

int CElementEditor::KindIndex(const QString& kind) {
    for (int i = 0; i < Kinds().size(); ++i)
        if (kind.compare(Kinds()[i], Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QString CElementEditor::KindText(const QString& kind) {
    // The parser takes "Structure" in any case, "Item" and "Item_enum" only
    // as written: those are stored as the list has them.
    const int index = KindIndex(kind);
    return index < 0 || index == kStructure ? kind : Kinds()[index];
}

bool CElementEditor::IsCharType(const QString& type) {
    return type.compare(QLatin1String("char"), Qt::CaseInsensitive) == 0;
}

QStringList CElementEditor::TypeChoices(int kind, const CEditModel& model,
                                        const QString& excludedTemplate) {
    QStringList choices;
    switch (kind) {
        case kItemEnum:
            for (const auto& e : model.Enumerations()) choices << QString::fromUtf8(e->name.c_str());
            break;
        case kStructure:
            for (const auto& t : model.Templates()) {
                QString name = QString::fromUtf8(t->name.c_str());
                if (excludedTemplate.isEmpty() || name != excludedTemplate) choices << name;
            }
            break;
        default:
            choices = PrimitiveTypes();
    }
    return choices;
}

QStringList CElementEditor::RowTexts(const CEditElement& e) {
    return {QString::fromUtf8(e.kind.c_str()), QString::fromUtf8(e.name.c_str()),
            QString::fromUtf8(e.type.c_str()), QString::fromUtf8(e.nrepetitions.c_str()),
            e.collapsed ? QStringLiteral("1") : QString()};
}

CElementEditor::CElementEditor(QWidget* parent) : QGroupBox(tr("Element:"), parent) {
    name_ = new QLineEdit(this);
    name_->setObjectName("elementName");
    kind_ = new QComboBox(this);
    kind_->setObjectName("elementKind");
    type_ = new QComboBox(this);
    type_->setObjectName("elementType");
    for (QComboBox* combo : {kind_, type_}) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
    }
    repetitions_ = new CSpinEdit(this);
    repetitions_->setObjectName("elementRepetitions");
    collapsed_ = new QCheckBox(this);
    collapsed_->setObjectName("elementCollapsed");
    comment_ = new QPlainTextEdit(this);
    comment_->setObjectName("elementComment");
    comment_->setTabChangesFocus(true);
    comment_->setFixedHeight(comment_->fontMetrics().lineSpacing() * kCommentLines +
                             2 * comment_->frameWidth() + 8);
    list_ = new CReportView({{"Element", 0.2},
                             {"Name", 0.35},
                             {"Type", 0.3},
                             {"NRepetitions", 0.1},
                             {"Collapsed", 0.05}},
                            this);
    list_->setObjectName("elementList");
    list_->setMinimumHeight(140);
    add_ = new QPushButton(tr("&Add"), this);
    delete_ = new QPushButton(tr("&Delete"), this);
    edit_ = new QPushButton(tr("&Edit"), this);
    for (QPushButton* b : {add_, delete_, edit_}) b->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label("Na&me:", name_, this), 0, 0);
    grid->addWidget(name_, 0, 1, 1, 3);
    grid->addWidget(Label("E&lement:", kind_, this), 1, 0);
    grid->addWidget(kind_, 1, 1);
    grid->addWidget(Label("&Type:", type_, this), 1, 2);
    grid->addWidget(type_, 1, 3);
    grid->addWidget(Label("NRe&petitions:", repetitions_, this), 2, 0);
    grid->addWidget(repetitions_, 2, 1);
    grid->addWidget(Label("C&ollapsed:", collapsed_, this), 2, 2);
    grid->addWidget(collapsed_, 2, 3, Qt::AlignLeft);
    grid->addWidget(Label("Commenta&ry:", comment_, this), 3, 0, Qt::AlignTop);
    grid->addWidget(comment_, 3, 1, 1, 3);
    grid->addWidget(list_, 4, 0, 1, 4);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(delete_);
    buttons->addWidget(edit_);
    buttons->addStretch(1);
    grid->addLayout(buttons, 5, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(4, 1);

    QWidget* order[] = {name_, kind_, type_, repetitions_, collapsed_, comment_, list_,
                        add_,  delete_, edit_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(kind_, &QComboBox::activated, this, [this] { emit KindActivated(); });
    connect(type_, &QComboBox::activated, this, [this] { emit TypeActivated(); });
    // Typed text counts as a pick once it names a kind (in any case) other
    // than the one whose types are shown, or a type.
    connect(kind_, &QComboBox::editTextChanged, this, [this] {
        const int kind = SelectedKind();
        if (kind >= 0 && kind != typesKind_) emit KindActivated();
    });
    connect(type_, &QComboBox::editTextChanged, this, [this] { emit TypeActivated(); });
    connect(add_, &QPushButton::clicked, this, [this] { emit AddClicked(); });
    connect(delete_, &QPushButton::clicked, this, [this] { emit DeleteClicked(); });
    connect(edit_, &QPushButton::clicked, this, [this] { emit EditClicked(); });
    connect(list_, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { emit RowDoubleClicked(row); });
}

void CElementEditor::Reset() {
    repetitions_->Bind(kSpinMinimum, kSpinMaximum, 1);
    {
        QSignalBlocker block(kind_);
        kind_->clear();
        kind_->addItems(Kinds());
        kind_->setCurrentIndex(kItem);
    }
    SetTypeChoices(PrimitiveTypes(), PrimitiveTypes().indexOf("int"));
    typesKind_ = kItem;
    DisableCollapsed();
}

void CElementEditor::SetTypeChoices(const QStringList& choices, int select) {
    QSignalBlocker block(type_);
    type_->clear();
    type_->addItems(choices);
    type_->setCurrentIndex(select >= 0 && select < choices.size() ? select : -1);
}

void CElementEditor::FillTypes(int kind, const CEditModel& model,
                               const QString& excludedTemplate) {
    if (kind < 0) return;
    QStringList choices = TypeChoices(kind, model, excludedTemplate);
    int select = kind == kItem ? choices.indexOf("int") : 0;
    SetTypeChoices(choices, select);
    typesKind_ = kind;
}

void CElementEditor::ShowKind(const QString& kind) {
    QSignalBlocker block(kind_);
    const int index = Kinds().indexOf(kind);
    kind_->setCurrentIndex(index);
    if (index < 0) kind_->setEditText(kind);
}

void CElementEditor::DisableCollapsed() {
    collapsed_->setChecked(false);
    collapsed_->setEnabled(false);
}

void CElementEditor::ApplyTypeRule() {
    if (SelectedKind() != kItem) return;
    collapsed_->setEnabled(IsCharType(SelectedType()));
    collapsed_->setChecked(false);
}

int CElementEditor::SelectedIndex(const QComboBox* combo) {
    const int current = combo->currentIndex();
    const QString text = combo->currentText();
    if (current >= 0 && combo->itemText(current) == text) return current;
    return combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

int CElementEditor::SelectedKind() const { return KindIndex(kind_->currentText()); }

QString CElementEditor::SelectedType() const { return type_->currentText(); }

std::string CElementEditor::BuildElement(CEditElement& out) const {
    std::string message;
    AssignElement(out, Std(KindText(kind_->currentText())), Std(name_->text()), Std(SelectedType()),
                  Std(repetitions_->Text()), collapsed_->isChecked(), Std(comment_->toPlainText()),
                  message);
    return message;
}

std::string CElementEditor::ElementForAdd(CEditElement& out) const {
    if (SelectedKind() < 0 || SelectedType().isEmpty()) return msg::kTypeEmpty;
    if (name_->text().isEmpty()) return msg::kNameEmpty;
    return BuildElement(out);
}

std::string CElementEditor::ElementForEdit(CEditElement& out) const {
    std::string check = msg::FieldCheck(Std(name_->text()), kNameWidth, "\"Name:\" of the element");
    if (!check.empty()) return check;
    if (SelectedKind() < 0 || SelectedType().isEmpty()) return msg::kTypeEmpty;
    return BuildElement(out);
}

std::string CElementEditor::EditRow(std::vector<CEditElement>& elements, int row) {
    CEditElement element;
    std::string message = ElementForEdit(element);
    if (!message.empty()) return message;
    // What the row does not show stays as the file gave it; so does a
    // member's visibility where the page offers no Collapsed.
    CEditElement& old = elements[static_cast<size_t>(row)];
    element.typeGiven = old.typeGiven;
    element.visibility = std::move(old.visibility);
    element.fileRepetitions = std::move(old.fileRepetitions);
    element.members = std::move(old.members);
    element.kept = std::move(old.kept);
    if (!collapsed_->isEnabled()) element.collapsed = old.collapsed;
    old = std::move(element);
    ShowElementRow(row, elements[static_cast<size_t>(row)]);
    return {};
}

void CElementEditor::LoadElement(const CEditElement& e) {
    name_->setText(QString::fromUtf8(e.name.c_str()));
    const QString type = QString::fromUtf8(e.type.c_str());
    {
        QSignalBlocker block(type_);
        const int position = type_->findText(type, Qt::MatchExactly | Qt::MatchCaseSensitive);
        type_->setCurrentIndex(position);
        if (position < 0) type_->setEditText(type);  // not offered: kept as written
    }
    repetitions_->SetText(QString::fromUtf8(e.nrepetitions.c_str()));
    DisableCollapsed();
    if (SelectedKind() == kItem && IsCharType(type)) {
        collapsed_->setChecked(e.collapsed);
        collapsed_->setEnabled(true);
    }
    comment_->setPlainText(QString::fromStdString(e.comment));
}

void CElementEditor::ShowElements(const std::vector<CEditElement>& elements) {
    std::vector<QStringList> rows;
    rows.reserve(elements.size());
    for (const CEditElement& e : elements) rows.push_back(RowTexts(e));
    list_->SetRows(rows);
}

void CElementEditor::ShowElementRow(int row, const CEditElement& e) {
    list_->SetRowTexts(row, RowTexts(e));
}

int CElementEditor::SelectedRow() const { return list_->FirstSelectedRow(); }

}  // namespace morvane
