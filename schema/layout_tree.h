// The layout tree: what a program needs to pack and unpack a schema's
// record without the schema file, made once from a loaded schema. Member
// structures are nested with their repetitions; offsets are relative to the
// start of one element of the enclosing structure, as in the loaded tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "schema/unit_type.h"

namespace morvane {

class EnumUnit;
class Schema;

struct LayoutMember {
    enum Kind { kItem, kEnum, kText, kStruct };
    std::string name;
    Kind kind = kItem;
    // The value type: a primitive code, kTypeInt for an enumerated member
    // (its values are C ints), kTypeText for a text member (no bytes);
    // kTypeStructure for a structure.
    UnitType type = kTypeUndefined;
    const EnumUnit* enumeration = nullptr;  // kEnum: the enumeration of its values
    std::string templateName;               // kStruct: the template it was made from
    int64_t offset = 0;
    int64_t size = 0;  // all repetitions
    int32_t repetitions = 1;
    int32_t elementSize = 0;  // one repetition
    bool visible = true;      // false: a collapsed member (visibility 0)
    std::vector<LayoutMember> members;  // kStruct
};

struct LayoutTree {
    std::string name;
    int32_t id = 0;
    int32_t size = 0;
    uint64_t fingerprint = 0;  // LayoutFingerprint()
    std::vector<LayoutMember> members;
    // Every enumeration the record declares or uses, in declaration order.
    std::vector<const EnumUnit*> enums;
};

// The tree of a loaded schema (empty members for one that is not loaded).
// The EnumUnit pointers stay valid as long as schema lives.
LayoutTree BuildLayoutTree(const Schema& schema);

}  // namespace morvane
