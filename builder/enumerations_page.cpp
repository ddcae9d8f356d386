#include "builder/enumerations_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/name_list.h"
#include "builder/report_view.h"
#include "builder/spin_edit.h"
#include "builder/user_dialogs.h"

namespace morvane {
namespace {

constexpr int kIdMinimum = 1;
constexpr int kIdMaximum = 10000;
constexpr int kIdDigits = 9;  // the most an item id holds

QStringList ItemRow(const CEditEnumItem& item) {
    return {QString::fromUtf8(item.name.c_str()), QString::fromUtf8(item.id.c_str())};
}

}  // namespace

CEnumerations::CEnumerations(CEditModel& model, CUserDialogs& dialogs, QWidget* parent)
    : CBuilderPage(tr("Enumerations"), model, dialogs, parent) {
    enums_ = new CNameList(this);
    enums_->setObjectName("enumList");
    enumName_ = new QLineEdit(this);
    enumName_->setObjectName("enumName");
    create_ = new QPushButton(tr("Create Ne&w Enumeration"), this);
    deleteOne_ = new QPushButton(tr("Delete &1 enum from List"), this);
    deleteAll_ = new QPushButton(tr("Delete all enums &from List"), this);
    QGroupBox* itemGroup = MakeItemGroup();
    for (QPushButton* b : {create_, deleteOne_, deleteAll_}) b->setAutoDefault(false);

    auto* left = new QVBoxLayout;
    left->addWidget(BuddyLabel(tr("Enumeration &List:"), enums_));
    left->addWidget(enums_);
    left->addWidget(BuddyLabel(tr("&Name:"), enumName_));
    left->addWidget(enumName_);
    left->addSpacing(8);
    for (QPushButton* b : {create_, deleteOne_, deleteAll_}) left->addWidget(b);
    left->addStretch(1);
    auto* page = new QHBoxLayout(this);
    page->addLayout(left, 2);
    page->addWidget(itemGroup, 3);

    QWidget* order[] = {enums_, enumName_, create_, deleteOne_, deleteAll_, itemName_,
                        id_,    items_,    add_,    delete_,    edit_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(enums_, &CNameList::Picked, this, &CEnumerations::EnumPicked);
    connect(create_, &QPushButton::clicked, this, &CEnumerations::Create);
    connect(deleteOne_, &QPushButton::clicked, this, &CEnumerations::DeleteOne);
    connect(deleteAll_, &QPushButton::clicked, this, &CEnumerations::DeleteAll);
    connect(add_, &QPushButton::clicked, this, &CEnumerations::AddItem);
    connect(delete_, &QPushButton::clicked, this, &CEnumerations::DeleteItem);
    connect(edit_, &QPushButton::clicked, this, &CEnumerations::EditItem);
}

QGroupBox* CEnumerations::MakeItemGroup() {
    auto* group = new QGroupBox(tr("I&tem:"), this);
    itemName_ = new QLineEdit(group);
    itemName_->setObjectName("itemName");
    id_ = new CSpinEdit(group);
    id_->setObjectName("itemId");
    id_->setMinimumWidth(id_->fontMetrics().horizontalAdvance(QString(kIdDigits, '0')) + 40);
    items_ = new CReportView({{"Name", 0.85}, {"Id", 0.15}}, group);
    items_->setObjectName("itemList");
    add_ = new QPushButton(tr("&Add"), group);
    delete_ = new QPushButton(tr("&Delete"), group);
    edit_ = new QPushButton(tr("&Edit"), group);
    for (QPushButton* b : {add_, delete_, edit_}) b->setAutoDefault(false);

    auto* grid = new QGridLayout(group);
    grid->addWidget(BuddyLabel(tr("Na&me:"), itemName_), 0, 0);
    grid->addWidget(itemName_, 0, 1);
    grid->addWidget(BuddyLabel(tr("&Id:"), id_), 1, 0);
    grid->addWidget(id_, 1, 1, Qt::AlignLeft);
    grid->addWidget(items_, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {add_, delete_, edit_}) buttons->addWidget(b);
    buttons->addStretch(1);
    grid->addLayout(buttons, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    return group;
}

void CEnumerations::OnInitialise() {
    items_->SetRows({});
    model_.SetCurrentEnum(nullptr);
}

void CEnumerations::OnActivate() {
    ShowFirstEnum();
    SetItemButtons(model_.CurrentSchema() != nullptr);
    ResetId();
    enumName_->clear();
    SetDeleteButtons(model_.CurrentEnum() != nullptr);
    create_->setEnabled(true);
}

void CEnumerations::ShowFirstEnum() {
    const auto& list = model_.Enumerations();
    enums_->SetNames(CNameList::NamesOf(list));
    CEditEnum* first = list.empty() ? nullptr : list.front().get();
    model_.SetCurrentEnum(first);
    ShowItems(first);
}

void CEnumerations::ShowItems(const CEditEnum* e) {
    std::vector<QStringList> rows;
    if (e != nullptr)
        for (const CEditEnumItem& item : e->items) rows.push_back(ItemRow(item));
    items_->SetRows(rows);
}

void CEnumerations::ResetId() { id_->Bind(kIdMinimum, kIdMaximum, 1); }

void CEnumerations::SetItemButtons(bool enabled) {
    for (QPushButton* b : {add_, delete_, edit_}) b->setEnabled(enabled);
}

void CEnumerations::SetDeleteButtons(bool enabled) {
    deleteOne_->setEnabled(enabled);
    deleteAll_->setEnabled(enabled);
}

void CEnumerations::EnumPicked() {
    items_->SetRows({});
    const int index = enums_->Selected();
    if (index < 0 || static_cast<size_t>(index) >= model_.Enumerations().size()) return;
    CEditEnum* e = model_.Enumerations()[static_cast<size_t>(index)].get();
    model_.SetCurrentEnum(e);
    ShowItems(e);
    SetItemButtons(true);
    ResetId();
    enumName_->clear();
}

void CEnumerations::Create() {
    const std::string name = enumName_->text().toStdString();
    std::string message = msg::FieldCheck(name, kNameWidth, "\"Name:\" of the enumeration");
    if (message.empty() && model_.FindEnum(name) >= 0) message = msg::kNameExists;
    auto e = std::make_unique<CEditEnum>();
    if (message.empty() && !e->name.Assign(name)) message = msg::kZeroByte;
    if (!message.empty()) {
        dialogs_.Message(message);
        return;
    }
    model_.SetCurrentEnum(&model_.AppendEnum(std::move(e)));
    enums_->AppendAndSelect(QString::fromStdString(name));
    SetItemButtons(true);
    SetDeleteButtons(true);
    items_->SetRows({});
    enumName_->clear();
    itemName_->clear();
    ResetId();
}

void CEnumerations::DeleteOne() {
    const int index = enums_->Selected();
    if (index < 0 || static_cast<size_t>(index) >= model_.Enumerations().size()) {
        dialogs_.Message(msg::kEnumerationNotSelected);
        return;
    }
    const CEditEnum& e = *model_.Enumerations()[static_cast<size_t>(index)];
    if (!dialogs_.AskYesNo(
            msg::StillUsedBy("Enumeration", e.name.view(), model_.MembersUsingEnum(e.name.view())) +
            msg::kDeleteEnumeration))
        return;
    items_->SetRows({});
    itemName_->clear();
    model_.RemoveEnum(static_cast<size_t>(index));
    ShowFirstEnum();
    SetDeleteButtons(!model_.Enumerations().empty());
}

void CEnumerations::DeleteAll() {
    if (enums_->count() == 0) return;
    std::string used;
    for (const auto& e : model_.Enumerations())
        used += msg::StillUsedBy("Enumeration", e->name.view(),
                                 model_.MembersUsingEnum(e->name.view()));
    if (!dialogs_.AskYesNo(used + msg::kDeleteAllEnumerations)) return;
    items_->SetRows({});
    enums_->SetNames({});
    itemName_->clear();
    model_.ClearEnums();
    SetDeleteButtons(false);
}

std::string CEnumerations::ItemFromFields(CEditEnumItem& item) const {
    const std::string name = itemName_->text().toStdString();
    const std::string id = id_->Text().toStdString();
    std::string message = msg::FieldCheck(name, kNameWidth, "\"Name:\" of the item");
    if (!message.empty()) return message;
    if (!item.name.Assign(name)) return msg::kZeroByte;
    if (!item.id.Assign(id)) return msg::SizeOfField(kEnumItemIdWidth, "\"Id:\" of the item", id);
    return {};
}

void CEnumerations::AddItem() {
    // With a schema but no enumeration the buttons are enabled, yet there is
    // nothing to add to.
    CEditEnum* e = model_.CurrentEnum();
    if (e == nullptr) {
        dialogs_.Message(msg::kItemNotSelected);
        return;
    }
    CEditEnumItem item;
    std::string message = ItemFromFields(item);
    if (message.empty() && HasItemNamed(*e, item.name.view())) message = msg::kItemNameExists;
    if (message.empty() && HasItemWithId(*e, item.id.view())) message = msg::kItemIdExists;
    if (!message.empty()) {
        dialogs_.Message(message);
        return;
    }
    InsertAt(e->items, items_->FirstSelectedRow(), item);
    id_->SetText(QString::number(NextEnumItemId(item.id.view())));
    ShowItems(e);
}

void CEnumerations::DeleteItem() {
    if (enums_->Selected() < 0) {
        dialogs_.Message(msg::kItemNotSelected);
        return;
    }
    // The rows are those of the current enumeration, so its item goes.
    CEditEnum* e = model_.CurrentEnum();
    const int row = ConfirmRowDelete(items_, e ? e->items.size() : 0);
    if (row < 0) return;
    e->items.erase(e->items.begin() + row);
    items_->removeRow(row);
}

void CEnumerations::EditItem() {
    CEditEnum* e = model_.CurrentEnum();
    const int row = items_->FirstSelectedRow();
    if (e == nullptr || row < 0 || static_cast<size_t>(row) >= e->items.size()) {
        dialogs_.Message(msg::kItemNotSelected);
        return;
    }
    CEditEnumItem item;
    std::string message = ItemFromFields(item);
    if (!message.empty()) {
        dialogs_.Message(message);
        return;
    }
    e->items[static_cast<size_t>(row)] = item;
    items_->SetRowTexts(row, ItemRow(item));
}

}  // namespace morvane
