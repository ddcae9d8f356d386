#include <gtest/gtest.h>

#include <string>

#include "schema/unit_type.h"

namespace morvane {
namespace {

struct NameCase {
    std::string name;
    UnitType expected;
};

class TypeFromNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(TypeFromNameTest, ClassifiesName) {
    EXPECT_EQ(TypeFromName(GetParam().name.c_str()), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, TypeFromNameTest,
    ::testing::Values(NameCase{"int", kTypeInt}, NameCase{"INT", kTypeInt}, NameCase{"Int", kTypeInt},
                      NameCase{"Int16", kTypeInt16}, NameCase{"UNSIGNED64", kTypeUnsigned64},
                      NameCase{"Double", kTypeDouble}, NameCase{"text", kTypeText},
                      NameCase{"Structure", kTypeStructure}, NameCase{"TEMPLATE", kTypeTemplate},
                      NameCase{"Enum", kTypeEnum}, NameCase{"Item_enum", kTypeItemEnum},
                      // Element names that are no type at all are items.
                      NameCase{"Item", kTypeUndefined}, NameCase{"integer", kTypeUndefined},
                      NameCase{"in", kTypeUndefined}, NameCase{"int ", kTypeUndefined},
                      NameCase{"undefined", kTypeUndefined}, NameCase{"", kTypeUndefined},
                      // Prefixes and longer names must not match a shorter entry.
                      NameCase{"unsigned1", kTypeUndefined}, NameCase{"int646", kTypeUndefined},
                      // Past the name width nothing matches, whatever the text.
                      NameCase{std::string(52, 'a'), kTypeUndefined},
                      NameCase{"int" + std::string(49, ' '), kTypeUndefined}));

TEST(TypeTableTest, EverySchemaNameLeadsBackToItsCode) {
    for (int code = 0; code < kUnitTypeCount; ++code) {
        auto type = static_cast<UnitType>(code);
        EXPECT_EQ(TypeFromName(SchemaTypeName(type)), type) << SchemaTypeName(type);
    }
}

TEST(TypeTableTest, NullNameIsUndefined) { EXPECT_EQ(TypeFromName(nullptr), kTypeUndefined); }

// Sizes reach the layout through the parser tests; here only the C names
// that differ from the schema names, which the header generator relies on.
TEST(TypeTableTest, CNamesThatDifferFromSchemaNames) {
    EXPECT_STREQ(CTypeName(kTypeInt16), "short");
    EXPECT_STREQ(CTypeName(kTypeInt64), "long long");
    EXPECT_STREQ(CTypeName(kTypeUnsigned16), "unsigned short");
    EXPECT_STREQ(CTypeName(kTypeUnsigned64), "unsigned long long");
    EXPECT_STREQ(CTypeName(kTypeItemEnum), "item_enum");
}

}  // namespace
}  // namespace morvane
