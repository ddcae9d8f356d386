// Loading schema files for the commands, with every error as a diagnostic.
#pragma once

#include <memory>
#include <pugixml.hpp>
#include <string>

namespace morvane {

class Diagnostics;
class Schema;

// Reads, parses and lays out the schema file at path. Every error found is
// reported to diagnostics at its place in the file; the result is then
// null. doc receives the parsed document (kept for the caller's own checks
// of element places).
// headerChecks: the names of the header checks must be free too.
std::unique_ptr<Schema> LoadSchemaFile(const std::string& path, Diagnostics& diagnostics,
                                       pugi::xml_document& doc, bool headerChecks = false);

// The same, for commands that need the tree only.
std::unique_ptr<Schema> LoadSchemaFile(const std::string& path, Diagnostics& diagnostics);

}  // namespace morvane
