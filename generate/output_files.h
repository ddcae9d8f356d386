// Helpers shared by the generators: case conversion, output file paths, and
// generated files replaced whole.
#pragma once

#include <string>
#include <string_view>

#include "generate/file_set.h"

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

struct ReplaceResult {
    ReplaceFailure failure = ReplaceFailure::kNone;
    int error = 0;  // errno of the failing call
};

// Makes path a regular file holding exactly content, without logging:
// - nothing is done when path is a regular file (reached without following
//   a symbolic link) whose content is already identical, so its time stays;
// - otherwise content goes to a new locked temporary file in path's
//   directory, which is then renamed over path (a FileSet of one file,
//   generate/file_set.h): a symbolic link at path is replaced, never
//   followed, and a reader (or a process killed meanwhile) sees the old
//   file or the new one, never a mix.
// On failure path is untouched and the temporary removed.
ReplaceResult ReplaceFile(const std::string& path, std::string_view content);

// While one lives, ReplaceFile() on its thread stages each file in set
// (links replaced, never followed) instead of putting it in place: the
// caller commits them all, or none, with whatever else the set holds.
class StagedOutput {
  public:
    explicit StagedOutput(FileSet& set);
    ~StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

  private:
    FileSet* previous_;
};

// ReplaceFile() with its own error line: false after logging
// "Error! [%s] is not written [%s]\n" with path and the reason.
bool WriteFileIfChanged(const std::string& path, std::string_view content);

// ReplaceFile() for a generator, logging in its words: "Error! %s [%s] [%s]
// is not opened\n" (who, path, reason) when the file could not be created,
// "Error! %s [%s] is not written\n" when it could not be written.
bool WriteGeneratedFile(const char* who, const std::string& path, std::string_view content);

}  // namespace morvane
