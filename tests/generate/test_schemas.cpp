#include "test_schemas.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace morvane::test {

std::unique_ptr<Schema> LoadTestSchema(const std::string& file) {
    const std::string path = TestDataDir() + "/generate/schemas/" + file;
    pugi::xml_document doc;
    std::string error;
    if (!LoadXmlDocument(path.c_str(), doc, error)) {
        ADD_FAILURE() << file << ": " << error;
        return nullptr;
    }
    auto schema = std::make_unique<Schema>();
    if (!LoadSchema(*schema, doc)) {
        ADD_FAILURE() << file << " does not load";
        return nullptr;
    }
    return schema;
}

std::string Golden(const std::string& file) {
    return ReadFile(TestDataDir() + "/generate/golden/" + file);
}

}  // namespace morvane::test
