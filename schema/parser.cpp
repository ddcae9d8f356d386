// The schema parser: builds the unit tree of one schema document, expanding
// templates into instances, resolving enumerations and attaching comments,
// then lays the tree out. Every message, errors included, is a trace line.
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

// The "identity value" of trace lines: the low 32 bits of the address.
unsigned Identity(const void* object) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(object));
}
unsigned Identity(const pugi::xml_node& node) { return Identity(node.internal_object()); }

// An integer attribute: leading blanks, an optional sign, decimal digits up
// to the first other character; no digits read as 0. Huge values saturate
// (far outside the 32-bit range) instead of wrapping, so range checks see them.
int64_t ReadInteger(const char* text) {
    constexpr int64_t kSaturated = 100000000000000000;  // 10^17: times 10 still fits
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' ||
           *text == '\f') {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value < kSaturated) value = value * 10 + (*text - '0');
    }
    return negative ? -value : value;
}

bool IsItemElement(const char* name) {
    return std::strcmp(name, "Item") == 0 || std::strcmp(name, "Item_enum") == 0;
}

// The level of s in the tree, the top structure being level 1.
int Depth(const CStructure& s) {
    int depth = 1;
    for (const CStructure* p = s.parent; p != nullptr; p = p->parent) ++depth;
    return depth;
}

bool TooLong(const char* name) { return std::strlen(name) > static_cast<size_t>(kMaxNameLength); }

// The per-load state. One Parser builds one schema's tree.
class Parser {
  public:
    explicit Parser(Schema& schema) : schema_(schema) {}
    bool Load(const pugi::xml_document& doc);

  private:
    bool ParseMembers(CStructure& s, const pugi::xml_node& e);
    bool ParseEnum(CStructure& s, const pugi::xml_node& c);
    bool ParseTemplate(CStructure& s, const pugi::xml_node& c);
    bool ParseStructure(CStructure& s, const pugi::xml_node& c);
    bool ParseItem(CStructure& s, const pugi::xml_node& c);
    bool CopyTemplateMembers(CStructure& instance, const CStructure& tmpl);

    // Appends unit to s; null (and a fatal error) past kMaxSchemaUnits.
    Unit* Append(CStructure& s, std::unique_ptr<Unit> unit, int32_t count = 1);
    // Moves s's next offset and size past a layout member just appended.
    bool Advance(CStructure& s, const Unit& member);
    bool ReadCount(const pugi::xml_node& c, const char* name, const char* attribute,
                   const char* text, int32_t& count);
    bool CheckName(const pugi::xml_node& c, const char* name);

    const CStructure* FindTopTemplate(const char* name) const;
    const EnumUnit* FindEnumeration(const CStructure& s, const char* name) const;
    bool IsExpanding(const CStructure* tmpl) const;

    // Logs an error line and marks the load failed; returns false.
    bool FailV(const char* format, va_list args);
    bool Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // An error after which nothing more is parsed: limits of depth and size.
    bool FailFatal(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Schema& schema_;
    CStructure* top_ = nullptr;
    bool error_ = false;
    bool fatal_ = false;
    std::string comment_;  // comment of the member element being handled
    int32_t unitCount_ = 0;
    // The structure that holds the most recently parsed Enum element.
    const CStructure* lastEnumStructure_ = nullptr;
    // Templates of the top structure by name, first one wins like a scan.
    std::unordered_map<std::string, const CStructure*> templates_;
    // Per structure, its enumeration members by name, first one wins.
    std::unordered_map<const CStructure*, std::unordered_map<std::string, const EnumUnit*>>
        enumerations_;
    // Templates whose members are being defined or copied right now: a
    // Structure of one of them inside itself would expand without end.
    std::vector<const CStructure*> expanding_;
    // Structure elements that declare members of their own besides the
    // template's, by the instance they made; copying that instance into
    // another one parses them again.
    std::unordered_map<const CStructure*, pugi::xml_node> declarations_;
};

bool Parser::FailV(const char* format, va_list args) {
    LogLineV(TraceEnabled(), format, args);
    error_ = true;
    return false;
}

bool Parser::Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FailV(format, args);
    va_end(args);
    return false;
}

bool Parser::FailFatal(const char* format, ...) {
    fatal_ = true;
    va_list args;
    va_start(args, format);
    FailV(format, args);
    va_end(args);
    return false;
}

bool Parser::CheckName(const pugi::xml_node& c, const char* name) {
    if (!TooLong(name)) return true;
    return Fail("Error! %s name=\"%s\" is longer than %d characters\n", c.name(), name,
                kMaxNameLength);
}

// A repetition count: 0 up to the 32-bit maximum.
bool Parser::ReadCount(const pugi::xml_node& c, const char* name, const char* attribute,
                       const char* text, int32_t& count) {
    int64_t value = ReadInteger(text);
    if (value < 0 || value > kInt32Max) {
        return Fail("Error! %s name=\"%s\" %s=\"%s\" is out of range\n", c.name(), name,
                    attribute, text);
    }
    count = static_cast<int32_t>(value);
    return true;
}

Unit* Parser::Append(CStructure& s, std::unique_ptr<Unit> unit, int32_t count) {
    if (count > kMaxSchemaUnits - unitCount_) {
        FailFatal("Error! schema [%s] expands to more than %d units\n", schema_.name.c_str(),
                  kMaxSchemaUnits);
        return nullptr;
    }
    unitCount_ += count;
    Unit* added = unit.get();
    if (const EnumUnit* e = added->AsEnum()) enumerations_[&s].try_emplace(e->name, e);
    s.units.push_back(std::move(unit));
    return added;
}

bool Parser::Advance(CStructure& s, const Unit& member) {
    int64_t next = static_cast<int64_t>(s.nextOffset) +
                   static_cast<int64_t>(member.size) * member.nrepetitions;
    if (next > kInt32Max) {
        return Fail("Error! name=\"%s\" is larger than %d bytes\n", s.name.c_str(),
                    static_cast<int>(kInt32Max));
    }
    s.nextOffset = static_cast<int32_t>(next);
    s.size = s.nextOffset;
    return true;
}

const CStructure* Parser::FindTopTemplate(const char* name) const {
    auto it = templates_.find(name);
    return it != templates_.end() ? it->second : nullptr;
}

// First among the members of the structure of the most recent Enum element;
// when that holds none of the name, the structures enclosing s, innermost
// first, so that an Enum declared inside a template does not hide the
// enumerations of the top structure from the members that follow it.
const EnumUnit* Parser::FindEnumeration(const CStructure& s, const char* name) const {
    auto lookIn = [&](const CStructure* holder) -> const EnumUnit* {
        auto members = enumerations_.find(holder);
        if (members == enumerations_.end()) return nullptr;
        auto it = members->second.find(name);
        return it != members->second.end() ? it->second : nullptr;
    };
    if (lastEnumStructure_ != nullptr) {
        if (const EnumUnit* e = lookIn(lastEnumStructure_)) return e;
    }
    for (const CStructure* holder = &s; holder != nullptr; holder = holder->parent) {
        if (const EnumUnit* e = lookIn(holder)) return e;
    }
    return nullptr;
}

bool Parser::IsExpanding(const CStructure* tmpl) const {
    for (const CStructure* t : expanding_) {
        if (t == tmpl) return true;
    }
    return false;
}

// A copy of a member that is neither an item nor an instance: a template or
// an enumeration declared inside a template. The copy keeps its kind (and a
// template its members), so that a unit of type template is always a
// CStructure and one of type enum always an EnumUnit.
std::unique_ptr<Unit> CloneUnit(const Unit& m) {
    std::unique_ptr<Unit> copy;
    if (const CStructure* s = m.AsStructure()) {
        auto structure = std::make_unique<CStructure>(s->name, s->type);
        structure->nextOffset = s->nextOffset;
        structure->schema = s->schema;
        structure->templateName = s->templateName;
        for (const auto& member : s->units) {
            std::unique_ptr<Unit> inner = CloneUnit(*member);
            if (CStructure* innerStructure = inner->AsStructure()) {
                innerStructure->parent = structure.get();
            }
            structure->units.push_back(std::move(inner));
        }
        copy = std::move(structure);
    } else if (const EnumUnit* e = m.AsEnum()) {
        auto enumeration = std::make_unique<EnumUnit>(e->name);
        enumeration->items = e->items;
        copy = std::move(enumeration);
    } else {
        copy = std::make_unique<Unit>(m.name, m.type);
    }
    copy->offset = m.offset;
    copy->size = m.size;
    copy->nrepetitions = m.nrepetitions;
    copy->visibility = m.visibility;
    copy->comment = m.comment;
    copy->ref = m.ref;
    return copy;
}

int32_t CountUnits(const Unit& m) {
    int32_t count = 1;
    if (const CStructure* s = m.AsStructure()) {
        for (const auto& member : s->units) count += CountUnits(*member);
    }
    return count;
}

bool Parser::Load(const pugi::xml_document& doc) {
    schema_.root = std::make_unique<CStructure>("Root", kTypeStructure);
    CStructure& root = *schema_.root;
    root.schema = &schema_;
    root.parent = nullptr;

    pugi::xml_node element = doc.document_element();
    if (!element) return Fail("Error  during reading  Root Element\n");
    root.element = element;

    pugi::xml_attribute nameAttr = element.attribute("name");
    if (!nameAttr) return Fail("Error  Root Element struct_name is absent\n");
    const char* name = nameAttr.value();
    if (!CheckName(element, name)) return false;

    if (pugi::xml_attribute a = element.attribute("nrepetitions")) {
        const char* text = *a.value() != '\0' ? a.value() : "1";
        if (!ReadCount(element, name, "nrepetitions", text, root.nrepetitions)) return false;
    }
    int32_t id = 0;
    if (pugi::xml_attribute a = element.attribute("id")) {
        int64_t value = ReadInteger(a.value());
        if (value < kInt32Min || value > kInt32Max) {
            return Fail("Error! %s name=\"%s\" %s=\"%s\" is out of range\n", element.name(), name,
                        "id", a.value());
        }
        id = static_cast<int32_t>(value);
    }
    if (pugi::xml_attribute a = element.attribute("visibility")) {
        root.visibility = std::strcmp(a.value(), "1") == 0;
    }
    Trace("%s name=%s id=%d nrepetitions=%d visibility=%d\n", element.name(), name, id,
          root.nrepetitions, root.visibility ? 1 : 0);

    auto top = std::make_unique<CStructure>(name, kTypeStructure);
    top->element = element;
    top->schema = &schema_;
    top->nrepetitions = root.nrepetitions;
    schema_.id = id;
    schema_.name = name;
    top_ = top.get();
    root.units.push_back(std::move(top));
    unitCount_ = 2;

    ParseMembers(*top_, element);
    lastEnumStructure_ = nullptr;
    return !error_;
}

bool Parser::ParseMembers(CStructure& s, const pugi::xml_node& e) {
    if (fatal_) return false;
    if (Depth(s) > kMaxNestingDepth) {
        return FailFatal("Error! name=\"%s\" nests structures deeper than %d levels\n",
                         s.name.c_str(), kMaxNestingDepth);
    }
    Trace("ENTRY AddStructure   this=0x%X [%s] xml=0x%X\n", Identity(&s), s.name.c_str(),
          Identity(e));
    bool ok = true;
    for (pugi::xml_node c = e.first_child(); c && ok; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        comment_.clear();
        pugi::xml_node before = c.previous_sibling();
        if (before.type() == pugi::node_comment) {
            comment_ = before.value();
            Trace("comment = %s\n", comment_.c_str());
        }
        switch (TypeFromName(c.name())) {
            case kTypeStructure:
                ok = ParseStructure(s, c);
                break;
            case kTypeTemplate:
                ok = ParseTemplate(s, c);
                break;
            case kTypeEnum:
                ParseEnum(s, c);  // a broken enumeration does not end the members
                break;
            default:
                if (IsItemElement(c.name())) {
                    ok = ParseItem(s, c);
                } else {
                    ok = Fail("Error! elem_xml=\"%s\" is none of Structure, Template, Enum, Item, "
                              "Item_enum\n",
                              c.name());
                }
                break;
        }
        if (fatal_) ok = false;
    }
    return ok;
}

bool Parser::ParseEnum(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail("Error! attribute \"name\" is absent\n");
    if (!CheckName(c, nameAttr.value())) return false;
    auto made = std::make_unique<EnumUnit>(nameAttr.value());
    EnumUnit& enumeration = *made;
    if (Append(s, std::move(made)) == nullptr) return false;
    lastEnumStructure_ = &s;

    for (pugi::xml_node item = c.first_child(); item; item = item.next_sibling()) {
        if (item.type() != pugi::node_element) continue;
        pugi::xml_attribute itemName = item.attribute("name");
        if (!itemName) return Fail("Error! attribute \"name\" is absent\n");
        if (!CheckName(item, itemName.value())) return false;
        pugi::xml_attribute idAttr = item.attribute("id");
        if (!idAttr) return Fail("Error! attribute \"id\" is absent\n");
        int64_t id = ReadInteger(idAttr.value());
        if (id < kInt32Min || id > kInt32Max) {
            return Fail("Error! %s name=\"%s\" %s=\"%s\" is out of range\n", item.name(),
                        itemName.value(), "id", idAttr.value());
        }
        enumeration.items.push_back(EnumItem{static_cast<int32_t>(id), itemName.value()});
        Trace("Enum name=%s %d  %s\n", enumeration.name.c_str(), static_cast<int32_t>(id),
              itemName.value());
    }
    return true;
}

bool Parser::ParseTemplate(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail("Error! attribute \"name\" is absent\n");
    const char* name = nameAttr.value();
    if (!CheckName(c, name)) return false;

    auto made = std::make_unique<CStructure>(name, kTypeTemplate);
    CStructure* tmpl = made.get();
    tmpl->element = c;
    tmpl->schema = &schema_;
    tmpl->parent = &s;
    tmpl->comment = comment_;
    if (Append(s, std::move(made)) == nullptr) return false;
    if (&s == top_) templates_.try_emplace(name, tmpl);
    Trace("E_TEMPLATE %s name=\"%s\" elem=0x%X pstructure=0%X\n", c.name(), name, Identity(c),
          Identity(tmpl));

    expanding_.push_back(tmpl);
    ParseMembers(*tmpl, c);  // a broken template body does not end s's members
    expanding_.pop_back();
    return !fatal_;
}

bool Parser::ParseStructure(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail("Error! attribute \"name\" is absent\n");
    const char* name = nameAttr.value();
    if (!CheckName(c, name)) return false;
    Trace("E_STRUCTURE %s name=\"%s\" elem=0x%X\n", c.name(), name, Identity(c));

    int32_t nrepetitions = 1;
    if (pugi::xml_attribute a = c.attribute("nrepetitions"); a && *a.value() != '\0') {
        if (!ReadCount(c, name, "nrepetitions", a.value(), nrepetitions)) return false;
    }
    bool visibility = true;
    if (pugi::xml_attribute a = c.attribute("visibility")) {
        visibility = *a.value() == '\0' || std::strcmp(a.value(), "1") == 0;
    }
    pugi::xml_attribute typeAttr = c.attribute("type");
    if (!typeAttr) return Fail("Error! attribute \"type\" is absent\n");
    const char* type = typeAttr.value();
    const CStructure* tmpl = FindTopTemplate(type);
    if (tmpl == nullptr) return Fail("Error!!! Type name [%s] is wrong\n", type);
    if (IsExpanding(tmpl)) {
        return Fail("Error! Template [%s] contains itself through Structure name=\"%s\"\n", type,
                    name);
    }
    Trace("O-T-H-E-R   %s elem=0x%X\n", c.name(), Identity(c));

    auto made = std::make_unique<CStructure>(name, kTypeStructure);
    CStructure* instance = made.get();
    instance->element = tmpl->element;
    instance->schema = &schema_;
    instance->parent = &s;
    instance->templateName = type;
    instance->nrepetitions = nrepetitions;
    instance->visibility = visibility;
    instance->comment = comment_;
    Trace("new CStructure  pstructure=0x%X %s name=%s type=%s nrepetitions=%d visibility=%d\n",
          Identity(instance), c.name(), name, type, nrepetitions, visibility ? 1 : 0);

    expanding_.push_back(tmpl);
    bool copied = CopyTemplateMembers(*instance, *tmpl);
    expanding_.pop_back();
    if (!copied) return false;

    instance->offset = s.nextOffset;
    if (Append(s, std::move(made)) == nullptr) return false;
    Trace("     unit.size()=%d [%s]\n", static_cast<int>(s.units.size()), s.name.c_str());
    if (c.find_child([](const pugi::xml_node& n) { return n.type() == pugi::node_element; })) {
        declarations_.emplace(instance, c);
    }
    if (!ParseMembers(*instance, c)) return false;
    return Advance(s, *instance);
}

bool Parser::CopyTemplateMembers(CStructure& instance, const CStructure& tmpl) {
    int index = 0;
    for (const auto& member : tmpl.units) {
        const Unit& m = *member;
        const CStructure* nested = m.AsStructure();
        if (m.type == kTypeStructure && nested != nullptr) {
            // A deep copy: the nested instance is built again from the same
            // elements, so it gets its own members.
            auto made = std::make_unique<CStructure>(m.name, kTypeStructure);
            CStructure* copy = made.get();
            copy->element = nested->element;
            copy->schema = &schema_;
            copy->parent = &instance;
            copy->nrepetitions = m.nrepetitions;
            copy->visibility = m.visibility;
            copy->comment = comment_;
            copy->offset = instance.nextOffset;
            if (Append(instance, std::move(made)) == nullptr) return false;
            Trace("     %d Added pstructure3=0x%X  to pstructure=0x%X %s type=%s size=%d "
                  "elem=0x%X\n",
                  index, Identity(copy), Identity(&instance), m.name.c_str(), tmpl.name.c_str(),
                  copy->size, Identity(nested->element));
            if (!ParseMembers(*copy, nested->element)) return false;
            auto declared = declarations_.find(nested);
            if (declared != declarations_.end() && !ParseMembers(*copy, declared->second)) {
                return false;
            }
            if (!Advance(instance, *copy)) return false;
        } else {
            std::unique_ptr<Unit> made = CloneUnit(m);
            // An enumeration unit never carries a comment.
            if (made->type != kTypeEnum) made->comment = comment_;
            Unit* copy = made.get();
            if (Append(instance, std::move(made), CountUnits(*copy)) == nullptr) return false;
            Trace("     %d Added pelem3=0x%X %s from template=%s size=%d\n", index, Identity(copy),
                  m.name.c_str(), tmpl.name.c_str(), tmpl.size);
            if (copy->IsLayoutMember() && !Advance(instance, *copy)) return false;
        }
        ++index;
    }
    return true;
}

bool Parser::ParseItem(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail("Error! elem_xml=\"%s\" name is absent\n", c.name());
    const char* name = nameAttr.value();
    if (!CheckName(c, name)) return false;

    const char* typeText = "int";
    if (pugi::xml_attribute a = c.attribute("type")) {
        typeText = a.value();
    } else if (std::strcmp(c.name(), "Item_enum") == 0) {
        return Fail("Error! name=\"%s\" type is absent\n", name);
    }
    UnitType type = TypeFromName(typeText);
    const EnumUnit* ref = nullptr;
    if (!IsPrimitive(type)) {
        ref = FindEnumeration(s, typeText);
        if (ref == nullptr) return Fail("Error! name=\"%s\" enum type \"%s\" is wrong\n", name, typeText);
        type = kTypeItemEnum;
    }
    int32_t nrepetitions = 1;
    if (pugi::xml_attribute a = c.attribute("nrepetitions")) {
        if (!ReadCount(c, name, "nrepetitions", a.value(), nrepetitions)) return false;
    }
    bool visibility = true;
    if (pugi::xml_attribute a = c.attribute("visibility")) visibility = ReadInteger(a.value()) != 0;

    auto made = std::make_unique<Unit>(name, type);
    made->offset = s.nextOffset;
    made->size = TypeSize(type);
    made->nrepetitions = nrepetitions;
    made->visibility = visibility;
    made->comment = comment_;
    made->ref = ref;
    Unit* item = Append(s, std::move(made));
    if (item == nullptr) return false;
    Trace("---%s  name=%s  offset_elem=%d size=%d  units.size()=%d\n", name, s.name.c_str(),
          s.nextOffset, s.size, static_cast<int>(s.units.size()));
    return Advance(s, *item);
}

// The layout rule over a whole structure, members first: each layout member
// follows the previous one with no padding, and a structure's size is the
// bytes of all its layout members. Templates and enumerations take no bytes
// and keep offset 0. Also drops the element references, which point into a
// document that only lives for the load.
bool LayOut(CStructure& s) {
    int64_t offset = 0;
    for (auto& member : s.units) {
        if (CStructure* nested = member->AsStructure()) {
            if (!LayOut(*nested)) return false;
        }
        if (!member->IsLayoutMember()) {
            member->offset = 0;
            continue;
        }
        member->offset = static_cast<int32_t>(offset);
        offset += static_cast<int64_t>(member->size) * member->nrepetitions;
        if (offset > kInt32Max) {
            Trace("Error! name=\"%s\" is larger than %d bytes\n", s.name.c_str(),
                  static_cast<int>(kInt32Max));
            return false;
        }
    }
    s.size = static_cast<int32_t>(offset);
    s.element = pugi::xml_node();
    return true;
}

}  // namespace

bool LoadSchema(Schema& schema, const pugi::xml_document& doc) {
    schema.writerCache.reset();  // derived from the tree being replaced
    Parser parser(schema);
    bool ok = parser.Load(doc);
    if (ok) {
        CStructure* top = schema.Top();
        ok = LayOut(*top);
        top->offset = 0;
        schema.root->element = pugi::xml_node();
    }
    if (!ok) schema.root.reset();
    return ok;
}

const CStructure* FindTemplate(const Schema& schema, const std::string& name) {
    const CStructure* top = schema.Top();
    if (top == nullptr) return nullptr;
    for (const auto& member : top->units) {
        if (member->type == kTypeTemplate && member->name == name) return member->AsStructure();
    }
    return nullptr;
}

}  // namespace morvane
