#include "generate/generators.h"

#include <filesystem>
#include <system_error>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {

namespace {

// An existence test as for the other directories of the configuration: a
// path that exists as a file is left alone, and creating the file in it
// fails later with its own message.
bool EnsureDirectory(const char* directory) {
    if (directory == nullptr || directory[0] == '\0') return true;
    std::error_code ec;
    if (std::filesystem::exists(directory, ec)) return true;
    if (std::filesystem::create_directories(directory, ec) || !ec) return true;
    LogLine(true, "Error! directory [%s] cannot be created [%s]\n", directory,
            ec.message().c_str());
    return false;
}

}  // namespace

bool GenerateSchemaFiles(const Schema& schema, const char* emptyXmlDirectory,
                         const char* includeDirectory, bool headerChecks) {
    Trace("\n=========PrintUnits===============================\n");
    if (schema.root != nullptr) PrintUnits(*schema.root);

    Trace("\n=========CreateEmptyXmlFile=======================\n");
    if (!EnsureDirectory(emptyXmlDirectory)) return false;
    if (!CreateEmptyXmlFile(schema, emptyXmlDirectory)) return false;

    Trace("\n=========CreateIncludeFile========================\n");
    if (!EnsureDirectory(includeDirectory)) return false;
    return CreateIncludeFile(schema, includeDirectory, headerChecks);
}

}  // namespace morvane
