// The Schema page's "Save schema": writes the edit model as a schema file
// in the configured schema directory, reads it back with the schema parser
// and runs the same per-schema generation as Morvane (layout report, empty
// XML data file, C header).
//
// A save is all or nothing: the file's text is compiled first, then the
// schema file and every generated file are staged as temporaries (a
// FileSet, generate/file_set.h) and only then renamed into place; a failure
// part way restores the files already replaced. A schema file that is a
// symbolic link stays one (its target is replaced) and keeps its mode. On
// any failure every file is as it was and the message names the file and
// the system's reason.
#pragma once

#include <string>
#include <string_view>

namespace morvane {

class CEditModel;
class CUserDialogs;

// How a save ended. The page ignores it; tests read it.
enum class SaveOutcome {
    kNoSchema,      // "Schema is not created!"
    kNameEmpty,     // "Error! name of schema is empty!"
    kRefused,       // a field too long or not compilable, a comment XML cannot hold, a
                    // target outside the schema directory, or a name or id another
                    // schema file uses; nothing written
    kDeclined,      // the user answered No or dismissed Change File Name; nothing written
    kNotWritten,    // the file could not be written or renamed over the target
    kUnreadable,    // the text written cannot be parsed back as XML (shown)
    kNotCompiled,   // written and read back, but the parser refused it (shown)
    kNotGenerated,  // compiled, but the header or empty XML data file failed (shown)
    kSaved,         // written, compiled and generated; "Schema created successfully!"
};

// Saves the model's current schema with the texts of the Schema page's Name
// and Id fields. Every outcome the user must know of is shown through
// dialogs; the model is never changed, except that a successful save clears
// its new-schema flag and takes the model as saved. model.configuration()
// gives the schema directory (created when missing) and the output
// directories of the generation; without one nothing is written
// (kNotWritten, shown).
SaveOutcome SaveSchema(CEditModel& model, std::string_view nameField, std::string_view idField,
                       CUserDialogs& dialogs);

// The smallest id from 1 up that no schema file of directory uses: the id a
// new schema is proposed.
int SmallestFreeSchemaId(const std::string& directory);

// The path a text typed into "Change File Name" stands for: a bare name is
// <directory>/<name>.xsd, a relative path is taken from directory, and
// ".xsd" is appended to a file name without it. False, with error set, when
// the text is empty or the file would not lie directly in directory (which
// must exist).
bool ResolveSchemaPath(const std::string& directory, const std::string& text, std::string& path,
                       std::string& error);

}  // namespace morvane
