#include "builder/templates_page.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/element_editor.h"
#include "builder/name_list.h"
#include "builder/report_view.h"
#include "builder/user_dialogs.h"

namespace morvane {

CTemplateStructures::CTemplateStructures(CEditModel& model, CUserDialogs& dialogs, QWidget* parent)
    : CBuilderPage(tr("Templates"), model, dialogs, parent) {
    templates_ = new CNameList(this);
    templates_->setObjectName("templateList");
    name_ = new QLineEdit(this);
    name_->setObjectName("templateName");
    comment_ = new QPlainTextEdit(this);
    comment_->setObjectName("templateComment");
    comment_->setTabChangesFocus(true);
    changeComment_ = new QPushButton(tr("C&hange Commentary"), this);
    create_ = new QPushButton(tr("Create Ne&w Template"), this);
    deleteOne_ = new QPushButton(tr("Delete &1 template from list"), this);
    deleteAll_ = new QPushButton(tr("Delete all templates &from list"), this);
    editor_ = new CElementEditor(this);
    for (QPushButton* b : {changeComment_, create_, deleteOne_, deleteAll_})
        b->setAutoDefault(false);

    auto* left = new QVBoxLayout;
    left->addWidget(BuddyLabel(tr("Template L&ist:"), templates_));
    left->addWidget(templates_);
    left->addWidget(BuddyLabel(tr("&Name:"), name_));
    left->addWidget(name_);
    left->addWidget(BuddyLabel(tr("Commentar&y:"), comment_));
    left->addWidget(comment_, 1);
    for (QPushButton* b : {changeComment_, create_, deleteOne_, deleteAll_}) left->addWidget(b);
    auto* page = new QHBoxLayout(this);
    page->addLayout(left, 1);
    page->addWidget(editor_, 3);

    QWidget* order[] = {templates_, name_,      comment_,   changeComment_,
                        create_,    deleteOne_, deleteAll_, editor_->NameEdit()};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(templates_, &CNameList::Picked, this, &CTemplateStructures::TemplatePicked);
    connect(changeComment_, &QPushButton::clicked, this, &CTemplateStructures::ChangeComment);
    connect(create_, &QPushButton::clicked, this, &CTemplateStructures::Create);
    connect(deleteOne_, &QPushButton::clicked, this, &CTemplateStructures::DeleteOne);
    connect(deleteAll_, &QPushButton::clicked, this, &CTemplateStructures::DeleteAll);
    connect(editor_, &CElementEditor::KindActivated, this, &CTemplateStructures::KindChanged);
    // A change of type touches "Collapsed:" only. It never refills the
    // template "Commentary:": the type's position says nothing about which
    // template's comment belongs there, and the text being typed would be lost.
    connect(editor_, &CElementEditor::TypeActivated, editor_, &CElementEditor::ApplyTypeRule);
    connect(editor_, &CElementEditor::AddClicked, this, &CTemplateStructures::Add);
    connect(editor_, &CElementEditor::DeleteClicked, this, &CTemplateStructures::Delete);
    connect(editor_, &CElementEditor::EditClicked, this, &CTemplateStructures::Edit);
    connect(editor_, &CElementEditor::RowDoubleClicked, this,
            &CTemplateStructures::RowDoubleClicked);
}

void CTemplateStructures::OnInitialise() {
    editor_->List()->SetRows({});
    model_.SetCurrentTemplate(nullptr);
}

void CTemplateStructures::Reset() {
    SetElementButtons(model_.CurrentSchema() != nullptr);
    editor_->Reset();
    comment_->clear();
    editor_->CommentEdit()->clear();
    name_->clear();
    editor_->NameEdit()->clear();
}

void CTemplateStructures::OnActivate() {
    Reset();
    ShowFirstTemplate();
    if (const CEditTemplate* first = model_.CurrentTemplate())
        comment_->setPlainText(QString::fromStdString(first->comment));
    SetDeleteButtons(model_.CurrentTemplate() != nullptr);
    create_->setEnabled(true);
}

void CTemplateStructures::ShowFirstTemplate() {
    const auto& list = model_.Templates();
    templates_->SetNames(CNameList::NamesOf(list));
    CEditTemplate* first = list.empty() ? nullptr : list.front().get();
    model_.SetCurrentTemplate(first);
    if (first != nullptr) {
        editor_->ShowElements(first->elements);
    } else {
        editor_->List()->SetRows({});
    }
}

CEditTemplate* CTemplateStructures::SelectedTemplate() const {
    const int index = templates_->Selected();
    if (index < 0 || static_cast<size_t>(index) >= model_.Templates().size()) return nullptr;
    return model_.Templates()[static_cast<size_t>(index)].get();
}

void CTemplateStructures::SetElementButtons(bool enabled) {
    for (QPushButton* b : {editor_->AddButton(), editor_->DeleteButton(), editor_->EditButton()})
        b->setEnabled(enabled);
}

void CTemplateStructures::SetDeleteButtons(bool enabled) {
    deleteOne_->setEnabled(enabled);
    deleteAll_->setEnabled(enabled);
}

bool CTemplateStructures::OnLeave() {
    ChangeComment();
    return true;
}

void CTemplateStructures::TemplatePicked() {
    CEditTemplate* t = SelectedTemplate();
    if (t == nullptr) return;
    if (t != model_.CurrentTemplate()) ChangeComment();  // what was typed for the one left
    model_.SetCurrentTemplate(t);
    editor_->ShowElements(t->elements);
    SetElementButtons(true);
    editor_->NameEdit()->clear();
    comment_->setPlainText(QString::fromStdString(t->comment));
    editor_->CommentEdit()->clear();
}

void CTemplateStructures::ChangeComment() {
    if (CEditTemplate* t = model_.CurrentTemplate())
        t->comment = comment_->toPlainText().toStdString();
}

void CTemplateStructures::Create() {
    const std::string name = name_->text().toStdString();
    std::string message = msg::FieldCheck(name, kNameWidth, "\"Name:\" of the template");
    if (message.empty() && model_.FindTemplate(name) >= 0) message = msg::kNameExists;
    auto t = std::make_unique<CEditTemplate>();
    if (message.empty() && !t->name.Assign(name)) message = msg::kZeroByte;
    if (!message.empty()) {
        dialogs_.Message(message);
        return;
    }
    t->comment = comment_->toPlainText().toStdString();
    model_.SetCurrentTemplate(&model_.AppendTemplate(std::move(t)));
    templates_->AppendAndSelect(QString::fromStdString(name));
    SetElementButtons(true);
    SetDeleteButtons(true);
    editor_->List()->SetRows({});
    name_->clear();
    editor_->NameEdit()->clear();
}

void CTemplateStructures::DeleteOne() {
    const int index = templates_->Selected();
    if (index < 0 || static_cast<size_t>(index) >= model_.Templates().size()) {
        dialogs_.Message(msg::kTemplateNotSelected);
        return;
    }
    const CEditTemplate& t = *model_.Templates()[static_cast<size_t>(index)];
    if (!dialogs_.AskYesNo(msg::StillUsedBy("Template", t.name.view(),
                                            model_.MembersUsingTemplate(t.name.view())) +
                           msg::kDeleteEnumeration))
        return;
    editor_->List()->SetRows({});
    editor_->NameEdit()->clear();
    model_.RemoveTemplate(static_cast<size_t>(index));
    ShowFirstTemplate();  // the template "Commentary:" keeps its text
    SetDeleteButtons(!model_.Templates().empty());
}

void CTemplateStructures::DeleteAll() {
    if (templates_->count() == 0) return;
    std::string used;
    for (const auto& t : model_.Templates())
        used += msg::StillUsedBy("Template", t->name.view(),
                                 model_.MembersUsingTemplate(t->name.view()));
    if (!dialogs_.AskYesNo(used + msg::kDeleteAllEnumerations)) return;
    editor_->List()->SetRows({});
    templates_->SetNames({});
    editor_->NameEdit()->clear();
    model_.ClearTemplates();
    // The delete buttons stay enabled; "Delete 1 template from list" then
    // says that nothing is selected.
}

void CTemplateStructures::KindChanged() {
    // A template may not hold itself: the one named in the template "Name:"
    // field is left out of the "Structure" types.
    const QString named = name_->text();
    // A tick left from a char would otherwise collapse the next element of
    // another kind or type, with the box greyed out and no way to see why.
    editor_->DisableCollapsed();
    CEditTemplate* t = SelectedTemplate();
    if (t == nullptr) return;
    if (t != model_.CurrentTemplate()) {
        // Typed text that names another entry: the rows follow the template
        // that becomes current, so that row i stays element i.
        model_.SetCurrentTemplate(t);
        editor_->ShowElements(t->elements);
    }
    editor_->FillTypes(editor_->SelectedKind(), model_, named);
    SetElementButtons(true);
}

void CTemplateStructures::Add() {
    CEditElement element;
    std::string message = editor_->ElementForAdd(element);
    if (!message.empty()) {
        dialogs_.Message(message);
        return;
    }
    CEditTemplate* t = model_.CurrentTemplate();
    if (t == nullptr) return;  // no template to hold it: nothing is added
    InsertElement(t->elements, editor_->SelectedRow(), std::move(element));
    editor_->ShowElements(t->elements);
}

void CTemplateStructures::Delete() {
    if (templates_->Selected() < 0) {
        dialogs_.Message(msg::kItemNotSelected);
        return;
    }
    // The rows are those of the current template, so its element goes.
    CEditTemplate* t = model_.CurrentTemplate();
    const int row = ConfirmRowDelete(editor_->List(), t ? t->elements.size() : 0);
    if (row < 0) return;
    t->elements.erase(t->elements.begin() + row);
    editor_->List()->removeRow(row);
}

void CTemplateStructures::Edit() {
    CEditTemplate* t = model_.CurrentTemplate();
    const int row = editor_->SelectedRow();
    if (t == nullptr || row < 0 || static_cast<size_t>(row) >= t->elements.size()) {
        dialogs_.Message(msg::kItemNotSelected);
        return;
    }
    std::string message = editor_->EditRow(t->elements, row);
    if (!message.empty()) dialogs_.Message(message);
}

void CTemplateStructures::RowDoubleClicked(int row) {
    const CEditTemplate* t = model_.CurrentTemplate();
    if (t == nullptr || row < 0 || static_cast<size_t>(row) >= t->elements.size()) return;
    // A copy: the kind change below may make another template current.
    const CEditElement e = t->elements[static_cast<size_t>(row)];
    editor_->ShowKind(QString::fromUtf8(e.kind.c_str()));
    KindChanged();
    // The type is found by name among the types offered, so a "Structure"
    // row selects its own template also when the named one is left out.
    editor_->LoadElement(e);
}

}  // namespace morvane
