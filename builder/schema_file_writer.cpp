#include "builder/schema_file_writer.h"

#include <algorithm>
#include <cstring>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/schema_file_loader.h"
#include "generate/output_files.h"

namespace morvane {

bool CSchemaXmlWriter::WriteTag(const char* tag, const XmlAttributes& attributes, bool selfClosed) {
    if (!IsOpen() || (!selfClosed && !CanPush(tag))) return false;
    std::string line = Indent() + "<" + tag;
    for (const auto& [name, value] : attributes)
        line += " " + name + "=\"" + EscapeAttribute(value) + "\"";
    line += selfClosed ? "/>\n" : ">\n";
    Append(line.data(), line.size());
    if (!selfClosed) Push(tag);
    return true;
}

bool CSchemaXmlWriter::WriteComment(const char* text) {
    if (!IsOpen()) return false;
    AppendFormat("<!-- %s -->\n", text);
    return true;
}

std::string EscapeAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            // A reader turns raw line breaks and tabs in attribute values
            // into blanks; references keep them.
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool IsWritableComment(std::string_view text) {
    return text.find("--") == std::string_view::npos && (text.empty() || text.back() != '-');
}

namespace {

std::string CommentRefusal(const std::string& what) {
    return msg::Format(
        "Error! The comment of %s cannot be written: a comment must not contain \"--\" or end "
        "in \"-\". The schema is not saved.",
        what.c_str());
}

bool CommentOk(const std::string& comment) { return comment.empty() || IsWritableComment(comment); }

}  // namespace

namespace {

// The first comment among comments that cannot be written, or null.
const std::string* BadComment(const std::vector<std::string>& comments) {
    for (const std::string& c : comments)
        if (!CommentOk(c)) return &c;
    return nullptr;
}

bool KeptOk(const CKeptXml& kept) {
    return BadComment(kept.commentsBefore) == nullptr && BadComment(kept.commentsAtEnd) == nullptr;
}

// The first element of elements, or of their members, whose comments
// cannot be written; null when all can.
const CEditElement* BadElement(const std::vector<CEditElement>& elements) {
    for (const CEditElement& e : elements) {
        if (!CommentOk(e.comment) || !KeptOk(e.kept)) return &e;
        if (const CEditElement* inner = BadElement(e.members)) return inner;
    }
    return nullptr;
}

}  // namespace

std::string CheckComments(const CEditModel& model) {
    for (const auto& en : model.Enumerations()) {
        if (en->items.empty()) continue;
        bool ok = KeptOk(en->kept);
        for (const CEditEnumItem& item : en->items) ok = ok && KeptOk(item.kept);
        if (!ok) return CommentRefusal(msg::Format("enumeration \"%s\"", en->name.c_str()));
    }
    for (const auto& t : model.Templates()) {
        if (t->elements.empty()) continue;  // not written
        if (!CommentOk(t->comment) || !KeptOk(t->kept))
            return CommentRefusal(msg::Format("template \"%s\"", t->name.c_str()));
        if (const CEditElement* e = BadElement(t->elements))
            return CommentRefusal(
                msg::Format("element \"%s\" of template \"%s\"", e->name.c_str(), t->name.c_str()));
    }
    if (const CEditSchema* schema = model.CurrentSchema()) {
        if (!KeptOk(schema->kept) || BadComment(schema->commentsAfterRoot) != nullptr)
            return CommentRefusal(msg::Format("schema \"%s\"", schema->name.c_str()));
        if (const CEditElement* e = BadElement(schema->elements))
            return CommentRefusal(msg::Format("element \"%s\"", e->name.c_str()));
    }
    return {};
}

namespace {

void WriteComments(CSchemaXmlWriter& w, const std::vector<std::string>& comments) {
    for (const std::string& c : comments) w.WriteComment(c.c_str());
}

// The visibility attribute of e: as the file spelled it while it still
// means what collapsed says, "0" for a collapsed member otherwise.
const char* VisibilityText(const CEditElement& e) {
    if (e.visibility && IsHiddenBy(e.kind.view(), e.visibility->c_str()) == e.collapsed)
        return e.visibility->c_str();
    return e.collapsed ? "0" : nullptr;
}

void WriteElements(CSchemaXmlWriter& w, const std::vector<CEditElement>& elements);

void WriteElement(CSchemaXmlWriter& w, const CEditElement& e) {
    WriteComments(w, e.kept.commentsBefore);
    if (!e.comment.empty()) w.WriteComment(e.comment.c_str());
    XmlAttributes attributes = {{"name", e.name.str()}};
    if (e.typeGiven || e.type != "int") attributes.emplace_back("type", e.type.str());
    if (e.nrepetitions != "1") attributes.emplace_back("nrepetitions", e.nrepetitions.str());
    if (const char* visibility = VisibilityText(e))
        attributes.emplace_back("visibility", visibility);
    attributes.insert(attributes.end(), e.kept.attributes.begin(), e.kept.attributes.end());
    const bool empty = e.members.empty() && e.kept.commentsAtEnd.empty();
    w.WriteTag(e.kind.c_str(), attributes, empty);
    if (empty) return;
    WriteElements(w, e.members);
    WriteComments(w, e.kept.commentsAtEnd);
    w.CloseElement();
}

void WriteElements(CSchemaXmlWriter& w, const std::vector<CEditElement>& elements) {
    for (const CEditElement& e : elements) WriteElement(w, e);
}

XmlAttributes WithKept(XmlAttributes attributes, const CKeptXml& kept) {
    attributes.insert(attributes.end(), kept.attributes.begin(), kept.attributes.end());
    return attributes;
}

void WriteEnum(CSchemaXmlWriter& w, const CEditEnum& en) {
    WriteComments(w, en.kept.commentsBefore);
    w.WriteTag("Enum", WithKept({{"name", en.name.str()}}, en.kept), false);
    for (const CEditEnumItem& item : en.items) {
        WriteComments(w, item.kept.commentsBefore);
        w.WriteTag("Item", WithKept({{"name", item.name.str()}, {"id", item.id.str()}}, item.kept),
                   true);
    }
    WriteComments(w, en.kept.commentsAtEnd);
    w.CloseElement();
}

void WriteTemplate(CSchemaXmlWriter& w, const CEditTemplate& t) {
    WriteComments(w, t.kept.commentsBefore);
    if (!t.comment.empty()) w.WriteComment(t.comment.c_str());
    w.WriteTag("Template", WithKept({{"name", t.name.str()}}, t.kept), false);
    WriteElements(w, t.elements);
    WriteComments(w, t.kept.commentsAtEnd);
    w.CloseElement();
}

// Whether e or one of its members takes its type from name.
bool Uses(const CEditElement& e, std::string_view name) {
    if (e.type == name) return true;
    return std::any_of(e.members.begin(), e.members.end(),
                       [name](const CEditElement& m) { return Uses(m, name); });
}

// The index of the first of elements that uses name; elements.size() when none.
int FirstUser(const std::vector<CEditElement>& elements, std::string_view name) {
    for (size_t i = 0; i < elements.size(); ++i)
        if (Uses(elements[i], name)) return static_cast<int>(i);
    return static_cast<int>(elements.size());
}

// One template or enumeration to write before the member of index anchor;
// among those of one anchor, by rank.
struct Declaration {
    int anchor;
    int rank;
    const CEditEnum* enumeration;
    const CEditTemplate* tmpl;
};

// The written templates and enumerations in the order they go out: each
// where the file had it, moved up to the first member (or, for an
// enumeration, the first template) that uses it; new ones first,
// enumerations before templates.
std::vector<Declaration> DeclarationOrder(const CEditModel& model,
                                          const std::vector<CEditElement>& elements) {
    const int end = static_cast<int>(elements.size());
    auto anchorOf = [&](const CFilePlace& place, std::string_view name) {
        const int at = place.position < 0 ? 0 : std::min(place.position, end);
        return std::min(at, FirstUser(elements, name));
    };
    std::vector<Declaration> order;
    for (const auto& t : model.Templates()) {
        if (t->elements.empty()) continue;
        const int anchor = anchorOf(t->place, t->name.view());
        const bool moved = t->place.position < 0 || anchor < t->place.position;
        order.push_back({anchor, moved ? -1 : t->place.sequence, nullptr, t.get()});
    }
    for (const auto& en : model.Enumerations()) {
        if (en->items.empty()) continue;
        int anchor = anchorOf(en->place, en->name.view());
        for (const Declaration& d : order)
            if (d.tmpl != nullptr &&
                FirstUser(d.tmpl->elements, en->name.view()) <
                static_cast<int>(d.tmpl->elements.size()))
                anchor = std::min(anchor, d.anchor);
        const bool moved = en->place.position < 0 || anchor < en->place.position;
        order.push_back({anchor, moved ? -2 : en->place.sequence, en.get(), nullptr});
    }
    std::stable_sort(order.begin(), order.end(), [](const Declaration& a, const Declaration& b) {
        return a.anchor != b.anchor ? a.anchor < b.anchor : a.rank < b.rank;
    });
    return order;
}

}  // namespace

std::string SchemaFileText(const CEditModel& model, std::string_view name, std::string_view id) {
    static const std::vector<CEditElement> kNone;
    const CEditSchema* schema = model.CurrentSchema();
    const std::vector<CEditElement>& elements = schema ? schema->elements : kNone;
    CSchemaXmlWriter w;
    w.OpenDocument();
    if (schema) WriteComments(w, schema->kept.commentsBefore);
    w.WriteTag(schema && !schema->rootTag.empty() ? schema->rootTag.c_str() : "Schema",
               WithKept({{"name", std::string(name)}, {"id", std::string(id)}},
                        schema ? schema->kept : CKeptXml{}),
               false);
    const std::vector<Declaration> order = DeclarationOrder(model, elements);
    size_t next = 0;
    for (int i = 0; i <= static_cast<int>(elements.size()); ++i) {
        for (; next < order.size() && order[next].anchor <= i; ++next) {
            if (order[next].enumeration)
                WriteEnum(w, *order[next].enumeration);
            else
                WriteTemplate(w, *order[next].tmpl);
        }
        if (i < static_cast<int>(elements.size()))
            WriteElement(w, elements[static_cast<size_t>(i)]);
    }
    if (schema) WriteComments(w, schema->kept.commentsAtEnd);
    w.CloseElement();
    if (schema) WriteComments(w, schema->commentsAfterRoot);
    return w.TakeDocument();
}

bool WriteSchemaFile(const CEditModel& model, std::string_view name, std::string_view id,
                     const std::string& path, std::string& error) {
    const std::string text = SchemaFileText(model, name, id);
    const ReplaceResult result = ReplaceFile(path, text);
    if (result.failure == ReplaceFailure::kNone) return true;
    error = msg::Format("Error! File %s cannot be %s [%s]", path.c_str(),
                        result.failure == ReplaceFailure::kCreate ? "created" : "written",
                        std::strerror(result.error));
    return false;
}

}  // namespace morvane
