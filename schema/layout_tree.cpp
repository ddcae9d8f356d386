#include "schema/layout_tree.h"

#include <algorithm>

#include "schema/fingerprint.h"
#include "schema/schema.h"

namespace morvane {
namespace {

void AddMembers(const CStructure& s, std::vector<LayoutMember>& out,
                std::vector<const EnumUnit*>& enums) {
    for (const auto& owned : s.units) {
        const Unit& unit = *owned;
        if (const EnumUnit* e = unit.AsEnum()) {
            if (std::find(enums.begin(), enums.end(), e) == enums.end()) enums.push_back(e);
        }
        if (!unit.IsLayoutMember()) continue;
        LayoutMember m;
        m.name = unit.name;
        m.type = unit.type;
        m.offset = unit.offset;
        m.repetitions = unit.nrepetitions;
        m.elementSize = unit.size;
        m.size = static_cast<int64_t>(unit.size) * unit.nrepetitions;
        m.visible = unit.visibility;
        if (const CStructure* child = unit.AsStructure()) {
            m.kind = LayoutMember::kStruct;
            m.templateName = child->templateName;
            AddMembers(*child, m.members, enums);
        } else if (unit.type == kTypeItemEnum) {
            m.kind = LayoutMember::kEnum;
            m.type = kTypeInt;
            m.enumeration = unit.ref;
            if (unit.ref != nullptr &&
                std::find(enums.begin(), enums.end(), unit.ref) == enums.end())
                enums.push_back(unit.ref);
        } else if (unit.type == kTypeText) {
            m.kind = LayoutMember::kText;
        }
        out.push_back(std::move(m));
    }
}

}  // namespace

LayoutTree BuildLayoutTree(const Schema& schema) {
    LayoutTree tree;
    tree.name = schema.name;
    tree.id = schema.id;
    tree.size = schema.Size();
    tree.fingerprint = LayoutFingerprint(schema);
    if (const CStructure* top = schema.Top()) AddMembers(*top, tree.members, tree.enums);
    return tree;
}

}  // namespace morvane
