#include "builder/schema_file_loader.h"

#include <pugixml.hpp>

#include <memory>
#include <utility>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

// Long texts are shown only by their start in a message.
constexpr size_t kShownTextLength = 60;

std::string Shown(std::string_view text) {
    if (text.size() <= kShownTextLength) return std::string(text);
    return std::string(text.substr(0, kShownTextLength)) + "...";
}

// What one file holds, collected before anything reaches the model.
struct FileContents {
    FixedText<kNameWidth> schemaName;
    FixedText<kSchemaIdWidth> schemaId;
    std::vector<CEditElement> elements;
    std::vector<std::unique_ptr<CEditEnum>> enums;
    std::vector<std::unique_ptr<CEditTemplate>> templates;
};

class FileReader {
  public:
    explicit FileReader(const std::string& path) : path_(path) {}

    // The root's name and id, both present. False with message set when
    // either is too long.
    bool ReadRoot(pugi::xml_node root, FileContents& out) {
        return TakeRequired(out.schemaName, root, "name") && TakeRequired(out.schemaId, root, "id");
    }

    // False with message set when the file is refused.
    bool ReadMembers(pugi::xml_node root, FileContents& out) {
        for (pugi::xml_node e = root.first_child(); e; e = e.next_sibling()) {
            if (e.type() != pugi::node_element) continue;
            std::string_view tag = e.name();
            bool ok = true;
            if (tag == "Enum") {
                ok = ReadEnum(e, out);
            } else if (tag == "Template") {
                ok = ReadTemplate(e, out);
            } else {
                CEditElement element;
                ok = ReadElement(e, element);
                if (ok) out.elements.push_back(std::move(element));
            }
            if (!ok) return false;
        }
        return true;
    }

    const std::string& message() const { return message_; }

  private:
    // The text of the comment node right before e, or empty.
    static std::string PendingComment(pugi::xml_node e) {
        pugi::xml_node before = e.previous_sibling();
        if (before.type() != pugi::node_comment) return {};
        return TrimCommentBlanks(before.value());
    }

    bool Missing(pugi::xml_node e, const char* attribute) {
        message_ = msg::Format("Error! %s: <%s> has no attribute \"%s\"; the file is not loaded",
                               path_.c_str(), e.name(), attribute);
        return false;
    }

    template <size_t N>
    bool Take(FixedText<N>& field, pugi::xml_node e, const char* attribute, std::string_view value) {
        if (field.Assign(value)) return true;
        message_ = msg::SizeOfField(N) +
                   msg::Format("\n%s: %s=\"%s\" of <%s> is too long; the file is not loaded",
                               path_.c_str(), attribute, Shown(value).c_str(), e.name());
        return false;
    }

    template <size_t N>
    bool TakeRequired(FixedText<N>& field, pugi::xml_node e, const char* attribute) {
        pugi::xml_attribute a = e.attribute(attribute);
        if (!a) return Missing(e, attribute);
        return Take(field, e, attribute, a.value());
    }

    bool ReadEnum(pugi::xml_node e, FileContents& out) {
        auto en = std::make_unique<CEditEnum>();
        if (!TakeRequired(en->name, e, "name")) return false;
        for (pugi::xml_node i = e.first_child(); i; i = i.next_sibling()) {
            if (i.type() != pugi::node_element) continue;
            CEditEnumItem item;
            if (!TakeRequired(item.name, i, "name") || !TakeRequired(item.id, i, "id"))
                return false;
            en->items.push_back(item);
        }
        out.enums.push_back(std::move(en));
        return true;
    }

    bool ReadTemplate(pugi::xml_node e, FileContents& out) {
        auto t = std::make_unique<CEditTemplate>();
        if (!TakeRequired(t->name, e, "name")) return false;
        t->comment = PendingComment(e);
        for (pugi::xml_node c = e.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element) continue;
            CEditElement element;
            if (!ReadElement(c, element)) return false;
            t->elements.push_back(std::move(element));
        }
        out.templates.push_back(std::move(t));
        return true;
    }

    bool ReadElement(pugi::xml_node e, CEditElement& element) {
        if (!Take(element.kind, e, "element name", e.name())) return false;
        if (!TakeRequired(element.name, e, "name")) return false;
        pugi::xml_attribute type = e.attribute("type");
        if (!Take(element.type, e, "type", type ? type.value() : "int")) return false;
        pugi::xml_attribute rep = e.attribute("nrepetitions");
        if (!Take(element.nrepetitions, e, "nrepetitions", rep ? rep.value() : "1")) return false;
        pugi::xml_attribute vis = e.attribute("visibility");
        element.collapsed = vis && std::string_view(vis.value()) == "0";
        element.comment = PendingComment(e);
        return true;
    }

    const std::string& path_;
    std::string message_;
};

}  // namespace

bool IsSchemaFileName(std::string_view fileName) {
    size_t dot = fileName.rfind('.');
    if (dot == 0) return false;
    std::string_view extension = dot == std::string_view::npos ? fileName : fileName.substr(dot + 1);
    return extension == "xsd";
}

bool IsAlreadyLoaded(const std::vector<std::string>& loadedPaths, std::string_view fileName) {
    for (const std::string& path : loadedPaths)
        if (path.find(fileName) != std::string::npos) return true;
    return false;
}

std::string TrimCommentBlanks(std::string_view text) {
    if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

LoadResult LoadSchemaFile(CEditModel& model, const std::string& path) {
    pugi::xml_document doc;
    std::string error;
    if (!LoadXmlDocument(path.c_str(), doc, error)) {
        LogLine(true, msg::kReadErrorLog, path.c_str(), error.c_str());
        return {LoadOutcome::kUnreadable, msg::Format(msg::kReadError, path.c_str(), error.c_str())};
    }
    pugi::xml_node root = doc.document_element();
    if (!root) return {LoadOutcome::kNoRoot, {}};
    pugi::xml_attribute name = root.attribute("name");
    pugi::xml_attribute id = root.attribute("id");
    if (!name || !id) return {LoadOutcome::kRootAttributesAbsent, msg::kRootAttributesAbsent};

    FileReader reader(path);
    FileContents contents;
    if (!reader.ReadRoot(root, contents) || !reader.ReadMembers(root, contents))
        return {LoadOutcome::kRefused, reader.message()};

    CEditSchema& schema = model.EnsureSchema();
    schema.name = contents.schemaName;
    schema.id = contents.schemaId;
    for (CEditElement& e : contents.elements) schema.elements.push_back(std::move(e));
    for (auto& e : contents.enums) model.AppendEnum(std::move(e));
    for (auto& t : contents.templates) model.AppendTemplate(std::move(t));
    return {LoadOutcome::kLoaded, {}};
}

LoadResult LoadSelectedFile(CEditModel& model, std::vector<std::string>& loadedPaths,
                            std::string_view fileName) {
    if (!IsSchemaFileName(fileName)) return {LoadOutcome::kNotSchema, msg::kNotSchema};
    if (IsAlreadyLoaded(loadedPaths, fileName))
        return {LoadOutcome::kAlreadyLoaded, msg::kAlreadyLoaded};

    std::string path = model.workingDirectory.str() + "/" + std::string(fileName);
    if (!FixedText<kPathWidth>::Fits(path))
        return {LoadOutcome::kRefused,
                msg::SizeOfField(kPathWidth) + msg::Format("\n%s", path.c_str())};

    LoadResult result = LoadSchemaFile(model, path);
    switch (result.outcome) {
        case LoadOutcome::kLoaded:
        case LoadOutcome::kNoRoot:
        case LoadOutcome::kRootAttributesAbsent:
            loadedPaths.push_back(path);
            break;
        default:
            break;
    }
    return result;
}

}  // namespace morvane
