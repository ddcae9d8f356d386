// The Schema page's "Save schema": writes the edit model as a schema file
// in the configured schema directory, reads it back with the schema parser
// and runs the same per-schema generation as Morvane (layout report, empty
// XML data file, C header).
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
    kRefused,       // a field too long, a bad name or an unwritable comment; nothing written
    kDeclined,      // the file exists and the user answered No; nothing written
    kNotWritten,    // the file could not be created or written
    kUnreadable,    // written, but the read-back failed (logged and shown)
    kNotCompiled,   // written and read back, but the parser refused it (shown)
    kSaved,         // written, compiled and generated; "Schema created successfully!"
};

// Saves the model's current schema with the texts of the Schema page's Name
// and Id fields. Every outcome the user must know of is shown through
// dialogs; the model is never changed, except that a successful save clears
// its new-schema flag. model.configuration() gives the schema directory
// (created when missing) and the output directories of the generation;
// without one nothing is written (kNotWritten, shown).
SaveOutcome SaveSchema(CEditModel& model, std::string_view nameField, std::string_view idField,
                       CUserDialogs& dialogs);

}  // namespace morvane
