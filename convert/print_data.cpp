#include "convert/print_data.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

struct PrintDataBinding {
    std::string dllName;             // as configured; empty: no plug-in
    RunMyPrintDataFn run = nullptr;  // null while the plug-in is absent
};

// Written by BindPrintData() during start-up only; read-only afterwards.
PrintDataBinding g_binding;

}  // namespace

void* BindPrintData(const std::string& dllName, const std::string& programDirectory,
                    const std::string& xmlDataDirectory, const std::string& libraryDirectory) {
    g_binding = PrintDataBinding{dllName, nullptr};
    if (dllName.empty()) return nullptr;

    // A relative name is taken from the program directory (the home), then
    // from the package's library directory, never from the directory the
    // program happens to be started in.
    std::string path = dllName.front() == '/' ? dllName : programDirectory + "/" + dllName;
    if (dllName.front() != '/' && !libraryDirectory.empty() && access(path.c_str(), F_OK) != 0) {
        const std::string packaged = libraryDirectory + "/" + dllName;
        if (access(packaged.c_str(), F_OK) == 0) path = packaged;
    }
    // Kept open for the life of the process: the plug-in's handle lives as
    // long, and its code must stay mapped.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    CreateMyPrintDataFn create = nullptr;
    RunMyPrintDataFn run = nullptr;
    if (library != nullptr) {
        create = reinterpret_cast<CreateMyPrintDataFn>(dlsym(library, "CreateMyPrintData_Int"));
        run = reinterpret_cast<RunMyPrintDataFn>(dlsym(library, "RunMyPrintData_Int"));
    }
    if (create == nullptr || run == nullptr) {
        if (library != nullptr) dlclose(library);
        std::printf("Warning! %s is absent\n", dllName.c_str());
        std::fflush(stdout);
        LogLine(true, "Warning! %s is absent\n", dllName.c_str());
        return nullptr;
    }
    g_binding.run = run;
    std::string output = xmlDataDirectory + "/FormattedOutput.log";
    void* handle = create(output.c_str(), 1);
    if (handle == nullptr)
        LogLine(true, "Error! %s cannot open %s\n", dllName.c_str(), output.c_str());
    return handle;
}

bool PrintDataActive(void* handle) { return handle != nullptr && g_binding.run != nullptr; }

void PrintDataRecordHeader(const Schema& schema) {
    if (!g_binding.dllName.empty() && g_binding.run == nullptr) {
        std::printf("Error! File %s is absent\n", g_binding.dllName.c_str());
        std::fflush(stdout);
    }
    if (!PrintDataActive(schema.printData)) return;
    std::string label = "--------------" + schema.name + "--------------";
    g_binding.run(schema.printData, label.c_str(), nullptr);
}

void PrintDataValue(void* handle, const char* label, const char* text) {
    if (PrintDataActive(handle)) g_binding.run(handle, label, text);
}

std::unique_lock<std::mutex> LockPrintDataRecord(void* handle) {
    static std::mutex recordMutex;
    if (!PrintDataActive(handle)) return {};
    return std::unique_lock<std::mutex>(recordMutex);
}

}  // namespace morvane
