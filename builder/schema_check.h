// The checks a save makes before it writes anything: every name the file
// gives the C header must be a C identifier, and every number must be one.
#pragma once

#include <string>
#include <string_view>

#include "schema/name_check.h"

namespace morvane {

class CEditModel;

// Decimal digits only, at least one.
bool IsNonNegativeInteger(std::string_view text);

// The first field of what the save would write that cannot compile, as a
// message naming the field and its text; empty when all are sound. Checked:
// the schema name and id (the Schema page's fields), the names of written
// enumerations and their items, item ids, the names of written templates,
// and the names and NRepetitions of the members of those templates and of
// the schema.
std::string CheckForSave(const CEditModel& model, std::string_view name, std::string_view id);

}  // namespace morvane
