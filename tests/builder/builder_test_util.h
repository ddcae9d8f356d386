// Helpers shared by the builder's model tests.
#pragma once

#include <string>

#include "builder/edit_model.h"

namespace morvane::test {

// An element made from texts that fit their fields.
CEditElement Element(const std::string& kind, const std::string& name, const std::string& type,
                     const std::string& nrepetitions = "1", bool collapsed = false,
                     const std::string& comment = "");

// A model that holds one enumeration with the items given as "name=id".
CEditEnum& AddEnum(CEditModel& model, const std::string& name,
                   std::initializer_list<std::pair<const char*, const char*>> items);
CEditTemplate& AddTemplate(CEditModel& model, const std::string& name, const std::string& comment,
                           std::initializer_list<CEditElement> elements);

// One line per field of every record of the model, for comparing models;
// the places of declarations in their file left out.
std::string Dump(const CEditModel& model);

}  // namespace morvane::test
