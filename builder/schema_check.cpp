#include "builder/schema_check.h"

#include <algorithm>
#include <vector>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"

namespace morvane {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string NotSaved(const std::string& field, std::string_view text, const char* what) {
    return msg::Format("Error! %s \"%.*s\" is not %s. The schema is not saved.", field.c_str(),
                       static_cast<int>(text.size()), text.data(), what);
}

constexpr const char* kIdentifier =
    "a C identifier (letters, digits and _, not first a digit, no C keyword, not beginning with "
    "two underscores or an underscore and a capital)";
constexpr const char* kPlainDecimal =
    "a plain decimal integer (digits, a '-' before them for a negative one, no '+' and no "
    "leading zero)";

std::string CheckName(const std::string& field, std::string_view text) {
    return IsCIdentifier(text) ? std::string() : NotSaved(field, text, kIdentifier);
}

std::string CheckMembers(const std::vector<CEditElement>& elements, const std::string& owner) {
    for (size_t i = 0; i < elements.size(); ++i) {
        const CEditElement& e = elements[i];
        std::string error =
            CheckName(msg::Format("Name of member %zu of %s", i + 1, owner.c_str()), e.name.view());
        const bool asRead = e.fileRepetitions && *e.fileRepetitions == e.nrepetitions.view();
        if (error.empty() && !asRead && !IsNonNegativeInteger(e.nrepetitions.view()))
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
        if (error.empty() && !IsPlainDecimal(item.id.view()))
            error = NotSaved(msg::Format("Id of item \"%s\" of enumeration \"%s\"",
                                         item.name.c_str(), e.name.c_str()),
                             item.id.view(), kPlainDecimal);
    }
    return error;
}

}  // namespace

bool IsNonNegativeInteger(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

std::string CheckForSave(const CEditModel& model, std::string_view name, std::string_view id) {
    std::string error = CheckName("Name of schema", name);
    if (error.empty() && !IsPlainDecimal(id)) error = NotSaved("Id of schema", id, kPlainDecimal);
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
