// One loaded schema file and the parser that builds and lays out its tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
    std::unique_ptr<CStructure> root;  // "Root", whose only member is the top structure
    void* printData = nullptr;
};

// Limits that keep a hostile schema from exhausting the stack or memory: a
// load fails when structures would nest more than kMaxNestingDepth levels
// (the top structure is level 1; expanded templates count) or when the tree
// would hold more than kMaxSchemaUnits units once templates are expanded.
// Walks over a loaded tree may therefore recurse once per level.
constexpr int kMaxNestingDepth = 256;
constexpr int32_t kMaxSchemaUnits = 1 << 21;

// Builds schema.root from doc (templates expanded, enumerations resolved,
// comments attached) and lays it out. Returns false when any error was
// found; every error has then been logged as a trace line. doc only has to
// live for the call. On failure schema.root is null (Top() gives null).
bool LoadSchema(Schema& schema, const pugi::xml_document& doc);

// Parses an XML file for LoadSchema() or the data reader: comments kept,
// documents nested deeper than kMaxXmlDepth refused. The file is opened
// without blocking and read only when the open descriptor shows a regular
// file. On failure returns false with a description in error; nothing is
// logged.
constexpr int kMaxXmlDepth = 256;
bool LoadXmlDocument(const char* path, pugi::xml_document& doc, std::string& error);

// The first template among the top structure's members named exactly name.
const CStructure* FindTemplate(const Schema& schema, const std::string& name);

// Writes the layout report of p (trace lines).
void PrintUnits(const CStructure& p);

}  // namespace morvane
