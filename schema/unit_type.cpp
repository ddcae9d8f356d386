#include "schema/unit_type.h"

#include <array>
#include <cassert>
#include <string>
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

// The table's name lengths, so that a name is compared only with names of
// its length: every item of every schema is classified twice.
constexpr auto kNameLengths = [] {
    std::array<size_t, kUnitTypeCount> lengths{};
    for (int code = 0; code < kUnitTypeCount; ++code)
        lengths[code] = std::char_traits<char>::length(kTypeTable[code].schemaName);
    return lengths;
}();

// Longer than every name of the table.
constexpr size_t kLongestName = 16;

}  // namespace

const UnitTypeInfo& TypeInfo(UnitType code) {
    assert(code >= 0 && code < kUnitTypeCount);
    if (code < 0 || code >= kUnitTypeCount) return kTypeTable[kTypeUndefined];
    return kTypeTable[code];
}

UnitType TypeFromName(const char* name) {
    if (name == nullptr) return kTypeUndefined;
    // The name in lower case (ASCII folding, as tolower() in the C locale;
    // the table's names are lower case); a longer one matches none.
    char lower[kLongestName];
    size_t length = 0;
    for (; name[length] != '\0'; ++length) {
        if (length == kLongestName) return kTypeUndefined;
        const char c = name[length];
        lower[length] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    for (int code = 0; code < kUnitTypeCount; ++code) {
        if (kNameLengths[code] == length &&
            std::memcmp(lower, kTypeTable[code].schemaName, length) == 0)
            return static_cast<UnitType>(code);
    }
    return kTypeUndefined;
}

}  // namespace morvane
