// The settings of Morvane.ini and the binding of the logger library, one
// object per process, shared by Morvane and MorvaneBuilder.
#pragma once

#include <cstdint>
#include <string>

#include "logging/log.h"
#include "server/config/publish_settings.h"

namespace morvane {

constexpr int32_t kDefaultMaxDataFileMB = 64;

class Configuration {
  public:
    // The process's configuration, created on first use. It lives until the
    // process ends and is never freed.
    static Configuration& Get();

    // Computes the program directory from programPath, binds the logger
    // library (LoggerLibraryPath()) unless a logger is bound already,
    // reads the settings (configFile, else Morvane.ini in the home) and
    // checks the directories and the port. Returns true when the
    // configuration is usable: a missing Morvane.ini in the home gives the
    // defaults, one that exists but cannot be read as a regular file fails,
    // and so do a configFile that cannot be read and a Port outside
    // 1..65535. Every failure but one is logged before it returns false;
    // when the logger library cannot be loaded nothing can be logged,
    // loggerMissing is set and the caller reports it.
    bool ReadConfiguration();

    // True when the logger library can be loaded (LoggerLibraryPath()).
    static bool LoggerLibraryPresent(const std::string& programDirectory);

    // Where the logger library of a program in programDirectory is taken
    // from: beside the program when it is there, else from the package's
    // library directory. Never from the current directory.
    static std::string LoggerLibraryPath(const std::string& programDirectory);

    // The private library directory of the installed package, found from
    // the program directory (bin/../lib/<triplet>/morvane): the logger
    // library and the print-data plug-ins of the package live there. Empty
    // when the program directory is not named bin.
    static std::string PackageLibraryDirectory(const std::string& programDirectory);

    // Publishes the trace flag and the logger handle to the modules.
    void PublishLogBinding() const;

    std::string programPath;  // the running program (ExecutablePath()); set before reading
    std::string programDirectory;
    // Where Morvane.ini, Morvane.log and (by default) the archive are: the
    // directory given with --home, else the program directory. Set before
    // reading to use another home; empty: the program directory.
    std::string homeDirectory;
    // The settings file given with --config; empty: homeDirectory/Morvane.ini.
    std::string configFile;
    std::string archiveDirectory;
    std::string schemasDirectory = "Schemas";
    std::string resultsIncludeDirectory = "ResultsInclude";
    std::string resultsEmptyXmlDirectory = "ResultsEmptyXml";
    std::string xmlDataDirectory = "XML_Data";
    int32_t port = 25000;
    int32_t logFlag = 1;
    std::string printDataDll;  // at most kPrintDataDllLength characters
    int32_t createFilesFlag = 1;
    // HeaderChecks: generated headers carry NAME_SIZE, NAME_FINGERPRINT and
    // their layout assertions (0: the headers of before).
    int32_t headerChecks = 0;
    // Clients served at once (General/MaxClients, 1 to kMaxClientsLimit):
    // 1 serves one at a time with the registry's session file kept across
    // clients; more give every client a session file of its own.
    int32_t maxClients = 1;
    // Seconds a client may send nothing before it is dropped
    // (General/IdleTimeout); 0: never.
    int32_t idleTimeout = 0;
    // The [Publish] section; publishing is off without it.
    PublishSettings publish;
    // Data files larger than this many MiB are not read for a read request
    // (General/MaxDataFileMB, 1 to kMaxDataFileMBLimit; anything else gives
    // the default), unless the schema's fields need more.
    int32_t maxDataFileMB = kDefaultMaxDataFileMB;

    void* loggerHandle = nullptr;
    LoggerApi logger;
    bool loggerMissing = false;

    static constexpr size_t kPrintDataDllLength = 99;
    static constexpr int32_t kMaxClientsLimit = 256;
    static constexpr int32_t kMaxDataFileMBLimit = 1 << 20;

  private:
    bool BindLogger();
};

// The path of the running program, every symbolic link resolved, as
// /proc/self/exe gives it; commandWord (the first command-line word) where
// /proc is missing. Whoever starts the program cannot point its program
// directory elsewhere through the command line or the current directory.
std::string ExecutablePath(const std::string& commandWord);

// The program directory for a program path: the path up to its last '/',
// or the current directory when it holds none.
std::string ProgramDirectoryOf(const std::string& programPath);

}  // namespace morvane
