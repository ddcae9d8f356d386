#include "server/config/configuration.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "server/config/ini_file.h"

namespace morvane {
namespace {

constexpr const char* kLoggerLibrary = "libquillog.so";

bool PathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Port 0 would listen on a port the system picks and nobody is told; a
// larger one would be cut to 16 bits.
bool PortInRange(int32_t port) { return port >= 1 && port <= 65535; }

void* OpenLoggerLibrary(const std::string& programDirectory) {
    const std::string path = Configuration::LoggerLibraryPath(programDirectory);
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

Configuration& Configuration::Get() {
    // Lives for the whole process and is never freed.
    static Configuration* configuration = new Configuration;
    return *configuration;
}

std::string ExecutablePath(const std::string& commandWord) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return commandWord;
    return std::string(path, static_cast<size_t>(n));
}

std::string ProgramDirectoryOf(const std::string& programPath) {
    size_t slash = programPath.rfind('/');
    if (slash != std::string::npos) return programPath.substr(0, slash);
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return ".";
    return cwd;
}

std::string Configuration::PackageLibraryDirectory(const std::string& programDirectory) {
    // Only an installed program has one: in a directory named bin. A
    // program copied to /tmp/x must not take its libraries from /tmp/lib.
    const size_t slash = programDirectory.rfind('/');
    const std::string name =
        slash == std::string::npos ? programDirectory : programDirectory.substr(slash + 1);
    if (name != MORVANE_BINDIR_NAME) return "";
    return programDirectory + "/" + MORVANE_PACKAGE_LIBDIR_FROM_BIN;
}

std::string Configuration::LoggerLibraryPath(const std::string& programDirectory) {
    const std::string beside = programDirectory + "/" + kLoggerLibrary;
    if (PathExists(beside)) return beside;
    const std::string packageDirectory = PackageLibraryDirectory(programDirectory);
    if (packageDirectory.empty()) return beside;
    const std::string packaged = packageDirectory + "/" + kLoggerLibrary;
    return PathExists(packaged) ? packaged : beside;
}

bool Configuration::LoggerLibraryPresent(const std::string& programDirectory) {
    // The handle stays open: the library is used for the rest of the process.
    return OpenLoggerLibrary(programDirectory) != nullptr;
}

bool Configuration::BindLogger() {
    void* lib = OpenLoggerLibrary(programDirectory);
    if (lib == nullptr) {
        loggerMissing = true;
        return false;
    }
    LoggerApi api;
    api.createLogger = reinterpret_cast<CreateLoggerFn>(dlsym(lib, "CreateLogger_Int"));
    api.deleteLogger = reinterpret_cast<DeleteLoggerFn>(dlsym(lib, "DeleteLogger_Int"));
    api.initLogger = reinterpret_cast<InitLoggerFn>(dlsym(lib, "InitLogger_Int"));
    api.printfdeb = reinterpret_cast<PrintfDebFn>(dlsym(lib, "printfdeb_Int"));
    if (!api.createLogger || !api.deleteLogger || !api.initLogger || !api.printfdeb) {
        // A library without the exports is as good as none.
        loggerMissing = true;
        return false;
    }
    logger = api;
    BindLoggerApi(api);
    // The main logger is never deleted: it serves until the process ends.
    loggerHandle = api.createLogger();
    std::string logPath = homeDirectory + "/Morvane.log";
    if (!api.initLogger(loggerHandle, logPath.c_str(), 1)) return false;
    // Trace lines stay off until the whole configuration is read.
    BindLog(loggerHandle, api.printfdeb, false);
    return true;
}

bool Configuration::ReadConfiguration() {
    programDirectory = ProgramDirectoryOf(programPath);
    if (homeDirectory.empty()) homeDirectory = programDirectory;
    archiveDirectory = homeDirectory;
    if (loggerHandle == nullptr && !BindLogger()) return false;

    IniFile ini;
    const std::string iniPath = configFile.empty() ? homeDirectory + "/Morvane.ini" : configFile;
    // A settings file named on the command line must be there; only the
    // one in the home may be missing.
    if (!ini.Load(iniPath) && (errno != ENOENT || !configFile.empty())) {
        // Defaults in place of settings that exist but cannot be read would
        // run a configuration nobody wrote.
        LogLine(true, "Error! %s cannot be read err=%d\n", iniPath.c_str(), errno);
        return false;
    }
    archiveDirectory = ini.GetString("Directory", "Archive", homeDirectory);
    schemasDirectory = ini.GetString("Directory", "Schemas", "Schemas");
    resultsIncludeDirectory = ini.GetString("Directory", "ResultsInclude", "ResultsInclude");
    resultsEmptyXmlDirectory = ini.GetString("Directory", "ResultsEmptyXml", "ResultsEmptyXml");
    xmlDataDirectory = ini.GetString("Directory", "XML_Data", "XML_Data");
    port = ini.GetInt("General", "Port", 25000);
    printDataDll = ini.GetString("General", "PrintDataDll", "");
    createFilesFlag = ini.GetInt("General", "CreateFilesFlag", 1);
    headerChecks = ini.GetInt("General", "HeaderChecks", 0);
    logFlag = ini.GetInt("General", "LogFlag", 1);
    maxClients = std::clamp(ini.GetInt("General", "MaxClients", 1), 1, kMaxClientsLimit);
    idleTimeout = std::max(ini.GetInt("General", "IdleTimeout", 0), 0);
    publish = ReadPublishSettings(ini);
    maxDataFileMB = ini.GetInt("General", "MaxDataFileMB", kDefaultMaxDataFileMB);
    if (maxDataFileMB < 1 || maxDataFileMB > kMaxDataFileMBLimit)
        maxDataFileMB = kDefaultMaxDataFileMB;

    schemasDirectory = archiveDirectory + "/" + schemasDirectory;
    resultsIncludeDirectory = archiveDirectory + "/" + resultsIncludeDirectory;
    resultsEmptyXmlDirectory = archiveDirectory + "/" + resultsEmptyXmlDirectory;
    xmlDataDirectory = archiveDirectory + "/" + xmlDataDirectory;

    LogLine(true, "-----Configuration-----\n");
    LogLine(true, "archive_dir=%s\n", archiveDirectory.c_str());
    LogLine(true, "Schemas_dir=%s\n", schemasDirectory.c_str());
    LogLine(true, "ResultsInclude_dir=%s\n", resultsIncludeDirectory.c_str());
    LogLine(true, "ResultsEmptyXml_dir=%s\n", resultsEmptyXmlDirectory.c_str());
    LogLine(true, "XML_Data_dir=%s\n", xmlDataDirectory.c_str());
    LogLine(true, "Port=%d\n", port);
    LogLine(true, "LogFlag=%d\n", logFlag);
    LogLine(true, "PrintDataDll=%s\n", printDataDll.c_str());
    LogLine(true, "CreateFilesFlag=%d\n", createFilesFlag);
    LogLine(true, "-----------------------\n\n");
    LogLine(true, "MaxClients=%d\n", maxClients);
    LogLine(true, "IdleTimeout=%d\n", idleTimeout);
    LogLine(true, "MaxDataFileMB=%d\n", maxDataFileMB);
    // Named only when set, so that the log of the default configuration
    // stays as it was.
    if (headerChecks != 0) LogLine(true, "HeaderChecks=%d\n", headerChecks);
    LogPublishSettings(publish);

    if (!PathExists(archiveDirectory)) {
        LogLine(true, "Error! archive_dir=%s is not exist\n", archiveDirectory.c_str());
        return false;
    }
    bool ok = true;
    struct Check {
        const std::string& path;
        const char* message;
    };
    const Check checks[] = {
        {schemasDirectory, "Error! Schemas_dir=%s is not exist\n"},
        {resultsIncludeDirectory, "Error! ResultsInclude_dir=%s is not exist\n"},
        {resultsEmptyXmlDirectory, "Error! ResultsEmptyXml_dir=%s is not exist\n"},
        {xmlDataDirectory, "Error! XML_Data_dir=%s is not exist\n"},
    };
    for (const Check& c : checks) {
        if (PathExists(c.path)) continue;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        LogLine(true, c.message, c.path.c_str());
#pragma GCC diagnostic pop
        ok = false;
    }
    if (!PortInRange(port)) {
        LogLine(true, "Error! Port=%d is outside 1..65535\n", port);
        ok = false;
    }
    if (!CheckPublishSettings(publish)) ok = false;
    return ok;
}

void Configuration::PublishLogBinding() const {
    BindLog(loggerHandle, logger.printfdeb, logFlag != 0);
}

}  // namespace morvane
