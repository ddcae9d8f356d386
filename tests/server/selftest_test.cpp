// "Morvane test": the conversion self-test run as a program.
#include <signal.h>

#include <gtest/gtest.h>


#include "support/own_network.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::BackgroundProgram;
using test::ReadFile;
using test::WaitFor;

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

class SelfTest : public ::testing::Test {
  protected:
    // Morvane runs on its default port here.
    void SetUp() override {
        SKIP_WITHOUT_OWN_NETWORK();
        test::MakeProgramDir(dir_.path(), {"Morvane"}, true);
    }
    std::string Exe() const { return dir_ / "Morvane"; }
    test::TempDir dir_;
};

TEST_F(SelfTest, WritesEverySchemasRecordThreeTimes) {
    BackgroundProgram p(Exe(), {"test"}, dir_.path());
    std::string out = dir_ / "XML_Data/Telemetry_dataW.xml";
    // Both files are finished: the schemas are written in id order, PosRec last.
    ASSERT_TRUE(WaitFor([&] {
        return ReadFile(out).find("</Root>\n") != std::string::npos &&
               ReadFile(dir_ / "XML_Data/PosRec_dataW.xml").find("</Root>\n") != std::string::npos;
    })) << p.Stdout() << p.Stderr();
    std::string text = ReadFile(out);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?>\n<Root>\n", 0), 0u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_NE(text.find("   <Schema name=\"Telemetry\" id=\"1\" number=\"" + std::to_string(n) +
                            "\" offset=\"0\" size=\"82\">\n"),
                  std::string::npos);
    }
    // Values of the shipped data file, as the writer formats them.
    const char* lines[] = {
        "      <Item name=\"frame\" type=\"unsigned\">1</Item>\n",
        "      <Item name=\"tag\" type=\"char\">0x41</Item>\n",
        "      <Item name=\"level\" type=\"int\">-42</Item>\n",
        "      <Item name=\"delta\" type=\"int16\">-7</Item>\n",
        "      <Item name=\"stamp\" type=\"int64\">1234567890123</Item>\n",
        "      <Item name=\"total\" type=\"unsigned64\">18446744073709551615</Item>\n",
        "      <Item name=\"ratio\" type=\"double\">3.141593</Item>\n",
        "      <Item name=\"valid\" type=\"bool\">1</Item>\n",
        "      <Item name=\"note\" type=\"text\"></Item>\n",
        "      <Item_enum name=\"status\" type=\"Status\">1</Item_enum>\n",
        "      <Item_enum name=\"history\" type=\"Status\" index=\"1\">7</Item_enum>\n",
        "      <Item name=\"spare\" type=\"char\" nrepetitions=\"4\"/>\n",
        "      <Item name=\"code\" type=\"char\" index=\"2\">0x4E</Item>\n",
        "      <Structure name=\"samples\" offset=\"66\" size=\"8\" index=\"1\">\n",
        "         <Item name=\"value\" type=\"float\">-3.250000</Item>\n",
        "         <Item name=\"quality\" type=\"unsigned16\">65535</Item>\n",
    };
    for (const char* line : lines) EXPECT_EQ(Count(text, line), 3) << line;

    // PosRec has no data file: its record stays zero.
    std::string pos = ReadFile(dir_ / "XML_Data/PosRec_dataW.xml");
    EXPECT_EQ(Count(pos, "<Item name=\"count\" type=\"int\">0</Item>"), 3) << pos;
    EXPECT_EQ(Count(pos, "<Item name=\"x\" type=\"int\">0</Item>"), 6);

    std::string log = ReadFile(dir_ / "Morvane.log");
    EXPECT_EQ(Count(log, "\n=========ReadXmlFile========================\n"), 2);
    EXPECT_EQ(Count(log, "\n=========WriteXmlFile========================\n"), 2);
    EXPECT_TRUE(p.Running());
    EXPECT_EQ(p.Stop(SIGTERM), 0);
}

TEST_F(SelfTest, OnlyTheExactSingleArgumentSelectsTheSelfTest) {
    const std::vector<std::vector<std::string>> argLists = {{"Test"}, {"test", "test"}};
    for (const auto& args : argLists) {
        SCOPED_TRACE(args.size());
        BackgroundProgram p(Exe(), args, dir_.path());
        ASSERT_TRUE(WaitFor([&] { return ReadFile(dir_ / "Morvane.log").find("Create SchemaEnumIncludeFile") !=
                                         std::string::npos ||
                                         !p.Running(); }));
        test::SleepMs(1500);
        EXPECT_TRUE(p.Running());
        EXPECT_FALSE(test::FileExists(dir_ / "XML_Data/Telemetry_dataW.xml"));
        p.Stop(SIGTERM);
    }
}

}  // namespace
}  // namespace morvane
