#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schema_test_util.h"

namespace morvane {
namespace {

using test::LoadSchemaText;
using test::LogRecorder;
using test::SplitLines;
using Lines = std::vector<std::string>;

// The report's lines; a small report reaches the log in a single call.
Lines ReportOf(const std::string& xml) {
    Schema schema;
    {
        LogRecorder quiet(false);
        if (!LoadSchemaText(xml, schema)) return {"load failed"};
    }
    LogRecorder log;
    PrintUnits(*schema.root);
    EXPECT_EQ(log.lines().size(), 1u);
    return SplitLines(log.Text());
}

TEST(LayoutReportTest, WorkedExample) {
    Lines expected = {
        "     -----Structure={Root:PosRec}---nrepet=1---size_struct=28---offset=0  units.size=6\n",
        "     *****Template={PosRec:Point}---nrepet=1---size_struct=8---offset=0  units.size=2\n",
        "\tname={Point:x}\ttype=int[1]\toffset=0\tsize=4\tnrepet=1\tvis=1\n",
        "\tname={Point:y}\ttype=int[1]\toffset=4\tsize=4\tnrepet=1\tvis=1\n",
        "     *****Enum=Mode  units.size=2\n",
        "          id=0  name=OFF\n",
        "          id=1  name=ON\n",
        "\tname={PosRec:count}\ttype=int[1]\toffset=0\tsize=4\tnrepet=1\tvis=1\n",
        "\tname={PosRec:flags}\ttype=char[0]\toffset=4\tsize=1\tnrepet=4\tvis=1\n",
        "     *****mode enum_type=Mode\n",
        "     -----Structure={PosRec:pos}---template=Point---nrepet=2---size_struct=8---offset=12"
        "  units.size=2\n",
        "\tname={pos:x}\ttype=int[1]\toffset=0\tsize=4\tnrepet=1\tvis=1\n",
        "\tname={pos:y}\ttype=int[1]\toffset=4\tsize=4\tnrepet=1\tvis=1\n",
    };
    EXPECT_EQ(ReportOf(R"(<Schema name="PosRec" id="7">
        <Template name="Point"><Item name="x" type="int"/><Item name="y" type="int"/></Template>
        <Enum name="Mode"><Item name="OFF" id="0"/><Item name="ON" id="1"/></Enum>
        <Item name="count" type="int"/><Item name="flags" type="char" nrepetitions="4"/>
        <Item_enum name="mode" type="Mode"/><!--c--><Structure name="pos" type="Point" nrepetitions="2"/>
        </Schema>)"),
              expected);
}

TEST(LayoutReportTest, CopiedInstancesHiddenItemsAndText) {
    Lines expected = {
        "     -----Structure={Root:S}---nrepet=3---size_struct=10---offset=0  units.size=3\n",
        "     *****Template={S:P}---nrepet=1---size_struct=1---offset=0  units.size=2\n",
        "\tname={P:t}\ttype=text[9]\toffset=0\tsize=0\tnrepet=1\tvis=1\n",
        "\tname={P:h}\ttype=char[0]\toffset=0\tsize=1\tnrepet=1\tvis=0\n",
        "     *****Template={S:Q}---nrepet=1---size_struct=5---offset=0  units.size=3\n",
        "     -----Structure={Q:p}---template=P---nrepet=1---size_struct=1---offset=0  units.size=2\n",
        "\tname={p:t}\ttype=text[9]\toffset=0\tsize=0\tnrepet=1\tvis=1\n",
        "\tname={p:h}\ttype=char[0]\toffset=0\tsize=1\tnrepet=1\tvis=0\n",
        "\tname={Q:u}\ttype=unsigned64[6]\toffset=1\tsize=8\tnrepet=0\tvis=1\n",
        "\tname={Q:b}\ttype=bool[10]\toffset=1\tsize=4\tnrepet=1\tvis=1\n",
        "     -----Structure={S:q}---template=Q---nrepet=2---size_struct=5---offset=0  units.size=3\n",
        "     -----Structure={q:p}---nrepet=1---size_struct=1---offset=0  units.size=2\n",
        "\tname={p:t}\ttype=text[9]\toffset=0\tsize=0\tnrepet=1\tvis=1\n",
        "\tname={p:h}\ttype=char[0]\toffset=0\tsize=1\tnrepet=1\tvis=0\n",
        "\tname={q:u}\ttype=unsigned64[6]\toffset=1\tsize=8\tnrepet=0\tvis=1\n",
        "\tname={q:b}\ttype=bool[10]\toffset=1\tsize=4\tnrepet=1\tvis=1\n",
    };
    EXPECT_EQ(ReportOf(R"(<Schema name="S" nrepetitions="3">
        <Template name="P"><Item name="t" type="text"/><Item name="h" type="char" visibility="0"/></Template>
        <Template name="Q"><Structure name="p" type="P"/>
           <Item name="u" type="unsigned64" nrepetitions="0"/><Item name="b" type="bool"/></Template>
        <Structure name="q" type="Q" nrepetitions="2"/></Schema>)"),
              expected);
}

// A large report goes out in a few calls of whole lines, in order; without
// the trace flag nothing at all is formatted or logged.
TEST(LayoutReportTest, LargeReportIsLoggedInBatchesOfWholeLines) {
    Schema schema;
    {
        LogRecorder off(false);
        ASSERT_TRUE(LoadSchemaText(test::ManyMembers(5000) + "</Schema>", schema));
        PrintUnits(*schema.root);
        EXPECT_TRUE(off.lines().empty());
    }
    LogRecorder log;
    PrintUnits(*schema.root);
    test::ExpectBatchesOfWholeLines(log, 20);
    const Lines lines = SplitLines(log.Text());
    ASSERT_EQ(lines.size(), 5001u);
    EXPECT_EQ(lines[1], "\tname={Big:f0}\ttype=int[1]\toffset=0\tsize=4\tnrepet=1\tvis=1\n");
    EXPECT_EQ(lines[5000],
              "\tname={Big:f4999}\ttype=int[1]\toffset=19996\tsize=4\tnrepet=1\tvis=1\n");
}

}  // namespace
}  // namespace morvane
