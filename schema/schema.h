// One loaded schema file and the parser that builds and lays out its tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "schema/unit.h"

namespace morvane {

class Schema {
  public:
    // printData: the print-data plug-in's handle, may be null; kept for the
    // schema's life and never released here.
    explicit Schema(void* printData = nullptr) : printData(printData) {}

    // The top structure (the record); null before a successful load.
    CStructure* Top() const;
    // The record's size in bytes: the top structure's size, 0 before a load.
    int32_t Size() const;
    // True when unit is this schema's Root node. The root is recognised by
    // identity, so a schema may itself be called "Root".
    bool IsRoot(const Unit* unit) const { return unit != nullptr && unit == root.get(); }

    std::string name;
    int32_t id = 0;
    // Fields of the record, every repetition counted (at most
    // kMaxRecordFields): the value lines a data file of the schema holds.
    int64_t fields = 0;
    std::unique_ptr<CStructure> root;  // "Root", whose only member is the top structure
    void* printData = nullptr;
    // What the data writer derives from the loaded tree once and keeps for
    // the schema's later records (the fixed text of its record element);
    // made on first use under the writer's own lock, so that records of
    // one schema written on several threads share it.
    mutable std::shared_ptr<const void> writerCache;
    // What the data reader derives from the tree once for reading the
    // schema's records (see data_reader.cpp), made on first use under the
    // reader's own lock, so that reads on several threads share it.
    mutable std::shared_ptr<void> readerCache;
};

// Limits that keep a hostile schema from exhausting the stack, memory or
// disk: a load fails when structures would nest more than kMaxNestingDepth
// levels (the top structure is level 1; expanded templates count), when the
// tree would hold more than kMaxSchemaUnits units once templates are
// expanded (a repetition costs no unit), or when the record would have more
// than kMaxRecordFields fields: every repetition of an item or of a member
// structure is one, and a structure's members count once per repetition of
// it. The fields bound the data files, which write each of them. Walks over
// a loaded tree may therefore recurse once per level.
constexpr int kMaxNestingDepth = 256;
constexpr int32_t kMaxSchemaUnits = 1 << 21;
constexpr int32_t kMaxRecordFields = 1 << 21;

// Builds schema.root from doc (templates expanded, enumerations resolved,
// comments attached) and lays it out. Returns false when any error was
// found; every error has then been logged as a trace line. doc only has to
// live for the call. On failure schema.root is null (Top() gives null).
bool LoadSchema(Schema& schema, const pugi::xml_document& doc);

// One error found while loading a schema: the parser's own error text without
// its line end, and where it is: the byte offset into the XML text of the
// element (or the XML error) it concerns, as pugixml reports it
// (xml_node::offset_debug(), xml_parse_result::offset); -1 when unknown.
struct SchemaDiagnostic {
    std::ptrdiff_t offset = -1;
    std::string text;
};

// As LoadSchema(schema, doc); also appends every error it finds, in order, to
// *diagnostics when that is not null. The trace lines it logs do not change:
// where an error ends the members of a structure, the members after it are
// still parsed, without trace lines, so that their errors are found too.
bool LoadSchema(Schema& schema, const pugi::xml_document& doc,
                std::vector<SchemaDiagnostic>* diagnostics);

// Parses an XML file for LoadSchema() or the data reader: comments kept,
// documents nested deeper than kMaxXmlDepth refused. The file is opened
// without blocking and read only when the open descriptor shows a regular
// file. On failure returns false with a description in error and, when
// errorOffset is not null, the byte offset of the error in *errorOffset (-1
// when unknown); nothing is
// logged.
constexpr int kMaxXmlDepth = 256;
bool LoadXmlDocument(const char* path, pugi::xml_document& doc, std::string& error,
                     std::ptrdiff_t* errorOffset = nullptr);

// The deepest element nesting below node, node itself being at level (a
// document at 0, so that its document element is at 1). Walks without
// recursion, so any nesting pugixml accepted can be measured; stops as soon
// as limit is passed, with that element in *beyond when beyond is not null.
int XmlElementDepth(pugi::xml_node node, int level, int limit, pugi::xml_node* beyond = nullptr);

// Reads the regular file at path whole, up to its size when opened (a file
// cut shorter meanwhile ends early), into memory from reserve(size) (size
// bytes or more, owned by the caller). The file is opened without blocking
// and checked on the open descriptor, so a FIFO or device put in its place
// is refused rather than waited on. Returns 0, or the errno of the failure:
// EINVAL when it is not a regular file, ENOMEM when reserve gave null.
int ReadRegularFile(const char* path, const std::function<char*(size_t)>& reserve,
                    size_t& size);

// 1-based line and column of byte offset in the file at path (reads the
// file); false when the file cannot be read or the offset is beyond it. The
// column counts bytes, as the offsets do.
bool LineColumnAt(const char* path, std::ptrdiff_t offset, int& line, int& column);

// The first template among the top structure's members named exactly name.
const CStructure* FindTemplate(const Schema& schema, const std::string& name);

// Writes the layout report of p (trace lines).
void PrintUnits(const CStructure& p);

}  // namespace morvane
