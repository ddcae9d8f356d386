// Loading and laying out schemas.
//
// BM_ExpandTemplates: one schema of 100 templates with 100 items each, every
// template instantiated 10 times (100,000 expanded units at scale 1), parsed
// from memory and loaded. BM_LoadSchemaFiles: 1,000 schema files of 200
// items each at scale 1, listed, read and loaded the way start-up does it.
// Both run at scales 1, 4 and 16; items_per_second (units laid out per
// second of wall-clock time) should stay flat. The trace flag is off, as
// with LogFlag=0.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "schema/schema.h"

namespace fs = std::filesystem;
using morvane::CStructure;
using morvane::Unit;

namespace {

const char* const kItemTypes[] = {"int", "char", "double", "unsigned16", "int64", "bool", "float"};

std::string TemplatesSchema(int templates, int items, int instances) {
    std::string xml = "<?xml version=\"1.0\"?>\n<Schema name=\"Bench\" id=\"1\">\n";
    for (int t = 0; t < templates; ++t) {
        xml += "   <Template name=\"T" + std::to_string(t) + "\">\n";
        for (int i = 0; i < items; ++i) {
            if (i % 10 == 0) xml += "      <!--field group " + std::to_string(i / 10) + "-->\n";
            xml += "      <Item name=\"f" + std::to_string(i) + "\" type=\"" + kItemTypes[i % 7] +
                   "\"" + (i % 13 == 0 ? " nrepetitions=\"4\"" : "") + "/>\n";
        }
        xml += "   </Template>\n";
    }
    for (int t = 0; t < templates; ++t) {
        for (int n = 0; n < instances; ++n) {
            xml += "   <Structure name=\"s" + std::to_string(t) + "_" + std::to_string(n) +
                   "\" type=\"T" + std::to_string(t) + "\"/>\n";
        }
    }
    return xml + "</Schema>\n";
}

std::string ItemsSchema(int id, int items) {
    std::string xml = "<?xml version=\"1.0\"?>\n<Schema name=\"Rec" + std::to_string(id) +
                      "\" id=\"" + std::to_string(id) + "\">\n";
    xml += "   <Enum name=\"State\">\n      <Item name=\"Idle\" id=\"0\"/>\n"
           "      <Item name=\"Busy\" id=\"1\"/>\n      <Item name=\"Failed\" id=\"2\"/>\n   </Enum>\n";
    for (int i = 0; i < items; ++i) {
        if (i % 10 == 0) xml += "   <!--field group " + std::to_string(i / 10) + "-->\n";
        if (i % 8 == 7) {
            xml += "   <Item_enum name=\"state" + std::to_string(i) + "\" type=\"State\"/>\n";
        } else {
            xml += "   <Item name=\"field" + std::to_string(i) + "\" type=\"" + kItemTypes[i % 7] +
                   "\"" + (i % 9 == 0 ? " nrepetitions=\"8\"" : "") + "/>\n";
        }
    }
    return xml + "</Schema>\n";
}

int64_t CountUnits(const Unit& unit) {
    int64_t count = 1;
    if (const CStructure* s = unit.AsStructure()) {
        for (const auto& member : s->units) count += CountUnits(*member);
    }
    return count;
}

void BM_ExpandTemplates(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    const std::string xml = TemplatesSchema(100 * scale, 100, 10);
    int64_t units = 0;
    for (auto _ : state) {
        auto schema = std::make_unique<morvane::Schema>();
        pugi::xml_document doc;
        if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_comments) ||
            !morvane::LoadSchema(*schema, doc)) {
            state.SkipWithError("schema did not load");
            break;
        }
        state.PauseTiming();  // start-up never frees a schema
        units = CountUnits(*schema->root);
        schema.reset();
        state.ResumeTiming();
    }
    state.counters["units"] = static_cast<double>(units);
    state.SetItemsProcessed(state.iterations() * units);
}
BENCHMARK(BM_ExpandTemplates)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

// Schema directories made once per scale, removed when the program ends.
class SchemaDirs {
  public:
    ~SchemaDirs() {
        std::error_code ec;
        for (const auto& [scale, dir] : dirs_) fs::remove_all(dir, ec);
    }
    const std::string& Get(int files, int items) {
        auto it = dirs_.find(files);
        if (it != dirs_.end()) return it->second;
        std::string dir = (fs::temp_directory_path() / "morvane-bench-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr) std::abort();
        for (int i = 0; i < files; ++i) {
            std::ofstream(dir + "/rec" + std::to_string(i) + ".xsd") << ItemsSchema(i, items);
        }
        return dirs_.emplace(files, dir).first->second;
    }

  private:
    std::map<int, std::string> dirs_;
};

SchemaDirs g_dirs;

void BM_LoadSchemaFiles(benchmark::State& state) {
    const int files = 1000 * static_cast<int>(state.range(0));
    const std::string& dir = g_dirs.Get(files, 200);
    int64_t units = 0;
    for (auto _ : state) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string name = entry.path().filename().string();
            if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".xsd") == 0) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        std::vector<std::unique_ptr<morvane::Schema>> registry;
        for (const auto& name : names) {
            char path[512];
            std::snprintf(path, sizeof path, "%s/%s", dir.c_str(), name.c_str());
            pugi::xml_document doc;
            std::string error;
            auto schema = std::make_unique<morvane::Schema>();
            if (!morvane::LoadXmlDocument(path, doc, error) || !morvane::LoadSchema(*schema, doc)) {
                state.SkipWithError("schema file did not load");
                return;
            }
            registry.push_back(std::move(schema));
        }
        state.PauseTiming();
        units = 0;
        for (const auto& schema : registry) units += CountUnits(*schema->root);
        registry.clear();
        state.ResumeTiming();
    }
    state.counters["files"] = files;
    state.counters["units"] = static_cast<double>(units);
    state.SetItemsProcessed(state.iterations() * units);
}
BENCHMARK(BM_LoadSchemaFiles)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
