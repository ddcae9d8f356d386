// Start-up with file generation: 1,000 schema files of 200 items each are
// loaded, then every schema's layout report, empty XML data file (with its
// value-name log) and C header are written, and finally Schema_Enum.h:
// 3,001 generated files.
//
// BM_StartupLoad and BM_StartupTotal load the way start-up does
// (LoadSchemaSet()), on one thread (last arg 1) and on every processor
// (0). BM_StartupLoad times the loading alone: the floor, since generation
// can only add to it.
// BM_FloorWriteFiles times writing the very files into empty directories
// in the plainest way (open, write, close): the floor of a first
// generation, which cannot avoid creating 3,001 files; on ext4 its cost
// varies with what was deleted on the disk lately, so compare it only with
// figures of the same run. BM_StartupTotal times loading and generating,
// which is the figure to hold under 150 ms. Each runs with the trace flag
// off (first arg 0, LogFlag=0) and on (1); BM_StartupTotal (second arg)
// either into empty directories, as the first start of a new archive (0),
// or into directories that already hold the very files, as every later
// start with unchanged schemas (1); generated files that would not change
// are not rewritten, so the two differ.
//
// BM_StartupTotal's counter x_floor is its time over its floor measured
// earlier in the same run: loading alone with the same trace flag and
// threads, plus, into empty directories, writing the files plainly (one
// thread).
//
// The main log goes to a file through a logger that makes one write(2)
// per call, like the logger library. The counter writes_per_file is the
// number of write system calls the process made per generated file while
// timed, as the kernel counts them (syscw of /proc/self/io): the main log's
// writes included. Real time is the figure: file writing on ext4 may wait
// for the disk, which CPU time does not show.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "generate/generators.h"
#include "generate/schema_set.h"
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
// per enabled call, "%s" written without formatting.
struct FileLog {
    int fd = -1;
};

bool InitLog(FileLog& log, const char* path) {
    log.fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return log.fd >= 0;
}

int PrintLog(void* handle, bool enable, const char* format, ...) {
    auto* log = static_cast<FileLog*>(handle);
    if (!enable || log->fd < 0) return 0;
    va_list args;
    va_start(args, format);
    if (std::strcmp(format, "%s") == 0) {  // text formatted already
        const char* text = va_arg(args, const char*);
        va_end(args);
        const size_t length = std::strlen(text);
        return ::write(log->fd, text, length) < 0 ? -1 : static_cast<int>(length);
    }
    char small[2048];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string big;
    const char* text = small;
    if (n >= static_cast<int>(sizeof small)) {
        big.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, args);
        text = big.data();
    }
    va_end(args);
    if (n > 0 && ::write(log->fd, text, static_cast<size_t>(n)) < 0) return -1;
    return n;
}

// Write system calls of this process so far, as the kernel counts them;
// read with plain calls, since it is read inside the timed region.
double WriteCalls() {
    char text[1024];
    const int fd = ::open("/proc/self/io", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return -1;
    text[n] = '\0';
    const char* at = std::strstr(text, "syscw:");
    return at != nullptr ? std::strtod(at + 6, nullptr) : -1;
}

// The archive: Schemas filled once. Generation goes to the output directory
// pair of the moment: Fresh() makes a new, empty pair current (untimed).
class Archive {
  public:
    Archive() {
        root_ = (fs::temp_directory_path() / "morvane-bench-gen-XXXXXX").string();
        if (::mkdtemp(root_.data()) == nullptr) std::abort();
        fs::create_directories(Schemas());
        for (int i = 0; i < kSchemas; ++i)
            std::ofstream(Schemas() + "/rec" + std::to_string(i) + ".xsd") << BenchSchema(i);
        if (!InitLog(mainLog_, (root_ + "/Morvane.log").c_str())) std::abort();
        struct statfs fs {};
        onTmpfs_ = ::statfs(root_.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
        Fresh();
    }
    ~Archive() {
        ::close(mainLog_.fd);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string Schemas() const { return root_ + "/Schemas"; }
    std::string Include() const { return Out() + "/ResultsInclude"; }
    std::string EmptyXml() const { return Out() + "/ResultsEmptyXml"; }

    // On tmpfs, pairs kKeptPairs generations old are removed so that a long
    // run does not fill the memory. Elsewhere earlier pairs stay until the
    // end: removing thousands of files would time ext4's inode allocation
    // after a mass deletion (for some minutes it passes over recently freed
    // inodes, which made creating a file 30 times slower here), which is
    // not what start-up meets.
    void Fresh() {
        if (onTmpfs_ && generation_ >= kKeptPairs) {
            std::error_code ec;
            fs::remove_all(root_ + "/out" + std::to_string(generation_ - kKeptPairs), ec);
        }
        ++generation_;
        fs::create_directories(Include());
        fs::create_directories(EmptyXml());
    }

    void BindLogging(bool trace) { morvane::BindLog(&mainLog_, &PrintLog, trace); }

    // Empties the main log (untimed): a traced start-up adds 34 MB to it.
    void ClearLog() {
        if (::ftruncate(mainLog_.fd, 0) != 0) std::abort();
    }

    // Lists the schema files and loads them, generating their files when
    // generate is set, the way start-up does (LoadSchemaSet()) with the
    // given number of threads (0: one per processor).
    bool Load(std::vector<std::unique_ptr<Schema>>& schemas, bool generate, unsigned threads) const {
        std::vector<std::string> paths;
        for (const auto& entry : fs::directory_iterator(Schemas())) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xsd") == 0)
                paths.push_back(Schemas() + "/" + name);
        }
        std::sort(paths.begin(), paths.end());
        morvane::SchemaSetOptions options;
        options.generate = generate;
        options.emptyXmlDirectory = EmptyXml();
        options.includeDirectory = Include();
        options.threads = threads;
        morvane::SchemaSet set = morvane::LoadSchemaSet(paths, options);
        schemas = std::move(set.schemas);
        if (set.failed) return false;
        if (!generate) return true;
        std::vector<Schema*> list;
        for (const auto& s : schemas) list.push_back(s.get());
        return morvane::CreateSchemaEnumIncludeFile(list, Include().c_str());
    }

    // The generated files of the current pair: relative name and content.
    std::vector<std::pair<std::string, std::string>> GeneratedFiles() const {
        std::vector<std::pair<std::string, std::string>> files;
        for (const char* dir : {"/ResultsInclude", "/ResultsEmptyXml"}) {
            for (const auto& entry : fs::directory_iterator(Out() + dir)) {
                std::ifstream in(entry.path());
                std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                files.emplace_back(dir + ("/" + entry.path().filename().string()), std::move(text));
            }
        }
        return files;
    }

    std::string Out() const { return root_ + "/out" + std::to_string(generation_); }

  private:
    static constexpr int kKeptPairs = 16;

    std::string root_;
    FileLog mainLog_;
    int generation_ = 0;
    bool onTmpfs_ = false;
};

Archive& TheArchive() {
    static Archive archive;
    return archive;
}

constexpr int kGeneratedFiles = 3 * kSchemas + 1;

using Clock = std::chrono::steady_clock;

// The floors' latest mean times in milliseconds, measured earlier in the
// same run (the floor rows are registered first): writing the files
// plainly, and loading alone by trace flag and thread argument (0 or 1).
struct Floors {
    double writeFiles = 0;
    double load[2][2] = {};
};
Floors g_floors;

double MeanMs(Clock::duration timed, const benchmark::State& state) {
    return std::chrono::duration<double, std::milli>(timed).count() /
           static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

// writes: write calls made while timed; files: generated files per
// iteration (0 for loading alone).
void Report(benchmark::State& state, double writes, int files) {
    state.counters["schemas"] = kSchemas;
    state.counters["writes_per_iteration"] =
        benchmark::Counter(writes / static_cast<double>(state.iterations()));
    if (files > 0)
        state.counters["writes_per_file"] =
            benchmark::Counter(writes / static_cast<double>(state.iterations()) / files);
    state.SetItemsProcessed(state.iterations() * kSchemas * kItems);
}

// Before a timed generation: a fresh, empty output pair (second arg 0), or
// the pair that already holds this very generation's files (1).
void PrepareOutput(benchmark::State& state, Archive& archive) {
    if (state.range(1) == 0) archive.Fresh();
    archive.ClearLog();
}

// The floor of writing the generated files into empty directories: the
// same 3,001 files, contents ready in memory, each created with one open,
// one write and one close, as plainly as a file can be written.
void BM_FloorWriteFiles(benchmark::State& state) {
    Archive& archive = TheArchive();
    archive.BindLogging(false);
    std::vector<std::unique_ptr<Schema>> schemas;
    if (!archive.Load(schemas, true, 0)) {
        state.SkipWithError("start-up failed");
        return;
    }
    const auto files = archive.GeneratedFiles();
    double writes = 0;
    Clock::duration timed{};
    for (auto _ : state) {
        state.PauseTiming();
        archive.Fresh();
        const std::string out = archive.Out();
        state.ResumeTiming();
        const double before = WriteCalls();
        const Clock::time_point start = Clock::now();
        for (const auto& [name, text] : files) {
            int fd = ::open((out + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
                ::close(fd) != 0) {
                state.SkipWithError("a file was not written");
                break;
            }
        }
        timed += Clock::now() - start;
        writes += WriteCalls() - before;
    }
    g_floors.writeFiles = MeanMs(timed, state);
    Report(state, writes, static_cast<int>(files.size()));
}

// Args: trace flag; threads (0: one per processor).
void BM_StartupLoad(benchmark::State& state) {
    Archive& archive = TheArchive();
    archive.BindLogging(state.range(0) != 0);
    double writes = 0;
    Clock::duration timed{};
    for (auto _ : state) {
        const double before = WriteCalls();
        const Clock::time_point start = Clock::now();
        std::vector<std::unique_ptr<Schema>> schemas;
        if (!archive.Load(schemas, false, static_cast<unsigned>(state.range(1)))) {
            state.SkipWithError("a schema did not load");
            break;
        }
        timed += Clock::now() - start;
        writes += WriteCalls() - before;
        state.PauseTiming();  // start-up never frees its schemas
        schemas.clear();
        state.ResumeTiming();
    }
    g_floors.load[state.range(0) != 0][state.range(1) != 0] = MeanMs(timed, state);
    Report(state, writes, 0);
}

// Args: trace flag; output directories empty (0) or holding the same files
// (1); threads (0: one per processor).
void BM_StartupTotal(benchmark::State& state) {
    Archive& archive = TheArchive();
    archive.BindLogging(state.range(0) != 0);
    double writes = 0;
    Clock::duration timed{};
    for (auto _ : state) {
        state.PauseTiming();
        PrepareOutput(state, archive);
        state.ResumeTiming();
        const double before = WriteCalls();
        const Clock::time_point start = Clock::now();
        std::vector<std::unique_ptr<Schema>> schemas;
        if (!archive.Load(schemas, true, static_cast<unsigned>(state.range(2)))) {
            state.SkipWithError("start-up failed");
            break;
        }
        timed += Clock::now() - start;
        writes += WriteCalls() - before;
        state.PauseTiming();
        schemas.clear();
        state.ResumeTiming();
    }
    // Against the floor of the same job: loading alone with the same trace
    // flag and threads, and for a first start also writing the files plainly.
    const double floor = g_floors.load[state.range(0) != 0][state.range(2) != 0] +
                         (state.range(1) == 0 ? g_floors.writeFiles : 0);
    if (floor > 0) state.counters["x_floor"] = MeanMs(timed, state) / floor;
    Report(state, writes, kGeneratedFiles);
}

}  // namespace

// The floor first, then loading alone and the whole start-up beside it,
// on one thread and on every processor.
BENCHMARK(BM_FloorWriteFiles)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupLoad)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_StartupTotal)
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
