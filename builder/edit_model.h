// CEditModel: everything the schema editor edits, shared by its four pages.
//
// The model owns all its records. Pages read and change it on the GUI
// thread only, so nothing is locked. Text fields have the fixed widths of
// the records below (the width counts the terminating zero); texts that do
// not fit are refused by FixedText and reported by the caller.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "builder/fixed_text.h"

namespace morvane {

class Configuration;

constexpr size_t kNameWidth = 50;         // names of members, templates, enumerations, items
constexpr size_t kRepetitionsWidth = 10;  // repetition count as text
constexpr size_t kKindWidth = 20;         // "Item", "Item_enum", "Structure"
constexpr size_t kEnumItemIdWidth = 10;   // enumeration item id as typed
constexpr size_t kSchemaIdWidth = 20;     // schema id as typed
constexpr size_t kPathWidth = 260;        // paths

// The three element kinds, in the order the editors offer them.
inline constexpr const char* kKindItem = "Item";
inline constexpr const char* kKindItemEnum = "Item_enum";
inline constexpr const char* kKindStructure = "Structure";

// What a schema file said about an element that no field of its page
// shows, kept so that a save writes it back in its place.
struct CKeptXml {
    // Comments before the element, in file order; for a member or a
    // template all but the last, which its comment field holds.
    std::vector<std::string> commentsBefore;
    // Attributes that no field holds, as name and value in file order.
    std::vector<std::pair<std::string, std::string>> attributes;
    // Comments after the element's last child, inside it.
    std::vector<std::string> commentsAtEnd;

    bool empty() const {
        return commentsBefore.empty() && attributes.empty() && commentsAtEnd.empty();
    }
};

// One member line of the schema or of a template.
struct CEditElement {
    FixedText<kNameWidth> name;
    FixedText<kRepetitionsWidth> nrepetitions{"1"};
    // The element name in the schema file. An element read from a file keeps
    // whatever element name the file has.
    FixedText<kKindWidth> kind;
    // For "Item" a primitive type, for "Item_enum" an enumeration, for
    // "Structure" a template.
    FixedText<kNameWidth> type;
    bool collapsed = false;  // meaningful for "Item" of type "char" only
    std::string comment;     // written on its own line before the element
    // False when the file gave no type (the parser reads "int" then); the
    // save leaves it out again while the type is still "int".
    bool typeGiven = true;
    // The visibility attribute as the file spelled it, written back while
    // collapsed still means what it meant; absent for a new element.
    std::optional<std::string> visibility;
    // The nrepetitions attribute as the file spelled it. The save takes it
    // back while the text is unchanged, also when it is no plain count
    // (the parser reads "" or "+3" too); a typed count must be plain.
    std::optional<std::string> fileRepetitions;
    // The members of a Structure of its own (after its template's), and
    // the children of any other element, as the file gave them.
    std::vector<CEditElement> members;
    CKeptXml kept;
};

// Fills e from texts typed on a page or read from a file. False, with
// message set to "Error! Size of field > max[%d]" for the first text that
// does not fit its field, and e partly filled.
bool AssignElement(CEditElement& e, std::string_view kind, std::string_view name,
                   std::string_view type, std::string_view nrepetitions, bool collapsed,
                   std::string comment, std::string& message);

// Where a template or enumeration read from a file stood among the
// schema's members: before the member of index position (the number of
// members read before it), and its place among the file's top elements.
// New ones have none and are written first.
struct CFilePlace {
    int position = -1;
    int sequence = -1;
};

struct CEditTemplate {
    FixedText<kNameWidth> name;
    std::string comment;
    std::vector<CEditElement> elements;
    CKeptXml kept;
    CFilePlace place;
};

struct CEditEnumItem {
    FixedText<kEnumItemIdWidth> id;  // as typed, not checked to be a number
    FixedText<kNameWidth> name;
    CKeptXml kept;
};

struct CEditEnum {
    FixedText<kNameWidth> name;
    std::vector<CEditEnumItem> items;
    CKeptXml kept;
    CFilePlace place;
};

struct CEditSchema {
    FixedText<kNameWidth> name;
    FixedText<kSchemaIdWidth> id;
    std::vector<CEditElement> elements;
    // The root's other attributes (nrepetitions, visibility, ...), the
    // comments before the root (commentsBefore) and those after its last
    // member (commentsAtEnd).
    CKeptXml kept;
    // Comments after the root element, at the end of the file.
    std::vector<std::string> commentsAfterRoot;
    // The root's element name; empty for "Schema".
    std::string rootTag;
};

// Inserts value before position (the first selected row of a list) or at
// the end when position is negative or past the end. Returns its index.
template <class T>
size_t InsertAt(std::vector<T>& list, int position, T value) {
    size_t at = list.size();
    if (position >= 0 && static_cast<size_t>(position) < list.size())
        at = static_cast<size_t>(position);
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(value));
    return at;
}

inline size_t InsertElement(std::vector<CEditElement>& elements, int position, CEditElement e) {
    return InsertAt(elements, position, std::move(e));
}

// Whether e has an item of exactly that name, or of exactly that id text
// ("1" and "01" differ).
bool HasItemNamed(const CEditEnum& e, std::string_view name);
bool HasItemWithId(const CEditEnum& e, std::string_view id);

// The id the Enumerations page proposes after an item with the id text id:
// its integer value plus one, where the value is read as atoi reads it
// (leading blanks, a sign, then digits; no number counts as 0).
long long NextEnumItemId(std::string_view id);

class CEditModel {
  public:
    // configuration: the process's configuration (directories for the save,
    // trace flag and logger binding); may be null in tests that do not save.
    // It must outlive the model.
    explicit CEditModel(Configuration* configuration = nullptr);
    CEditModel(const CEditModel&) = delete;
    CEditModel& operator=(const CEditModel&) = delete;

    Configuration* configuration() const { return configuration_; }

    // Enumerations, in order of loading or creation. The entries can be
    // changed through the pointers; adding and removing go through the
    // operations below so that the current enumeration stays valid.
    const std::vector<std::unique_ptr<CEditEnum>>& Enumerations() const { return enums_; }
    CEditEnum& AppendEnum(std::unique_ptr<CEditEnum> e);
    // Frees the entry at index; the current enumeration becomes none when it
    // was that entry.
    void RemoveEnum(size_t index);
    void ClearEnums();
    // Index of the first enumeration named exactly name, or -1.
    int FindEnum(std::string_view name) const;
    CEditEnum* CurrentEnum() const { return currentEnum_; }
    // e must be an entry of Enumerations() or null.
    void SetCurrentEnum(CEditEnum* e);

    // Templates: the same operations.
    const std::vector<std::unique_ptr<CEditTemplate>>& Templates() const { return templates_; }
    CEditTemplate& AppendTemplate(std::unique_ptr<CEditTemplate> t);
    void RemoveTemplate(size_t index);
    void ClearTemplates();
    int FindTemplate(std::string_view name) const;
    CEditTemplate* CurrentTemplate() const { return currentTemplate_; }
    void SetCurrentTemplate(CEditTemplate* t);

    // The current schema: at most one, or null.
    CEditSchema* CurrentSchema() const { return schema_.get(); }
    // Makes an empty current schema when there is none; returns it.
    CEditSchema& EnsureSchema();
    // Frees the current schema with its elements; clears newSchema.
    void DropSchema();

    // "New Schema": frees every enumeration, template and the schema; the
    // current references become none. The working directory stays.
    void Clear();

    // Every field of every record, one line each: two models with the same
    // snapshot save the same file.
    std::string Snapshot() const;
    // Takes the model as it is now as saved (after a save, a load into a
    // model without unsaved edits, or an explicit "No" to saving).
    void MarkSaved() { saved_ = Snapshot(); }
    // True when the model differs from what was last taken as saved.
    bool HasUnsavedEdits() const { return Snapshot() != saved_; }

    // The members that name the enumeration or template as their type, as
    // "name" for a member of the schema and "Template.name" for one of a
    // template, in save order.
    std::vector<std::string> MembersUsingEnum(std::string_view name) const;
    std::vector<std::string> MembersUsingTemplate(std::string_view name) const;

    // The directory whose schema files the General page lists.
    FixedText<kPathWidth> workingDirectory;
    // True while the current schema was made by "Add" on the Schema page and
    // has not been saved since.
    bool newSchema = false;

    // A schema file the model holds, with its bytes as last read or
    // written, so that a change made on disk since can be told.
    struct SourceFile {
        std::string path;
        std::string content;
    };
    // The files loaded since the last New Schema, or the one last saved.
    std::vector<SourceFile> sources;
    // What the loaded files held that a save cannot write back, one line
    // each ("text inside <Item name=\"x\">"), for the question before a save.
    std::vector<std::string> notKept;

  private:
    Configuration* configuration_;
    std::vector<std::unique_ptr<CEditEnum>> enums_;
    std::vector<std::unique_ptr<CEditTemplate>> templates_;
    std::unique_ptr<CEditSchema> schema_;
    CEditEnum* currentEnum_ = nullptr;
    CEditTemplate* currentTemplate_ = nullptr;
    std::string saved_;
};

}  // namespace morvane
