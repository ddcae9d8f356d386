#include "morvanec/commands.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "logging/log.h"
#include "morvanec/diagnostics.h"

namespace morvane {
namespace {

constexpr char kProgram[] = "morvanec";

// The options a command accepts, as bits.
enum Option : unsigned {
    kOptOutput = 1,      // -o PATH
    kOptJson = 2,        // --json
    kOptLenient = 4,     // --lenient
    kOptChecks = 8,      // --checks
    kOptDelimiter = 16,  // --delimiter C
    kOptStream = 32      // --url, --stream, --subject, --server
};

struct Command {
    const char* name;
    const char* usage;  // after "morvanec "
    const char* help;   // the rest of "morvanec COMMAND --help"
    unsigned options;
    size_t minArgs;
    size_t maxArgs;  // kMany: no limit
    int (*run)(const Invocation&);
};

constexpr size_t kMany = static_cast<size_t>(-1);

const Command kCommands[] = {
    {"check", "check FILE.xsd...",
     "Loads and lays out each schema and reports its errors. Warns about names\n"
     "that are not C identifiers, schemas that share an id and schema names that\n"
     "differ only in letter case (their generated files collide).\n",
     0, 1, kMany, RunCheck},
    {"generate", "generate [--checks] [-o DIR] FILE.xsd...",
     "Writes each schema's C header and empty XML data file, and Schema_Enum.h\n"
     "for the set, into DIR (default: the current directory). A file whose\n"
     "content would not change is left as it is. Nothing is written when any\n"
     "schema of the set has an error. --checks appends NAME_SIZE,\n"
     "NAME_FINGERPRINT and, under MORVANE_LAYOUT_CHECKS, assertions of every\n"
     "size and offset to each header.\n",
     kOptOutput | kOptChecks, 1, kMany, RunGenerate},
    {"layout", "layout [--json] FILE.xsd",
     "Prints the record's fields one per line (offset, size, type, path) and the\n"
     "record size; --json prints the same as one JSON document.\n",
     kOptJson, 1, 1, RunLayout},
    {"to-binary", "to-binary [--lenient] FILE.xsd DATA.xml [-o OUT.bin]",
     "Converts a data file (one record element) or a session file (a Root\n"
     "element with several) into the packed records, one after the other, to\n"
     "OUT.bin or standard output. A value that does not fit its type or an\n"
     "element the schema does not have is an error; --lenient converts as the\n"
     "server's reader does.\n",
     kOptOutput | kOptLenient, 2, 2, RunToBinary},
    {"to-xml", "to-xml FILE.xsd IN.bin [-o OUT.xml]",
     "Converts concatenated records into a session file, the text Morvane\n"
     "writes for a session with those records, to OUT.xml or standard output.\n"
     "The input's size must be a multiple of the record size.\n",
     kOptOutput, 2, 2, RunToXml},
    {"to-json", "to-json [--lenient] FILE.xsd IN [-o OUT.jsonl]",
     "Writes the records of IN (packed binary records, or an XML data or session\n"
     "file) as JSON Lines: one object per record, with the schema's name, its id\n"
     "and the record number under \"$schema\", \"$id\" and \"$number\", then the\n"
     "fields in schema order. Nothing is lost: from-json gives back the same bytes.\n",
     kOptOutput | kOptLenient, 2, 2, RunToJson},
    {"from-json", "from-json [--lenient] FILE.xsd IN.jsonl [-o OUT.bin]",
     "Converts JSON Lines (one record object per line, as to-json writes them)\n"
     "into packed records. A missing or unknown field, a value of the wrong type\n"
     "or out of its type's range and an unknown enumeration name are errors;\n"
     "--lenient takes missing fields as zero.\n",
     kOptOutput | kOptLenient, 2, 2, RunFromJson},
    {"to-csv", "to-csv [--lenient] [--delimiter C] FILE.xsd IN [-o OUT.csv]",
     "Writes the records of IN (as for to-json) as CSV: a header row of value\n"
     "paths (pos[0].x, flags[3]), then one row per record, quoted as RFC 4180\n"
     "says. --delimiter sets the separator (one character, or tab).\n",
     kOptOutput | kOptLenient | kOptDelimiter, 2, 2, RunToCsv},
    {"publish",
     "publish [--url URLS] [--stream NAME] [--subject PREFIX] [--server NAME] FILE.xsd... "
     "SESSION.xml",
     "Publishes the records of a session file to a NATS JetStream stream, as\n"
     "Morvane publishes what it writes (the stream is created when missing), and\n"
     "waits for every acknowledgement. Message ids follow from the server name,\n"
     "the session file's name, the record number and the record's bytes, so a\n"
     "second run within the stream's duplicate window publishes nothing new.\n"
     "Defaults: nats://127.0.0.1:4222, MORVANE, morvane, the host name.\n",
     kOptStream, 2, kMany, RunPublish},
    {"subscribe", "subscribe URLS STREAM FILE.xsd... [--json] [-o OUT]",
     "Reads every message of the stream, in stream order, into a session file\n"
     "(record numbers as published) or, with --json, into JSON Lines: one object\n"
     "per record with its stream sequence, server, session, run and number.\n"
     "FILE.xsd are the schemas of the records.\n",
     kOptOutput | kOptJson, 3, kMany, RunSubscribe},
    {"diff", "diff [--json] OLD.xsd NEW.xsd",
     "Prints one line per field added, removed, moved, resized or retyped, and\n"
     "for a changed record size or id. Exit status 0 when every field of OLD\n"
     "keeps its offset, size and type in NEW, 1 otherwise.\n",
     kOptJson, 2, 2, RunDiff},
    {"recover", "recover SESSION.xml",
     "Closes a session file that a killed server left unterminated: cuts it\n"
     "after its last whole record and appends </Root>, in place. A file that\n"
     "is already closed is left untouched.\n",
     0, 1, 1, RunRecover},
};

const Command* FindCommand(const char* name) {
    for (const Command& c : kCommands) {
        if (std::strcmp(c.name, name) == 0) return &c;
    }
    return nullptr;
}

void PrintHelp() {
    std::printf("usage: %s COMMAND [OPTIONS] ARGS\n\ncommands:\n", kProgram);
    for (const Command& c : kCommands) std::printf("  %s %s\n", kProgram, c.usage);
    std::printf(
        "\n%s COMMAND --help describes a command; %s --version prints the version.\n"
        "Exit status: 0 success, 1 errors in the input, 2 usage error.\n",
        kProgram, kProgram);
}

void PrintCommandHelp(const Command& c) {
    std::printf("usage: %s %s\n\n%s", kProgram, c.usage, c.help);
}

// One usage error: what is wrong, then the usage line.
int UsageError(const Command* c, const char* format, ...) __attribute__((format(printf, 2, 3)));
int UsageError(const Command* c, const char* format, ...) {
    std::fprintf(stderr, "%s: ", kProgram);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (c != nullptr)
        std::fprintf(stderr, "\nusage: %s %s\n", kProgram, c->usage);
    else
        std::fprintf(stderr, "\nusage: %s COMMAND [OPTIONS] ARGS (see %s --help)\n", kProgram,
                     kProgram);
    return kExitUsage;
}

// What the modules below log with their error flag set (error lines, and
// banners such as the enumeration header's) is kept, and shown only when
// the command fails without a diagnostic, to say why. Trace lines (the parser's messages, its
// errors among them) are dropped: the errors reach the user as diagnostics
// with their place instead.
// to-binary reads on several threads, each of which may log.
std::mutex g_loggedMutex;
std::string g_logged;

int KeepLogLine(void* /*handle*/, bool enable, const char* format, ...) {
    if (!enable) return 0;
    va_list args;
    va_start(args, format);
    const char* line = va_arg(args, const char*);  // the log binding passes "%s", line
    va_end(args);
    std::lock_guard<std::mutex> lock(g_loggedMutex);
    if (std::strcmp(format, "%s") == 0 && line != nullptr) g_logged += line;
    return 0;
}

}  // namespace

std::string TakeLogged() {
    std::lock_guard<std::mutex> lock(g_loggedMutex);
    std::string text;
    size_t at = 0;
    while (at < g_logged.size()) {
        size_t end = g_logged.find('\n', at);
        if (end == std::string::npos) end = g_logged.size();
        std::string line = g_logged.substr(at, end - at);
        if (line.rfind("Error! ", 0) == 0) line.erase(0, 7);
        if (!line.empty()) text += (text.empty() ? "" : "; ") + line;
        at = end + 1;
    }
    g_logged.clear();
    return text;
}

namespace {

void ShowLogged() {
    size_t at = 0;
    while (at < g_logged.size()) {
        size_t end = g_logged.find('\n', at);
        if (end == std::string::npos) end = g_logged.size();
        if (end > at)
            std::fprintf(stderr, "%s: %.*s\n", kProgram, static_cast<int>(end - at),
                         g_logged.data() + at);
        at = end + 1;
    }
}

int Run(const Command& command, const Invocation& call) {
    int status = command.run(call);
    // Errors that came with a diagnostic were logged too; the log adds
    // nothing then.
    if (status != kExitOk && Diagnostics::Printed() == 0) ShowLogged();
    return status;
}

}  // namespace

int MorvanecMain(int argc, char** argv) {
    BindLog(nullptr, KeepLogLine, false);
    if (argc < 2) return UsageError(nullptr, "no command given");
    const char* name = argv[1];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
        PrintHelp();
        return kExitOk;
    }
    if (std::strcmp(name, "--version") == 0) {
        std::printf("%s %s\n", kProgram, MORVANE_VERSION);
        return kExitOk;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr) return UsageError(nullptr, "unknown command '%s'", name);

    Invocation call;
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnd || arg[0] != '-' || arg[1] == '\0') {
            call.args.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintCommandHelp(*command);
            return kExitOk;
        } else if ((command->options & kOptOutput) != 0 && std::strcmp(arg, "-o") == 0) {
            if (i + 1 >= argc) return UsageError(command, "option -o needs an argument");
            call.output = argv[++i];
            if (call.output.empty()) return UsageError(command, "option -o needs an argument");
        } else if ((command->options & kOptJson) != 0 && std::strcmp(arg, "--json") == 0) {
            call.json = true;
        } else if ((command->options & kOptLenient) != 0 && std::strcmp(arg, "--lenient") == 0) {
            call.lenient = true;
        } else if ((command->options & kOptChecks) != 0 && std::strcmp(arg, "--checks") == 0) {
            call.checks = true;
        } else if ((command->options & kOptStream) != 0 &&
                   (std::strcmp(arg, "--url") == 0 || std::strcmp(arg, "--stream") == 0 ||
                    std::strcmp(arg, "--subject") == 0 || std::strcmp(arg, "--server") == 0)) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return UsageError(command, "option %s needs an argument", arg);
            std::string& value = arg[2] == 'u'   ? call.url
                                 : arg[3] == 't' ? call.stream
                                 : arg[3] == 'u' ? call.subject
                                                 : call.server;
            value = argv[++i];
        } else if ((command->options & kOptDelimiter) != 0 &&
                   std::strcmp(arg, "--delimiter") == 0) {
            if (i + 1 >= argc) return UsageError(command, "option --delimiter needs an argument");
            const char* d = argv[++i];
            if (std::strcmp(d, "tab") == 0 || std::strcmp(d, "\\t") == 0) d = "\t";
            if (std::strlen(d) != 1 || std::strchr("\"\r\n", d[0]) != nullptr)
                return UsageError(command,
                                  "option --delimiter takes one character other than a quote "
                                  "or a line end, or tab");
            call.delimiter = d[0];
        } else {
            return UsageError(command, "unknown option '%s' for %s", arg, command->name);
        }
    }
    if (call.args.size() < command->minArgs) return UsageError(command, "missing argument");
    if (call.args.size() > command->maxArgs)
        return UsageError(command, "unexpected argument '%s'", call.args[command->maxArgs].c_str());
    return Run(*command, call);
}

}  // namespace morvane
