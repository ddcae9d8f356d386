// The names of a loaded schema against C and the headers made from it.
//
// One checker serves every program: Morvane and morvanec refuse at load a
// schema whose C header would not compile, and the schema editor refuses to
// save one that breaks any rule below. Within one schema:
//   - member names are unique within each structure the header declares;
//   - enumerators are unique across the header;
//   - type names (templates, enumerations, the record, structures with
//     members of their own, and the macros of header checks) are unique
//     after upper-casing, and no enumerator is also a type or macro name;
//   - names are C identifiers, not C keywords, and not reserved in C (a
//     leading double underscore, or an underscore and a capital).
// Ids are texts in the file, gone from the loaded tree; IsPlainDecimal()
// is the rule for them.
#pragma once

#include <unordered_map>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class CStructure;
class Schema;
class Unit;
struct SchemaDiagnostic;

// How the C header sees the structures of a loaded schema: the blocks it
// declares and their type names. The header generator and the checker
// both go by it.
class HeaderShape {
  public:
    explicit HeaderShape(const Schema& schema);

    // The template of a structure member made from a Structure element, or null.
    const CStructure* TemplateOf(const CStructure& s) const;
    // The members a block declares for s: a template's or the record's own,
    // or for a structure member with members of its own, its template's
    // followed by those (its first members are copies of the template's,
    // which carry the comment current when they were copied rather than the
    // template's).
    std::vector<const Unit*> BlockMembers(const CStructure& s) const;
    // A structure member that holds more than its template's members.
    bool HasMembersOfItsOwn(const Unit& member) const;
    // The typedef name of a template, of the record, or of a structure
    // member with members of its own: that of the structure it was declared
    // in, '_', its own name, in upper case.
    static std::string TypeName(const CStructure& s);

  private:
    // The top structure's templates by name, the first of a name winning as
    // in FindTemplate().
    std::unordered_map<std::string, const CStructure*> templates_;
};

// text with a-z in capitals.
std::string UpperCase(std::string_view text);

struct NameCheckOptions {
    // The header also defines <NAME>_SIZE, <NAME>_FINGERPRINT and, under
    // MORVANE_LAYOUT_CHECKS, <NAME>_LAYOUT_ASSERT (NAME the record's name in
    // capitals); those names join the type names.
    bool headerChecks = false;
};

struct NameProblem {
    // What is wrong, naming the field and the clash, without a line end.
    std::string text;
    // True when the generated header would not compile because of it. A
    // reserved name compiles with every compiler at hand; it is a problem the
    // editor refuses, not one that stops a load.
    bool breaksHeader = true;
};

// Every problem of schema (loaded), in the order of the header.
std::vector<NameProblem> CheckSchemaNames(const Schema& schema, const NameCheckOptions& options);

// The check of a load: every problem that would stop the header from
// compiling is logged as a trace line, as the parser logs its errors, and
// appended to *diagnostics when that is not null. True when there is none.
bool AcceptSchemaNames(const Schema& schema, const NameCheckOptions& options,
                       std::vector<SchemaDiagnostic>* diagnostics);

// [A-Za-z_][A-Za-z0-9_]*.
bool IsCIdentifierSyntax(std::string_view text);
// A keyword of C11 ("int", "_Bool", ...).
bool IsCKeyword(std::string_view text);
// A leading double underscore, or an underscore followed by a capital.
bool IsReservedCName(std::string_view text);
// A C identifier that is neither a keyword nor reserved.
bool IsCIdentifier(std::string_view text);
// An optional '-' and decimal digits without a needless leading zero: "0",
// "7", "-12"; not "", "-", "+5", "007", "-0".
bool IsPlainDecimal(std::string_view text);

}  // namespace morvane
