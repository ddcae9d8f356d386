#include "server/config/ini_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace morvane {
namespace {

struct Lookup {
    const char* section;
    const char* key;
    const char* expected;  // nullptr: the default applies
};

TEST(IniFileTest, ProfileLookupRules) {
    IniFile ini;
    ini.LoadText(
        "; leading comment\n"
        "[Directory]\n"
        "Schemas = MySchemas  \n"
        "schemas=Second\n"
        "  ; Archive=/commented\n"
        "ResultsInclude=\"Quoted Dir\"\n"
        "XML_Data='single'\n"
        "Odd=\"unbalanced\n"
        "Empty=\n"
        "NoEquals\n"
        "[general]\r\n"
        "PORT=26000\r\n"
        "[Directory]\n"
        "ResultsEmptyXml=from-second-section\n");
    const Lookup cases[] = {
        {"Directory", "Schemas", "MySchemas"},  // trimmed, first key wins
        {"DIRECTORY", "SCHEMAS", "MySchemas"},  // names ignore case
        {"Directory", "Archive", nullptr},      // a comment is no key
        {"Directory", "ResultsInclude", "Quoted Dir"},
        {"Directory", "XML_Data", "single"},
        {"Directory", "Odd", "\"unbalanced"},
        {"Directory", "Empty", ""},
        {"Directory", "NoEquals", nullptr},
        {"General", "Port", "26000"},            // CR LF line ends
        {"Directory", "ResultsEmptyXml", nullptr},  // only the first section counts
        {"Missing", "Schemas", nullptr},
    };
    for (const Lookup& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.GetString(c.section, c.key, "<default>"),
                  c.expected != nullptr ? c.expected : "<default>");
    }
}

TEST(IniFileTest, ProfileIntegers) {
    const std::pair<const char*, int32_t> cases[] = {
        {"25000", 25000}, {"-5", -5},         {"+7", 7},        {"12abc", 12},
        {"abc", 0},       {"", 0},            {"0x10", 0},      {"2147483647", 2147483647},
        {"99999999999", 2147483647},          {"-2147483648", -2147483647 - 1},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ProfileInt(text), expected);
    }
    IniFile ini;
    ini.LoadText("[General]\nLogFlag=0\nPort=junk\n");
    EXPECT_EQ(ini.GetInt("General", "LogFlag", 1), 0);
    EXPECT_EQ(ini.GetInt("General", "Port", 25000), 0);
    EXPECT_EQ(ini.GetInt("General", "CreateFilesFlag", 1), 1);
}

TEST(IniFileTest, MissingFileGivesDefaultsAndLongLinesStayWhole) {
    test::TempDir dir;
    IniFile ini;
    EXPECT_FALSE(ini.Load(dir / "absent.ini"));
    EXPECT_EQ(ini.GetString("Directory", "Schemas", "Schemas"), "Schemas");

    std::string longValue(5000, 'x');
    test::WriteFile(dir / "long.ini", "[Directory]\nArchive=" + longValue + "\nSchemas=S\n");
    ASSERT_TRUE(ini.Load(dir / "long.ini"));
    EXPECT_EQ(ini.GetString("Directory", "Archive", ""), longValue);
    EXPECT_EQ(ini.GetString("Directory", "Schemas", ""), "S");
}

}  // namespace
}  // namespace morvane
