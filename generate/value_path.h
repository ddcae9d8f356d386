// Value paths: the label of one value of a record, built from the names of
// the member structures that hold it and the member's own name, for example
// "pos:x" or "pos:inner:flags[2]". Used by the value-name log of empty data
// files and towards the print-data plug-in.
//
// Repetition indexes of member structures are not part of a path, so every
// repetition of a member structure yields the same paths. Paths are never
// cut, whatever their length.
#pragma once

#include <cstdint>
#include <string>

namespace morvane {

class CStructure;

// The structure part of the paths of s's members: the names of s and of the
// structures above it that have a parent (the top structure and Root add
// nothing), outermost first, joined with ':'. Empty for the top structure.
std::string ValuePathPrefix(const CStructure& s);

// prefix (from ValuePathPrefix) joined with member by ':' ("%s:%s"), or the
// bare member name when prefix is empty.
std::string ValuePath(const std::string& prefix, const std::string& member);
// The same followed by "[index]" ("%s:%s[%d]" or "%s[%d]").
std::string ValuePath(const std::string& prefix, const std::string& member, int32_t index);

}  // namespace morvane
