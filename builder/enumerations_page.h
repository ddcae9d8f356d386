// CEnumerations: the "Enumerations" page. Creates and deletes the model's
// enumerations and edits the items of the current one: each item a name
// and an id kept as typed.
#pragma once

#include <string>

#include "builder/builder_page.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace morvane {

class CNameList;
class CReportView;
class CSpinEdit;
struct CEditEnum;
struct CEditEnumItem;

class CEnumerations : public CBuilderPage {
    Q_OBJECT

  public:
    CEnumerations(CEditModel& model, CUserDialogs& dialogs, QWidget* parent = nullptr);

    CNameList* EnumList() const { return enums_; }
    QLineEdit* EnumNameEdit() const { return enumName_; }
    QPushButton* CreateButton() const { return create_; }
    QPushButton* DeleteOneButton() const { return deleteOne_; }
    QPushButton* DeleteAllButton() const { return deleteAll_; }
    QLineEdit* ItemNameEdit() const { return itemName_; }
    CSpinEdit* IdEdit() const { return id_; }
    CReportView* ItemList() const { return items_; }
    QPushButton* AddButton() const { return add_; }
    QPushButton* DeleteButton() const { return delete_; }
    QPushButton* EditButton() const { return edit_; }

  protected:
    void OnInitialise() override;
    void OnActivate() override;

  private:
    QGroupBox* MakeItemGroup();
    // Refills "Enumeration List:" from the model and makes the first entry
    // current, showing its items (none when the model has no enumeration).
    void ShowFirstEnum();
    void ShowItems(const CEditEnum* e);
    void ResetId();
    void SetItemButtons(bool enabled);
    void SetDeleteButtons(bool enabled);
    // Fills item from the item "Name:" and "Id:" fields: "Error! Empty field"
    // or "Error! Size of field > max[%d]" for a name or id that does not
    // fit, empty on success.
    std::string ItemFromFields(CEditEnumItem& item) const;

    void EnumPicked();
    void Create();
    void DeleteOne();
    void DeleteAll();
    void AddItem();
    void DeleteItem();
    void EditItem();

    CNameList* enums_;
    QLineEdit* enumName_;
    QPushButton* create_;
    QPushButton* deleteOne_;
    QPushButton* deleteAll_;
    QLineEdit* itemName_;
    CSpinEdit* id_;
    CReportView* items_;
    QPushButton* add_;
    QPushButton* delete_;
    QPushButton* edit_;
};

}  // namespace morvane
