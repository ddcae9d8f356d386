// The layout report: a trace dump of a laid-out tree.
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {

void PrintUnits(const CStructure& p) {
    const char* parent = p.name.c_str();
    for (const auto& member : p.units) {
        const Unit& u = *member;
        const CStructure* s = u.AsStructure();
        int count = s != nullptr ? static_cast<int>(s->units.size()) : 0;
        switch (u.type) {
            case kTypeStructure:
                if (s != nullptr && !s->templateName.empty()) {
                    Trace("     -----Structure={%s:%s}---template=%s---nrepet=%d---size_struct=%d"
                          "---offset=%d  units.size=%d\n",
                          parent, u.name.c_str(), s->templateName.c_str(), u.nrepetitions, u.size,
                          u.offset, count);
                } else {
                    Trace("     -----Structure={%s:%s}---nrepet=%d---size_struct=%d---offset=%d"
                          "  units.size=%d\n",
                          parent, u.name.c_str(), u.nrepetitions, u.size, u.offset, count);
                }
                if (s != nullptr) PrintUnits(*s);
                break;
            case kTypeTemplate:
                Trace("     *****Template={%s:%s}---nrepet=%d---size_struct=%d---offset=%d"
                      "  units.size=%d\n",
                      parent, u.name.c_str(), u.nrepetitions, u.size, u.offset, count);
                if (s != nullptr) PrintUnits(*s);
                break;
            case kTypeEnum: {
                const EnumUnit* e = u.AsEnum();
                Trace("     *****Enum=%s  units.size=%d\n", u.name.c_str(),
                      e != nullptr ? static_cast<int>(e->items.size()) : 0);
                if (e != nullptr) {
                    for (const EnumItem& item : e->items) {
                        Trace("          id=%d  name=%s\n", item.id, item.name.c_str());
                    }
                }
                break;
            }
            case kTypeItemEnum:
                Trace("     *****%s enum_type=%s\n", u.name.c_str(),
                      u.ref != nullptr ? u.ref->name.c_str() : "");
                break;
            default:
                Trace("\tname={%s:%s}\ttype=%s[%d]\toffset=%d\tsize=%d\tnrepet=%d\tvis=%d\n", parent,
                      u.name.c_str(), SchemaTypeName(u.type), static_cast<int>(u.type), u.offset,
                      u.size, u.nrepetitions, u.visibility ? 1 : 0);
                break;
        }
    }
}

}  // namespace morvane
