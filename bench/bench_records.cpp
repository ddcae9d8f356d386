// morvanec to-json, from-json and to-csv on 100,000 records of 200 fields,
// beside the XML commands of the same build on the same records, the
// in-process JSON writer and reader they are built on, and flatc --json /
// --binary on equivalent data where installed (scripts/setup-bench.sh).
//
//   build-rel/bench/bench_records [RECORDS]
//
// MORVANE_BENCH_KEEP=1 in the environment keeps the files converted.
//
// Records per CPU second are compared, since the 2-core machine is shared;
// each program is timed from start to exit with its peak resident memory.
//
// The floors, plainly: the in-process rows are the formatting or the
// parsing alone, on records in memory, with no file, no kernel copy and no
// threads. ReadJson reads to-json's lines with its scanner; its floor is
// "value conversions alone", the same ReadWrittenValue calls on each
// value's text found beforehand, with no key looked for or compared. The
// RapidJSON way (ReadJson with the scanner off) has for its floor
// "RapidJSON SAX, no handler work", the parser reading the same lines with
// a handler that does nothing. A command's CPU over its floor is what the
// program adds around it.
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <filesystem>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "bench/bench_records_data.h"
#include "convert/record_json.h"
#include "convert/value_codec.h"
#include "convert/written_record.h"
#include "schema/schema.h"

namespace fs = std::filesystem;
using namespace morvane;
using namespace morvane::bench;

namespace {

int g_records = 100000;

void Row(const char* what, const Run& run) {
    PrintRow(what, run, g_records, 42, "records/CPU s");
}

// Times fn in this process as a row of its own.
template <class Fn>
Run InProcess(Fn&& fn) {
    Run run;
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ProcessCpu();
    fn();
    run.cpu = ProcessCpu() - c0;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    run.status = 0;
    return run;
}

// A SAX handler that takes every event and does nothing.
struct NullHandler : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, NullHandler> {
    bool Default() { return true; }
};

// Records per CPU second of a over those of b.
double Ratio(const Run& a, const Run& b) { return b.cpu / a.cpu; }

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_records = std::atoi(argv[1]);
    const std::string dir = MakeBenchDir("bench_records");
    if (dir.empty()) return 1;
    const std::string morvanec = std::string(MORVANE_BIN_DIR) + "/morvanec";
    const std::string xsd = BenchSchema();
    std::ofstream(dir + "/bench.xsd") << xsd;
    WritePackedRecords(dir + "/in.bin", g_records);
    const int size = BenchRecordSize();
    const std::string schemaPath = dir + "/bench.xsd";
    std::printf("%d records of %d fields, %d bytes packed\n\n", g_records, kFields, size);

    auto command = [&](const char* name, const std::string& in, const std::string& out) {
        return Measure({morvanec, name, schemaPath, dir + "/" + in, "-o", dir + "/" + out}, "", "");
    };
    const Run toXml = command("to-xml", "in.bin", "s.xml");
    Row("morvanec to-xml", toXml);
    const Run toJson = command("to-json", "in.bin", "r.jsonl");
    Row("morvanec to-json", toJson);
    const Run toCsv = command("to-csv", "in.bin", "r.csv");
    Row("morvanec to-csv", toCsv);
    const Run toBinary = command("to-binary", "s.xml", "x.bin");
    Row("morvanec to-binary (batches on every core)", toBinary);
    const Run fromJson = command("from-json", "r.jsonl", "j.bin");
    Row("morvanec from-json", fromJson);
    const std::string packed = ReadAll(dir + "/in.bin");
    const bool same = packed == ReadAll(dir + "/j.bin");
    const double jsonBytes = static_cast<double>(fs::file_size(dir + "/r.jsonl"));

    // The floors, in process.
    pugi::xml_document doc;
    doc.load_string(xsd.c_str(), pugi::parse_default | pugi::parse_comments);
    Schema schema;
    LoadSchema(schema, doc);
    const RecordJsonPlan plan(schema);
    const auto* records = reinterpret_cast<const uint8_t*>(packed.data());
    std::string text;
    const Run writer = InProcess([&] {
        for (int r = 0; r < g_records; ++r) {
            text.clear();
            plan.AppendJson(records + static_cast<size_t>(r) * size, size, -1, text);
        }
    });
    Row("in-process writer (AppendJson)", writer);
    const Run csvWriter = InProcess([&] {
        for (int r = 0; r < g_records; ++r) {
            text.clear();
            plan.AppendCsv(records + static_cast<size_t>(r) * size, size, ',', text);
        }
    });
    Row("in-process writer (AppendCsv)", csvWriter);
    std::vector<std::string> lines(1000);
    for (int r = 0; r < 1000; ++r) {
        plan.AppendJson(records + static_cast<size_t>(r % g_records) * size, size, -1, lines[r]);
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    const Run reader = InProcess([&] {
        for (int r = 0; r < g_records; ++r)
            plan.ReadJson(lines[r % 1000], false, buffer.data(), size, nullptr);
    });
    Row("in-process reader (ReadJson, strict)", reader);
    SetScanning(Scanning::kNever);
    const Run general = InProcess([&] {
        for (int r = 0; r < g_records; ++r)
            plan.ReadJson(lines[r % 1000], false, buffer.data(), size, nullptr);
    });
    SetScanning(Scanning::kAdaptive);
    Row("in-process reader, the RapidJSON way", general);
    // Each value's text and kind as JSON reads it (a char as an unsigned16,
    // a bool as an int), found outside the timing.
    const UnitType kJsonKinds[kKinds] = {kTypeUnsigned16, kTypeInt,      kTypeInt16,
                                         kTypeInt64,      kTypeUnsigned, kTypeUnsigned16,
                                         kTypeUnsigned64, kTypeFloat,    kTypeDouble, kTypeInt};
    struct Span {
        size_t at, length;
        int offset;
    };
    std::vector<std::vector<Span>> spans(1000);
    for (int r = 0; r < 1000; ++r) {
        const std::string& line = lines[r];
        size_t at = line.find(",\"f0\":");
        for (int f = 0, offset = 0; f < kFields; offset += kSizes[f % kKinds], ++f) {
            const size_t begin = line.find(':', at) + 1;
            at = line.find_first_of(",}", begin);
            spans[r].push_back({begin, at - begin, offset});
        }
    }
    std::vector<uint8_t> scratch(static_cast<size_t>(size) + 8);
    const Run conversions = InProcess([&] {
        for (int r = 0; r < g_records; ++r) {
            const char* line = lines[r % 1000].data();
            int f = 0;
            for (const Span& span : spans[r % 1000]) {
                ReadWrittenValue(kJsonKinds[f++ % kKinds], line + span.at,
                                 line + span.at + span.length, scratch.data() + span.offset);
            }
        }
    });
    Row("value conversions alone", conversions);
    const Run parser = InProcess([&] {
        for (int r = 0; r < g_records; ++r) {
            rapidjson::MemoryStream in(lines[r % 1000].data(), lines[r % 1000].size());
            NullHandler handler;
            rapidjson::Reader parse;
            parse.Parse<rapidjson::kParseNumbersAsStringsFlag>(in, handler);
        }
    });
    Row("RapidJSON SAX, no handler work", parser);

    // The peer, on the same values.
    Run flatBinary, flatJson;
    const bool flatc = OnPath("flatc");
    if (flatc) {
        WriteFlatInput(dir, g_records);
        RunFlatc(dir, flatBinary, flatJson);
        Row("flatc --binary (JSON to binary)", flatBinary);
        Row("flatc --json (binary to JSON)", flatJson);
    } else {
        std::printf("%-40s not installed (scripts/setup-bench.sh)\n", "flatc");
    }

    std::printf("\nround trip to-json then from-json: %s; %.1f KB of JSON per record\n",
                same ? "the same bytes" : "BYTES DIFFER", jsonBytes / g_records / 1024);
    std::printf("records per CPU second:\n");
    std::printf("  to-json   %.2fx to-xml     (target >= 1)", Ratio(toJson, toXml));
    if (flatc && flatJson.status == 0)
        std::printf(", %.2fx flatc --json", Ratio(toJson, flatJson));
    std::printf("\n  from-json %.2fx to-binary  (target >= 1)", Ratio(fromJson, toBinary));
    if (flatc && flatBinary.status == 0)
        std::printf(", %.2fx flatc --binary", Ratio(fromJson, flatBinary));
    std::printf("\n  to-csv    %.2fx to-json    (target >= 1)", Ratio(toCsv, toJson));
    std::printf("\nCPU over the floor: to-json %.2fx AppendJson, to-csv %.2fx AppendCsv, "
                "from-json %.2fx ReadJson,\n  ReadJson %.2fx the value conversions alone, "
                "the RapidJSON way %.2fx the bare parser (%.2fx ReadJson)\n",
                toJson.cpu / writer.cpu, toCsv.cpu / csvWriter.cpu, fromJson.cpu / reader.cpu,
                reader.cpu / conversions.cpu, general.cpu / parser.cpu, general.cpu / reader.cpu);
    // MORVANE_BENCH_KEEP=1 keeps the files, for a profiler.
    if (std::getenv("MORVANE_BENCH_KEEP") != nullptr)
        std::printf("files kept in %s\n", dir.c_str());
    else
        fs::remove_all(dir);
    return 0;
}
