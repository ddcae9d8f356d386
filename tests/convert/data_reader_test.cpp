// ReadXmlFile: element rules, failures and their messages, bounds.
#include "convert/data_reader.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert_test_util.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::Hex;

constexpr int32_t kRecordSize = 16;
constexpr uint8_t kUntouched = 0xAA;
constexpr uint8_t kGuard = 0xEE;

// A 16-byte schema: the reader takes only its size from it.
const char kSixteenXsd[] = R"(<Schema name="R" id="3">
   <Item name="b" type="char" nrepetitions="16"/>
</Schema>)";

std::string DataFile(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<Schema name=\"R\" id=\"3\" offset=\"0\" size=\"16\">\n" + body +
           "\n</Schema>\n";
}

class ReadXmlFileTest : public testing::Test {
  protected:
    void SetUp() override {
        schema_ = test::SchemaFromText(kSixteenXsd);
        ASSERT_TRUE(schema_);
        ASSERT_EQ(schema_->Size(), kRecordSize);
        // The record, then guard bytes the reader must never reach.
        buffer_.assign(kRecordSize, kUntouched);
        buffer_.resize(kRecordSize + 8, kGuard);
    }

    bool Read(const std::string& text, bool store = true) {
        test::WriteFile(path_, text);
        return ReadXmlFile(*schema_, store, path_.c_str(), buffer_.data(), kRecordSize);
    }
    std::string Record() const { return Hex(buffer_.data(), kRecordSize); }
    std::string Guard() const { return Hex(buffer_.data() + kRecordSize, 8); }

    test::TempDir dir_;
    std::string path_ = dir_ / "R_dataR.xml";
    std::unique_ptr<Schema> schema_;
    std::vector<uint8_t> buffer_;
};

std::string Filled(const std::string& head) {
    // head followed by untouched bytes up to the record size
    std::string text = head;
    size_t have = head.empty() ? 0 : (head.size() + 1) / 3;
    for (size_t i = have; i < static_cast<size_t>(kRecordSize); ++i) text += i == 0 ? "aa" : " aa";
    return text;
}

struct ElementCase {
    const char* title;
    const char* body;
    const char* record;  // leading bytes as hex; the rest stays untouched
};

const ElementCase kElementCases[] = {
    {"each type in turn",
     R"(<Item name="c" type="char">0x41</Item>
        <Item name="s" type="int16">-7</Item>
        <Item name="i" type="int">42</Item>
        <Item name="f" type="float">1.5</Item>
        <Item name="b" type="bool">2</Item>)",
     "41 f9 ff 2a 00 00 00 00 00 c0 3f 01 00 00 00"},
    {"64-bit kinds", R"(<Item type="int64">-2</Item><Item type="double">2.5</Item>)",
     "fe ff ff ff ff ff ff ff 00 00 00 00 00 00 04 40"},
    {"unsigned kinds",
     R"(<Item type="unsigned">-1</Item><Item type="unsigned16">65535</Item>
        <Item type="unsigned64">-1</Item>)",
     "ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
    {"a collapsed element moves the offset without storing",
     R"(<Item name="flags" type="char" nrepetitions="4"/><Item type="int">1</Item>)",
     "aa aa aa aa 01 00 00 00"},
    {"a repeated value is stored once, at its first place",
     R"(<Item type="int16" nrepetitions="3">5</Item><Item type="char">0x7</Item>)",
     "05 00 aa aa aa aa 07"},
    {"an empty nrepetitions counts 0 but the value is still stored",
     R"(<Item type="int" nrepetitions="">9</Item><Item type="char">0x1</Item>)", "01 00 00 00"},
    {"text occupies no bytes", R"(<Item type="text">hello</Item><Item type="char">0x2</Item>)",
     "02"},
    {"an unknown type neither stores nor moves",
     R"(<Item type="Mode">1</Item><Item type="integer">1</Item><Item type="char">0x3</Item>)",
     "03"},
    {"a missing type neither stores nor moves", R"(<Item name="n">5</Item><Item type="char">0x3</Item>)",
     "03"},
    {"types ignore letter case", R"(<Item type="INT">258</Item><Item type="Char">0x9</Item>)",
     "02 01 00 00 09"},
    {"Item_enum holds the enumerator's id", R"(<Item_enum name="m" type="Mode">7</Item_enum>)",
     "07 00 00 00"},
    {"item_enum in lower case is typed by its type attribute",
     R"(<item_enum type="Mode">7</item_enum><Item type="char">0x4</Item>)", "04"},
    {"Structure elements in any case are descended into",
     R"(<structure name="s"><Item type="char">0x5</Item></structure>
        <STRUCTURE name="s" nrepetitions="5"><Structure><Item type="char">0x6</Item></Structure></STRUCTURE>
        <Item type="char">0x7</Item>)",
     "05 06 07"},
    {"Enum elements are skipped",
     R"(<Enum name="Mode"><Item name="OFF" id="0" type="int">3</Item></Enum><Item type="char">0x7</Item>)",
     "07"},
    {"an element without text moves the offset",
     R"(<Item type="int"></Item><Item type="char">0x8</Item>)", "aa aa aa aa 08"},
    {"text after a comment is no text", R"(<Item type="int"><!--c-->5</Item><Item type="char">0x9</Item>)",
     "aa aa aa aa 09"},
    {"CDATA is text", R"(<Item type="int"><![CDATA[12]]></Item>)", "0c 00 00 00"},
    {"offset, index and name attributes are not consulted",
     R"(<Item name="late" type="char" offset="9" index="3">0x1</Item>)", "01"},
    {"swapped elements shift the later values",
     R"(<Item name="c" type="char">0x1</Item><Item name="i" type="int">2</Item>)", "01 02 00 00 00"},
    {"a session file's record elements store nothing",
     R"(<Schema name="R" id="3" number="1" offset="0" size="16"><Item type="int">5</Item></Schema>)",
     ""},
    {"the record may be filled to its last byte",
     R"(<Item type="int64">1</Item><Item type="double" nrepetitions="1">0</Item>)",
     "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"a collapsed element may end exactly at the end",
     R"(<Item type="char" nrepetitions="15"/><Item type="char">0x1</Item><Item type="int" nrepetitions="0"/>)",
     "aa aa aa aa aa aa aa aa aa aa aa aa aa aa aa 01"},
};

class ReadElementTest : public ReadXmlFileTest, public testing::WithParamInterface<ElementCase> {};

TEST_P(ReadElementTest, StoresAtTheRunningOffset) {
    const ElementCase& c = GetParam();
    ASSERT_TRUE(Read(DataFile(c.body))) << c.title;
    EXPECT_EQ(Record(), Filled(c.record)) << c.title;
    EXPECT_EQ(Guard(), "ee ee ee ee ee ee ee ee");
}

INSTANTIATE_TEST_SUITE_P(Table, ReadElementTest, testing::ValuesIn(kElementCases),
                         test::CaseName<ElementCase>);

struct BoundCase {
    const char* title;
    const char* body;
    const char* error;  // the error line, %s standing for the path
};

const BoundCase kBoundCases[] = {
    {"a value past the end",
     R"(<Item type="int64" nrepetitions="2"/><Item name="extra" type="char">0x1</Item>)",
     "Error! %s: element Item name=\"extra\" at offset 16 describes 1 bytes, the buffer holds 16\n"},
    {"a value straddling the end",
     R"(<Item type="char" nrepetitions="14"/><Item name="tail" type="int">1</Item>)",
     "Error! %s: element Item name=\"tail\" at offset 14 describes 4 bytes, the buffer holds 16\n"},
    {"a collapsed element reaching past the end",
     R"(<Item name="spare" type="char" nrepetitions="17"/>)",
     "Error! %s: element Item name=\"spare\" at offset 0 describes 17 bytes, the buffer holds 16\n"},
    {"a repetition count beyond 32 bits",
     R"(<Item_enum name="e" type="Mode" nrepetitions="99999999999"/>)",
     "Error! %s: element Item_enum name=\"e\" at offset 0 describes 4863008764 bytes, the buffer "
     "holds 16\n"},
    {"a stored value with zero repetitions at the end",
     R"(<Item type="int64" nrepetitions="2"/><Item name="z" type="int" nrepetitions="0">1</Item>)",
     "Error! %s: element Item name=\"z\" at offset 16 describes 4 bytes, the buffer holds 16\n"},
    {"a negative repetition count",
     R"(<Item type="int">1</Item><Item name="back" type="int" nrepetitions="-1"/><Item type="int">2</Item>)",
     "Error! %s: element Item name=\"back\" has nrepetitions=\"-1\"\n"},
    {"an element in a structure without a name",
     R"(<Structure name="s"><Item type="double" nrepetitions="3"/></Structure>)",
     "Error! %s: element Item name=\"\" at offset 0 describes 24 bytes, the buffer holds 16\n"},
};

class ReadBoundTest : public ReadXmlFileTest, public testing::WithParamInterface<BoundCase> {};

TEST_P(ReadBoundTest, FailsNamingFileAndElementAndStoresNothingBeyond) {
    const BoundCase& c = GetParam();
    for (bool store : {true, false}) {
        test::LogRecorder log(false);
        buffer_.assign(kRecordSize, kUntouched);
        buffer_.resize(kRecordSize + 8, kGuard);
        EXPECT_FALSE(Read(DataFile(c.body), store)) << c.title;
        char expected[512];
        std::snprintf(expected, sizeof expected, c.error, path_.c_str());
        EXPECT_EQ(log.Text(), expected) << c.title;
        EXPECT_EQ(Guard(), "ee ee ee ee ee ee ee ee") << c.title;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadBoundTest, testing::ValuesIn(kBoundCases),
                         test::CaseName<BoundCase>);

TEST_F(ReadXmlFileTest, MissingFileSucceedsAndLeavesTheBuffer) {
    test::LogRecorder log;
    std::string missing = dir_ / "nothing_dataR.xml";
    EXPECT_TRUE(ReadXmlFile(*schema_, true, missing.c_str(), buffer_.data(), kRecordSize));
    std::string inMissingDir = dir_ / "no/such/dir/R_dataR.xml";
    EXPECT_TRUE(ReadXmlFile(*schema_, true, inMissingDir.c_str(), buffer_.data(), kRecordSize));
    EXPECT_EQ(Record(), Filled(""));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ReadXmlFileTest, MalformedFilesFailWithoutALogLine) {
    const char* texts[] = {
        "<Schema name=\"R\"><Item type=\"int\">1</Item>",  // unclosed
        "<Schema><Item type=\"int\">1</Schema>",           // mismatched
    };
    for (const char* text : texts) {
        test::LogRecorder log;
        EXPECT_FALSE(Read(text)) << text;
        EXPECT_EQ(log.Text(), "") << text;
    }
    EXPECT_EQ(Record(), Filled(""));
    // A directory where the file should be cannot be read either.
    test::MakeDirs(dir_ / "adir");
    std::string adir = dir_ / "adir";
    EXPECT_FALSE(ReadXmlFile(*schema_, true, adir.c_str(), buffer_.data(), kRecordSize));
}

// A document without an element (an empty file among them) fails with the
// reader's own trace line.
TEST_F(ReadXmlFileTest, DocumentWithoutElementFails) {
    for (const char* text :
         {"<?xml version=\"1.0\"?>\n<!-- only a comment -->\n", "", "\x01\x02 not xml"}) {
        test::LogRecorder log;
        EXPECT_FALSE(Read(text));
        EXPECT_EQ(log.Text(), "Error  during reading  Root Element\n") << text;
    }
    EXPECT_EQ(Record(), Filled(""));
}

TEST_F(ReadXmlFileTest, ShortBufferFailsBeforeStoring) {
    test::LogRecorder log;
    test::WriteFile(path_, DataFile("<Item type=\"char\">0x1</Item>"));
    EXPECT_FALSE(ReadXmlFile(*schema_, true, path_.c_str(), buffer_.data(), kRecordSize - 1));
    EXPECT_EQ(Record(), Filled(""));
    EXPECT_EQ(log.Text(), "offset0 =0\n");
}

TEST_F(ReadXmlFileTest, LargerBufferIsReadUpToItsLength) {
    std::vector<uint8_t> big(kRecordSize + 4, kUntouched);
    test::WriteFile(path_, DataFile("<Item type=\"char\" nrepetitions=\"16\"/><Item type=\"int\">3</Item>"));
    ASSERT_TRUE(ReadXmlFile(*schema_, true, path_.c_str(), big.data(), kRecordSize + 4));
    EXPECT_EQ(Hex(big.data() + kRecordSize, 4), "03 00 00 00");
}

TEST_F(ReadXmlFileTest, StoreFlagOffTracesTheWalkAndStoresNothing) {
    test::LogRecorder log(true);
    ASSERT_TRUE(Read(R"(<?xml version="1.0"?>
<Schema name="R" id="3" offset="12" size="16">
   <Item name="count" type="int">5</Item>
   <Item name="flags" type="char" nrepetitions="4"/>
   <Structure name="pos" offset="8" size="8" index="0">
      <Item name="x" type="int">1</Item>
   </Structure>
   <Item type="int"/>
</Schema>
)",
                     false));
    EXPECT_EQ(Record(), Filled(""));
    // The lines of one read reach the logger in one call.
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "offset0 =12\n"
                               "   name_unit=Item, struct_name=count offset_elem=0 text=5\n"
                               "   name_unit=Item, struct_name=flags offset_elem=4 text=(null)\n"
                               "name_unit=Structure, struct_name=pos\n"
                               "   name_unit=Item, struct_name=x offset_elem=8 text=1\n"
                               "   name_unit=Item, struct_name=(null) offset_elem=12 text=(null)\n",
                           }));
}

// An error line follows the trace lines of the elements before it.
TEST_F(ReadXmlFileTest, TraceLinesPrecedeTheErrorLine) {
    test::LogRecorder log(true);
    EXPECT_FALSE(Read(DataFile(R"(<Item name="a" type="int">1</Item><Item name="b" type="int" nrepetitions="-1"/>)")));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "offset0 =0\n   name_unit=Item, struct_name=a offset_elem=0 text=1\n"
                               "   name_unit=Item, struct_name=b offset_elem=4 text=(null)\n",
                               "Error! " + path_ + ": element Item name=\"b\" has nrepetitions=\"-1\"\n",
                           }));
}

std::string Nested(int levels, const std::string& inner) {
    std::string body;
    for (int i = 0; i < levels; ++i) body += "<Structure name=\"s" + std::to_string(i + 1) + "\">";
    body += inner;
    for (int i = 0; i < levels; ++i) body += "</Structure>";
    return body;
}

TEST_F(ReadXmlFileTest, StructuresNestUpTo200Levels) {
    test::LogRecorder log(false);
    ASSERT_TRUE(Read(DataFile(Nested(kMaxDataStructureDepth, "<Item type=\"char\">0x2A</Item>") +
                              "<Item type=\"char\">0x2B</Item>")));
    EXPECT_EQ(Record(), Filled("2a 2b"));

    EXPECT_FALSE(Read(DataFile(Nested(kMaxDataStructureDepth + 1, "<Item type=\"char\">0x2A</Item>"))));
    EXPECT_EQ(log.Text(), "Error! " + path_ +
                              ": element Structure name=\"s201\" is nested deeper than 200 structures\n");
    EXPECT_EQ(Record(), Filled("2a 2b"));
}

// The example data file of the Telemetry schema, at the offsets of its
// layout.
TEST(ReadXmlFileExample, TelemetryDataFileFillsItsRecord) {
    auto schema = test::SchemaFromFile(test::SourceDir() + "/examples/Schemas/Telemetry.xsd");
    ASSERT_TRUE(schema);
    ASSERT_EQ(schema->Size(), 82);
    std::vector<uint8_t> record(82, 0xAA);
    std::string path = test::SourceDir() + "/examples/XML_Data/Telemetry_dataR.xml";
    ASSERT_TRUE(ReadXmlFile(*schema, true, path.c_str(), record.data(), 82));
    auto at = [&](size_t offset, size_t count) { return Hex(record.data() + offset, count); };
    EXPECT_EQ(at(0, 4), "01 00 00 00");                  // frame
    EXPECT_EQ(at(4, 1), "41");                           // tag
    EXPECT_EQ(at(5, 4), "d6 ff ff ff");                  // level -42
    EXPECT_EQ(at(9, 2), "f9 ff");                        // delta -7
    EXPECT_EQ(at(11, 8), "cb 04 fb 71 1f 01 00 00");     // stamp 1234567890123
    EXPECT_EQ(at(19, 8), "ff ff ff ff ff ff ff ff");     // total
    double ratio;
    std::memcpy(&ratio, &record[27], 8);
    EXPECT_DOUBLE_EQ(ratio, 3.141593);
    EXPECT_EQ(at(35, 4), "01 00 00 00");                 // valid
    EXPECT_EQ(at(39, 4), "01 00 00 00");                 // status RUNNING
    EXPECT_EQ(at(43, 8), "00 00 00 00 07 00 00 00");     // history
    EXPECT_EQ(at(51, 4), "aa aa aa aa");                 // spare, collapsed
    EXPECT_EQ(at(55, 3), "4d 56 4e");                    // code
    EXPECT_EQ(at(58, 2), "01 00");                       // samples[0].channel
    EXPECT_EQ(at(60, 4), "00 00 a4 41");                 // samples[0].value 20.5
    EXPECT_EQ(at(72, 2), "ff ff");                       // samples[1].quality
    EXPECT_EQ(at(74, 8), "03 00 00 00 00 3e 00 00");     // samples[2]
}

// ReadXmlText in strict mode: the record of one member of every width, then
// an enumeration value and a collapsed member.
const char* const kStrictMembers[][2] = {
    {"c", "char"},  {"s", "int16"},       {"us", "unsigned16"}, {"i", "int"},    {"u", "unsigned"},
    {"l", "int64"}, {"ul", "unsigned64"}, {"f", "float"},       {"d", "double"}, {"b", "bool"}};

std::string StrictXsd() {
    std::string text =
        "<Schema name=\"S\" id=\"4\">\n<Enum name=\"E\"><Item name=\"A\" id=\"0\"/></Enum>\n";
    for (const auto& m : kStrictMembers)
        text += std::string("<Item name=\"") + m[0] + "\" type=\"" + m[1] + "\"/>\n";
    return text + "<Item_enum name=\"e\" type=\"E\"/>\n"
                  "<Item name=\"h\" type=\"char\" nrepetitions=\"2\" visibility=\"0\"/>\n</Schema>";
}

// The record element with every member at 0, one value replaced.
std::string StrictRecord(const std::string& member, const std::string& value) {
    std::string text = "<Schema name=\"S\" id=\"4\" offset=\"0\" size=\"51\">\n";
    for (const auto& m : kStrictMembers) {
        std::string v = m[0] == member ? value : (std::string(m[0]) == "c" ? "0x0" : "0");
        text += std::string("<Item name=\"") + m[0] + "\" type=\"" + m[1] + "\">" + v + "</Item>\n";
    }
    text += "<Item_enum name=\"e\" type=\"E\">" + (member == "e" ? value : "0") + "</Item_enum>\n";
    text += "<Item name=\"h\" type=\"char\" nrepetitions=\"2\"/>\n</Schema>\n";
    return text;
}

// ReadXmlText of text against StrictXsd(), strict or not, into record.
bool ReadText(const std::string& text, bool strict, std::vector<uint8_t>& record,
              std::vector<ReadError>& errors) {
    static const std::unique_ptr<Schema> schema = test::SchemaFromText(StrictXsd());
    return schema != nullptr && ReadXmlText(*schema, true, text, "t.xml", record.data(),
                                            static_cast<int32_t>(record.size()), ReadOptions{strict},
                                            &errors);
}

struct StrictCase {
    const char* title;
    const char* member;
    const char* value;
    bool fits;
};

const StrictCase kStrictCases[] = {
    {"char up to 0xFF", "c", "0xff", true},
    {"char above 0xFF", "c", "0x100", false},
    {"char without 0x", "c", "65", false},
    {"int16 maximum", "s", "32767", true},
    {"int16 above", "s", "32768", false},
    {"int16 below", "s", "-32769", false},
    {"unsigned16 maximum", "us", "65535", true},
    {"unsigned16 above", "us", "65536", false},
    {"unsigned16 negative", "us", "-1", false},
    {"int minimum", "i", "-2147483648", true},
    {"int above", "i", "2147483648", false},
    {"int with trailing text", "i", "12abc", false},
    {"int blanks around", "i", " 12 ", true},
    {"unsigned maximum", "u", "4294967295", true},
    {"unsigned as written negative", "u", "-1", true},
    {"unsigned above", "u", "4294967296", false},
    {"int64 above", "l", "9223372036854775808", false},
    {"int64 minimum", "l", "-9223372036854775808", true},
    {"unsigned64 maximum", "ul", "18446744073709551615", true},
    {"unsigned64 above", "ul", "18446744073709551616", false},
    {"unsigned64 negative", "ul", "-1", false},
    {"float exponent form", "f", "1e-10", true},
    {"float overflow", "f", "1e39", false},
    {"float inf", "f", "-inf", true},
    {"double overflow", "d", "1e309", false},
    {"double not a number", "d", "x1", false},
    {"bool above int", "b", "2147483648", false},
    {"item_enum id", "e", "-5", true},
    {"int16 negative", "s", "-5", true},
    {"unsigned16 blanks around", "us", " 7\t", true},
    {"bool stored as 1", "b", "-2", true},
    {"float blanks after", "f", "2.5 ", true},
    {"float hexadecimal", "f", "0x1p3", false},
    {"float underflow", "f", "1e-50", true},
    {"double plain", "d", "-491.99920000000003", true},
    {"double leading point", "d", ".5", true},
    {"float signalling NaN", "f", "snan(0x1)", true},
    {"double quiet NaN payload", "d", "-nan(0xDEADBEEF) ", true},
    {"float NaN payload too wide", "f", "nan(0x400000)", false},
    {"double NaN payload without digits", "d", "nan(0x)", false},
    {"float signalling NaN of no payload", "f", "snan(0x0)", false},
};

class StrictValueTest : public testing::TestWithParam<StrictCase> {};

TEST_P(StrictValueTest, RefusesValuesThatDoNotFitAtTheirOffset) {
    const StrictCase& c = GetParam();
    const std::string text = StrictRecord(c.member, c.value);
    test::LogRecorder log(false);
    std::vector<uint8_t> strictRecord(53, 0), record(53, 0);
    std::vector<ReadError> errors, looseErrors;
    EXPECT_EQ(ReadText(text, true, strictRecord, errors), c.fits);
    // Not strict, the same text reads; a value that fits is stored alike.
    EXPECT_TRUE(ReadText(text, false, record, looseErrors));
    if (c.fits) {
        EXPECT_TRUE(errors.empty()) << errors[0].text;
        EXPECT_EQ(strictRecord, record);
        return;
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].offset, static_cast<std::ptrdiff_t>(text.find(std::string(">") + c.value + "<") + 1));
    EXPECT_NE(errors[0].text.find(std::string("holds \"") + c.value + "\", which does not fit"),
              std::string::npos)
        << errors[0].text;
    EXPECT_EQ(log.Text(), "Error! t.xml: " + errors[0].text + "\n");
}

INSTANTIATE_TEST_SUITE_P(Table, StrictValueTest, testing::ValuesIn(kStrictCases),
                         test::CaseName<StrictCase>);

struct StrictElementCase {
    const char* title;
    const char* from;  // replaced in the record text by `to`
    const char* to;
    const char* at;    // the error's offset: where this text starts, plus one
    const char* error;
};

const StrictElementCase kStrictElementCases[] = {
    {"an element the schema does not have", "<Item name=\"i\"",
     "<Item name=\"x\" type=\"int\">1</Item>\n<Item name=\"i\"", "<Item name=\"x\"",
     "element Item name=\"x\" is not in the schema here: it has member i"},
    {"a member of another type", "name=\"s\" type=\"int16\"", "name=\"s\" type=\"int\"",
     "<Item name=\"s\"", "element Item name=\"s\" is not in the schema here: it has member s"},
    {"an unknown tag", "<Item name=\"b\" type=\"bool\">0</Item>", "<Value name=\"b\"/>",
     "<Value", "element Value name=\"b\" is not in the schema here: it has member b"},
    {"a collapsed member's count", "nrepetitions=\"2\"", "nrepetitions=\"3\"",
     "<Item name=\"h\"", "element Item name=\"h\" is not in the schema here: it has member h"},
    {"a member left out", "<Item name=\"h\" type=\"char\" nrepetitions=\"2\"/>", "", "<Schema",
     "element Schema name=\"S\" ends before its member h"},
    {"one more at the end", "</Schema>", "<Item name=\"z\" type=\"int\">1</Item></Schema>",
     "<Item name=\"z\"", "element Item name=\"z\" is not in the schema: S has no more members"},
    {"a record of another schema", "<Schema name=\"S\"", "<Schema name=\"T\"", "<Schema",
     "element Schema name=\"T\" is not a record of S"},
    {"malformed text", "</Schema>", "</Item></Schema>", "/Item></Schema>", "Start-end tags mismatch"},
};

class StrictElementTest : public testing::TestWithParam<StrictElementCase> {};

TEST_P(StrictElementTest, RefusesElementsTheSchemaDoesNotHave) {
    const StrictElementCase& c = GetParam();
    std::string text = StrictRecord("", "");
    ASSERT_NE(text.find(c.from), std::string::npos);
    text.replace(text.find(c.from), std::strlen(c.from), c.to);
    std::vector<uint8_t> record(64, 0);  // room for an element more
    std::vector<ReadError> errors;
    EXPECT_FALSE(ReadText(text, true, record, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, c.error);
    EXPECT_EQ(errors[0].offset, static_cast<std::ptrdiff_t>(text.find(c.at) + 1));
}

INSTANTIATE_TEST_SUITE_P(Table, StrictElementTest, testing::ValuesIn(kStrictElementCases),
                         test::CaseName<StrictElementCase>);

}  // namespace
}  // namespace morvane
