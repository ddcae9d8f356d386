#include "schema/name_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <set>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

constexpr std::array<std::string_view, 44> kCKeywords = {
    "auto",           "break",        "case",     "char",     "const",      "continue",
    "default",        "do",           "double",   "else",     "enum",       "extern",
    "float",          "for",          "goto",     "if",       "inline",     "int",
    "long",           "register",     "restrict", "return",   "short",      "signed",
    "sizeof",         "static",       "struct",   "switch",   "typedef",    "union",
    "unsigned",       "void",         "volatile", "while",    "_Alignas",   "_Alignof",
    "_Atomic",        "_Bool",        "_Complex", "_Generic", "_Imaginary", "_Noreturn",
    "_Static_assert", "_Thread_local"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The walk mirrors the C header generator: the same blocks, in the same
// order, with the same type names.
class Checker {
  public:
    Checker(const Schema& schema, const NameCheckOptions& options)
        : schema_(schema), shape_(schema) {
        if (schema.Top() == nullptr) return;
        record_ = "the record " + Quoted(schema.name);
        Name(record_, schema.name, true);
        Type(UpperCase(schema.name), record_);
        if (options.headerChecks) {
            for (const char* suffix : {"_SIZE", "_FINGERPRINT", "_LAYOUT_ASSERT"}) {
                const std::string macro = UpperCase(schema.name) + suffix;
                macros_.insert(macro);
                Type(macro, "the macro " + macro);
            }
        }
    }

    std::vector<NameProblem> Run() {
        if (schema_.root != nullptr) Walk(*schema_.root);
        return std::move(problems_);
    }

  private:
    void Add(bool breaks, const char* format, const std::string& a, const std::string& b = {},
             const std::string& c = {}) {
        char text[1024];
        std::snprintf(text, sizeof text, format, a.c_str(), b.c_str(), c.c_str());
        problems_.push_back({text, breaks});
    }

    // field: what the name belongs to, for the message. compiled: the name
    // reaches C code (a text member stands in a comment only).
    void Name(const std::string& field, std::string_view name, bool compiled) {
        if (!IsCIdentifierSyntax(name)) {
            Add(compiled,
                "Error! The name %s of %s is not a C identifier (letters, digits and _, not "
                "first a digit)",
                Quoted(name), field);
        } else if (IsCKeyword(name)) {
            Add(compiled, "Error! The name %s of %s is a C keyword", Quoted(name), field);
        } else if (IsReservedCName(name)) {
            Add(false,
                "Error! The name %s of %s is reserved in C (two underscores, or an underscore "
                "and a capital, at its start)",
                Quoted(name), field);
        } else if (compiled && macros_.count(std::string(name)) != 0) {
            Add(true, "Error! The name %s of %s is also a macro of the header", Quoted(name),
                field);
        }
    }

    // A type name of the header (already in capitals, as the header has it).
    void Type(const std::string& typeName, const std::string& owner) {
        if (IsReservedCName(typeName))
            Add(false, "Error! %s gives the type name %s, which is reserved in C", owner,
                typeName);
        auto [at, added] = types_.try_emplace(typeName, owner);
        if (!added)
            Add(true, "Error! %s and %s are both the type %s in the header", at->second, owner,
                typeName);
        if (auto e = enumerators_.find(typeName); e != enumerators_.end())
            Add(true, "Error! %s gives the type name %s, which is an enumerator of %s", owner,
                typeName, e->second);
    }

    void Enumerator(const std::string& name, const std::string& owner) {
        auto [at, added] = enumerators_.try_emplace(name, owner);
        if (!added) {
            Add(true, "Error! The enumerator %s of %s is also in %s", Quoted(name), owner,
                at->second);
        } else if (auto t = types_.find(name); t != types_.end()) {
            Add(true, "Error! The enumerator %s of %s is also the type name of %s", Quoted(name),
                owner, t->second);
        }
    }

    void Block(const CStructure& s, const std::string& owner) {
        const std::vector<const Unit*> members = shape_.BlockMembers(s);
        for (const Unit* m : members) {
            if (!shape_.HasMembersOfItsOwn(*m)) continue;
            const CStructure& own = *m->AsStructure();
            if (own.parent != &s) continue;
            const std::string field = "the structure " + Quoted(own.name) + " of " + owner;
            Type(HeaderShape::TypeName(own), field);
            Block(own, field);
        }
        std::set<std::string> names;
        std::set<std::string> compiledNames;
        int position = 0;
        for (const Unit* m : members) {
            if (!m->IsLayoutMember()) continue;
            ++position;
            const bool compiled = m->type != kTypeText;
            const std::string field =
                "member " + std::to_string(position) + " of " + owner;
            Name(field, m->name, compiled);
            const bool twice = !names.insert(m->name).second;
            const bool clash = compiled && !compiledNames.insert(m->name).second;
            if (twice)
                Add(clash, "Error! The member name %s is used twice in %s", Quoted(m->name),
                    owner);
        }
    }

    void Walk(const CStructure& u) {
        for (const auto& m : u.units) {
            if (m->type == kTypeStructure) {
                if (const CStructure* s = m->AsStructure()) Walk(*s);
            } else if (m->type == kTypeTemplate) {
                const std::string owner = "the template " + Quoted(m->name);
                Name(owner, m->name, true);
                Type(UpperCase(m->name), owner);
                if (const CStructure* t = m->AsStructure()) Block(*t, owner);
            } else if (const EnumUnit* e = m->AsEnum()) {
                const std::string owner = "the enumeration " + Quoted(e->name);
                Name(owner, e->name, true);
                Type(UpperCase(e->name), owner);
                for (size_t i = 0; i < e->items.size(); ++i) {
                    Name("item " + std::to_string(i + 1) + " of " + owner, e->items[i].name, true);
                    Enumerator(e->items[i].name, owner);
                }
            }
        }
        if (&u == schema_.Top()) Block(u, record_);
    }

    const Schema& schema_;
    std::string record_;
    HeaderShape shape_;
    std::map<std::string, std::string> types_;        // type name -> what gives it
    std::map<std::string, std::string> enumerators_;  // enumerator -> its enumeration
    std::set<std::string> macros_;
    std::vector<NameProblem> problems_;
};

}  // namespace

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

HeaderShape::HeaderShape(const Schema& schema) {
    if (const CStructure* top = schema.Top()) {
        for (const auto& m : top->units)
            if (m->type == kTypeTemplate) templates_.try_emplace(m->name, m->AsStructure());
    }
}

const CStructure* HeaderShape::TemplateOf(const CStructure& s) const {
    if (s.type != kTypeStructure || s.templateName.empty()) return nullptr;
    auto it = templates_.find(s.templateName);
    return it != templates_.end() ? it->second : nullptr;
}

std::vector<const Unit*> HeaderShape::BlockMembers(const CStructure& s) const {
    std::vector<const Unit*> members;
    size_t first = 0;
    if (const CStructure* t = TemplateOf(s)) {
        for (const auto& m : t->units) members.push_back(m.get());
        first = t->units.size();
    }
    for (size_t i = first; i < s.units.size(); ++i) members.push_back(s.units[i].get());
    return members;
}

bool HeaderShape::HasMembersOfItsOwn(const Unit& member) const {
    const CStructure* s = member.AsStructure();
    const CStructure* t = s != nullptr ? TemplateOf(*s) : nullptr;
    return t != nullptr && s->units.size() > t->units.size();
}

std::string HeaderShape::TypeName(const CStructure& s) {
    if (s.type == kTypeTemplate || s.parent == nullptr) return UpperCase(s.name);
    return TypeName(*s.parent) + "_" + UpperCase(s.name);
}

std::vector<NameProblem> CheckSchemaNames(const Schema& schema, const NameCheckOptions& options) {
    return Checker(schema, options).Run();
}

bool AcceptSchemaNames(const Schema& schema, const NameCheckOptions& options,
                       std::vector<SchemaDiagnostic>* diagnostics) {
    bool accepted = true;
    for (NameProblem& p : CheckSchemaNames(schema, options)) {
        if (!p.breaksHeader) continue;
        accepted = false;
        Trace("%s\n", p.text.c_str());
        if (diagnostics != nullptr) diagnostics->push_back({-1, std::move(p.text)});
    }
    return accepted;
}

bool IsCIdentifierSyntax(std::string_view text) {
    return !text.empty() && IsLetter(text[0]) &&
           std::all_of(text.begin(), text.end(), [](char c) { return IsLetter(c) || IsDigit(c); });
}

bool IsCKeyword(std::string_view text) {
    return std::find(kCKeywords.begin(), kCKeywords.end(), text) != kCKeywords.end();
}

bool IsReservedCName(std::string_view text) {
    return text.size() >= 2 && text[0] == '_' && (text[1] == '_' || (text[1] >= 'A' && text[1] <= 'Z'));
}

bool IsCIdentifier(std::string_view text) {
    return IsCIdentifierSyntax(text) && !IsCKeyword(text) && !IsReservedCName(text);
}

bool IsPlainDecimal(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) return false;
    return text[0] != '0' || (text.size() == 1 && !negative);
}

}  // namespace morvane
