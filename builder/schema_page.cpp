#include "builder/schema_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/element_editor.h"
#include "builder/report_view.h"
#include "builder/schema_save.h"
#include "builder/spin_edit.h"
#include "builder/user_dialogs.h"
#include "server/config/configuration.h"

namespace morvane {
namespace {

constexpr int kIdMinimum = 1;
constexpr int kIdMaximum = 10000;

}  // namespace

CSchemaPage::CSchemaPage(CEditModel& model, CUserDialogs& dialogs, QWidget* parent)
    : CBuilderPage(tr("Schema"), model, dialogs, parent) {
    name_ = new QLineEdit(this);
    name_->setObjectName("schemaName");
    // Text longer than the schema name can be is kept whole in the field
    // (never cut) and refused by the save, which names the limit.
    name_->setToolTip(tr("At most %1 characters").arg(kNameWidth - 1));
    id_ = new CSpinEdit(this);
    id_->setObjectName("schemaId");
    save_ = new QPushButton(tr("&Save schema"), this);
    save_->setDefault(true);
    editor_ = new CElementEditor(this);

    auto* nameLabel = new QLabel(tr("&Name:"), this);
    nameLabel->setBuddy(name_);
    auto* idLabel = new QLabel(tr("&Id:"), this);
    idLabel->setBuddy(id_);
    auto* top = new QGridLayout;
    top->addWidget(nameLabel, 0, 0);
    top->addWidget(name_, 0, 1);
    top->addWidget(idLabel, 0, 2);
    top->addWidget(id_, 0, 3);
    top->addWidget(save_, 0, 4);
    top->setColumnStretch(1, 3);
    top->setColumnStretch(3, 1);
    auto* page = new QVBoxLayout(this);
    page->addLayout(top);
    page->addWidget(editor_, 1);

    setTabOrder(name_, id_);
    setTabOrder(id_, save_);
    setTabOrder(save_, editor_->NameEdit());

    connect(save_, &QPushButton::clicked, this, [this] { Save(); });
    connect(editor_, &CElementEditor::KindActivated, this, &CSchemaPage::KindChanged);
    connect(editor_, &CElementEditor::TypeActivated, editor_, &CElementEditor::ApplyTypeRule);
    connect(editor_, &CElementEditor::AddClicked, this, &CSchemaPage::Add);
    connect(editor_, &CElementEditor::DeleteClicked, this, &CSchemaPage::Delete);
    connect(editor_, &CElementEditor::EditClicked, this, &CSchemaPage::Edit);
    connect(editor_, &CElementEditor::RowDoubleClicked, this, &CSchemaPage::RowDoubleClicked);
}

void CSchemaPage::OnInitialise() {
    editor_->List()->SetRows({});
    ResetEditor();
}

void CSchemaPage::ResetEditor() {
    id_->Bind(kIdMinimum, kIdMaximum, 1);
    editor_->Reset();
    const CEditSchema* schema = model_.CurrentSchema();
    name_->setText(schema ? QString::fromUtf8(schema->name.c_str()) : QString());
    const Configuration* config = model_.configuration();
    const int freeId =
        config != nullptr ? SmallestFreeSchemaId(config->schemasDirectory) : kIdMinimum;
    id_->SetText(schema ? QString::fromUtf8(schema->id.c_str()) : QString::number(freeId));
}

void CSchemaPage::OnActivate() {
    shown_ = true;
    const CEditSchema* schema = model_.CurrentSchema();
    if (schema == nullptr) {
        save_->setEnabled(false);
        editor_->List()->SetRows({});
        return;
    }
    model_.newSchema = false;
    save_->setEnabled(true);
    editor_->ShowElements(schema->elements);
    ResetEditor();
}

bool CSchemaPage::OnLeave() {
    StoreNameAndId();
    if (model_.newSchema && model_.CurrentSchema() != nullptr && !AskToSave(true)) return false;
    shown_ = false;
    return true;
}

bool CSchemaPage::AskToSave(bool dropOnNo) {
    switch (dialogs_.AskYesNoCancel(msg::kSaveQuestion)) {
        case CUserDialogs::Answer::kYes:
            return Save() == SaveOutcome::kSaved;
        case CUserDialogs::Answer::kNo:
            if (dropOnNo) model_.DropSchema();
            model_.MarkSaved();
            return true;
        default:
            return false;
    }
}

void CSchemaPage::StoreNameAndId() {
    CEditSchema* schema = model_.CurrentSchema();
    if (!shown_ || schema == nullptr) return;
    // A text too long for its field stays in the field, where the save
    // refuses it.
    schema->name.Assign(name_->text().toStdString());
    schema->id.Assign(id_->Text().toStdString());
}

SaveOutcome CSchemaPage::Save() {
    StoreNameAndId();
    const CEditSchema* schema = model_.CurrentSchema();
    const std::string name = shown_   ? name_->text().toStdString()
                             : schema ? schema->name.str()
                                      : "";
    const std::string id = shown_ ? id_->Text().toStdString() : schema ? schema->id.str() : "";
    return SaveSchema(model_, name, id, dialogs_);
}

void CSchemaPage::KindChanged() {
    int kind = editor_->SelectedKind();
    if (kind < 0) return;  // typed text that names no kind: the types stay
    editor_->FillTypes(kind, model_);
    editor_->DisableCollapsed();
}

void CSchemaPage::Add() {
    CEditElement element;
    std::string message = editor_->ElementForAdd(element);
    if (!message.empty()) {
        dialogs_.Message(message);
        return;
    }
    if (model_.CurrentSchema() == nullptr) {
        model_.EnsureSchema();
        model_.newSchema = true;
        save_->setEnabled(true);
        StoreNameAndId();
    }
    CEditSchema& schema = *model_.CurrentSchema();
    InsertElement(schema.elements, editor_->SelectedRow(), std::move(element));
    editor_->ShowElements(schema.elements);
}

void CSchemaPage::Delete() {
    CEditSchema* schema = model_.CurrentSchema();
    const int row = ConfirmRowDelete(editor_->List(), schema ? schema->elements.size() : 0);
    if (row < 0) return;
    schema->elements.erase(schema->elements.begin() + row);
    editor_->List()->removeRow(row);
}

void CSchemaPage::Edit() {
    CEditSchema* schema = model_.CurrentSchema();
    int row = editor_->SelectedRow();
    if (schema == nullptr || row < 0 || static_cast<size_t>(row) >= schema->elements.size()) return;
    std::string message = editor_->EditRow(schema->elements, row);
    if (!message.empty()) dialogs_.Message(message);
}

void CSchemaPage::RowDoubleClicked(int row) {
    const CEditSchema* schema = model_.CurrentSchema();
    if (schema == nullptr || row < 0 || static_cast<size_t>(row) >= schema->elements.size()) return;
    const CEditElement& e = schema->elements[static_cast<size_t>(row)];
    editor_->ShowKind(QString::fromUtf8(e.kind.c_str()));
    KindChanged();
    editor_->LoadElement(e);
}

}  // namespace morvane
