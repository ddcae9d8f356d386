// The layout fingerprint: one 64-bit number that two programs compare to
// learn whether they lay a record out the same way.
#pragma once

#include <cstdint>
#include <string>

namespace morvane {

class Schema;

// FNV-1a 64 over the canonical description of schema's layout drawn in
// fingerprint.cpp: the record size and, for every layout member in tree
// order, its name, type code, offset, size, repetitions and visibility, an
// enumerated member with its enumeration's item values. Names of templates,
// enumerations and enumerators, comments and the schema's name and id do not
// enter, so a rename that changes no byte keeps the number. The same on
// every machine and run. A schema that is not loaded gives the fingerprint
// of an empty description.
uint64_t LayoutFingerprint(const Schema& schema);

// The fingerprint as the generated headers and `morvanec layout --json`
// write it: "0x" and sixteen lower-case hex digits.
std::string FingerprintText(uint64_t fingerprint);

}  // namespace morvane
