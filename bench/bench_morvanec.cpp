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

#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "schema/schema.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

constexpr int kFields = 200;
constexpr int kKinds = 10;
const char* const kSchemaKinds[kKinds] = {"char",       "int",        "int16", "int64",  "unsigned",
                                          "unsigned16", "unsigned64", "float", "double", "bool"};
const int kSizes[kKinds] = {1, 4, 2, 8, 4, 2, 8, 4, 8, 4};
const char* const kFlatKinds[kKinds] = {"ubyte",  "int",   "short", "long",   "uint",
                                        "ushort", "ulong", "float", "double", "bool"};
const char* const kProtoKinds[kKinds] = {"uint32", "int32",  "int32", "int64",  "uint32",
                                         "uint32", "uint64", "float", "double", "bool"};

// The value of field f of record r as text (the same text for every format).
std::string Value(int r, int f) {
    const int i = r * 7 + f;
    char text[64];
    switch (f % kKinds) {
        case 0:
            std::snprintf(text, sizeof text, "%d", (i * 7) & 0xFF);
            break;
        case 1:
            std::snprintf(text, sizeof text, "%d", -12345 * (i % 100000));
            break;
        case 2:
            std::snprintf(text, sizeof text, "%d", (i * 37) % 30000 - 15000);
            break;
        case 3:
            std::snprintf(text, sizeof text, "%lld", 1234567890123LL + i * 1000003LL);
            break;
        case 4:
            std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(i) * 100003u);
            break;
        case 5:
            std::snprintf(text, sizeof text, "%d", (i * 13) % 65536);
            break;
        case 6:
            std::snprintf(text, sizeof text, "%llu", 9000000000000000000ULL + i);
            break;
        case 7:
            std::snprintf(text, sizeof text, "%g", (i % 4096) * 0.25 + 0.5);
            break;
        case 8:
            std::snprintf(text, sizeof text, "%.17g", (i % 100000) * 1.0001 - 500);
            break;
        default:
            std::snprintf(text, sizeof text, "%s", i % 2 != 0 ? "true" : "false");
            break;
    }
    return text;
}

void PackValue(int r, int f, std::string& out) {
    const std::string text = Value(r, f);
    const int kind = f % kKinds;
    auto put = [&](auto v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); };
    switch (kind) {
        case 0:
            put(static_cast<uint8_t>(std::atoi(text.c_str())));
            break;
        case 1:
            put(static_cast<int32_t>(std::atoi(text.c_str())));
            break;
        case 2:
            put(static_cast<int16_t>(std::atoi(text.c_str())));
            break;
        case 3:
            put(static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, 10)));
            break;
        case 4:
            put(static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10)));
            break;
        case 5:
            put(static_cast<uint16_t>(std::atoi(text.c_str())));
            break;
        case 6:
            put(static_cast<uint64_t>(std::strtoull(text.c_str(), nullptr, 10)));
            break;
        case 7:
            put(std::strtof(text.c_str(), nullptr));
            break;
        case 8:
            put(std::strtod(text.c_str(), nullptr));
            break;
        default:
            put(static_cast<int32_t>(text == "true"));
            break;
    }
}

// Machines running other work meanwhile stretch the wall time; the CPU time
// of the program (user and system) is the figure compared.
struct Run {
    double seconds = 0;  // wall
    double cpu = 0;      // user + system
    long peakKb = 0;
    int status = -1;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double ProcessCpu() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Runs argv with standard input and output redirected to files ("" keeps
// them), waits, and measures.
Run Measure(const std::vector<std::string>& argv, const std::string& in, const std::string& out) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (!in.empty()) dup2(open(in.c_str(), O_RDONLY), 0);
        if (!out.empty()) dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        int devnull = open("/dev/null", O_WRONLY);
        if (out.empty()) dup2(devnull, 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    run.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool OnPath(const char* program) {
    std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int g_records = 100000;

void Row(const char* what, const Run& run) {
    if (run.status != 0) {
        std::printf("%-36s failed (status %d)\n", what, run.status);
        return;
    }
    std::printf("%-36s %8.0f records/s  %7.2f s CPU  %7.2f s wall", what, g_records / run.cpu,
                run.cpu, run.seconds);
    if (run.peakKb > 0) std::printf("  %7.1f MB peak", run.peakKb / 1024.0);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_records = std::atoi(argv[1]);
    const char* tmp = std::getenv("TMPDIR");
    std::string dirTemplate = std::string(tmp != nullptr ? tmp : "/tmp") + "/bench_morvanec.XXXXXX";
    if (mkdtemp(dirTemplate.data()) == nullptr) return 1;
    const std::string dir = dirTemplate;
    const std::string morvanec = std::string(MORVANE_BIN_DIR) + "/morvanec";

    // The schema and the packed records.
    std::string xsd = "<?xml version=\"1.0\"?>\n<Schema name=\"Bench\" id=\"1\">\n";
    std::string fbs = "table Record {\n";
    std::string proto = "syntax = \"proto3\";\nmessage Record {\n";
    for (int f = 0; f < kFields; ++f) {
        const int kind = f % kKinds;
        xsd +=
            "   <Item name=\"f" + std::to_string(f) + "\" type=\"" + kSchemaKinds[kind] + "\"/>\n";
        fbs += "  f" + std::to_string(f) + ":" + kFlatKinds[kind] + ";\n";
        proto += "  " + std::string(kProtoKinds[kind]) + " f" + std::to_string(f) + " = " +
                 std::to_string(f + 1) + ";\n";
    }
    xsd += "</Schema>\n";
    fbs += "}\ntable Records { records:[Record]; }\nroot_type Records;\n";
    proto += "}\nmessage Records { repeated Record records = 1; }\n";
    std::ofstream(dir + "/bench.xsd") << xsd;
    std::ofstream(dir + "/records.fbs") << fbs;
    std::ofstream(dir + "/records.proto") << proto;
    {
        std::ofstream bin(dir + "/in.bin", std::ios::binary);
        std::string record;
        for (int r = 0; r < g_records; ++r) {
            record.clear();
            for (int f = 0; f < kFields; ++f) PackValue(r, f, record);
            bin << record;
        }
    }
    int recordSize = 0;
    for (int f = 0; f < kFields; ++f) recordSize += kSizes[f % kKinds];

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
    if (flatc || protoc) {
        std::ofstream json(dir + "/records.json");
        std::ofstream txt(dir + "/records.txt");
        json << "{\"records\": [\n";
        for (int r = 0; r < g_records; ++r) {
            std::string j = r == 0 ? "{" : ",\n{";
            std::string t = "records {";
            for (int f = 0; f < kFields; ++f) {
                const std::string v = Value(r, f);
                j += (f == 0 ? "\"f" : ", \"f") + std::to_string(f) + "\": " + v;
                t += " f" + std::to_string(f) + ": " + v;
            }
            json << j << "}";
            txt << t << " }\n";
        }
        json << "\n]}\n";
    }
    if (flatc) {
        flatBinary = Measure(
            {"flatc", "--binary", "-o", dir + "/fb", dir + "/records.fbs", dir + "/records.json"},
            "", "");
        Row("flatc --binary (JSON to binary)", flatBinary);
        flatJson = Measure({"flatc", "--json", "--strict-json", "--raw-binary", "-o", dir + "/fj",
                            dir + "/records.fbs", "--", dir + "/fb/records.bin"},
                           "", "");
        Row("flatc --json (binary to JSON)", flatJson);
    } else {
        std::printf("%-36s not installed (scripts/setup-bench.sh)\n", "flatc");
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
