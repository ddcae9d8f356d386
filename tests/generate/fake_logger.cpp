#include "fake_logger.h"

#include <cstdarg>

#include "logging/log.h"
#include "support/test_support.h"

namespace morvane::test {
namespace {
FakeLoggerLibrary* g_library = nullptr;
}

FakeLoggerLibrary::FakeLoggerLibrary() {
    g_library = this;
    LoggerApi api;
    api.createLogger = &Create;
    api.deleteLogger = &Delete;
    api.initLogger = &Init;
    api.printfdeb = &Printf;
    BindLoggerApi(api);
}

FakeLoggerLibrary::~FakeLoggerLibrary() {
    BindLoggerApi(LoggerApi{});
    g_library = nullptr;
}

void* FakeLoggerLibrary::Create() {
    g_library->instances_.push_back(std::make_unique<Instance>());
    return g_library->instances_.back().get();
}

bool FakeLoggerLibrary::Init(void* handle, const char* path, int mode) {
    auto* instance = static_cast<Instance*>(handle);
    instance->path = path;
    instance->mode = mode;
    ++instance->inits;
    return true;
}

int FakeLoggerLibrary::Printf(void* handle, bool enable, const char* format, ...) {
    auto* instance = static_cast<Instance*>(handle);
    if (instance->deleted) instance->usedAfterDelete = true;
    if (!enable) return 0;
    va_list args;
    va_start(args, format);
    std::string line;
    bool ok = FormatV(line, format, args);
    va_end(args);
    if (!ok) return -1;
    instance->text += line;
    return static_cast<int>(line.size());
}

void FakeLoggerLibrary::Delete(void* handle) {
    auto* instance = static_cast<Instance*>(handle);
    if (instance->deleted) instance->usedAfterDelete = true;
    instance->deleted = true;
    if (!instance->path.empty()) WriteFile(instance->path, instance->text);
}

}  // namespace morvane::test
