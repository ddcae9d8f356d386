// morvanec: check, generate, lay out, convert and compare schemas from the
// command line, one command per run.
//
//   morvanec COMMAND [OPTIONS] ARGS
//
// Exit status: kExitOk on success, kExitInput when an input has errors (or
// diff finds an incompatibility), kExitUsage for a usage error. Diagnostics
// go to standard error (diagnostics.h), results to standard output or the
// files named by -o.
#pragma once

#include <string>
#include <vector>

namespace morvane {

constexpr int kExitOk = 0;
constexpr int kExitInput = 1;
constexpr int kExitUsage = 2;

// One command line, its options taken out. output is the value of -o, empty
// when not given.
struct Invocation {
    std::vector<std::string> args;
    std::string output;
    bool json = false;
    bool lenient = false;
    bool checks = false;  // generate --checks
    char delimiter = ',';  // --delimiter, for to-csv
    // publish: --url, --stream, --subject, --server.
    std::string url = "nats://127.0.0.1:4222";
    std::string stream = "MORVANE";
    std::string subject = "morvane";
    std::string server;
};

// The commands; each returns the exit status.
int RunCheck(const Invocation& call);
int RunGenerate(const Invocation& call);
int RunLayout(const Invocation& call);
int RunDiff(const Invocation& call);
int RunToBinary(const Invocation& call);
int RunToXml(const Invocation& call);
int RunRecover(const Invocation& call);
int RunToJson(const Invocation& call);
int RunFromJson(const Invocation& call);
int RunToCsv(const Invocation& call);
int RunPublish(const Invocation& call);
int RunSubscribe(const Invocation& call);

// The error lines the modules below have logged since the last call, one
// per line without the "Error!" decoration, and forgets them; for a
// command that adds them to its own diagnostic.
std::string TakeLogged();

// The whole program: parses argv, binds the log to standard error (errors
// only; the parser's trace lines are dropped) and runs the command.
int MorvanecMain(int argc, char** argv);

}  // namespace morvane
