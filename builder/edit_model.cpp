#include "builder/edit_model.h"

#include <strings.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "builder/builder_messages.h"

namespace morvane {
namespace {

template <size_t N>
bool AssignField(FixedText<N>& field, std::string_view text, const char* label,
                 std::string& message) {
    if (field.Assign(text)) return true;
    message = msg::SizeOfField(N, label, text);
    return false;
}

template <class T>
int IndexOfName(const std::vector<std::unique_ptr<T>>& list, std::string_view name) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]->name == name) return static_cast<int>(i);
    return -1;
}

template <class T>
bool Contains(const std::vector<std::unique_ptr<T>>& list, const T* entry) {
    return std::any_of(list.begin(), list.end(),
                       [entry](const auto& p) { return p.get() == entry; });
}

}  // namespace

bool AssignElement(CEditElement& e, std::string_view kind, std::string_view name,
                   std::string_view type, std::string_view nrepetitions, bool collapsed,
                   std::string comment, std::string& message) {
    if (!AssignField(e.kind, kind, "\"Element:\" of the element", message) ||
        !AssignField(e.name, name, "\"Name:\" of the element", message) ||
        !AssignField(e.type, type, "\"Type:\" of the element", message) ||
        !AssignField(e.nrepetitions, nrepetitions, "\"NRepetitions:\" of the element", message))
        return false;
    e.collapsed = collapsed;
    e.comment = std::move(comment);
    return true;
}

bool HasItemNamed(const CEditEnum& e, std::string_view name) {
    return std::any_of(e.items.begin(), e.items.end(),
                       [name](const CEditEnumItem& i) { return i.name == name; });
}

bool HasItemWithId(const CEditEnum& e, std::string_view id) {
    return std::any_of(e.items.begin(), e.items.end(),
                       [id](const CEditEnumItem& i) { return i.id == id; });
}

long long NextEnumItemId(std::string_view id) {
    const std::string text(id);  // strtoll needs the terminating zero
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    return value == LLONG_MAX ? value : value + 1;  // saturated: no room for the step
}

CEditModel::CEditModel(Configuration* configuration) : configuration_(configuration) {
    MarkSaved();
}

CEditEnum& CEditModel::AppendEnum(std::unique_ptr<CEditEnum> e) {
    enums_.push_back(std::move(e));
    return *enums_.back();
}

void CEditModel::RemoveEnum(size_t index) {
    if (index >= enums_.size()) return;
    if (enums_[index].get() == currentEnum_) currentEnum_ = nullptr;
    enums_.erase(enums_.begin() + static_cast<std::ptrdiff_t>(index));
}

void CEditModel::ClearEnums() {
    currentEnum_ = nullptr;
    enums_.clear();
}

int CEditModel::FindEnum(std::string_view name) const { return IndexOfName(enums_, name); }

void CEditModel::SetCurrentEnum(CEditEnum* e) {
    assert(e == nullptr || Contains(enums_, static_cast<const CEditEnum*>(e)));
    currentEnum_ = e;
}

CEditTemplate& CEditModel::AppendTemplate(std::unique_ptr<CEditTemplate> t) {
    templates_.push_back(std::move(t));
    return *templates_.back();
}

void CEditModel::RemoveTemplate(size_t index) {
    if (index >= templates_.size()) return;
    if (templates_[index].get() == currentTemplate_) currentTemplate_ = nullptr;
    templates_.erase(templates_.begin() + static_cast<std::ptrdiff_t>(index));
}

void CEditModel::ClearTemplates() {
    currentTemplate_ = nullptr;
    templates_.clear();
}

int CEditModel::FindTemplate(std::string_view name) const { return IndexOfName(templates_, name); }

void CEditModel::SetCurrentTemplate(CEditTemplate* t) {
    assert(t == nullptr || Contains(templates_, static_cast<const CEditTemplate*>(t)));
    currentTemplate_ = t;
}

CEditSchema& CEditModel::EnsureSchema() {
    if (!schema_) schema_ = std::make_unique<CEditSchema>();
    return *schema_;
}

void CEditModel::DropSchema() {
    schema_.reset();
    newSchema = false;
}

void CEditModel::Clear() {
    ClearEnums();
    ClearTemplates();
    DropSchema();
    sources.clear();
    notKept.clear();
}

namespace {

void SnapshotKept(std::ostream& out, const CKeptXml& kept) {
    if (kept.empty()) return;
    out << "    kept";
    for (const std::string& c : kept.commentsBefore) out << " [" << c << ']';
    for (const auto& [name, value] : kept.attributes) out << ' ' << name << "=\"" << value << '"';
    out << " /";
    for (const std::string& c : kept.commentsAtEnd) out << " [" << c << ']';
    out << '\n';
}

void SnapshotPlace(std::ostream& out, const CFilePlace& place) {
    if (place.position >= 0) out << "    at " << place.position << ' ' << place.sequence << '\n';
}

void SnapshotElements(std::ostream& out, const std::vector<CEditElement>& elements,
                      const std::string& indent = "  ") {
    for (const CEditElement& e : elements) {
        out << indent << e.kind.view() << '|' << e.name.view() << '|' << e.type.view()
            << (e.typeGiven ? "" : "(absent)") << '|' << e.nrepetitions.view() << '|'
            << e.collapsed;
        if (e.visibility) out << "(visibility=\"" << *e.visibility << "\")";
        out << "|[" << e.comment << "]\n";
        SnapshotKept(out, e.kept);
        SnapshotElements(out, e.members, indent + "  ");
    }
}

// Members of elements whose type names name, where uses(e) tells whether
// e's kind takes its type from that kind of list.
template <class Uses>
void CollectUsers(std::vector<std::string>& users, const std::string& prefix,
                  const std::vector<CEditElement>& elements, std::string_view name, Uses uses) {
    for (const CEditElement& e : elements)
        if (e.type == name && uses(e)) users.push_back(prefix + e.name.str());
}

template <class Uses>
std::vector<std::string> Users(const CEditModel& model, std::string_view name, Uses uses) {
    std::vector<std::string> users;
    for (const auto& t : model.Templates())
        if (t->name != name) CollectUsers(users, t->name.str() + ".", t->elements, name, uses);
    if (const CEditSchema* s = model.CurrentSchema())
        CollectUsers(users, "", s->elements, name, uses);
    return users;
}

bool IsStructureKind(const CEditElement& e) {
    return strcasecmp(e.kind.c_str(), kKindStructure) == 0;
}

}  // namespace

std::string CEditModel::Snapshot() const {
    std::ostringstream out;
    for (const auto& e : enums_) {
        out << "enum " << e->name.view() << '\n';
        SnapshotKept(out, e->kept);
        SnapshotPlace(out, e->place);
        for (const CEditEnumItem& i : e->items) {
            out << "  " << i.name.view() << '=' << i.id.view() << '\n';
            SnapshotKept(out, i.kept);
        }
    }
    for (const auto& t : templates_) {
        out << "template " << t->name.view() << " [" << t->comment << "]\n";
        SnapshotKept(out, t->kept);
        SnapshotPlace(out, t->place);
        SnapshotElements(out, t->elements);
    }
    if (schema_) {
        out << "schema " << schema_->name.view() << ' ' << schema_->id.view();
        if (!schema_->rootTag.empty()) out << " <" << schema_->rootTag << '>';
        out << '\n';
        SnapshotKept(out, schema_->kept);
        for (const std::string& c : schema_->commentsAfterRoot) out << "  after [" << c << "]\n";
        SnapshotElements(out, schema_->elements);
    } else {
        out << "no schema\n";
    }
    return out.str();
}

std::vector<std::string> CEditModel::MembersUsingEnum(std::string_view name) const {
    // Item_enum lines, and Item lines, whose type may name an enumeration too.
    return Users(*this, name, [](const CEditElement& e) { return !IsStructureKind(e); });
}

std::vector<std::string> CEditModel::MembersUsingTemplate(std::string_view name) const {
    return Users(*this, name, IsStructureKind);
}

}  // namespace morvane
