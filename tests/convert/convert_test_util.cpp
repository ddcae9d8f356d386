#include "convert_test_util.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace morvane::test {

namespace {

std::unique_ptr<Schema> Load(const pugi::xml_document& doc) {
    auto schema = std::make_unique<Schema>();
    if (!LoadSchema(*schema, doc)) {
        ADD_FAILURE() << "the schema does not load";
        return nullptr;
    }
    return schema;
}

}  // namespace

std::unique_ptr<Schema> SchemaFromText(const std::string& xml) {
    pugi::xml_document doc;
    if (!doc.load_string(xml.c_str(), pugi::parse_default | pugi::parse_comments)) {
        ADD_FAILURE() << "schema text is not well-formed:\n" << xml;
        return nullptr;
    }
    return Load(doc);
}

std::unique_ptr<Schema> SchemaFromFile(const std::string& path) {
    pugi::xml_document doc;
    std::string error;
    if (!LoadXmlDocument(path.c_str(), doc, error)) {
        ADD_FAILURE() << path << ": " << error;
        return nullptr;
    }
    return Load(doc);
}

std::unique_ptr<Schema> PosRecSchema() {
    return SchemaFromFile(SourceDir() + "/examples/Schemas/PosRec.xsd");
}

std::vector<uint8_t> PosRecRecord() {
    std::vector<uint8_t> record(28, 0);
    const int32_t ints[][2] = {{0, 5}, {8, 1}, {12, 1}, {16, 2}, {20, 3}, {24, 4}};
    for (const auto& [offset, value] : ints) std::memcpy(&record[offset], &value, 4);
    return record;
}

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

std::string NameOf(const char* title) {
    std::string name;
    for (const char* p = title; *p != '\0'; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p)))
            name += *p;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

}  // namespace morvane::test
