#include "builder/schema_file_loader.h"

#include <cstring>
#include <memory>
#include <pugixml.hpp>
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
    CKeptXml rootKept;
    std::vector<std::string> commentsAfterRoot;
    std::vector<CEditElement> elements;
    std::vector<std::unique_ptr<CEditEnum>> enums;
    std::vector<std::unique_ptr<CEditTemplate>> templates;
    std::vector<std::string> notKept;
};

bool IsItemKind(std::string_view kind) { return kind == "Item" || kind == "Item_enum"; }

// An integer as the parser reads visibility of an item: leading blanks, a
// sign, digits up to the first other character; no digits read as 0.
long long ReadLeadingInteger(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9' && value < 1000000000; ++text)
        value = value * 10 + (*text - '0');
    return negative ? -value : value;
}

// The comments of a run of nodes before an element, and whether the last of
// them stands right before it (the one the parser attaches).
struct PendingComments {
    std::vector<std::string> texts;
    bool adjacent = false;

    void Add(pugi::xml_node c) {
        texts.push_back(TrimCommentBlanks(c.value()));
        adjacent = true;
    }
    // Hands the comments over to an element: the adjacent one to comment
    // when it takes one, the others to before.
    void TakeInto(std::vector<std::string>& before, std::string* comment) {
        if (comment != nullptr && adjacent && !texts.empty()) {
            *comment = std::move(texts.back());
            texts.pop_back();
        }
        before = std::move(texts);
        texts.clear();
        adjacent = false;
    }
};

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// "<Item name="x">" of e, for the list of what a save cannot keep.
std::string Describe(pugi::xml_node e) {
    std::string text = "<" + std::string(e.name());
    if (pugi::xml_attribute a = e.attribute("name")) text += " name=\"" + Shown(a.value()) + "\"";
    return text + ">";
}

class FileReader {
  public:
    explicit FileReader(const std::string& path) : path_(path) {}

    // The root's name and id, both present, and its other attributes. False
    // with message set when either is too long.
    bool ReadRoot(pugi::xml_node root, FileContents& out) {
        KeepAttributes(root, {"name", "id"}, out.rootKept);
        return TakeRequired(out.schemaName, root, "name") && TakeRequired(out.schemaId, root, "id");
    }

    // The comments before and after the root element.
    void ReadDocument(const pugi::xml_document& doc, FileContents& out) {
        bool afterRoot = false;
        for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
            if (n.type() == pugi::node_element) {
                afterRoot = true;
            } else if (n.type() == pugi::node_comment) {
                (afterRoot ? out.commentsAfterRoot : out.rootKept.commentsBefore)
                    .push_back(TrimCommentBlanks(n.value()));
            }
        }
    }

    // False with message set when the file is refused.
    bool ReadMembers(pugi::xml_node root, FileContents& out) {
        notKept_ = &out.notKept;
        PendingComments pending;
        int sequence = 0;
        for (pugi::xml_node e = root.first_child(); e; e = e.next_sibling()) {
            if (!IsElement(e, root, pending)) continue;
            std::string_view tag = e.name();
            const CFilePlace place{static_cast<int>(out.elements.size()), sequence++};
            bool ok = true;
            if (tag == "Enum") {
                ok = ReadEnum(e, out, pending, place);
            } else if (tag == "Template") {
                ok = ReadTemplate(e, out, pending, place);
            } else {
                CEditElement element;
                ok = ReadElement(e, element, pending);
                if (ok) out.elements.push_back(std::move(element));
            }
            if (!ok) return false;
        }
        pending.TakeInto(out.rootKept.commentsAtEnd, nullptr);
        return true;
    }

    const std::string& message() const { return message_; }

  private:
    // True for an element child; collects comments into pending and notes
    // text that a save would not write back.
    bool IsElement(pugi::xml_node n, pugi::xml_node parent, PendingComments& pending) {
        switch (n.type()) {
            case pugi::node_element:
                return true;
            case pugi::node_comment:
                pending.Add(n);
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                notKept_->push_back("the text \"" + Shown(Trimmed(n.value())) + "\" inside " +
                                    Describe(parent));
                pending.adjacent = false;
                break;
            default:
                pending.adjacent = false;
                break;
        }
        return false;
    }

    static void KeepAttributes(pugi::xml_node e, std::initializer_list<std::string_view> known,
                               CKeptXml& kept) {
        for (pugi::xml_attribute a = e.first_attribute(); a; a = a.next_attribute()) {
            bool isKnown = false;
            for (std::string_view k : known) isKnown = isKnown || k == a.name();
            if (!isKnown) kept.attributes.emplace_back(a.name(), a.value());
        }
    }

    bool Missing(pugi::xml_node e, const char* attribute) {
        message_ = msg::Format("Error! %s: <%s> has no attribute \"%s\"; the file is not loaded",
                               path_.c_str(), e.name(), attribute);
        return false;
    }

    template <size_t N>
    bool Take(FixedText<N>& field, pugi::xml_node e, const char* attribute,
              std::string_view value) {
        if (field.Assign(value)) return true;
        message_ = msg::SizeOfField(N,
                                    msg::Format("%s: %s=\"%s\" of <%s>", path_.c_str(), attribute,
                                                Shown(value).c_str(), e.name()),
                                    value) +
                   "; the file is not loaded";
        return false;
    }

    template <size_t N>
    bool TakeRequired(FixedText<N>& field, pugi::xml_node e, const char* attribute) {
        pugi::xml_attribute a = e.attribute(attribute);
        if (!a) return Missing(e, attribute);
        return Take(field, e, attribute, a.value());
    }

    bool ReadEnum(pugi::xml_node e, FileContents& out, PendingComments& comments,
                  const CFilePlace& place) {
        auto en = std::make_unique<CEditEnum>();
        comments.TakeInto(en->kept.commentsBefore, nullptr);
        en->place = place;
        KeepAttributes(e, {"name"}, en->kept);
        if (!TakeRequired(en->name, e, "name")) return false;
        PendingComments pending;
        for (pugi::xml_node i = e.first_child(); i; i = i.next_sibling()) {
            if (!IsElement(i, e, pending)) continue;
            CEditEnumItem item;
            pending.TakeInto(item.kept.commentsBefore, nullptr);
            KeepAttributes(i, {"name", "id"}, item.kept);
            if (!TakeRequired(item.name, i, "name") || !TakeRequired(item.id, i, "id"))
                return false;
            en->items.push_back(std::move(item));
        }
        pending.TakeInto(en->kept.commentsAtEnd, nullptr);
        out.enums.push_back(std::move(en));
        return true;
    }

    bool ReadTemplate(pugi::xml_node e, FileContents& out, PendingComments& comments,
                      const CFilePlace& place) {
        auto t = std::make_unique<CEditTemplate>();
        comments.TakeInto(t->kept.commentsBefore, &t->comment);
        t->place = place;
        KeepAttributes(e, {"name"}, t->kept);
        if (!TakeRequired(t->name, e, "name")) return false;
        if (!ReadChildren(e, t->elements, t->kept)) return false;
        out.templates.push_back(std::move(t));
        return true;
    }

    bool ReadChildren(pugi::xml_node e, std::vector<CEditElement>& members, CKeptXml& kept) {
        PendingComments pending;
        for (pugi::xml_node c = e.first_child(); c; c = c.next_sibling()) {
            if (!IsElement(c, e, pending)) continue;
            CEditElement element;
            if (!ReadElement(c, element, pending)) return false;
            members.push_back(std::move(element));
        }
        pending.TakeInto(kept.commentsAtEnd, nullptr);
        return true;
    }

    bool ReadElement(pugi::xml_node e, CEditElement& element, PendingComments& comments) {
        comments.TakeInto(element.kept.commentsBefore, &element.comment);
        if (!Take(element.kind, e, "element name", e.name())) return false;
        if (!TakeRequired(element.name, e, "name")) return false;
        pugi::xml_attribute type = e.attribute("type");
        element.typeGiven = static_cast<bool>(type);
        if (!Take(element.type, e, "type", type ? type.value() : "int")) return false;
        pugi::xml_attribute rep = e.attribute("nrepetitions");
        if (!Take(element.nrepetitions, e, "nrepetitions", rep ? rep.value() : "1")) return false;
        if (rep) element.fileRepetitions = rep.value();
        if (pugi::xml_attribute vis = e.attribute("visibility")) {
            element.visibility = vis.value();
            element.collapsed = IsHiddenBy(element.kind.view(), vis.value());
        }
        KeepAttributes(e, {"name", "type", "nrepetitions", "visibility"}, element.kept);
        return ReadChildren(e, element.members, element.kept);
    }

    const std::string& path_;
    std::string message_;
    std::vector<std::string>* notKept_ = nullptr;
};

}  // namespace

bool IsHiddenBy(std::string_view kind, const char* visibility) {
    if (IsItemKind(kind)) return ReadLeadingInteger(visibility) == 0;
    if (kind == kKindStructure) return *visibility != '\0' && std::strcmp(visibility, "1") != 0;
    return false;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    size_t size = 0;
    const int error = ReadRegularFile(
        path.c_str(),
        [&bytes](size_t n) {
            bytes.resize(n);
            return bytes.data();
        },
        size);
    if (error != 0) return false;
    bytes.resize(size);
    return true;
}

bool IsSchemaFileName(std::string_view fileName) {
    size_t dot = fileName.rfind('.');
    if (dot == 0) return false;
    std::string_view extension =
        dot == std::string_view::npos ? fileName : fileName.substr(dot + 1);
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
        return {LoadOutcome::kUnreadable,
                msg::Format(msg::kReadError, path.c_str(), error.c_str())};
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
    reader.ReadDocument(doc, contents);

    const bool first = model.CurrentSchema() == nullptr;
    CEditSchema& schema = model.EnsureSchema();
    schema.name = contents.schemaName;
    schema.id = contents.schemaId;
    if (first) {
        schema.kept = std::move(contents.rootKept);
        schema.commentsAfterRoot = std::move(contents.commentsAfterRoot);
        if (std::string_view(root.name()) != "Schema") schema.rootTag = root.name();
    }
    // Places count from the members already held, so that a second file's
    // declarations stay before its own members.
    const int before = static_cast<int>(schema.elements.size());
    const int sequenceBase =
        static_cast<int>(model.Enumerations().size() + model.Templates().size()) + before;
    for (CEditElement& e : contents.elements) schema.elements.push_back(std::move(e));
    for (auto& e : contents.enums) {
        e->place = {e->place.position + before, e->place.sequence + sequenceBase};
        model.AppendEnum(std::move(e));
    }
    for (auto& t : contents.templates) {
        t->place = {t->place.position + before, t->place.sequence + sequenceBase};
        model.AppendTemplate(std::move(t));
    }
    for (std::string& line : contents.notKept) model.notKept.push_back(std::move(line));
    std::string bytes;
    if (ReadWholeFile(path, bytes)) model.sources.push_back({path, std::move(bytes)});
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
                msg::SizeOfField(kPathWidth, "The path " + path, path)};

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
