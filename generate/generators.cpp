#include "generate/generators.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "generate/file_names.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {

std::string ToLower(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ToUpper(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool GeneratedFilePath(const char* who, const char* directory, const std::string& stem,
                       const char* extension, bool lowerStem, std::string& path) {
    if (stem.empty() || stem.find('/') != std::string::npos) {
        LogLine(true, "Error! %s: schema name [%s] cannot be a file name\n", who, stem.c_str());
        return false;
    }
    path.clear();
    if (directory != nullptr && directory[0] != '\0') {
        path = directory;
        path += '/';
    }
    path += lowerStem ? ToLower(stem) : stem;
    path += extension;
    return true;
}

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
                         const char* includeDirectory) {
    Trace("\n=========PrintUnits===============================\n");
    if (schema.root != nullptr) PrintUnits(*schema.root);

    Trace("\n=========CreateEmptyXmlFile=======================\n");
    if (!EnsureDirectory(emptyXmlDirectory)) return false;
    if (!CreateEmptyXmlFile(schema, emptyXmlDirectory)) return false;

    Trace("\n=========CreateIncludeFile========================\n");
    if (!EnsureDirectory(includeDirectory)) return false;
    return CreateIncludeFile(schema, includeDirectory);
}

}  // namespace morvane
