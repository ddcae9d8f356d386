#include "schema/unit_type.h"

#include <cassert>
#include <cstring>

namespace morvane {
namespace {

// The one table of type codes: every name and size look-up goes through it.
constexpr UnitTypeInfo kTypeTable[kUnitTypeCount] = {
    {"char", "char", 1},
    {"int", "int", 4},
    {"int16", "short", 2},
    {"int64", "long long", 8},
    {"unsigned", "unsigned", 4},
    {"unsigned16", "unsigned short", 2},
    {"unsigned64", "unsigned long long", 8},
    {"float", "float", 4},
    {"double", "double", 8},
    {"text", "text", 0},
    {"bool", "int", 4},  // a 4-byte slot: C's bool is one byte and needs a header
    {"structure", "structure", 0},
    {"template", "template", 0},
    {"enum", "enum", 0},
    {"item_enum", "item_enum", 4},
    {"undefined", "undefined", 0},
};

// ASCII folding, as tolower() does in the C locale, without its call per
// character: every item of every schema is classified twice.
char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The table's names are lower case, so only the given name needs folding.
bool EqualsLowerName(const char* name, const char* lowerName) {
    for (; *name != '\0' && *lowerName != '\0'; ++name, ++lowerName) {
        if (FoldCase(*name) != *lowerName) return false;
    }
    return *name == '\0' && *lowerName == '\0';
}

}  // namespace

const UnitTypeInfo& TypeInfo(UnitType code) {
    assert(code >= 0 && code < kUnitTypeCount);
    if (code < 0 || code >= kUnitTypeCount) return kTypeTable[kTypeUndefined];
    return kTypeTable[code];
}

UnitType TypeFromName(const char* name) {
    if (name == nullptr || std::strlen(name) > static_cast<size_t>(kMaxNameLength)) {
        return kTypeUndefined;
    }
    for (int code = 0; code < kUnitTypeCount; ++code) {
        if (EqualsLowerName(name, kTypeTable[code].schemaName)) return static_cast<UnitType>(code);
    }
    return kTypeUndefined;
}

}  // namespace morvane
