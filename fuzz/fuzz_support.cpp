#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane::fuzz {
namespace {

int DropLine(void*, bool, const char*, ...) { return 0; }

// A logger instance that writes nothing; any non-null handle will do.
int g_silentInstance;
void* CreateSilent() { return &g_silentInstance; }
bool InitSilent(void*, const char*, int) { return true; }
void DeleteSilent(void*) {}

[[noreturn]] void HarnessFailure(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz harness: %s: %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/morvane-fuzz-XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    if (mkdtemp(text.data()) == nullptr) HarnessFailure("mkdtemp", pattern);
    path_ = text.data();
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Write(const std::string& name, const uint8_t* data, size_t size) const {
    std::string path = *this / name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) HarnessFailure("cannot create", path);
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) HarnessFailure("cannot write", path);
    return path;
}

const ScratchDir& Scratch() {
    static const ScratchDir scratch;
    return scratch;
}

void ScratchDir::Clear() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ec))
        std::filesystem::remove_all(entry.path(), ec);
}

std::string ExamplesDir() {
    const char* dir = std::getenv("MORVANE_FUZZ_EXAMPLES");
    if (dir != nullptr && *dir != '\0') return dir;
    return MORVANE_FUZZ_EXAMPLES_DIR;
}

Schema& LoadExampleSchema(const std::string& name) {
    // The example schemas stay loaded for the whole fuzzing process.
    static std::vector<std::unique_ptr<Schema>> loaded;
    std::string path = ExamplesDir() + "/Schemas/" + name;
    pugi::xml_document doc;
    std::string error;
    if (!LoadXmlDocument(path.c_str(), doc, error)) HarnessFailure(error.c_str(), path);
    auto schema = std::make_unique<Schema>();
    if (!LoadSchema(*schema, doc)) HarnessFailure("schema does not load", path);
    loaded.push_back(std::move(schema));
    return *loaded.back();
}

}  // namespace morvane::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    morvane::BindLog(nullptr, morvane::fuzz::DropLine, true);
    morvane::LoggerApi api;
    api.createLogger = morvane::fuzz::CreateSilent;
    api.deleteLogger = morvane::fuzz::DeleteSilent;
    api.initLogger = morvane::fuzz::InitSilent;
    api.printfdeb = morvane::fuzz::DropLine;
    morvane::BindLoggerApi(api);
    return 0;
}
