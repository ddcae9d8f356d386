// The settings of Morvane.ini and the binding of the logger library, one
// object per process, shared by Morvane and MorvaneBuilder.
#pragma once

#include <cstdint>
#include <string>

#include "logging/log.h"

namespace morvane {

constexpr int32_t kDefaultMaxDataFileMB = 64;

class Configuration {
  public:
    // The process's configuration, created on first use. It lives until the
    // process ends and is never freed.
    static Configuration& Get();

    // Computes the program directory from programPath, binds the logger
    // library (libquillog.so in the program directory) unless a logger is
    // bound already, reads Morvane.ini and checks the directories and the
    // port. Returns true when the configuration is usable: a missing
    // Morvane.ini gives the defaults, one that exists but cannot be read as
    // a regular file fails, and so does a Port outside 1..65535. Every failure but one is logged
    // before it returns false; when the logger library cannot be loaded
    // nothing can be logged, loggerMissing is set and the caller reports it.
    bool ReadConfiguration();

    // True when libquillog.so can be loaded from the program directory.
    static bool LoggerLibraryPresent(const std::string& programDirectory);

    // Publishes the trace flag and the logger handle to the modules.
    void PublishLogBinding() const;

    std::string programPath;  // the running program (ExecutablePath()); set before reading
    std::string programDirectory;
    std::string archiveDirectory;
    std::string schemasDirectory = "Schemas";
    std::string resultsIncludeDirectory = "ResultsInclude";
    std::string resultsEmptyXmlDirectory = "ResultsEmptyXml";
    std::string xmlDataDirectory = "XML_Data";
    int32_t port = 25000;
    int32_t logFlag = 1;
    std::string printDataDll;  // taken whole, never cut to kPrintDataDllLength
    int32_t createFilesFlag = 1;
    // Clients served at once (General/MaxClients, 1 to kMaxClientsLimit):
    // 1 serves one at a time with the registry's session file kept across
    // clients; more give every client a session file of its own.
    int32_t maxClients = 1;
    // Seconds a client may send nothing before it is dropped
    // (General/IdleTimeout); 0: never.
    int32_t idleTimeout = 0;
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
