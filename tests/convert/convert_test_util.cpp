#include "convert_test_util.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace morvane::test {

const char kAllTypesXsd[] = R"(<Schema name="AllTypes" id="2">
   <Enum name="E"><Item name="A" id="0"/></Enum>
   <Item name="c" type="char"/>
   <Item name="i" type="int"/>
   <Item name="s" type="int16"/>
   <Item name="l" type="int64"/>
   <Item name="u" type="unsigned"/>
   <Item name="us" type="unsigned16"/>
   <Item name="ul" type="unsigned64"/>
   <Item name="f" type="float"/>
   <Item name="d" type="double"/>
   <Item name="t" type="text"/>
   <Item name="b" type="bool"/>
   <Item_enum name="e" type="E"/>
</Schema>)";

// Every member form: visible repetitions, collapsed ones, zero repetitions
// either way, a single hidden member, text, repeated enumeration values and
// structures inside structures.
const char kFormsXsd[] = R"(<Schema name="Forms" id="9">
   <Template name="Inner"><Item name="v" type="int16"/></Template>
   <Template name="Outer">
      <Item name="a" type="char"/>
      <Structure name="in" type="Inner" nrepetitions="2"/>
   </Template>
   <Enum name="E"><Item name="ZERO" id="0"/><Item name="NINE" id="9"/></Enum>
   <Item name="rep" type="char" nrepetitions="3"/>
   <Item name="hid" type="int16" nrepetitions="2" visibility="0"/>
   <Item name="none" type="int" nrepetitions="0"/>
   <Item name="nonehid" type="int" nrepetitions="0" visibility="0"/>
   <Item name="one" type="char" visibility="0"/>
   <Item name="t" type="text"/>
   <Item_enum name="es" type="E" nrepetitions="2"/>
   <Structure name="out" type="Outer"/>
   <Structure name="gone" type="Inner" nrepetitions="0"/>
</Schema>)";

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
