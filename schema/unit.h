// The laid-out tree of a loaded schema.
//
// Offsets are relative to the enclosing structure; `size` is the bytes of one
// repetition and `nrepetitions` repetitions follow each other back to back.
// The tree is complete after LoadSchema() and never written afterwards, so
// any number of threads may read it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "schema/unit_type.h"

namespace morvane {

class CStructure;
class EnumUnit;
class Schema;

class Unit {
  public:
    Unit(std::string name, UnitType type) : name(std::move(name)), type(type) {}
    virtual ~Unit() = default;
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    // Templates and enumerations take part in no layout.
    bool IsLayoutMember() const { return type != kTypeTemplate && type != kTypeEnum; }
    // Primitive, item_enum or undefined: a field that carries values.
    bool IsItem() const { return IsPrimitive(type) || type == kTypeItemEnum || type == kTypeUndefined; }

    // Null unless the unit is of that kind.
    virtual CStructure* AsStructure() { return nullptr; }
    virtual const CStructure* AsStructure() const { return nullptr; }
    virtual const EnumUnit* AsEnum() const { return nullptr; }

    std::string name;
    UnitType type;
    int32_t offset = 0;
    int32_t size = 0;
    int32_t nrepetitions = 1;
    bool visibility = true;
    std::string comment;
    const EnumUnit* ref = nullptr;  // item_enum only: the enumeration of its values
};

struct EnumItem {
    int32_t id;
    std::string name;
};

// A unit of type enum: offset, size and nrepetitions stay 0.
class EnumUnit : public Unit {
  public:
    explicit EnumUnit(std::string name);
    const EnumUnit* AsEnum() const override { return this; }

    // The name of the first item whose id equals value; false and an empty
    // name when there is none.
    bool ItemNameOfValue(int32_t value, std::string& itemName) const;

    std::vector<EnumItem> items;
};

// A unit of type structure (a template instance, the top structure or Root)
// or template, owning its members.
class CStructure : public Unit {
  public:
    CStructure(std::string name, UnitType type) : Unit(std::move(name), type) {}
    CStructure* AsStructure() override { return this; }
    const CStructure* AsStructure() const override { return this; }

    int32_t nextOffset = 0;        // offset of the next member while parsing
    pugi::xml_node element;        // defining element; valid only while loading
    Schema* schema = nullptr;      // owning schema
    CStructure* parent = nullptr;  // structure this one was parsed in; null for Root and top
    std::string templateName;      // instances made from a Structure element: the template
    std::vector<std::unique_ptr<Unit>> units;
};

}  // namespace morvane
