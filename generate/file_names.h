// Helpers shared by the generators: case conversion and output file paths.
#pragma once

#include <string>

namespace morvane {

// ASCII case conversion; other bytes are kept.
std::string ToLower(const std::string& text);
std::string ToUpper(const std::string& text);

// The path of a generated file: directory, '/', stem, extension (directory
// null or "" gives the bare file name). When lowerStem is set only the stem
// is lower-cased, never the directory. False, with an error line logged by
// who (the generator's name), when stem cannot be a file name: empty or
// holding a '/', which would place the file outside the directory.
bool GeneratedFilePath(const char* who, const char* directory, const std::string& stem,
                       const char* extension, bool lowerStem, std::string& path);

}  // namespace morvane
