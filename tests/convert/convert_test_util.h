// Schemas and records shared by the conversion tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "schema/schema.h"

namespace morvane::test {

// Loads a schema from schema-file text or from a file; adds a test failure
// and returns null when it does not load.
std::unique_ptr<Schema> SchemaFromText(const std::string& xml);
std::unique_ptr<Schema> SchemaFromFile(const std::string& path);

// The example schema PosRec (examples/Schemas): count, flags (4 chars,
// collapsed), mode (enumeration Mode) and two repetitions of pos (template
// Point: x, y); 28 bytes.
std::unique_ptr<Schema> PosRecSchema();

// The PosRec record of the worked example: count 5, mode 1 (ON), pos 0 at
// (1, 2) and pos 1 at (3, 4), flags zero.
std::vector<uint8_t> PosRecRecord();

// A schema of one member of every type code (AllTypes, 49 bytes), and one
// of every member form (Forms, 21 bytes): visible, collapsed and zero
// repetitions, a single hidden member, text, repeated enumeration values
// and structures inside structures.
extern const char kAllTypesXsd[];
extern const char kFormsXsd[];

// "01 ff 00": bytes as text, for readable comparisons.
std::string Hex(const uint8_t* bytes, size_t count);
inline std::string Hex(const std::vector<uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }

// Joins lines, each followed by '\n'.
std::string Lines(const std::vector<std::string>& lines);

// A test name made of a table row's title: letters and digits kept, every
// other run of characters one '_'.
std::string NameOf(const char* title);
template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return NameOf(info.param.title);
}

}  // namespace morvane::test
