// Helpers shared by the generators: case conversion, output file paths, and
// files rewritten in place.
#pragma once

#include <cstdio>
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

// Opens path for writing, creating it when missing. An existing file is not
// truncated here but overwritten from its start and cut to the new length
// by CloseReplaced(): ext4 forces a write-back of every file that is
// truncated to zero and written again, which made regenerating a few
// thousand files take seconds instead of milliseconds. Null (errno set) on
// failure.
std::FILE* OpenReplaced(const std::string& path);

// Cuts the file to what was written through it and closes it. False when any
// write, the cut or the close failed; the file is closed all the same.
bool CloseReplaced(std::FILE* file);

}  // namespace morvane
