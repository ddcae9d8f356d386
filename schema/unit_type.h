// The sixteen type codes of schema units and the one table behind them.
#pragma once

#include <cstdint>

namespace morvane {

enum UnitType : int32_t {
    kTypeChar = 0,
    kTypeInt = 1,
    kTypeInt16 = 2,
    kTypeInt64 = 3,
    kTypeUnsigned = 4,
    kTypeUnsigned16 = 5,
    kTypeUnsigned64 = 6,
    kTypeFloat = 7,
    kTypeDouble = 8,
    kTypeText = 9,
    kTypeBool = 10,
    kTypeStructure = 11,
    kTypeTemplate = 12,
    kTypeEnum = 13,
    kTypeItemEnum = 14,
    kTypeUndefined = 15,
};

constexpr int kUnitTypeCount = 16;

// Longest name a schema may use (units, templates, enumerations, items).
constexpr int kMaxNameLength = 51;

struct UnitTypeInfo {
    const char* schemaName;  // name in schema and data files
    const char* cName;       // name in generated C headers
    int32_t size;            // bytes of one element in a packed record
};

// The table row of a code; code must be 0 to 15.
const UnitTypeInfo& TypeInfo(UnitType code);

inline const char* SchemaTypeName(UnitType code) { return TypeInfo(code).schemaName; }
inline const char* CTypeName(UnitType code) { return TypeInfo(code).cName; }
inline int32_t TypeSize(UnitType code) { return TypeInfo(code).size; }

// Primitive field types: codes 0 to 10.
inline bool IsPrimitive(UnitType code) { return code >= kTypeChar && code <= kTypeBool; }

// Case-insensitive look-up of a schema name; unknown names and names longer
// than kMaxNameLength give kTypeUndefined.
UnitType TypeFromName(const char* name);

}  // namespace morvane
