#include "morvanec/schema_file.h"

#include <vector>

#include "morvanec/diagnostics.h"
#include "schema/name_check.h"
#include "schema/schema.h"

namespace morvane {

std::unique_ptr<Schema> LoadSchemaFile(const std::string& path, Diagnostics& diagnostics,
                                       pugi::xml_document& doc, bool headerChecks) {
    std::string error;
    std::ptrdiff_t errorOffset = -1;
    if (!LoadXmlDocument(path.c_str(), doc, error, &errorOffset)) {
        diagnostics.ErrorAt(path, errorOffset, error);
        return nullptr;
    }
    auto schema = std::make_unique<Schema>();
    std::vector<SchemaDiagnostic> errors;
    if (!LoadSchema(*schema, doc, &errors) || !AcceptSchemaNames(*schema, NameCheckOptions{headerChecks}, &errors)) {
        for (const SchemaDiagnostic& e : errors) diagnostics.ErrorAt(path, e.offset, e.text);
        // A load that fails says why; should one not, the file still fails.
        if (errors.empty()) diagnostics.ErrorAt(path, -1, "the schema cannot be loaded");
        return nullptr;
    }
    return schema;
}

std::unique_ptr<Schema> LoadSchemaFile(const std::string& path, Diagnostics& diagnostics) {
    pugi::xml_document doc;
    return LoadSchemaFile(path, diagnostics, doc);
}

}  // namespace morvane
