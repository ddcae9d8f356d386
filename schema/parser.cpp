// The schema parser: builds the unit tree of one schema document, expanding
// templates into instances, resolving enumerations and attaching comments,
// then lays the tree out. Every message, errors included, is a trace line.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
// The trace of a load is handed to the log in batches of about this size.
constexpr size_t kTraceBatchBytes = 64 * 1024;

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

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// The first character of name that an XML attribute cannot carry as it is,
// or 0. Names are written into data and session files without escaping.
char XmlUnsafeCharacter(const char* name) {
    for (; *name != '\0'; ++name) {
        if (IsControl(*name) || std::strchr("<>&\"'", *name) != nullptr) return *name;
    }
    return '\0';
}

// A schema's name names its files: <name>_dataR.xml is read and
// <name>_dataW.xml written in the data directory, so it must stay there.
bool IsPlainFileName(const char* name) {
    if (name[0] == '.') return false;
    for (; *name != '\0'; ++name) {
        if (*name == '/' || *name == '\\' || IsControl(*name)) return false;
    }
    return true;
}

// name with its control characters shown as '?', for an error line.
std::string Printable(const char* name) {
    std::string text(name);
    for (char& c : text) {
        if (IsControl(c)) c = '?';
    }
    return text;
}

// The fields of u in the record, every repetition counted (a structure's
// repetition and each of its members' fields); templates and enumerations
// have none. Stops counting past limit, so that no product overflows.
int64_t ExpandedFields(const Unit& u, int64_t limit) {
    if (!u.IsLayoutMember() || u.nrepetitions == 0) return 0;
    int64_t one = 1;
    if (const CStructure* s = u.AsStructure()) {
        for (const auto& member : s->units) {
            one += ExpandedFields(*member, limit);
            if (one > limit) return limit + 1;
        }
    }
    return std::min<int64_t>(one * u.nrepetitions, limit + 1);
}

// The text of an error line without its line end, for a diagnostic.
std::string FormatText(const char* format, va_list args) {
    std::string text;
    AppendFormatV(text, format, args);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::ptrdiff_t OffsetOf(const pugi::xml_node& node) { return node ? node.offset_debug() : -1; }

// The per-load state. One Parser builds one schema's tree.
//
// Without diagnostics an error that ends the members of a structure stops
// their parse, and the trace shows exactly what was parsed. With
// diagnostics the members after it are parsed as well, "quietly": they log
// nothing, trace or error, but their errors become diagnostics, so that one
// load reports every error of the file and the log stays the same.
class Parser {
  public:
    Parser(Schema& schema, std::vector<SchemaDiagnostic>* diagnostics)
        : schema_(schema), diagnostics_(diagnostics), trace_(TraceEnabled()) {}
    // Hands what is left of the trace to the log: every path out of a load
    // passes here, so no line waits beyond the LoadSchema() call.
    ~Parser() { FlushTrace(); }
    bool Load(const pugi::xml_document& doc);
    void FlushTrace();
    int64_t RecordFields() const { return recordFields_; }

  private:
    bool ParseMembers(CStructure& s, const pugi::xml_node& e);
    bool ParseEnum(CStructure& s, const pugi::xml_node& c);
    bool ParseEnumItem(EnumUnit& enumeration, const pugi::xml_node& item);
    bool ParseTemplate(CStructure& s, const pugi::xml_node& c);
    bool ParseStructure(CStructure& s, const pugi::xml_node& c);
    bool ParseItem(CStructure& s, const pugi::xml_node& c);
    bool CopyTemplateMembers(CStructure& instance, const CStructure& tmpl,
                             const pugi::xml_node& at);

    // Appends unit, declared by element at, to s; null (and a fatal error)
    // past kMaxSchemaUnits.
    Unit* Append(CStructure& s, std::unique_ptr<Unit> unit, const pugi::xml_node& at,
                 int32_t count = 1);
    // Moves s's next offset and size past a layout member just appended.
    bool Advance(CStructure& s, const Unit& member, const pugi::xml_node& at);
    bool ReadCount(const pugi::xml_node& c, const char* name, const char* attribute,
                   const char* text, int32_t& count);
    bool CheckName(const pugi::xml_node& c, const char* name);

    const CStructure* FindTopTemplate(const char* name) const;
    const EnumUnit* FindEnumeration(const CStructure& s, const char* name) const;
    bool IsExpanding(const CStructure* tmpl) const;

    // After the first failure among the members of a structure (or the
    // items of an enumeration): parse the rest quietly when diagnostics are
    // wanted. False when the rest is not to be parsed.
    bool GoOnAfterFailure(bool& quieted);
    void EndQuiet(bool quieted) {
        if (quieted) --quiet_;
    }

    // A trace line of the parse; none while quiet.
    void TraceV(const char* format, va_list args);
    void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Logs an error line about the element at (none while quiet), adds it
    // to the diagnostics and marks the load failed; returns false.
    bool FailV(const pugi::xml_node& at, const char* format, va_list args);
    bool Fail(const pugi::xml_node& at, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    // An error after which nothing more is parsed: limits of depth and size.
    bool FailFatal(const pugi::xml_node& at, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    Schema& schema_;
    std::vector<SchemaDiagnostic>* diagnostics_;
    // The trace lines not yet handed to the log. A load traces a few
    // hundred lines per schema; one call per line made it one write(2)
    // each. They go out a batch of whole lines at a time instead, when the
    // batch reaches kTraceBatchBytes and when the load ends.
    bool trace_;
    std::string traceBatch_;
    int quiet_ = 0;  // > 0: parsing past an error, nothing is logged
    std::set<std::pair<std::ptrdiff_t, std::string>> reported_;  // diagnostics so far
    CStructure* top_ = nullptr;
    bool error_ = false;
    bool fatal_ = false;
    std::string comment_;  // comment of the member element being handled
    int32_t unitCount_ = 0;
    int64_t recordFields_ = 0;  // fields of the top structure's members so far
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

bool Parser::GoOnAfterFailure(bool& quieted) {
    if (diagnostics_ == nullptr || fatal_) return false;
    if (!quieted) {
        quieted = true;
        ++quiet_;
    }
    return true;
}

void Parser::FlushTrace() {
    LogText(trace_, traceBatch_);
    traceBatch_.clear();
}

void Parser::TraceV(const char* format, va_list args) {
    if (!trace_ || quiet_ > 0) return;
    AppendFormatV(traceBatch_, format, args);
    if (traceBatch_.size() >= kTraceBatchBytes) FlushTrace();
}

void Parser::Note(const char* format, ...) {
    va_list args;
    va_start(args, format);
    TraceV(format, args);
    va_end(args);
}

bool Parser::FailV(const pugi::xml_node& at, const char* format, va_list args) {
    error_ = true;
    if (diagnostics_ != nullptr) {
        va_list copy;
        va_copy(copy, args);
        SchemaDiagnostic d{OffsetOf(at), FormatText(format, copy)};
        va_end(copy);
        // A template body is parsed again for every instance that copies a
        // nested structure of it: its errors are reported once.
        if (reported_.emplace(d.offset, d.text).second) diagnostics_->push_back(std::move(d));
    }
    TraceV(format, args);
    return false;
}

bool Parser::Fail(const pugi::xml_node& at, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FailV(at, format, args);
    va_end(args);
    return false;
}

bool Parser::FailFatal(const pugi::xml_node& at, const char* format, ...) {
    fatal_ = true;
    va_list args;
    va_start(args, format);
    FailV(at, format, args);
    va_end(args);
    return false;
}

bool Parser::CheckName(const pugi::xml_node& c, const char* name) {
    if (TooLong(name)) {
        return Fail(c, "Error! %s name=\"%s\" is longer than %d characters\n", c.name(), name,
                    kMaxNameLength);
    }
    if (char unsafe = XmlUnsafeCharacter(name)) {
        return Fail(c, "Error! %s name=\"%s\" holds character 0x%02X, which XML cannot carry\n",
                    c.name(), Printable(name).c_str(), static_cast<unsigned char>(unsafe));
    }
    return true;
}

// A repetition count: 0 up to the 32-bit maximum.
bool Parser::ReadCount(const pugi::xml_node& c, const char* name, const char* attribute,
                       const char* text, int32_t& count) {
    int64_t value = ReadInteger(text);
    if (value < 0 || value > kInt32Max) {
        return Fail(c, "Error! %s name=\"%s\" %s=\"%s\" is out of range\n", c.name(), name,
                    attribute, text);
    }
    count = static_cast<int32_t>(value);
    return true;
}

Unit* Parser::Append(CStructure& s, std::unique_ptr<Unit> unit, const pugi::xml_node& at,
                     int32_t count) {
    if (count > kMaxSchemaUnits - unitCount_) {
        FailFatal(at, "Error! schema [%s] expands to more than %d units\n", schema_.name.c_str(),
                  kMaxSchemaUnits);
        return nullptr;
    }
    unitCount_ += count;
    Unit* added = unit.get();
    if (const EnumUnit* e = added->AsEnum()) enumerations_[&s].try_emplace(e->name, e);
    s.units.push_back(std::move(unit));
    return added;
}

bool Parser::Advance(CStructure& s, const Unit& member, const pugi::xml_node& at) {
    int64_t next = static_cast<int64_t>(s.nextOffset) +
                   static_cast<int64_t>(member.size) * member.nrepetitions;
    if (next > kInt32Max) {
        return Fail(at, "Error! name=\"%s\" is larger than %d bytes\n", s.name.c_str(),
                    static_cast<int>(kInt32Max));
    }
    s.nextOffset = static_cast<int32_t>(next);
    s.size = s.nextOffset;
    if (&s == top_) {
        recordFields_ += ExpandedFields(member, kMaxRecordFields);
        if (recordFields_ > kMaxRecordFields) {
            return FailFatal(at, "Error! schema [%s] expands to more than %d fields\n",
                             schema_.name.c_str(), kMaxRecordFields);
        }
    }
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
    if (!element) return Fail(element, "Error  during reading  Root Element\n");
    root.element = element;

    pugi::xml_attribute nameAttr = element.attribute("name");
    if (!nameAttr) return Fail(element, "Error  Root Element struct_name is absent\n");
    const char* name = nameAttr.value();
    // CheckName() has refused control characters already.
    if (!CheckName(element, name)) return false;
    if (!IsPlainFileName(name)) {
        return Fail(element, "Error! %s name=\"%s\" is not a plain file name\n", element.name(),
                    name);
    }

    if (pugi::xml_attribute a = element.attribute("nrepetitions")) {
        const char* text = *a.value() != '\0' ? a.value() : "1";
        if (!ReadCount(element, name, "nrepetitions", text, root.nrepetitions)) return false;
    }
    int32_t id = 0;
    if (pugi::xml_attribute a = element.attribute("id")) {
        int64_t value = ReadInteger(a.value());
        if (value < kInt32Min || value > kInt32Max) {
            return Fail(element, "Error! %s name=\"%s\" %s=\"%s\" is out of range\n",
                        element.name(), name, "id", a.value());
        }
        id = static_cast<int32_t>(value);
    }
    if (pugi::xml_attribute a = element.attribute("visibility")) {
        root.visibility = std::strcmp(a.value(), "1") == 0;
    }
    Note("%s name=%s id=%d nrepetitions=%d visibility=%d\n", element.name(), name, id,
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
        return FailFatal(e, "Error! name=\"%s\" nests structures deeper than %d levels\n",
                         s.name.c_str(), kMaxNestingDepth);
    }
    Note("ENTRY AddStructure   this=0x%X [%s] xml=0x%X\n", Identity(&s), s.name.c_str(),
         Identity(e));
    bool ok = true;
    bool quieted = false;
    for (pugi::xml_node c = e.first_child(); c && !fatal_; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        if (!ok && !GoOnAfterFailure(quieted)) break;
        comment_.clear();
        pugi::xml_node before = c.previous_sibling();
        if (before.type() == pugi::node_comment) {
            comment_ = before.value();
            Note("comment = %s\n", comment_.c_str());
        }
        bool parsed = true;
        switch (TypeFromName(c.name())) {
            case kTypeStructure:
                parsed = ParseStructure(s, c);
                break;
            case kTypeTemplate:
                // Only the top structure's templates can be used, and the
                // header declares no template inside another.
                if (&s != top_) {
                    parsed = Fail(c, "Error! Template name=\"%s\" is inside %s name=\"%s\"\n",
                                  c.attribute("name").value(), e.name(),
                                  e.attribute("name").value());
                } else {
                    parsed = ParseTemplate(s, c);
                }
                break;
            case kTypeEnum:
                ParseEnum(s, c);  // a broken enumeration does not end the members
                break;
            default:
                if (IsItemElement(c.name())) {
                    parsed = ParseItem(s, c);
                } else {
                    parsed = Fail(c,
                                  "Error! elem_xml=\"%s\" is none of Structure, Template, Enum, "
                                  "Item, Item_enum\n",
                                  c.name());
                }
                break;
        }
        if (!parsed) ok = false;
    }
    EndQuiet(quieted);
    return ok && !fatal_;
}

bool Parser::ParseEnum(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail(c, "Error! attribute \"name\" is absent\n");
    if (!CheckName(c, nameAttr.value())) return false;
    auto made = std::make_unique<EnumUnit>(nameAttr.value());
    EnumUnit& enumeration = *made;
    if (Append(s, std::move(made), c) == nullptr) return false;
    lastEnumStructure_ = &s;

    // A broken item ends the items, as a broken member ends the members.
    bool ok = true;
    bool quieted = false;
    for (pugi::xml_node item = c.first_child(); item; item = item.next_sibling()) {
        if (item.type() != pugi::node_element) continue;
        if (!ok && !GoOnAfterFailure(quieted)) break;
        if (!ParseEnumItem(enumeration, item)) ok = false;
    }
    EndQuiet(quieted);
    return ok;
}

bool Parser::ParseEnumItem(EnumUnit& enumeration, const pugi::xml_node& item) {
    pugi::xml_attribute itemName = item.attribute("name");
    if (!itemName) return Fail(item, "Error! attribute \"name\" is absent\n");
    if (!CheckName(item, itemName.value())) return false;
    pugi::xml_attribute idAttr = item.attribute("id");
    if (!idAttr) return Fail(item, "Error! attribute \"id\" is absent\n");
    int64_t id = ReadInteger(idAttr.value());
    if (id < kInt32Min || id > kInt32Max) {
        return Fail(item, "Error! %s name=\"%s\" %s=\"%s\" is out of range\n", item.name(),
                    itemName.value(), "id", idAttr.value());
    }
    enumeration.items.push_back(EnumItem{static_cast<int32_t>(id), itemName.value()});
    Note("Enum name=%s %d  %s\n", enumeration.name.c_str(), static_cast<int32_t>(id),
         itemName.value());
    return true;
}

bool Parser::ParseTemplate(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail(c, "Error! attribute \"name\" is absent\n");
    const char* name = nameAttr.value();
    if (!CheckName(c, name)) return false;

    auto made = std::make_unique<CStructure>(name, kTypeTemplate);
    CStructure* tmpl = made.get();
    tmpl->element = c;
    tmpl->schema = &schema_;
    tmpl->parent = &s;
    tmpl->comment = comment_;
    if (Append(s, std::move(made), c) == nullptr) return false;
    if (&s == top_) templates_.try_emplace(name, tmpl);
    Note("E_TEMPLATE %s name=\"%s\" elem=0x%X pstructure=0%X\n", c.name(), name, Identity(c),
         Identity(tmpl));

    expanding_.push_back(tmpl);
    ParseMembers(*tmpl, c);  // a broken template body does not end s's members
    expanding_.pop_back();
    return !fatal_;
}

bool Parser::ParseStructure(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail(c, "Error! attribute \"name\" is absent\n");
    const char* name = nameAttr.value();
    if (!CheckName(c, name)) return false;
    Note("E_STRUCTURE %s name=\"%s\" elem=0x%X\n", c.name(), name, Identity(c));

    int32_t nrepetitions = 1;
    if (pugi::xml_attribute a = c.attribute("nrepetitions"); a && *a.value() != '\0') {
        if (!ReadCount(c, name, "nrepetitions", a.value(), nrepetitions)) return false;
    }
    bool visibility = true;
    if (pugi::xml_attribute a = c.attribute("visibility")) {
        visibility = *a.value() == '\0' || std::strcmp(a.value(), "1") == 0;
    }
    pugi::xml_attribute typeAttr = c.attribute("type");
    if (!typeAttr) return Fail(c, "Error! attribute \"type\" is absent\n");
    const char* type = typeAttr.value();
    const CStructure* tmpl = FindTopTemplate(type);
    if (tmpl == nullptr) return Fail(c, "Error!!! Type name [%s] is wrong\n", type);
    if (IsExpanding(tmpl)) {
        return Fail(c, "Error! Template [%s] contains itself through Structure name=\"%s\"\n",
                    type, name);
    }
    Note("O-T-H-E-R   %s elem=0x%X\n", c.name(), Identity(c));

    auto made = std::make_unique<CStructure>(name, kTypeStructure);
    CStructure* instance = made.get();
    instance->element = tmpl->element;
    instance->schema = &schema_;
    instance->parent = &s;
    instance->templateName = type;
    instance->nrepetitions = nrepetitions;
    instance->visibility = visibility;
    instance->comment = comment_;
    Note("new CStructure  pstructure=0x%X %s name=%s type=%s nrepetitions=%d visibility=%d\n",
         Identity(instance), c.name(), name, type, nrepetitions, visibility ? 1 : 0);

    expanding_.push_back(tmpl);
    bool copied = CopyTemplateMembers(*instance, *tmpl, c);
    expanding_.pop_back();
    if (!copied) return false;

    instance->offset = s.nextOffset;
    if (Append(s, std::move(made), c) == nullptr) return false;
    Note("     unit.size()=%d [%s]\n", static_cast<int>(s.units.size()), s.name.c_str());
    if (c.find_child([](const pugi::xml_node& n) { return n.type() == pugi::node_element; })) {
        declarations_.emplace(instance, c);
    }
    if (!ParseMembers(*instance, c)) return false;
    return Advance(s, *instance, c);
}

bool Parser::CopyTemplateMembers(CStructure& instance, const CStructure& tmpl,
                                 const pugi::xml_node& at) {
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
            if (Append(instance, std::move(made), at) == nullptr) return false;
            Note("     %d Added pstructure3=0x%X  to pstructure=0x%X %s type=%s size=%d "
                 "elem=0x%X\n",
                 index, Identity(copy), Identity(&instance), m.name.c_str(), tmpl.name.c_str(),
                 copy->size, Identity(nested->element));
            if (!ParseMembers(*copy, nested->element)) return false;
            auto declared = declarations_.find(nested);
            if (declared != declarations_.end() && !ParseMembers(*copy, declared->second)) {
                return false;
            }
            if (!Advance(instance, *copy, at)) return false;
        } else {
            std::unique_ptr<Unit> made = CloneUnit(m);
            // An enumeration unit never carries a comment.
            if (made->type != kTypeEnum) made->comment = comment_;
            Unit* copy = made.get();
            if (Append(instance, std::move(made), at, CountUnits(*copy)) == nullptr) return false;
            Note("     %d Added pelem3=0x%X %s from template=%s size=%d\n", index, Identity(copy),
                 m.name.c_str(), tmpl.name.c_str(), tmpl.size);
            if (copy->IsLayoutMember() && !Advance(instance, *copy, at)) return false;
        }
        ++index;
    }
    return true;
}

bool Parser::ParseItem(CStructure& s, const pugi::xml_node& c) {
    pugi::xml_attribute nameAttr = c.attribute("name");
    if (!nameAttr) return Fail(c, "Error! elem_xml=\"%s\" name is absent\n", c.name());
    const char* name = nameAttr.value();
    if (!CheckName(c, name)) return false;

    const char* typeText = "int";
    if (pugi::xml_attribute a = c.attribute("type")) {
        typeText = a.value();
    } else if (std::strcmp(c.name(), "Item_enum") == 0) {
        return Fail(c, "Error! name=\"%s\" type is absent\n", name);
    }
    UnitType type = TypeFromName(typeText);
    const EnumUnit* ref = nullptr;
    if (!IsPrimitive(type)) {
        ref = FindEnumeration(s, typeText);
        if (ref == nullptr) {
            return Fail(c, "Error! name=\"%s\" enum type \"%s\" is wrong\n", name, typeText);
        }
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
    Unit* item = Append(s, std::move(made), c);
    if (item == nullptr) return false;
    Note("---%s  name=%s  offset_elem=%d size=%d  units.size()=%d\n", name, s.name.c_str(),
         s.nextOffset, s.size, static_cast<int>(s.units.size()));
    return Advance(s, *item, c);
}

// The layout rule over a whole structure, members first: each layout member
// follows the previous one with no padding, and a structure's size is the
// bytes of all its layout members. Templates and enumerations take no bytes
// and keep offset 0. Also drops the element references, which point into a
// document that only lives for the load.
bool LayOut(CStructure& s, std::vector<SchemaDiagnostic>* diagnostics) {
    int64_t offset = 0;
    for (auto& member : s.units) {
        if (CStructure* nested = member->AsStructure()) {
            if (!LayOut(*nested, diagnostics)) return false;
        }
        if (!member->IsLayoutMember()) {
            member->offset = 0;
            continue;
        }
        member->offset = static_cast<int32_t>(offset);
        offset += static_cast<int64_t>(member->size) * member->nrepetitions;
        if (offset > kInt32Max) {
            char text[160];
            std::snprintf(text, sizeof text, "Error! name=\"%s\" is larger than %d bytes",
                          s.name.c_str(), static_cast<int>(kInt32Max));
            Trace("%s\n", text);
            if (diagnostics != nullptr) {
                diagnostics->push_back(SchemaDiagnostic{OffsetOf(s.element), text});
            }
            return false;
        }
    }
    s.size = static_cast<int32_t>(offset);
    s.element = pugi::xml_node();
    return true;
}

}  // namespace

bool LoadSchema(Schema& schema, const pugi::xml_document& doc) {
    return LoadSchema(schema, doc, nullptr);
}

bool LoadSchema(Schema& schema, const pugi::xml_document& doc,
                std::vector<SchemaDiagnostic>* diagnostics) {
    schema.writerCache.reset();  // derived from the tree being replaced
    schema.readerCache.reset();
    Parser parser(schema, diagnostics);
    bool ok = parser.Load(doc);
    parser.FlushTrace();  // before the lines of the layout
    if (ok) {
        CStructure* top = schema.Top();
        ok = LayOut(*top, diagnostics);
        top->offset = 0;
        schema.root->element = pugi::xml_node();
    }
    schema.fields = ok ? parser.RecordFields() : 0;
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
