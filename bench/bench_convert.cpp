// Converting records between XML data files and binary.
//
// Data: (a) a record of 200 fields of mixed types, 100 of them in a member
// structure repeated 10 times (892 bytes packed, about 11 KB of XML); (b) a
// record of 99,442 bytes, close to the 100,000-byte record area (the same
// fields, the structure repeated 2,200 times; about 1.2 MB of XML). Both
// data files are written by WriteXmlFile itself.
//
// BM_ReadXmlFile/<file>/<store>: ReadXmlFile with store flag 0 and 1.
// BM_BareWalk/<file>: the floor of the reader: pugixml loads the same file
// and the walk touches every element's name, its name, type and
// nrepetitions attributes and its text.
// BM_WriteXmlFile: 100,000 records of (a) appended to one session file.
// BM_BareFormat: the floor of the writer: snprintf of the same 200 values
// per record into a buffered file. BM_BareFormatLines adds the XML line
// around each value (fprintf of the whole line), for comparison.
//
// The run ends with the ratios of each conversion to its floor. The trace
// flag is off, as with LogFlag=0, and no print-data plug-in is bound.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "generate/xml_writer.h"
#include "schema/schema.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

const char* const kKinds[] = {"char",       "int",  "int16",  "int64",  "unsigned", "unsigned16",
                              "unsigned64", "float", "double", "bool",   "State"};
constexpr int kKindCount = 11;
constexpr int kSampleKinds = 10;  // the template leaves out the enumeration

// A value text of the kind for the i-th value, typical of real records.
std::string ValueText(int kind, int i) {
    char text[64];
    switch (kind) {
        case 0: std::snprintf(text, sizeof text, "0x%X", (i * 7) & 0xFF); break;
        case 1: std::snprintf(text, sizeof text, "%d", -12345 * i); break;
        case 2: std::snprintf(text, sizeof text, "%d", (i * 37) % 30000 - 15000); break;
        case 3: std::snprintf(text, sizeof text, "%lld", 1234567890123LL + i * 1000003LL); break;
        case 4: std::snprintf(text, sizeof text, "%d", i * 100003); break;
        case 5: std::snprintf(text, sizeof text, "%d", (i * 13) % 65536); break;
        case 6: std::snprintf(text, sizeof text, "%llu", 9000000000000000000ULL + i); break;
        case 7: std::snprintf(text, sizeof text, "%f", i * 0.25 + 0.5); break;
        case 8: std::snprintf(text, sizeof text, "%f", i * 1.0001 - 500); break;
        case 9: std::snprintf(text, sizeof text, "%d", i % 2); break;
        default: std::snprintf(text, sizeof text, "%d", i % 3); break;
    }
    return text;
}

struct Files {
    std::string dir;
    std::unique_ptr<Schema> schema[2];
    std::vector<uint8_t> record[2];
    std::string path[2];
    int64_t bytes[2] = {};
};

// The schema of 100 top fields and `samples` repetitions of a 10-field
// structure, and a data file with a value in every field (read into a
// record, which WriteXmlFile then writes as the benchmark's data file).
bool Make(Files& files, int which, int samples) {
    std::string xsd = "<Schema name=\"Mixed\" id=\"1\">\n"
                      "<Enum name=\"State\"><Item name=\"Idle\" id=\"0\"/><Item name=\"Busy\" "
                      "id=\"1\"/><Item name=\"Failed\" id=\"2\"/></Enum>\n<Template name=\"Sample\">\n";
    std::string data = "<Schema name=\"Mixed\" id=\"1\">\n";
    for (int k = 0; k < kSampleKinds; ++k)
        xsd += std::string("<Item name=\"s") + kKinds[k] + "\" type=\"" + kKinds[k] + "\"/>\n";
    xsd += "</Template>\n";
    int value = 0;
    for (int i = 0; i < 100; ++i) {
        int k = i % kKindCount;
        const char* tag = k == 10 ? "Item_enum" : "Item";
        std::string item = std::string("<") + tag + " name=\"f" + std::to_string(i) + "\" type=\"" +
                           kKinds[k] + "\"";
        xsd += item + "/>\n";
        data += item + ">" + ValueText(k, value++) + "</" + tag + ">\n";
    }
    xsd += "<Structure name=\"samples\" type=\"Sample\" nrepetitions=\"" + std::to_string(samples) +
           "\"/>\n</Schema>\n";
    for (int r = 0; r < samples; ++r) {
        data += "<Structure name=\"samples\">\n";
        for (int k = 0; k < kSampleKinds; ++k) {
            data += std::string("<Item name=\"s") + kKinds[k] + "\" type=\"" + kKinds[k] + "\">" +
                    ValueText(k, value++) + "</Item>\n";
        }
        data += "</Structure>\n";
    }
    data += "</Schema>\n";

    pugi::xml_document doc;
    doc.load_string(xsd.c_str());
    files.schema[which] = std::make_unique<Schema>();
    if (!LoadSchema(*files.schema[which], doc)) return false;
    int32_t size = files.schema[which]->Size();
    files.record[which].assign(static_cast<size_t>(size), 0);

    std::string source = files.dir + "/source" + std::to_string(which) + ".xml";
    if (FILE* f = std::fopen(source.c_str(), "w")) {
        std::fputs(data.c_str(), f);
        std::fclose(f);
    }
    if (!ReadXmlFile(*files.schema[which], true, source.c_str(), files.record[which].data(), size))
        return false;
    files.path[which] = files.dir + "/data" + std::to_string(which) + ".xml";
    CXmlWriter writer;
    if (!writer.OpenFile(files.path[which].c_str()) ||
        !WriteXmlFile(*files.schema[which], writer, 1, files.record[which].data(), size) ||
        !writer.CloseFile())
        return false;
    files.bytes[which] = static_cast<int64_t>(fs::file_size(files.path[which]));
    return true;
}

Files& TheFiles() {
    static Files* files = [] {
        auto* f = new Files;  // lives for the run
        std::string tmpl = (fs::temp_directory_path() / "morvane-bench-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) std::abort();
        f->dir = tmpl;
        if (!Make(*f, 0, 10) || !Make(*f, 1, 2200)) {
            std::fprintf(stderr, "cannot prepare the data files\n");
            std::abort();
        }
        std::printf("data (a): %d bytes packed, %" PRId64 " bytes of XML\n", f->schema[0]->Size(),
                    f->bytes[0]);
        std::printf("data (b): %d bytes packed, %" PRId64 " bytes of XML\n", f->schema[1]->Size(),
                    f->bytes[1]);
        return f;
    }();
    return *files;
}

void BM_ReadXmlFile(benchmark::State& state) {
    Files& files = TheFiles();
    int which = static_cast<int>(state.range(0));
    bool store = state.range(1) != 0;
    std::vector<uint8_t> record(files.record[which].size(), 0);
    for (auto _ : state) {
        if (!ReadXmlFile(*files.schema[which], store, files.path[which].c_str(), record.data(),
                         static_cast<int32_t>(record.size())))
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(record.data());
    }
    if (store && record != files.record[which]) state.SkipWithError("record differs");
    state.SetBytesProcessed(state.iterations() * files.bytes[which]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadXmlFile)
    ->ArgNames({"file", "store"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

size_t Length(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

void BM_BareWalk(benchmark::State& state) {
    Files& files = TheFiles();
    int which = static_cast<int>(state.range(0));
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_file(files.path[which].c_str(), pugi::parse_default | pugi::parse_comments))
            state.SkipWithError("load failed");
        size_t touched = 0;
        pugi::xml_node node = doc.first_child();
        while (node) {
            if (node.type() == pugi::node_element) {
                touched += Length(node.name()) + Length(node.attribute("name").value()) +
                           Length(node.attribute("type").value()) +
                           Length(node.attribute("nrepetitions").value()) +
                           Length(node.child_value());
            }
            if (pugi::xml_node child = node.first_child()) {
                node = child;
                continue;
            }
            while (node && !node.next_sibling()) node = node.parent();
            if (node) node = node.next_sibling();
        }
        benchmark::DoNotOptimize(touched);
    }
    state.SetBytesProcessed(state.iterations() * files.bytes[which]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareWalk)->ArgName("file")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

constexpr int kSessionRecords = 100000;

void BM_WriteXmlFile(benchmark::State& state) {
    Files& files = TheFiles();
    std::string path = files.dir + "/session.xml";
    CXmlWriter writer;
    if (!writer.OpenFile(path.c_str()) || !writer.OpenBareElement("Root")) {
        state.SkipWithError("cannot open the session file");
        return;
    }
    const std::vector<uint8_t>& record = files.record[0];
    int32_t number = 0;
    for (auto _ : state) {
        if (!WriteXmlFile(*files.schema[0], writer, ++number, record.data(),
                          static_cast<int32_t>(record.size())))
            state.SkipWithError("write failed");
    }
    writer.CloseElement();
    writer.CloseFile();
    state.SetBytesProcessed(static_cast<int64_t>(fs::file_size(path)));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteXmlFile)->Iterations(kSessionRecords)->Unit(benchmark::kMicrosecond);

// The 200 values of record (a) in file order, with their kinds.
struct Value {
    UnitType kind;
    int32_t offset;
    const Unit* unit;
};

void Collect(const CStructure& s, int32_t& offset, std::vector<Value>& values) {
    for (const auto& member : s.units) {
        if (!member->IsLayoutMember()) continue;
        if (const CStructure* child = member->AsStructure()) {
            for (int32_t k = 0; k < member->nrepetitions; ++k) Collect(*child, offset, values);
            continue;
        }
        for (int32_t j = 0; j < member->nrepetitions; ++j) {
            values.push_back({member->type, offset, member.get()});
            offset += TypeSize(member->type);
        }
    }
}

template <class T>
T At(const uint8_t* record, int32_t offset) {
    T v;
    std::memcpy(&v, record + offset, sizeof v);
    return v;
}

int FormatBare(char* out, size_t size, const Value& v, const uint8_t* r) {
    switch (v.kind) {
        case kTypeChar: return std::snprintf(out, size, "0x%X", r[v.offset]);
        case kTypeInt16: return std::snprintf(out, size, "%d", At<int16_t>(r, v.offset));
        case kTypeUnsigned16: return std::snprintf(out, size, "%u", At<uint16_t>(r, v.offset));
        case kTypeInt64: return std::snprintf(out, size, "%lld", At<long long>(r, v.offset));
        case kTypeUnsigned64:
            return std::snprintf(out, size, "%llu", At<unsigned long long>(r, v.offset));
        case kTypeFloat: return std::snprintf(out, size, "%f", At<float>(r, v.offset));
        case kTypeDouble: return std::snprintf(out, size, "%f", At<double>(r, v.offset));
        case kTypeBool: return std::snprintf(out, size, "%d", r[v.offset]);
        default: return std::snprintf(out, size, "%d", At<int32_t>(r, v.offset));
    }
}

void BareFormat(benchmark::State& state, bool lines) {
    Files& files = TheFiles();
    std::vector<Value> values;
    int32_t offset = 0;
    Collect(*files.schema[0]->Top(), offset, values);
    std::string path = files.dir + "/bare.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    const uint8_t* r = files.record[0].data();
    char text[400];
    for (auto _ : state) {
        for (const Value& v : values) {
            FormatBare(text, sizeof text, v, r);
            if (lines) {
                std::fprintf(f, "%s<%s name=\"%s\" type=\"%s\">%s</%s>\n", "      ", "Item",
                             v.unit->name.c_str(), SchemaTypeName(v.kind), text, "Item");
            } else {
                std::fputs(text, f);
                std::fputc('\n', f);
            }
        }
    }
    std::fclose(f);
    state.SetBytesProcessed(static_cast<int64_t>(fs::file_size(path)));
    state.SetItemsProcessed(state.iterations());
}

void BM_BareFormat(benchmark::State& state) { BareFormat(state, false); }
BENCHMARK(BM_BareFormat)->Iterations(kSessionRecords)->Unit(benchmark::kMicrosecond);

void BM_BareFormatLines(benchmark::State& state) { BareFormat(state, true); }
BENCHMARK(BM_BareFormatLines)->Iterations(kSessionRecords)->Unit(benchmark::kMicrosecond);

// Prints as usual, then each conversion's time against its floor.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions the median stands for the benchmark.
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                times_[run.run_name.str()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios to the floors, wall-clock and CPU time (lower is better):\n");
        Ratio("BM_ReadXmlFile/file:0/store:0", "BM_BareWalk/file:0");
        Ratio("BM_ReadXmlFile/file:0/store:1", "BM_BareWalk/file:0");
        Ratio("BM_ReadXmlFile/file:1/store:0", "BM_BareWalk/file:1");
        Ratio("BM_ReadXmlFile/file:1/store:1", "BM_BareWalk/file:1");
        Ratio("BM_WriteXmlFile/iterations:100000", "BM_BareFormat/iterations:100000");
        Ratio("BM_WriteXmlFile/iterations:100000", "BM_BareFormatLines/iterations:100000");
        auto w = times_.find("BM_WriteXmlFile/iterations:100000");
        if (w != times_.end() && w->second.real > 0) {
            std::printf("  WriteXmlFile: %.0f records of 200 fields per second (%.0f per CPU second)\n",
                        1e6 / w->second.real, 1e6 / w->second.cpu);
        }
        std::fflush(stdout);
    }

  private:
    void Ratio(const std::string& name, const std::string& floor) {
        auto a = times_.find(name), b = times_.find(floor);
        if (a == times_.end() || b == times_.end() || b->second.real <= 0 || b->second.cpu <= 0)
            return;
        std::printf("  %-34s / %-37s = %.2fx wall, %.2fx CPU\n", name.c_str(), floor.c_str(),
                    a->second.real / b->second.real, a->second.cpu / b->second.cpu);
    }
    struct Times {
        double real, cpu;
    };
    std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(TheFiles().dir, ec);
    return 0;
}
