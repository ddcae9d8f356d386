// Helpers of the schema tests: loading schema text and describing a loaded
// tree one line per unit, so that a whole layout compares as a table.
#pragma once

#include <string>
#include <vector>

#include "schema/schema.h"
#include "support/test_support.h"

namespace morvane::test {

// Parses xml (comments kept) and loads it into schema, with diagnostics
// when they are given.
bool LoadSchemaText(const std::string& xml, Schema& schema,
                    std::vector<SchemaDiagnostic>* diagnostics = nullptr);

// One line per unit from Root down, indented two blanks per level:
//   "<name> <type> @<offset> <size>x<nrepetitions>" then " hidden" for a
//   false visibility, " T=<templateName>", " ref=<enumeration>" and
//   " #<comment>" when set; an enumeration is "<name> enum {A=1,B=2}".
// The first line is "schema <name> id=<id> size=<size>".
std::vector<std::string> DescribeSchema(const Schema& schema);

// text cut after each line end; a last line without one is kept too.
std::vector<std::string> SplitLines(const std::string& text);

// A schema "Big" of n int members f0..f(n-1), without its end tag.
std::string ManyMembers(int n);

// log holds more than one and fewer than most calls, each of whole lines.
void ExpectBatchesOfWholeLines(const LogRecorder& log, size_t most);

// The logged lines that begin with "Error", wherever a call carrying
// several lines holds them.
std::vector<std::string> ErrorLines(const LogRecorder& log);

// Identity values masked, so that traces compare across runs: "0x<hex>"
// becomes "0xID" and the "pstructure=0<hex>" of template lines
// "pstructure=0ID".
std::string MaskIdentities(const std::string& text);

}  // namespace morvane::test
