#include "schema/unit.h"

#include "schema/schema.h"

namespace morvane {

EnumUnit::EnumUnit(std::string name) : Unit(std::move(name), kTypeEnum) {
    nrepetitions = 0;
    visibility = false;
}

bool EnumUnit::ItemNameOfValue(int32_t value, std::string& itemName) const {
    for (const EnumItem& item : items) {
        if (item.id == value) {
            itemName = item.name;
            return true;
        }
    }
    itemName.clear();
    return false;
}

CStructure* Schema::Top() const {
    if (root == nullptr || root->units.empty()) return nullptr;
    return root->units.front()->AsStructure();
}

int32_t Schema::Size() const {
    const CStructure* top = Top();
    return top != nullptr ? top->size : 0;
}

}  // namespace morvane
