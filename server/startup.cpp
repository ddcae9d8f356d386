#include "server/startup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "cli/options.h"
#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "convert/print_data.h"
#include "generate/file_set.h"
#include "generate/generators.h"
#include "generate/schema_set.h"
#include "logging/log.h"
#include "schema/schema.h"
#include "server/channel_xsd.h"
#include "server/config/configuration.h"
#include "server/record_publisher.h"
#include "server/registry.h"

namespace morvane {
namespace {

// Blocks the signals that end the program in every thread created from
// here on, so that only the main thread's sigwait() receives them. SIGHUP
// comes when the terminal closes, SIGQUIT from Ctrl-\: both finish an open
// session file like the other two.
sigset_t BlockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

void PrepareConsole() {
    // Messages must reach a pipe or a log file at once: the program runs
    // until it is stopped and never reaches an exit-time flush.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setvbuf(stderr, nullptr, _IOLBF, 0);
    if (isatty(STDOUT_FILENO)) std::fputs("\033]0;Morvane\007", stdout);
}

[[noreturn]] void Fail(const char* message) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    std::exit(1);
}

// The line on standard error for a schema that ends start-up, in the form
// compilers use, whatever LogFlag says (the parser's own lines are trace
// lines). Where the place is not known, the file's start stands for it.
void ReportSchemaError(const std::string& path, std::ptrdiff_t offset, const std::string& text) {
    int line = 1;
    int column = 1;
    if (!LineColumnAt(path.c_str(), offset, line, column)) line = column = 1;
    std::fprintf(stderr, "%s:%d:%d: error: %s\n", path.c_str(), line, column, text.c_str());
    std::fflush(stderr);
}

// Loads every schema of the schema directory into the registry, generating
// their files when asked to; ends the process on the first schema that
// cannot be read or laid out.
// The paths of the schema files of the schema directory; ends the process
// when the directory cannot be listed.
std::vector<std::string> SchemaPaths(const Configuration& config) {
    bool listed = false;
    const std::vector<std::string> files = ListSchemaFiles(config.schemasDirectory, &listed);
    if (!listed) {
        // Starting with none of the schemas would look like a server that
        // has them all.
        const int error = errno;
        std::printf("Error! Schemas_dir=%s cannot be listed err=%d\n",
                    config.schemasDirectory.c_str(), error);
        LogLine(true, "Error! Schemas_dir=%s cannot be listed err=%d\n",
                config.schemasDirectory.c_str(), error);
        std::exit(1);
    }
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const std::string& file : files) paths.push_back(config.schemasDirectory + "/" + file);
    return paths;
}

// Reports the failure of a schema set: the log line for a file that is no
// XML, then the diagnostic.
void ReportFailure(const std::vector<std::string>& paths, const SchemaSetFailure& failure) {
    const std::string& path = paths[failure.index];
    if (failure.unreadable)
        LogLine(true, "Error  during reading  %s[%s]\n", path.c_str(), failure.text.c_str());
    ReportSchemaError(path, failure.offset, failure.text);
}

void LoadSchemas(const Configuration& config, SchemaRegistry& registry, void* printData) {
    const std::vector<std::string> paths = SchemaPaths(config);
    if (config.createFilesFlag != 0) {
        // What a start-up killed while generating left behind; nothing of
        // this process is being written yet.
        RemoveStaleTemporaries(config.resultsEmptyXmlDirectory);
        RemoveStaleTemporaries(config.resultsIncludeDirectory);
    }
    SchemaSetOptions options;
    options.printData = printData;
    options.generate = config.createFilesFlag != 0;
    options.emptyXmlDirectory = config.resultsEmptyXmlDirectory;
    options.includeDirectory = config.resultsIncludeDirectory;
    options.names.headerChecks = config.headerChecks != 0;
    SchemaSet set = LoadSchemaSet(paths, options);
    // Schemas live until the process ends and are never freed.
    for (std::unique_ptr<Schema>& schema : set.schemas) registry.AddSchema(schema.release());
    if (set.failed) {
        ReportFailure(paths, set.failure);
        std::exit(1);
    }
}

// --check: every schema loaded and laid out on its own, so that each one
// that fails gets its diagnostic; nothing is generated or removed.
int CheckSchemas(const Configuration& config) {
    const std::vector<std::string> paths = SchemaPaths(config);
    size_t failed = 0;
    for (const std::string& path : paths) {
        SchemaSetOptions options;
        options.threads = 1;
        SchemaSet set = LoadSchemaSet({path}, options);
        if (!set.failed) continue;
        ++failed;
        ReportFailure({path}, set.failure);
    }
    std::printf("%zu schemas checked in %s, %zu with errors\n", paths.size(),
                config.schemasDirectory.c_str(), failed);
    return failed == 0 ? 0 : 1;
}

// The conversion self-test: every schema's sample record is read from its
// data file and written three times into a data file of its own.
void RunSelfTest(const Configuration& config, SchemaRegistry& registry) {
    const std::string readDirectory = FixedXmlDataDirectory(config.archiveDirectory);
    // Data files are created by name inside the data directory: never
    // through a symbolic link, never over a file with a second name.
    const int dataFd = ::open(config.xmlDataDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (Schema* schema : registry.Schemas()) {
        const int32_t size = schema->Size();
        std::vector<uint8_t> buffer(static_cast<size_t>(size) + 1, 0);
        LogLine(true, "\n=========ReadXmlFile========================\n");
        std::string readPath = readDirectory + "/" + schema->name + "_dataR.xml";
        ReadXmlFile(*schema, true, readPath.c_str(), buffer.data(), size);

        LogLine(true, "\n=========WriteXmlFile========================\n");
        const std::string writeName = schema->name + "_dataW.xml";
        const std::string writePath = config.xmlDataDirectory + "/" + writeName;
        std::lock_guard<std::mutex> lock(registry.WriterMutex());
        if (dataFd < 0 || !registry.OpenDataFileAt(dataFd, writeName.c_str())) {
            LogLine(true, "Error! data file %s cannot be created\n", writePath.c_str());
            continue;
        }
        for (int32_t number = 1; number <= 3; ++number)
            WriteXmlFile(*schema, registry.Writer(), number, buffer.data(), size);
        registry.CloseDataFile();
    }
    if (dataFd >= 0) ::close(dataFd);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
}

// Sleeps until a stop signal comes, then finishes every open session file.
int WaitForStop(const sigset_t& stopSignals, SchemaRegistry& registry) {
    for (;;) {
        int sig = 0;
        if (sigwait(&stopSignals, &sig) != 0) continue;
        // Held until the process ends: the receive thread must not open or
        // write a session file after it has been finished here.
        registry.WriterMutex().lock();
        if (registry.DataFileOpen()) registry.CloseDataFile();
        // With several clients at once, each open session file of theirs.
        registry.Sessions().FinishAll();
        // What the stream has not acknowledged stays in the spool.
        if (registry.Publisher() != nullptr) registry.Publisher()->Stop();
        return 0;
    }
}

}  // namespace

void DebugOutput(const char* format, ...) {
    static const bool enabled = [] {
        const char* v = std::getenv("MORVANE_DEBUG");
        return v != nullptr && *v != '\0';
    }();
    if (!enabled) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

std::vector<std::string> ListSchemaFiles(const std::string& directory, bool* listed) {
    std::vector<std::string> names;
    if (listed != nullptr) *listed = true;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        const int error = errno;
        if (listed != nullptr) *listed = false;
        DebugOutput("Get Last Error = %d [First File is absent] List Empty\n", error);
        errno = error;
        return names;
    }
    bool anyEntry = false;
    for (;;) {
        // readdir() tells an error from the end only through errno.
        errno = 0;
        dirent* entry = readdir(dir);
        if (entry == nullptr) break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        size_t len = std::strlen(name);
        // The case-insensitive pattern match of the listing lets "X.XSD"
        // through; only an exact lower-case extension is kept.
        if (len < 4 || strcasecmp(name + len - 4, ".xsd") != 0) continue;
        anyEntry = true;
        if (std::strcmp(name + len - 4, ".xsd") == 0) {
            DebugOutput("%s\n", name);
            names.emplace_back(name);
        } else {
            DebugOutput("---%s\n", name);
        }
    }
    int error = errno;
    closedir(dir);
    if (error != 0 && listed != nullptr) *listed = false;
    if (!anyEntry) {
        DebugOutput("Get Last Error = %d [First File is absent] List Empty\n", ENOENT);
    } else if (error != 0) {
        DebugOutput("GetLastError = %d\n", error);
    } else {
        DebugOutput("End of files\n");
    }
    std::sort(names.begin(), names.end());
    errno = error;
    return names;
}

std::string FixedXmlDataDirectory(const std::string& directory) {
    std::string found = "Xml_Data";
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (strcasecmp(entry->d_name, "Xml_Data") == 0) {
                found = entry->d_name;
                break;
            }
        }
        closedir(dir);
    }
    return directory + "/" + found;
}

int ServerMain(int argc, char** argv) {
    const std::vector<ProgramOption> options = {
        {"--home", "DIR", "take Morvane.ini, Morvane.log and the archive from DIR"},
        {"--config", "FILE", "read the settings from FILE instead of Morvane.ini"},
        {"--check", nullptr, "check the settings and every schema, generate nothing"},
    };
    const std::string usage = UsageText(
        "Morvane", "[--home DIR] [--config FILE] [--check] [test]",
        "Loads and lays out every schema of the archive, writes the generated files\n"
        "and serves clients over TCP until it is stopped. The single word test runs\n"
        "the conversion self-test instead of the server. Without --home, the\n"
        "directory of the executable is the home.\n",
        options);
    const ParsedCommandLine commandLine = ParseCommandLine(argc, argv, options);
    if (int status = AnswerCommandLine(commandLine, "Morvane", usage.c_str()); status >= 0)
        return status;
    const bool check = commandLine.Has("--check");

    PrepareConsole();
    if (!check) std::fputs("See results in Morvane.log\n", stdout);

    sigset_t stopSignals = BlockStopSignals();
    // A client that goes while an answer is sent must not end the server.
    signal(SIGPIPE, SIG_IGN);
    // A write past the file-size limit must fail with EFBIG, like a write to
    // a full device, so that the writer cuts the record away and reports
    // it; the signal would end the server instead.
    signal(SIGXFSZ, SIG_IGN);
    Configuration& config = Configuration::Get();
    config.programPath = ExecutablePath(argc > 0 && argv[0] != nullptr ? argv[0] : "Morvane");
    config.programDirectory = ProgramDirectoryOf(config.programPath);
    if (!ApplyHomeOptions(commandLine, config)) return 1;
    // Lives for the whole process and is never freed.
    auto* registry = new SchemaRegistry(config.homeDirectory);
    if (!Configuration::LoggerLibraryPresent(config.programDirectory))
        Fail("Error! Quillog is absent\n");

    if (!config.ReadConfiguration()) {
        if (config.loggerMissing) Fail("Error! Quillog is absent\n");
        Fail("Errors in configuration file, see Morvane.log\n");
    }
    config.PublishLogBinding();
    if (check) return CheckSchemas(config);

    void* printData = nullptr;
    if (!config.printDataDll.empty())
        printData = BindPrintData(config.printDataDll, config.homeDirectory,
                                  config.xmlDataDirectory,
                                  Configuration::PackageLibraryDirectory(config.programDirectory));
    LoadSchemas(config, *registry, printData);

    if (config.createFilesFlag != 0 &&
        !CreateSchemaEnumIncludeFile(registry->Schemas(), config.resultsIncludeDirectory.c_str()))
        std::exit(1);

    if (commandLine.words.size() == 1 && commandLine.words[0] == "test")
        RunSelfTest(config, *registry);
    else {
        if (config.publish.enabled) {
            // Lives until the process ends and is never freed: the receive
            // threads publish through it.
            auto* publisher = new RecordPublisher;
            if (!publisher->Start(config.publish, config.homeDirectory, registry->Schemas()))
                Fail("Errors in configuration file, see Morvane.log\n");
            registry->SetPublisher(publisher);
        }
        StartServerThread(*registry, ServerSettings{config.port, config.maxClients,
                                                    config.idleTimeout, config.archiveDirectory,
                                                    config.maxDataFileMB});
    }

    return WaitForStop(stopSignals, *registry);
}

bool ApplyHomeOptions(const ParsedCommandLine& commandLine, Configuration& config) {
    std::error_code ec;
    if (commandLine.Has("--home")) {
        const std::string home = commandLine.Value("--home");
        // Absolute, so that the log and the configuration block name the
        // place whatever the working directory.
        config.homeDirectory = std::filesystem::absolute(home, ec).lexically_normal().string();
        if (config.homeDirectory.size() > 1 && config.homeDirectory.back() == '/')
            config.homeDirectory.pop_back();
        if (ec || !std::filesystem::is_directory(config.homeDirectory, ec)) {
            std::printf("Error! home directory %s is not a directory\n", home.c_str());
            std::fflush(stdout);
            return false;
        }
    } else {
        config.homeDirectory = config.programDirectory;
    }
    if (commandLine.Has("--config"))
        config.configFile =
            std::filesystem::absolute(commandLine.Value("--config"), ec).lexically_normal().string();
    return true;
}

}  // namespace morvane
