#include "builder/schema_check.h"

#include <algorithm>
#include <array>
#include <vector>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"

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

std::string NotSaved(const std::string& field, std::string_view text, const char* what) {
    return msg::Format("Error! %s \"%.*s\" is not %s. The schema is not saved.", field.c_str(),
                       static_cast<int>(text.size()), text.data(), what);
}

constexpr const char* kIdentifier =
    "a C identifier (letters, digits and _, not first a digit, no C keyword)";

std::string CheckName(const std::string& field, std::string_view text) {
    return IsCIdentifier(text) ? std::string() : NotSaved(field, text, kIdentifier);
}

std::string CheckMembers(const std::vector<CEditElement>& elements, const std::string& owner) {
    for (size_t i = 0; i < elements.size(); ++i) {
        const CEditElement& e = elements[i];
        std::string error =
            CheckName(msg::Format("Name of member %zu of %s", i + 1, owner.c_str()), e.name.view());
        if (error.empty() && !IsNonNegativeInteger(e.nrepetitions.view()))
            error = NotSaved(
                msg::Format("NRepetitions of member \"%s\" of %s", e.name.c_str(), owner.c_str()),
                e.nrepetitions.view(), "a non-negative integer");
        if (!error.empty()) return error;
    }
    return {};
}

std::string CheckEnum(const CEditEnum& e) {
    std::string error = CheckName("Name of enumeration", e.name.view());
    for (size_t i = 0; error.empty() && i < e.items.size(); ++i) {
        const CEditEnumItem& item = e.items[i];
        error =
            CheckName(msg::Format("Name of item %zu of enumeration \"%s\"", i + 1, e.name.c_str()),
                      item.name.view());
        if (error.empty() && !IsInteger(item.id.view()))
            error = NotSaved(msg::Format("Id of item \"%s\" of enumeration \"%s\"",
                                         item.name.c_str(), e.name.c_str()),
                             item.id.view(), "an integer");
    }
    return error;
}

}  // namespace

bool IsCKeyword(std::string_view text) {
    return std::find(kCKeywords.begin(), kCKeywords.end(), text) != kCKeywords.end();
}

bool IsCIdentifier(std::string_view text) {
    if (text.empty() || !IsLetter(text[0])) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return IsLetter(c) || IsDigit(c); }))
        return false;
    return !IsCKeyword(text);
}

bool IsNonNegativeInteger(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

bool IsInteger(std::string_view text) {
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    return IsNonNegativeInteger(text);
}

std::string CheckForSave(const CEditModel& model, std::string_view name, std::string_view id) {
    std::string error = CheckName("Name of schema", name);
    if (error.empty() && !IsInteger(id)) error = NotSaved("Id of schema", id, "an integer");
    for (const auto& e : model.Enumerations())
        if (error.empty() && !e->items.empty()) error = CheckEnum(*e);
    for (const auto& t : model.Templates()) {
        if (!error.empty() || t->elements.empty()) continue;
        error = CheckName("Name of template", t->name.view());
        if (error.empty())
            error = CheckMembers(t->elements, msg::Format("template \"%s\"", t->name.c_str()));
    }
    if (error.empty() && model.CurrentSchema() != nullptr)
        error = CheckMembers(model.CurrentSchema()->elements, "the schema");
    return error;
}

}  // namespace morvane
