// Start-up with file generation: 1,000 schema files of 200 items each are
// loaded, then every schema's layout report, empty XML data file (with its
// value-name log) and C header are written, and finally Schema_Enum.h.
//
// BM_StartupLoad times the loading alone, BM_StartupGenerate the generation
// alone (on schemas loaded beforehand), BM_StartupTotal both, which is the
// figure to hold under 1.5 s. Each runs with the trace flag off (first arg
// 0, LogFlag=0) and on (1); the main log and the value-name logs are
// written to files by a logger that makes one write(2) per line, like the
// logger library. Real time is the figure: file writing on ext4 may wait
// for the disk, which CPU time does not show.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "generate/generators.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace fs = std::filesystem;
using morvane::Schema;

namespace {

constexpr int kSchemas = 1000;
constexpr int kItems = 200;

const char* const kTypes[] = {"int",      "char",       "double", "unsigned16", "int64",
                              "float",    "unsigned64", "int16",  "unsigned",   "bool"};

// 200 member elements: items of every type, some repeated, some collapsed,
// enumerated items and a few template instances.
std::string BenchSchema(int id) {
    std::string xml = "<?xml version=\"1.0\"?>\n<Schema name=\"Rec" + std::to_string(id) +
                      "\" id=\"" + std::to_string(id) + "\">\n";
    xml += "   <Template name=\"Point\">\n      <Item name=\"x\" type=\"double\"/>\n"
           "      <Item name=\"y\" type=\"double\"/>\n      <Item name=\"valid\" type=\"char\"/>\n"
           "   </Template>\n";
    xml += "   <Enum name=\"State\">\n      <Item name=\"Idle\" id=\"0\"/>\n"
           "      <Item name=\"Busy\" id=\"1\"/>\n      <Item name=\"Failed\" id=\"2\"/>\n   </Enum>\n";
    for (int i = 0; i < kItems; ++i) {
        const std::string n = std::to_string(i);
        if (i % 10 == 0) xml += "   <!--field group " + std::to_string(i / 10) + "-->\n";
        if (i % 25 == 24) {
            xml += "   <Structure name=\"p" + n + "\" type=\"Point\" nrepetitions=\"2\"/>\n";
        } else if (i % 8 == 7) {
            xml += "   <Item_enum name=\"state" + n + "\" type=\"State\"/>\n";
        } else {
            std::string reps;
            if (i % 9 == 0) reps = " nrepetitions=\"8\"";
            if (i % 11 == 0) reps = " nrepetitions=\"16\" visibility=\"0\"";
            xml += "   <Item name=\"field" + n + "\" type=\"" + kTypes[i % 10] + "\"" + reps + "/>\n";
        }
    }
    return xml + "</Schema>\n";
}

// A logger with the library's behaviour: one file per handle, one write(2)
// per enabled line; mode 0 starts the file afresh. With g_cutAtDelete the
// file is instead overwritten in place and cut to length when the logger
// is deleted, which spares ext4's forced write-back of truncated files.
struct FileLog {
    int fd = -1;
    bool cut = false;
};
bool g_cutAtDelete = false;

void* CreateLog() { return new FileLog; }

bool InitLog(void* handle, const char* path, int mode) {
    auto* log = static_cast<FileLog*>(handle);
    int flags = mode == 1 ? O_APPEND : (g_cutAtDelete ? 0 : O_TRUNC);
    log->fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    log->cut = mode != 1 && g_cutAtDelete;
    return log->fd >= 0;
}

int PrintLog(void* handle, bool enable, const char* format, ...) {
    auto* log = static_cast<FileLog*>(handle);
    if (!enable || log->fd < 0) return 0;
    char line[2048];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) {
        size_t length = std::min(static_cast<size_t>(n), sizeof line - 1);
        if (::write(log->fd, line, length) < 0) return -1;
    }
    return n;
}

void DeleteLog(void* handle) {
    auto* log = static_cast<FileLog*>(handle);
    if (log->fd >= 0) {
        if (log->cut && ::ftruncate(log->fd, ::lseek(log->fd, 0, SEEK_CUR)) != 0) std::abort();
        ::close(log->fd);
    }
    delete log;
}

// The archive: Schemas filled once. The generated files are replaced from
// run to run, as at every start of Morvane; the first run creates them.
// (Deleting them between runs would time ext4's inode allocation after mass
// deletion, which dominates everything else and is not what start-up does.)
class Archive {
  public:
    Archive() {
        root_ = (fs::temp_directory_path() / "morvane-bench-gen-XXXXXX").string();
        if (::mkdtemp(root_.data()) == nullptr) std::abort();
        fs::create_directories(Schemas());
        for (int i = 0; i < kSchemas; ++i)
            std::ofstream(Schemas() + "/rec" + std::to_string(i) + ".xsd") << BenchSchema(i);
        mainLog_ = CreateLog();
        InitLog(mainLog_, (root_ + "/Morvane.log").c_str(), 1);
    }
    ~Archive() {
        DeleteLog(mainLog_);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string Schemas() const { return root_ + "/Schemas"; }
    std::string Include() const { return root_ + "/ResultsInclude"; }
    std::string EmptyXml() const { return root_ + "/ResultsEmptyXml"; }

    void BindLogging(bool trace) {
        morvane::LoggerApi api;
        api.createLogger = &CreateLog;
        api.initLogger = &InitLog;
        api.printfdeb = &PrintLog;
        api.deleteLogger = &DeleteLog;
        morvane::BindLoggerApi(api);
        morvane::BindLog(mainLog_, &PrintLog, trace);
    }

    // Lists, reads and loads every schema file the way start-up does.
    bool Load(std::vector<std::unique_ptr<Schema>>& schemas) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Schemas())) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xsd") == 0)
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            pugi::xml_document doc;
            std::string error;
            auto schema = std::make_unique<Schema>();
            if (!morvane::LoadXmlDocument((Schemas() + "/" + name).c_str(), doc, error) ||
                !morvane::LoadSchema(*schema, doc))
                return false;
            schemas.push_back(std::move(schema));
        }
        return true;
    }

    bool Generate(const std::vector<std::unique_ptr<Schema>>& schemas) const {
        std::vector<Schema*> list;
        for (const auto& s : schemas) {
            morvane::GenerateSchemaFiles(*s, EmptyXml().c_str(), Include().c_str());
            list.push_back(s.get());
        }
        return morvane::CreateSchemaEnumIncludeFile(list, Include().c_str());
    }

  private:
    std::string root_;
    void* mainLog_ = nullptr;
};

Archive& TheArchive() {
    static Archive archive;
    return archive;
}

void Report(benchmark::State& state) {
    state.counters["schemas"] = kSchemas;
    state.SetItemsProcessed(state.iterations() * kSchemas * kItems);
}

void BM_StartupLoad(benchmark::State& state) {
    Archive& archive = TheArchive();
    archive.BindLogging(state.range(0) != 0);
    for (auto _ : state) {
        std::vector<std::unique_ptr<Schema>> schemas;
        if (!archive.Load(schemas)) {
            state.SkipWithError("a schema did not load");
            break;
        }
        state.PauseTiming();  // start-up never frees its schemas
        schemas.clear();
        state.ResumeTiming();
    }
    Report(state);
}

void BM_StartupGenerate(benchmark::State& state) {
    Archive& archive = TheArchive();
    archive.BindLogging(false);
    std::vector<std::unique_ptr<Schema>> schemas;
    if (!archive.Load(schemas)) {
        state.SkipWithError("a schema did not load");
        return;
    }
    archive.BindLogging(state.range(0) != 0);
    for (auto _ : state) {
        if (!archive.Generate(schemas)) {
            state.SkipWithError("Schema_Enum.h was not written");
            break;
        }
    }
    Report(state);
}

void BM_StartupTotal(benchmark::State& state) {
    Archive& archive = TheArchive();
    archive.BindLogging(state.range(0) != 0);
    g_cutAtDelete = state.range(1) != 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<Schema>> schemas;
        if (!archive.Load(schemas) || !archive.Generate(schemas)) {
            state.SkipWithError("start-up failed");
            break;
        }
        state.PauseTiming();
        schemas.clear();
        state.ResumeTiming();
    }
    g_cutAtDelete = false;
    Report(state);
}

}  // namespace

BENCHMARK(BM_StartupLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupGenerate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
// Args: trace flag; value-name logs cut at delete (1) or truncated at open
// like the logger library (0).
BENCHMARK(BM_StartupTotal)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
