#include "builder/schema_file_writer.h"

#include "builder/builder_messages.h"
#include "builder/edit_model.h"

namespace morvane {

bool CSchemaXmlWriter::OpenSchemaElement(const char* name, const char* id) {
    if (!IsOpen() || !CanPush("Schema")) return false;
    AppendFormat("%s<Schema name=\"%s\" id=\"%s\">\n", Indent().c_str(),
                 EscapeAttribute(name).c_str(), EscapeAttribute(id).c_str());
    Push("Schema");
    return Flush();
}

bool CSchemaXmlWriter::WriteEnumItem(const char* name, const char* id) {
    if (!IsOpen()) return false;
    AppendFormat("%s<Item name=\"%s\" id=\"%s\"/>\n", Indent().c_str(),
                 EscapeAttribute(name).c_str(), EscapeAttribute(id).c_str());
    return Flush();
}

bool CSchemaXmlWriter::WriteMemberElement(const char* kind, const char* name, const char* type,
                                          const char* nrepetitions, bool collapsed) {
    if (!IsOpen()) return false;
    const std::string n = EscapeAttribute(name);
    const std::string t = EscapeAttribute(type);
    const std::string r = EscapeAttribute(nrepetitions);
    const bool one = std::string_view(nrepetitions) == "1";
    const char* indent = Indent().c_str();
    if (collapsed && !one) {
        AppendFormat("%s<%s name=\"%s\" type=\"%s\" nrepetitions=\"%s\" visibility=\"0\"/>\n",
                     indent, kind, n.c_str(), t.c_str(), r.c_str());
    } else if (collapsed) {
        AppendFormat("%s<%s name=\"%s\" type=\"%s\" visibility=\"0\"/>\n", indent, kind, n.c_str(),
                     t.c_str());
    } else if (!one) {
        AppendFormat("%s<%s name=\"%s\" type=\"%s\" nrepetitions=\"%s\"/>\n", indent, kind,
                     n.c_str(), t.c_str(), r.c_str());
    } else {
        AppendFormat("%s<%s name=\"%s\" type=\"%s\"/>\n", indent, kind, n.c_str(), t.c_str());
    }
    return Flush();
}

bool CSchemaXmlWriter::WriteComment(const char* text) {
    if (!IsOpen()) return false;
    AppendFormat("<!-- %s -->\n", text);
    return true;
}

bool CSchemaXmlWriter::OpenNamedElement(const char* tag, const char* name) {
    return OpenElement(tag, EscapeAttribute(name).c_str(), 0, 0, -1);
}

std::string EscapeAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            // A reader turns raw line breaks and tabs in attribute values
            // into blanks; references keep them.
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            case '\t': out += "&#9;"; break;
            default: out += c;
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

bool CommentOk(const std::string& comment) {
    return comment.empty() || IsWritableComment(comment);
}

}  // namespace

std::string CheckComments(const CEditModel& model) {
    for (const auto& t : model.Templates()) {
        if (t->elements.empty()) continue;  // not written
        if (!CommentOk(t->comment))
            return CommentRefusal(msg::Format("template \"%s\"", t->name.c_str()));
        for (const CEditElement& e : t->elements)
            if (!CommentOk(e.comment))
                return CommentRefusal(msg::Format("element \"%s\" of template \"%s\"",
                                                  e.name.c_str(), t->name.c_str()));
    }
    if (const CEditSchema* schema = model.CurrentSchema()) {
        for (const CEditElement& e : schema->elements)
            if (!CommentOk(e.comment))
                return CommentRefusal(msg::Format("element \"%s\"", e.name.c_str()));
    }
    return {};
}

namespace {

void WriteElements(CSchemaXmlWriter& w, const std::vector<CEditElement>& elements) {
    for (const CEditElement& e : elements) {
        if (!e.comment.empty()) w.WriteComment(e.comment.c_str());
        w.WriteMemberElement(e.kind.c_str(), e.name.c_str(), e.type.c_str(),
                             e.nrepetitions.c_str(), e.collapsed);
    }
}

}  // namespace

bool WriteSchemaFile(const CEditModel& model, std::string_view name, std::string_view id,
                     const std::string& path, std::string& error) {
    CSchemaXmlWriter w;
    if (!w.OpenFile(path.c_str())) {
        error = msg::Format("Error! File %s cannot be created", path.c_str());
        return false;
    }
    w.OpenSchemaElement(std::string(name).c_str(), std::string(id).c_str());
    for (const auto& en : model.Enumerations()) {
        if (en->items.empty()) continue;
        w.OpenNamedElement("Enum", en->name.c_str());
        for (const CEditEnumItem& item : en->items)
            w.WriteEnumItem(item.name.c_str(), item.id.c_str());
        w.CloseElement();
    }
    for (const auto& t : model.Templates()) {
        if (t->elements.empty()) continue;
        if (!t->comment.empty()) w.WriteComment(t->comment.c_str());
        w.OpenNamedElement("Template", t->name.c_str());
        WriteElements(w, t->elements);
        w.CloseElement();
    }
    if (const CEditSchema* schema = model.CurrentSchema()) WriteElements(w, schema->elements);
    w.CloseElement();
    if (!w.CloseFile()) {
        error = msg::Format("Error! File %s cannot be written", path.c_str());
        return false;
    }
    return true;
}

}  // namespace morvane
