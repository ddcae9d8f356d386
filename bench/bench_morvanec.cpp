// morvanec to-xml and to-binary on 100,000 records of 200 fields, beside
// the in-process writer and reader they are built on and, where installed
// (scripts/setup-bench.sh), the schema compilers of two peer formats on
// equivalent data: flatc --binary / --json and protoc --encode / --decode.
//
//   build-rel/bench/bench_morvanec [RECORDS]
//
// The record: 200 fields, 20 of each of char, int, int16, int64, unsigned,
// unsigned16, unsigned64, float, double and bool (900 bytes packed, about
// 11 KB of XML). The peers get the same 200 fields with their nearest types
// (FlatBuffers: ubyte, int, short, long, uint, ushort, ulong, float, double,
// bool; Protocol Buffers: uint32, int32, int32, int64, uint32, uint32,
// uint64, float, double, bool) and the same values, all records in one
// vector (repeated field) of a root message, as those tools take one
// document per run. Every program is timed from start to exit, with its
// peak resident memory (ru_maxrss); the in-process figures are CPU loops
// over records in memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "bench/bench_records_data.h"
#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "schema/schema.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

using namespace morvane::bench;

int g_records = 100000;

void Row(const char* what, const Run& run) { PrintRow(what, run, g_records, 36, "records/s"); }

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_records = std::atoi(argv[1]);
    const std::string dir = MakeBenchDir("bench_morvanec");
    if (dir.empty()) return 1;
    const std::string morvanec = std::string(MORVANE_BIN_DIR) + "/morvanec";

    // The schema and the packed records.
    const std::string xsd = BenchSchema();
    std::string proto = "syntax = \"proto3\";\nmessage Record {\n";
    for (int f = 0; f < kFields; ++f) {
        proto += "  " + std::string(kProtoKinds[f % kKinds]) + " f" + std::to_string(f) + " = " +
                 std::to_string(f + 1) + ";\n";
    }
    proto += "}\nmessage Records { repeated Record records = 1; }\n";
    std::ofstream(dir + "/bench.xsd") << xsd;
    std::ofstream(dir + "/records.proto") << proto;
    WritePackedRecords(dir + "/in.bin", g_records);
    const int recordSize = BenchRecordSize();

    std::printf("%d records of %d fields, %d bytes packed\n\n", g_records, kFields, recordSize);
    Run toXml = Measure(
        {morvanec, "to-xml", dir + "/bench.xsd", dir + "/in.bin", "-o", dir + "/s.xml"}, "", "");
    Row("morvanec to-xml", toXml);
    const double xmlBytes = static_cast<double>(fs::file_size(dir + "/s.xml"));
    Run toBinary =
        Measure({morvanec, "to-binary", dir + "/bench.xsd", dir + "/s.xml", "-o", dir + "/out.bin"},
                "", "");
    Row("morvanec to-binary", toBinary);
    const bool same = ReadAll(dir + "/in.bin") == ReadAll(dir + "/out.bin");

    // In process: the writer and the reader under morvanec, on records in
    // memory (the reader on 1,000 record texts taken in turn).
    pugi::xml_document doc;
    doc.load_string(xsd.c_str(), pugi::parse_default | pugi::parse_comments);
    Schema schema;
    LoadSchema(schema, doc);
    std::string packed = ReadAll(dir + "/in.bin");
    std::string text;
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ProcessCpu();
    for (int r = 0; r < g_records; ++r) {
        text.clear();
        AppendRecordXml(
            schema, r + 1,
            reinterpret_cast<const uint8_t*>(packed.data()) + static_cast<size_t>(r) * recordSize,
            recordSize, text);
    }
    Run writer;
    writer.status = 0;
    writer.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    writer.cpu = ProcessCpu() - c0;
    std::vector<std::string> texts(1000);
    for (int r = 0; r < 1000; ++r) {
        AppendRecordXml(schema, r + 1,
                        reinterpret_cast<const uint8_t*>(packed.data()) +
                            static_cast<size_t>(r % g_records) * recordSize,
                        recordSize, texts[r]);
    }
    std::vector<uint8_t> buffer(recordSize);
    ReadOptions strict;
    strict.strict = true;
    t0 = std::chrono::steady_clock::now();
    c0 = ProcessCpu();
    for (int r = 0; r < g_records; ++r) {
        ReadXmlText(schema, true, texts[r % 1000], "bench", buffer.data(), recordSize, strict,
                    nullptr);
    }
    Run reader;
    reader.status = 0;
    reader.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    reader.cpu = ProcessCpu() - c0;
    Row("in-process writer (AppendRecordXml)", writer);
    Row("in-process reader (ReadXmlText)", reader);

    // The peers, on the same values.
    const bool flatc = OnPath("flatc");
    const bool protoc = OnPath("protoc");
    Run flatBinary, flatJson, protoEncode, protoDecode;
    if (flatc) {
        WriteFlatInput(dir, g_records);
        RunFlatc(dir, flatBinary, flatJson);
        Row("flatc --binary (JSON to binary)", flatBinary);
        Row("flatc --json (binary to JSON)", flatJson);
    } else {
        std::printf("%-36s not installed (scripts/setup-bench.sh)\n", "flatc");
    }
    if (protoc) {
        std::ofstream txt(dir + "/records.txt");
        for (int r = 0; r < g_records; ++r) {
            std::string t = "records {";
            for (int f = 0; f < kFields; ++f) t += " f" + std::to_string(f) + ": " + Value(r, f);
            txt << t << " }\n";
        }
    }
    if (protoc) {
        protoEncode =
            Measure({"protoc", "--encode=Records", "--proto_path=" + dir, "records.proto"},
                    dir + "/records.txt", dir + "/records.pb");
        Row("protoc --encode (text to binary)", protoEncode);
        protoDecode =
            Measure({"protoc", "--decode=Records", "--proto_path=" + dir, "records.proto"},
                    dir + "/records.pb", dir + "/records.out");
        Row("protoc --decode (binary to text)", protoDecode);
    } else {
        std::printf("%-36s not installed (scripts/setup-bench.sh)\n", "protoc");
    }

    std::printf("\nround trip to-xml then to-binary: %s; %.1f KB of XML per record\n",
                same ? "the same bytes" : "BYTES DIFFER", xmlBytes / g_records / 1024);
    std::printf("CPU time, to-xml: %.2fx the in-process writer", toXml.cpu / writer.cpu);
    if (flatc && flatJson.status == 0)
        std::printf(", %.2fx less than flatc --json", flatJson.cpu / toXml.cpu);
    if (protoc && protoDecode.status == 0)
        std::printf(", %.2fx less than protoc --decode", protoDecode.cpu / toXml.cpu);
    std::printf("\nCPU time, to-binary: %.2fx the in-process reader", toBinary.cpu / reader.cpu);
    if (flatc && flatBinary.status == 0)
        std::printf(", %.2fx less than flatc --binary", flatBinary.cpu / toBinary.cpu);
    if (protoc && protoEncode.status == 0)
        std::printf(", %.2fx less than protoc --encode", protoEncode.cpu / toBinary.cpu);
    std::printf("\ntarget: >= 25,000 records/s each way, ahead of both peers\n");
    fs::remove_all(dir);
    return 0;
}
