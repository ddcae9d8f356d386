// The schema files of tests/generate/schemas and the expected files of
// tests/generate/golden.
#pragma once

#include <memory>
#include <string>

#include "schema/schema.h"

namespace morvane::test {

// Loads and lays out schemas/<file>; null (with a test failure added) when
// the file does not load.
std::unique_ptr<Schema> LoadTestSchema(const std::string& file);

// The text of golden/<file>.
std::string Golden(const std::string& file);

}  // namespace morvane::test
