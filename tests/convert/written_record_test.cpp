// The scanners of texts in the writer's form against the general readers:
// for every type code and edge value, the example and corpus files, and
// every text mutated byte by byte, both give the same result, record,
// errors and trace lines. The same for the JSON Lines of RecordJsonPlan:
// the scanner of to-json's lines against the RapidJSON read.
#include "convert/written_record.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "convert/record_json.h"
#include "convert_test_util.h"
#include "generate/generators.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::Hex;

// Beside AllTypes and Forms: repeated floating values in structures
// repeated in structures, and enumeration values of negative ids.
const char kRepeatsXsd[] = R"(<Schema name="Repeats" id="12">
<Enum name="E"><Item name="A" id="1"/><Item name="B" id="-3"/></Enum>
<Template name="Inner">
   <Item name="v" type="int16"/>
   <Item name="w" type="double" nrepetitions="2"/>
</Template>
<Template name="Outer">
   <Item name="f" type="float" nrepetitions="3"/>
   <Structure name="in" type="Inner" nrepetitions="2"/>
   <Item_enum name="e" type="E" nrepetitions="2"/>
</Template>
<Item name="onehid" type="unsigned" nrepetitions="1" visibility="0"/>
<Item name="d" type="double" nrepetitions="4"/>
<Structure name="o" type="Outer" nrepetitions="3"/>
</Schema>)";

const char* const kSchemas[] = {test::kAllTypesXsd, test::kFormsXsd, kRepeatsXsd};

// Edge values of each width, NaNs of every kind among them.
const uint64_t kEdges8[] = {0,
                            ~0ull,
                            1ull << 63,
                            (1ull << 63) - 1,
                            0x7FF8000000000000ull,
                            0xFFF8000000000000ull,
                            0x7FF0000000000001ull,
                            0xFFF7FFFFFFFFFFFFull,
                            0x7FF80000DEADBEEFull,
                            0x7FF0000000000000ull,
                            0x0000000000000001ull,
                            0x7FEFFFFFFFFFFFFFull,
                            0x3FB999999999999Aull};
const uint32_t kEdges4[] = {0,           ~0u,         1u << 31,    (1u << 31) - 1,
                            0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFBFFFFFu,
                            0x7FC0002Au, 0x7F800000u, 1u,          0x7F7FFFFFu,
                            0x3DCCCCCDu, 255,         65535};

std::vector<uint8_t> EdgeRecord(int32_t size, int row) {
    std::vector<uint8_t> record(static_cast<size_t>(size));
    std::mt19937_64 random(static_cast<uint64_t>(row));
    for (size_t at = 0; at < record.size(); ++at) record[at] = static_cast<uint8_t>(random());
    // Every aligned word an edge value in turn: whatever the field there,
    // its bytes run through the edges.
    for (size_t at = 0; at + 8 <= record.size(); at += 8) {
        const uint64_t v = row % 2 == 0
                               ? kEdges8[(at / 8 + row) % std::size(kEdges8)]
                               : uint64_t{kEdges4[(at / 8 + row) % std::size(kEdges4)]} << 32 |
                                     kEdges4[(at / 8 + row + 1) % std::size(kEdges4)];
        std::memcpy(record.data() + at, &v, sizeof v);
    }
    return record;
}

struct Outcome {
    bool ok = false;
    std::string record;
    std::string errors;
    std::string log;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << (o.ok ? "true" : "false") << "\nrecord " << o.record << "\nerrors\n"
               << o.errors << "log\n"
               << o.log.substr(0, 3000);
}

Outcome Read(const Schema& schema, const std::string& text, bool strict, bool trace,
             Scanning mode) {
    SetScanning(mode);
    Outcome o;
    const auto size = static_cast<size_t>(schema.Size());
    std::vector<uint8_t> buffer(size, 0xA5);
    std::vector<ReadError> errors;
    {
        test::LogRecorder log(trace);
        o.ok = ReadXmlText(schema, true, text, "t.xml", buffer.data(), static_cast<int32_t>(size),
                           ReadOptions{strict}, &errors);
        o.log = log.Text();
    }
    SetScanning(Scanning::kAdaptive);
    o.record = Hex(buffer);
    for (const ReadError& e : errors) o.errors += std::to_string(e.offset) + " " + e.text + "\n";
    return o;
}

// Both ways agree on text, strict or not, traced or not (all four when
// every is set, else strict untraced and loose traced).
void ExpectSameWays(const Schema& schema, const std::string& text, bool every = true) {
    for (int mode = 0; mode < 4; ++mode) {
        const bool strict = mode & 1;
        const bool trace = (mode & 2) != 0;
        if (!every && strict == trace) continue;
        const Outcome fast = Read(schema, text, strict, trace, Scanning::kAlways);
        const Outcome general = Read(schema, text, strict, trace, Scanning::kNever);
        ASSERT_EQ(fast, general) << (strict ? "strict" : "loose") << (trace ? " traced" : "")
                                 << " text:\n"
                                 << text;
    }
}

// Whether the scanner takes text whole (rather than leaving it to the
// general way).
bool Scanned(const Schema& schema, const std::string& text) {
    SetScanning(Scanning::kAlways);
    std::vector<uint8_t> buffer(static_cast<size_t>(schema.Size()));
    bool taken = ReadWrittenText(schema, true, text, buffer.data(), schema.Size(), nullptr);
    SetScanning(Scanning::kAdaptive);
    return taken;
}

// The texts the writer writes for record: a session file's record element
// as morvanec cuts it (from its '<' to its end tag), a data file of its
// own, and the data template generated for the schema.
std::vector<std::string> WrittenTexts(const Schema& schema, const std::vector<uint8_t>& record) {
    std::string session;
    EXPECT_TRUE(AppendRecordXml(schema, 17, record.data(), schema.Size(), session));
    session = session.substr(3, session.size() - 4);
    std::string data;
    EXPECT_TRUE(AppendRecordXml(schema, 2, record.data(), schema.Size(), data, 0));
    return {session, "<?xml version=\"1.0\"?>\n" + data};
}

std::string DataTemplate(const Schema& schema) {
    test::TempDir dir;
    EXPECT_TRUE(CreateEmptyXmlFile(schema, dir.path().c_str()));
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path().extension() == ".xml") return test::ReadFile(entry.path());
    }
    ADD_FAILURE() << "no data template";
    return "";
}

TEST(WrittenRecord, EveryTypeCodeAndEdgeValueReadsAlikeBothWays) {
    for (const char* xsd : kSchemas) {
        auto schema = test::SchemaFromText(xsd);
        ASSERT_TRUE(schema);
        for (int row = 0; row < 24; ++row) {
            std::vector<uint8_t> record = EdgeRecord(schema->Size(), row);
            for (const std::string& text : WrittenTexts(*schema, record)) {
                ASSERT_TRUE(Scanned(*schema, text)) << text;
                ExpectSameWays(*schema, text);
                if (HasFatalFailure()) return;
            }
        }
        const std::string empty = DataTemplate(*schema);
        EXPECT_TRUE(Scanned(*schema, empty)) << empty;
        ExpectSameWays(*schema, empty);
    }
}

// A record in the writer's form comes back whole: every value's bytes, in
// the bytes of the packed record, the collapsed members and a bool's upper
// bytes aside (they are not written).
TEST(WrittenRecord, ScannedRecordsKeepEveryWrittenBit) {
    auto schema = test::PosRecSchema();
    ASSERT_TRUE(schema);
    std::vector<uint8_t> record = test::PosRecRecord();
    for (const std::string& text : WrittenTexts(*schema, record)) {
        std::vector<uint8_t> back(record.size(), 0);
        SetScanning(Scanning::kAlways);
        EXPECT_TRUE(ReadWrittenText(*schema, true, text, back.data(), schema->Size(), nullptr));
        SetScanning(Scanning::kAdaptive);
        EXPECT_EQ(Hex(back), Hex(record));
        // Nothing is stored without store, and nothing into a short buffer.
        std::vector<uint8_t> kept(record.size(), 0x5A);
        EXPECT_TRUE(ReadWrittenText(*schema, false, text, kept.data(), schema->Size(), nullptr));
        EXPECT_FALSE(
            ReadWrittenText(*schema, true, text, kept.data(), schema->Size() - 1, nullptr));
        EXPECT_EQ(kept, std::vector<uint8_t>(record.size(), 0x5A));
    }
}

// The session scanner gives the record element's number attribute as
// morvanec hands it on (-1 for none or a negative one), and the record
// the general way reads.
TEST(WrittenRecord, SessionScannerGivesTheNumberAttribute) {
    auto schema = test::PosRecSchema();
    ASSERT_TRUE(schema);
    const std::vector<uint8_t> record = test::PosRecRecord();
    std::string written;
    ASSERT_TRUE(AppendRecordXml(*schema, 17, record.data(), schema->Size(), written));
    const std::string kWritten = " number=\"17\"";
    const size_t at = written.find(kWritten);
    ASSERT_NE(at, std::string::npos);
    const std::pair<const char*, int64_t> kRows[] = {
        {" number=\"17\"", 17},          {" number=\"0\"", 0},
        {" number=\"-0\"", 0},           {" number=\"-5\"", -1},
        {" number=\"00000000042\"", 42}, {" number=\"99999999999\"", 99999999999},
        {"", -1},
    };
    for (const auto& [attribute, expected] : kRows) {
        std::string text = written;
        text.replace(at, kWritten.size(), attribute);
        SetScanning(Scanning::kAlways);
        std::vector<uint8_t> scanned(record.size(), 0);
        int64_t lines = 0;
        int64_t number = -2;
        SessionRecordScanner scanner(*schema);
        const char* end =
            scanner.Scan(text.data(), text.data() + text.size(), scanned.data(), lines, number);
        SetScanning(Scanning::kAdaptive);
        ASSERT_NE(end, nullptr) << attribute;
        EXPECT_EQ(end, text.data() + text.size() - 1) << attribute;  // before the line end
        EXPECT_EQ(number, expected) << attribute;
        EXPECT_EQ(Hex(scanned), Hex(record)) << attribute;
    }
}

// base with one change at byte at, by turns (at % 3) a replacement by
// with, a deletion and an inserted blank; false when the replacement would
// change nothing.
bool MutateAt(const std::string& base, size_t at, char with, std::string& text) {
    if (at % 3 == 0 && base[at] == with) return false;
    text = base;
    if (at % 3 == 0) {
        text[at] = with;
    } else if (at % 3 == 1) {
        text.erase(at, 1);
    } else {
        text.insert(at, 1, ' ');
    }
    return true;
}

// Every byte of a written text replaced, deleted or preceded by a blank:
// wherever the text stays in the writer's form the scanner reads it, and
// wherever it departs the general way does; the results are the same.
TEST(WrittenRecord, TextsMutatedByteByByteReadAlikeBothWays) {
    const char kReplacements[] = {' ', '0', '9', '-', '<', '"', 'x', '\n', 'F', '.', 'e', '&'};
    int scanned = 0;
    int row = 0;
    for (const char* xsd : kSchemas) {
        auto schema = test::SchemaFromText(xsd);
        ASSERT_TRUE(schema);
        for (const std::string& base : WrittenTexts(*schema, EdgeRecord(schema->Size(), row))) {
            for (size_t at = 0; at < base.size(); ++at) {
                std::string text;
                if (!MutateAt(base, at, kReplacements[(at + row) % sizeof kReplacements], text))
                    continue;
                scanned += Scanned(*schema, text);
                ExpectSameWays(*schema, text, false);
                if (HasFatalFailure()) return;
            }
            ++row;
        }
    }
    // Mutated values that stay numbers (a digit for a digit) keep the form.
    EXPECT_GT(scanned, 100);
}

// The example data file, the data reader's fuzz corpus and the golden files
// against the example schemas, each also mutated at every 7th byte.
TEST(WrittenRecord, ExampleAndCorpusFilesReadAlikeBothWays) {
    auto posRec = test::PosRecSchema();
    auto telemetry = test::SchemaFromFile(test::SourceDir() + "/examples/Schemas/Telemetry.xsd");
    ASSERT_TRUE(posRec && telemetry);
    std::vector<std::string> files = {test::SourceDir() + "/examples/XML_Data/Telemetry_dataR.xml"};
    for (const auto& entry :
         fs::directory_iterator(test::SourceDir() + "/fuzz/corpus/fuzz_data_reader"))
        files.push_back(entry.path());
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const std::string text = test::ReadFile(path);
        for (const Schema* schema : {posRec.get(), telemetry.get()}) {
            ExpectSameWays(*schema, text);
            for (size_t at = 0; at < text.size(); at += 7) {
                std::string changed = text;
                changed[at] = static_cast<char>(changed[at] ^ 0x01);
                ExpectSameWays(*schema, changed, false);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// JSON Lines: a line read with the scanner tried first and the RapidJSON
// way only.
struct JsonOutcome {
    bool ok = false;
    std::string record;
    std::string error;
    bool operator==(const JsonOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const JsonOutcome& o) {
    return out << (o.ok ? "true" : "false") << " record " << o.record << " error " << o.error;
}

JsonOutcome ReadLine(const RecordJsonPlan& plan, std::string_view line, bool lenient,
                     Scanning mode) {
    SetScanning(mode);
    JsonOutcome o;
    std::vector<uint8_t> buffer(static_cast<size_t>(plan.Bytes()) + 3, 0xA5);
    RecordJsonPlan::ReadError error;
    o.ok = plan.ReadJson(line, lenient, buffer.data(), static_cast<int64_t>(buffer.size()), &error);
    SetScanning(Scanning::kAdaptive);
    if (o.ok) o.record = Hex(buffer);
    if (!o.ok) o.error = std::to_string(error.offset) + " " + error.text;
    return o;
}

void ExpectSameJsonWays(const RecordJsonPlan& plan, std::string_view line) {
    for (bool lenient : {false, true}) {
        ASSERT_EQ(ReadLine(plan, line, lenient, Scanning::kAlways),
                  ReadLine(plan, line, lenient, Scanning::kNever))
            << (lenient ? "lenient" : "strict") << " line:\n"
            << line;
    }
}

bool JsonScanned(const RecordJsonPlan& plan, std::string_view line) {
    std::vector<uint8_t> buffer(static_cast<size_t>(plan.Bytes()));
    return plan.ScanJson(line, buffer.data(), plan.Bytes());
}

// An enumeration of two names for one value, a collapsed member and a
// repeated structure of a double, beside the other schemas' members.
const char kLineXsd[] = R"(<Schema name="Line" id="5">
<Enum name="E"><Item name="A" id="1"/><Item name="B" id="2"/><Item name="C" id="2"/></Enum>
<Template name="P"><Item name="x" type="int16"/><Item name="d" type="double"/></Template>
<Item name="c" type="char"/><Item name="u" type="unsigned"/><Item name="b" type="bool"/>
<Item name="f" type="float" nrepetitions="2"/><Item_enum name="e" type="E" nrepetitions="2"/>
<Item name="h" type="char" nrepetitions="2" visibility="0"/>
<Structure name="p" type="P" nrepetitions="2"/>
</Schema>)";

std::vector<std::unique_ptr<Schema>> JsonSchemas() {
    std::vector<std::unique_ptr<Schema>> schemas;
    for (const char* xsd : kSchemas) schemas.push_back(test::SchemaFromText(xsd));
    schemas.push_back(test::SchemaFromText(kLineXsd));
    schemas.push_back(test::PosRecSchema());
    schemas.push_back(test::SchemaFromFile(test::SourceDir() + "/examples/Schemas/Telemetry.xsd"));
    return schemas;
}

// The line to-json writes for record, with a record number and without.
std::vector<std::string> WrittenLines(const RecordJsonPlan& plan, const std::vector<uint8_t>& record) {
    std::vector<std::string> lines(2);
    EXPECT_TRUE(plan.AppendJson(record.data(), plan.Bytes(), -1, lines[0]));
    EXPECT_TRUE(plan.AppendJson(record.data(), plan.Bytes(), 1234567, lines[1]));
    return lines;
}

// Every bit of every type code comes back through the scanner, the same
// record as the RapidJSON read's; also the examples' own records.
TEST(WrittenJsonLine, EveryTypeCodeAndEdgeValueReadsAlikeBothWays) {
    auto schemas = JsonSchemas();
    std::vector<std::pair<const Schema*, std::vector<uint8_t>>> records;
    for (const auto& schema : schemas) {
        ASSERT_TRUE(schema);
        for (int row = 0; row < 24; ++row) records.emplace_back(schema.get(), EdgeRecord(schema->Size(), row));
    }
    records.emplace_back(schemas[4].get(), test::PosRecRecord());
    std::vector<uint8_t> telemetry(static_cast<size_t>(schemas[5]->Size()));
    ASSERT_TRUE(ReadXmlFile(*schemas[5], true,
                            (test::SourceDir() + "/examples/XML_Data/Telemetry_dataR.xml").c_str(),
                            telemetry.data(), schemas[5]->Size()));
    records.emplace_back(schemas[5].get(), telemetry);
    for (const auto& [schema, record] : records) {
        const RecordJsonPlan plan(*schema);
        for (const std::string& line : WrittenLines(plan, record)) {
            std::vector<uint8_t> back(record.size(), 0x5A);
            ASSERT_TRUE(plan.ScanJson(line, back.data(), plan.Bytes())) << line;
            EXPECT_EQ(Hex(back.data(), static_cast<size_t>(plan.Bytes())),
                      Hex(record.data(), static_cast<size_t>(plan.Bytes())))
                << line;
            ExpectSameJsonWays(plan, line);
            if (HasFatalFailure()) return;
        }
    }
}

// Lines near the writer's form: where the scanner takes them and where it
// leaves them to the parser, both ways giving the same result.
TEST(WrittenJsonLine, WhereTheScannerDeparts) {
    auto schema = test::SchemaFromText(kLineXsd);
    ASSERT_TRUE(schema);
    const RecordJsonPlan plan(*schema);
    std::string record;
    auto put = [&](auto v) { record.append(reinterpret_cast<const char*>(&v), sizeof v); };
    put(uint8_t{255}), put(UINT32_MAX), put(int32_t{0x01000000}), put(-0.0f),
        put(std::bit_cast<float>(0x7FC00000u)), put(int32_t{1}), put(int32_t{2});
    record += "\xde\xad";
    put(int16_t{-1}), put(1e300), put(int16_t{2}), put(DBL_TRUE_MIN);
    ASSERT_EQ(static_cast<int64_t>(record.size()), plan.Bytes());
    std::string line;
    ASSERT_TRUE(plan.AppendJson(reinterpret_cast<const uint8_t*>(record.data()), plan.Bytes(), 3, line));
    ASSERT_EQ(line,
              "{\"$schema\":\"Line\",\"$id\":5,\"$number\":3,\"c\":255,\"u\":4294967295,"
              "\"b\":16777216,\"f\":[-0.0,\"nan\"],\"e\":[\"A\",2],\"h\":\"dead\","
              "\"p\":[{\"x\":-1,\"d\":1e+300},{\"x\":2,\"d\":5e-324}]}");
    struct Row {
        std::string from, to;
        bool scanned;
    };
    const Row rows[] = {
        {"", "", true},
        {"}]}", "}]}\r", true},          // a CR LF line end
        {"}]}", "}]} \t", true},
        {"}]}", "}]} x", false},
        {"}]}", "}]}{}", false},
        {"\"$number\":3", "\"$number\":0", true},
        {"\"$number\":3", "\"$number\":03", false},
        {"\"$number\":3", "\"$number\":-3", false},
        {"\"$number\":3", "\"$number\":12345678901234567890", false},
        {",\"$number\":3", "", true},
        {"\"$id\":5", "\"$id\":50", false},
        {"\"Line\"", "\"Lin\\u0065\"", false},
        {"\"c\":255", "\"c\":256", false},
        {"\"c\":255", "\"c\":0", true},
        {"\"c\":255", "\"c\":-0", false},
        {"\"c\":255", "\"c\":0255", false},
        {"\"u\":4294967295", "\"u\":-1", false},
        {"\"u\":4294967295", "\"u\":4294967296", false},
        {"\"b\":16777216", "\"b\":-2147483648", true},
        {"\"b\":16777216", "\"b\":true", false},
        {"\"b\":16777216", "\"b\":1.0", false},
        {"\"b\":16777216", "\"b\":1e3", false},
        {"-0.0", "-0", true},
        {"-0.0", "0e400", false},             // too big for the parser, though zero
        {"-0.0", "0e-400", true},
        {"1e+300", "1e308", true},
        {"1e+300", "1.7976931348623159e308", false},  // no double
        {"-0.0", "3e38", true},
        {"-0.0", "1E+38", true},
        {"-0.0", "1e39", false},              // no float
        {"-0.0", "1.", false},
        {"-0.0", ".5", false},
        {"-0.0", "01.5", false},
        {"-0.0", "+1", false},
        {"-0.0", "\"1.5\"", false},
        {"-0.0", "\"-inf\"", true},
        {"-0.0", "\"snan(0x1)\"", true},
        {"-0.0", "\"nan(0x400000)\"", false},  // no float's payload
        {"-0.0", "-inf", false},
        {"\"nan\"", "\"n\\u0061n\"", false},
        {"[\"A\",2]", "[\"C\",\"A\"]", true},  // a name of a shared value
        {"[\"A\",2]", "[\"D\",2]", false},
        {"[\"A\",2]", "[\"\\u0041\",2]", false},
        {"[\"A\",2]", "[\"A\",2,1]", false},
        {"[\"A\",2]", "[\"A\"]", false},
        {"[\"A\",2]", "[\"A\",2147483648]", false},
        {"\"dead\"", "\"DEAD\"", true},
        {"\"dead\"", "\"dea\"", false},
        {"\"dead\"", "\"deadbe\"", false},
        {"\"dead\"", "\"deag\"", false},
        {"\"dead\"", "\"de\\u0061d\"", false},
        {"\"x\":-1", "\"x\":-32769", false},
        {"\"x\":-1", "\"x\":-32768", true},
        {"\"x\":-1", "\"x\" : -1", false},
        {"\"x\":-1,", "", false},           // missing: strict and lenient differ
        {"1e+300", "1e+300,\"x\":1", false},   // given twice
        {"1e+300", "1e+300,\"z\":1", false},
        {",{\"x\":2,\"d\":5e-324}", "", false},
        {"\"p\":[", "\"p\":[[", false},
        {"{\"$schema", " {\"$schema", false},
    };
    for (const Row& row : rows) {
        std::string text = line;
        if (!row.from.empty()) {
            const size_t at = text.find(row.from);
            ASSERT_NE(at, std::string::npos) << row.from;
            text.replace(at, row.from.size(), row.to);
        }
        EXPECT_EQ(JsonScanned(plan, text), row.scanned) << text;
        ExpectSameJsonWays(plan, text);
        if (HasFatalFailure()) return;
    }
}

// Every byte of a written line replaced, deleted or preceded by a blank:
// both ways give the same result, wherever the line stays in the form.
TEST(WrittenJsonLine, LinesMutatedByteByByteReadAlikeBothWays) {
    const char kReplacements[] = {' ', '0', '9', '-', '"', 'x', '.', 'e', 'E', '+', ',', '}',
                                  ']', '[', '{', ':', '\\', 'n', 'A', '\x80', '\r', '1', 'i'};
    int scanned = 0;
    int row = 0;
    for (const auto& schema : JsonSchemas()) {
        ASSERT_TRUE(schema);
        const RecordJsonPlan plan(*schema);
        for (const std::string& base : WrittenLines(plan, EdgeRecord(schema->Size(), row))) {
            for (size_t at = 0; at < base.size(); ++at) {
                std::string text;
                if (!MutateAt(base, at, kReplacements[(at + row) % sizeof kReplacements], text))
                    continue;
                scanned += JsonScanned(plan, text);
                ExpectSameJsonWays(plan, text);
                if (HasFatalFailure()) return;
            }
            ++row;
        }
    }
    EXPECT_GT(scanned, 100);
}

// Schemas whose names the parser would check the encoding of, or which
// give a name twice, are left to it.
TEST(WrittenJsonLine, NamesLeftToTheParser) {
    const char* const xsds[] = {
        "<Schema name=\"S\xc3\xa9\" id=\"1\"><Item name=\"a\" type=\"int\"/></Schema>",
        "<Schema name=\"S\" id=\"1\"><Item name=\"\xc3\xa9\" type=\"int\"/></Schema>",
        "<Schema name=\"S\" id=\"1\"><Item name=\"a\" type=\"int\"/><Item name=\"a\" "
        "type=\"int\"/></Schema>",
        "<Schema name=\"S\" id=\"1\"><Enum name=\"E\"><Item name=\"\xc3\xa9\" id=\"0\"/></Enum>"
        "<Item_enum name=\"e\" type=\"E\"/></Schema>",
    };
    for (const char* xsd : xsds) {
        auto schema = test::SchemaFromText(xsd);
        ASSERT_TRUE(schema) << xsd;
        const RecordJsonPlan plan(*schema);
        const std::vector<uint8_t> record(static_cast<size_t>(schema->Size()), 0);
        for (const std::string& line : WrittenLines(plan, record)) {
            EXPECT_FALSE(JsonScanned(plan, line)) << line;
            ExpectSameJsonWays(plan, line);
        }
    }
}

// The adaptive mode: eight late departures in a row, then one text in 64
// is scanned, until one is taken; early departures do not count.
TEST(WrittenJsonLine, ScannerBacksOffFromLinesThatKeepDeparting) {
    ScanBackOff backOff(100);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(backOff.Worth());
        backOff.Count(false, 100);
    }
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(backOff.Worth());
        backOff.Count(false, 101);
    }
    backOff.Count(true, 0);
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(backOff.Worth());
        backOff.Count(false, 5000);
    }
    int worth = 0;
    for (int i = 0; i < 640; ++i) worth += backOff.Worth();
    EXPECT_EQ(worth, 10);
    backOff.Count(true, 0);
    EXPECT_TRUE(backOff.Worth());
    SetScanning(Scanning::kNever);
    EXPECT_FALSE(backOff.Worth());
    SetScanning(Scanning::kAdaptive);
}

}  // namespace
}  // namespace morvane
