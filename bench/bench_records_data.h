// What the converter benchmarks share: the record of 200 fields (20 of each
// of char, int, int16, int64, unsigned, unsigned16, unsigned64, float,
// double and bool; 900 bytes packed), its values as text and packed, and
// programs timed from start to exit with their CPU time and peak memory.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace morvane::bench {

inline constexpr int kFields = 200;
inline constexpr int kKinds = 10;
inline const char* const kSchemaKinds[kKinds] = {"char",       "int",        "int16", "int64",  "unsigned",
                                          "unsigned16", "unsigned64", "float", "double", "bool"};
inline const int kSizes[kKinds] = {1, 4, 2, 8, 4, 2, 8, 4, 8, 4};
inline const char* const kFlatKinds[kKinds] = {"ubyte",  "int",   "short", "long",   "uint",
                                        "ushort", "ulong", "float", "double", "bool"};
inline const char* const kProtoKinds[kKinds] = {"uint32", "int32",  "int32", "int64",  "uint32",
                                         "uint32", "uint64", "float", "double", "bool"};

// The value of field f of record r as text (the same text for every format).
inline std::string Value(int r, int f) {
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
            // Exact in binary, so that a "%f" text gives the same value.
            std::snprintf(text, sizeof text, "%.3f", (i % 100000) * 0.125 - 500);
            break;
        default:
            std::snprintf(text, sizeof text, "%s", i % 2 != 0 ? "true" : "false");
            break;
    }
    return text;
}

inline void PackValue(int r, int f, std::string& out) {
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

// Keeps the run of least CPU time: a failed run always wins, so that a
// failure is never hidden by a later success.
inline void KeepLeast(Run& best, const Run& run) {
    if (best.status == -1 || run.status != 0 || (best.status == 0 && run.cpu < best.cpu))
        best = run;
}

inline double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

inline double ProcessCpu() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Runs argv with standard input and output redirected to files ("" keeps
// them), waits, and measures.
inline Run Measure(const std::vector<std::string>& argv, const std::string& in, const std::string& out) {
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

inline bool OnPath(const char* program) {
    std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}


// A new directory under $TMPDIR (or /tmp) named after the benchmark; empty
// when it cannot be made.
inline std::string MakeBenchDir(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name + ".XXXXXX";
    return mkdtemp(path.data()) == nullptr ? std::string() : path;
}

// The benchmark schema: the fields f0, f1, ... (200 unless told), the kinds
// in turn.
inline std::string BenchSchema(int fields = kFields) {
    std::string xsd = "<?xml version=\"1.0\"?>\n<Schema name=\"Bench\" id=\"1\">\n";
    for (int f = 0; f < fields; ++f) {
        xsd += "   <Item name=\"f" + std::to_string(f) + "\" type=\"" + kSchemaKinds[f % kKinds] +
               "\"/>\n";
    }
    return xsd + "</Schema>\n";
}

inline int BenchRecordSize(int fields = kFields) {
    int size = 0;
    for (int f = 0; f < fields; ++f) size += kSizes[f % kKinds];
    return size;
}

// Writes records packed records of fields fields to path.
inline void WritePackedRecords(const std::string& path, int records, int fields = kFields) {
    std::ofstream bin(path, std::ios::binary);
    std::string record;
    for (int r = 0; r < records; ++r) {
        record.clear();
        for (int f = 0; f < fields; ++f) PackValue(r, f, record);
        bin << record;
    }
}

// The FlatBuffers peer's input in dir: records.fbs, the fields with their
// nearest FlatBuffers types, and records.json, all records in one vector of
// a root table, as flatc takes one document per run.
inline void WriteFlatInput(const std::string& dir, int records) {
    std::string fbs = "table Record {\n";
    for (int f = 0; f < kFields; ++f)
        fbs += "  f" + std::to_string(f) + ":" + kFlatKinds[f % kKinds] + ";\n";
    fbs += "}\ntable Records { records:[Record]; }\nroot_type Records;\n";
    std::ofstream(dir + "/records.fbs") << fbs;
    std::ofstream json(dir + "/records.json");
    json << "{\"records\": [\n";
    for (int r = 0; r < records; ++r) {
        std::string j = r == 0 ? "{" : ",\n{";
        for (int f = 0; f < kFields; ++f)
            j += (f == 0 ? "\"f" : ", \"f") + std::to_string(f) + "\": " + Value(r, f);
        json << j << "}";
    }
    json << "\n]}\n";
}

// flatc --binary on WriteFlatInput's files, then flatc --json on its output.
inline void RunFlatc(const std::string& dir, Run& toBinary, Run& toJson) {
    toBinary = Measure(
        {"flatc", "--binary", "-o", dir + "/fb", dir + "/records.fbs", dir + "/records.json"}, "",
        "");
    toJson = Measure({"flatc", "--json", "--strict-json", "--raw-binary", "-o", dir + "/fj",
                      dir + "/records.fbs", "--", dir + "/fb/records.bin"},
                     "", "");
}

// One figure line: records per CPU second of run over records, its CPU,
// wall time and peak memory; what is left-aligned in width columns.
inline void PrintRow(const char* what, const Run& run, int records, int width,
                     const char* unit) {
    if (run.status != 0) {
        std::printf("%-*s failed (status %d)\n", width, what, run.status);
        return;
    }
    std::printf("%-*s %8.0f %s  %7.2f s CPU  %7.2f s wall", width, what, records / run.cpu, unit,
                run.cpu, run.seconds);
    if (run.peakKb > 0) std::printf("  %7.1f MB peak", run.peakKb / 1024.0);
    std::printf("\n");
}

}  // namespace morvane::bench
