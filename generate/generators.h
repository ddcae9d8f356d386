// The files generated from laid-out schemas: the C header of a record, the
// empty XML data file with its value-name log, and the schema enumeration
// header of all loaded schemas.
//
// Generated file names are the schema's name in lower case ("PosRec" gives
// posrec.h and posrec.xml); the directory is used as given. A directory of
// null or "" means the current directory. A schema whose name cannot be a
// file name (empty, ".", "..", or holding a '/') is refused, so nothing is
// ever written outside the directory.
//
// Every generated file is put together in memory and then written whole
// (WriteGeneratedFile(), generate/output_files.h): a file whose content
// would not change is not touched, and a changed one is replaced through a
// temporary file, never written through a symbolic link or left half new.
//
// The generators keep the state of a run per thread and reset it at the
// end of every run, aborted ones included: several threads may generate
// the files of different schemas at once (LoadSchemaSet(),
// generate/schema_set.h).
#pragma once

#include <vector>

namespace morvane {

class Schema;

// Writes <directory>/<name>.h: a typedef struct per template, a typedef enum
// per enumeration and the record's typedef struct, wrapped in
// "#pragma pack(push, 1)" / "#pragma pack(pop)" so that a C compiler lays
// the structures out exactly as the packed record. A bool member is
// declared int (4 bytes), a text member (no bytes) is a comment line, a
// structure member with members of its own has a typedef of its own
// (OWNER_MEMBER), and "*/" and "/*" in comments are split by a blank
// (docs/generated-headers.md).
// False when
// - the schema has no Root members (nothing written);
// - the file cannot be created or written (an error line naming the path has
//   been logged);
// - the run was aborted by an enumeration inside a template (trace line
//   "error! ENUM inside TEMPLATE\n") or a member whose type has no C
//   declaration: the header is written cut off where the abort happened,
//   without its closing lines.
// With checks, the header also defines NAME_SIZE and NAME_FINGERPRINT and,
// under MORVANE_LAYOUT_CHECKS, asserts the sizeof and offsetof of every
// type and member (docs/generated-headers.md); without, it is as ever.
bool CreateIncludeFile(const Schema& schema, const char* directory, bool checks = false);

// Writes <directory>/<name>.xml, the empty XML data file of the record, and
// then the value-name log <directory>/<Name>.log, whose name keeps the
// schema's case: one line per value element or collapsed element.
// False, with nothing written, when the structures nest deeper than the
// writer allows; false when the data file cannot be created or written.
// An error line naming the path has been logged. A value-name log that
// cannot be written is logged but does not make the result false.
bool CreateEmptyXmlFile(const Schema& schema, const char* directory);

// Sorts schemas in place by ascending id (not stable) and writes
// <includeDirectory>/Schema_Enum.h, one enumerator per schema. False when the
// file cannot be created ("CreateSchemaEnumIncludeFile [%s] [%s] is not
// opened\n" has been logged) or cannot be written (an error line naming the
// path has been logged); the caller then ends the process.
bool CreateSchemaEnumIncludeFile(std::vector<Schema*>& schemas, const char* includeDirectory);

// The generation for one loaded schema, shared by Morvane and the editor:
// the layout report, then the empty XML data file, then the C header; a
// missing output directory is created first. Stops with false when the
// empty data file fails (no header is written then); otherwise the result
// is CreateIncludeFile()'s. Everything that failed has been logged.
bool GenerateSchemaFiles(const Schema& schema, const char* emptyXmlDirectory,
                         const char* includeDirectory, bool headerChecks = false);

}  // namespace morvane
