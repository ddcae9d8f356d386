// Loading schema files into the edit model, as the General page does on a
// double click in its file list. Free of widgets: the page shows the
// message and the lists, this code decides what they become.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class CEditModel;

enum class LoadOutcome {
    kLoaded,                // name, id, members, enumerations and templates taken over
    kNotSchema,             // the name's extension is not "xsd"
    kAlreadyLoaded,         // the name is part of a loaded path
    kRefused,               // a text too long for its field or a required attribute missing
    kUnreadable,            // the file cannot be read or parsed as XML
    kNoRoot,                // the document holds no element
    kRootAttributesAbsent,  // the root lacks name or id
};

struct LoadResult {
    LoadOutcome outcome = LoadOutcome::kLoaded;
    // The text to show; empty where nothing is shown (kLoaded, kNoRoot).
    std::string message;
};

// True when fileName's text after its last '.' is exactly "xsd" and the
// name does not begin with that '.'.
bool IsSchemaFileName(std::string_view fileName);

// True when any loaded path contains fileName anywhere. This is a substring
// test on purpose: a name that is the tail of any loaded path counts.
bool IsAlreadyLoaded(const std::vector<std::string>& loadedPaths, std::string_view fileName);

// A comment is written as "<!-- %s -->"; reading it back removes exactly one
// blank from each end where there is one, so an unchanged comment survives
// any number of load-and-save cycles.
std::string TrimCommentBlanks(std::string_view text);

// Whether a member of element kind kind whose visibility attribute reads
// visibility is hidden, as the parser reads it: an item when the number
// the text starts with is 0 ("0", "no", "false"), a Structure for any text
// but "" and "1".
bool IsHiddenBy(std::string_view kind, const char* visibility);

// The bytes of the file at path; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Reads the schema file at path into model. Nothing in model changes
// unless the result is kLoaded: a file is checked whole before anything is
// taken over. Everything the file says is kept: comments anywhere, the
// attributes no field shows, the members of a Structure of its own and
// where each declaration stood; text that a save cannot write back is
// listed in model.notKept, and the file with its bytes joins model.sources.
// Names longer than the record fields are refused, as are Enum,
// Template and member elements without a name and enumeration items
// without an id. On kUnreadable the read error is also logged.
LoadResult LoadSchemaFile(CEditModel& model, const std::string& path);

// The whole double-click step for the file fileName of the model's working
// directory: checks the name, refuses a file already loaded, loads it and
// appends its full path to loadedPaths where the page lists it (also when
// its root turns out to be missing or incomplete, but not when it cannot
// be read or is refused).
LoadResult LoadSelectedFile(CEditModel& model, std::vector<std::string>& loadedPaths,
                            std::string_view fileName);

}  // namespace morvane
