#include "morvanec/schema_file.h"

#include <vector>

#include "morvanec/diagnostics.h"
#include "schema/schema.h"

namespace morvane {

std::unique_ptr<Schema> LoadSchemaFile(const std::string& path, Diagnostics& diagnostics,
                                       pugi::xml_document& doc) {
    std::string error;
    if (!LoadXmlDocument(path.c_str(), doc, error)) {
        diagnostics.ErrorAt(path, -1, error);
        return nullptr;
    }
    auto schema = std::make_unique<Schema>();
    if (!LoadSchema(*schema, doc)) {
        diagnostics.ErrorAt(path, -1, "schema has errors");  // PRE-MERGE
        return nullptr;
    }
    return schema;
}

std::unique_ptr<Schema> LoadSchemaFile(const std::string& path, Diagnostics& diagnostics) {
    pugi::xml_document doc;
    return LoadSchemaFile(path, diagnostics, doc);
}

}  // namespace morvane
