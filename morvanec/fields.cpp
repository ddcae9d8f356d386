#include "morvanec/fields.h"

#include "convert/json_writer.h"
#include "schema/schema.h"

namespace morvane {
namespace {

bool AddFields(const CStructure& s, int64_t base, const std::string& prefix, bool visible,
               std::vector<Field>& fields) {
    for (const auto& member : s.units) {
        const Unit& unit = *member;
        if (!unit.IsLayoutMember()) continue;
        if (const CStructure* child = unit.AsStructure()) {
            for (int32_t k = 0; k < unit.nrepetitions; ++k) {
                std::string path = prefix + unit.name;
                if (unit.nrepetitions != 1) path += "[" + std::to_string(k) + "]";
                path += '.';
                int64_t offset = base + unit.offset + static_cast<int64_t>(k) * unit.size;
                if (!AddFields(*child, offset, path, visible && unit.visibility, fields))
                    return false;
            }
            continue;
        }
        if (fields.size() == kMaxListedFields) return false;
        Field f;
        f.path = prefix + unit.name;
        f.offset = base + unit.offset;
        f.size = static_cast<int64_t>(unit.size) * unit.nrepetitions;
        f.type = unit.type == kTypeItemEnum && unit.ref != nullptr ? unit.ref->name
                                                                   : SchemaTypeName(unit.type);
        if (unit.nrepetitions != 1) f.type += "[" + std::to_string(unit.nrepetitions) + "]";
        f.visible = visible && unit.visibility;
        if (unit.type == kTypeItemEnum) f.enumeration = unit.ref;
        fields.push_back(std::move(f));
    }
    return true;
}

}  // namespace

bool RecordFields(const Schema& schema, std::vector<Field>& fields) {
    fields.clear();
    const CStructure* top = schema.Top();
    return top == nullptr || AddFields(*top, 0, "", true, fields);
}

std::string JsonString(const std::string& text) {
    std::string out;
    AppendJsonString(text, &out);
    return out;
}

}  // namespace morvane
