// The command line of every Morvane program: the options it knows, each
// with or without a value, and the words that are not options.
//
// An argument beginning with '-' is an option; one the program does not
// know is a usage error, so that a mistyped option never starts a server,
// a session or a window. "--name VALUE" and "--name=VALUE" are the same.
// Every program knows --help and --version.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace morvane {

struct ProgramOption {
    const char* name;       // with its dashes: "--home"
    const char* valueName;  // "DIR" for an option with a value; null for a flag
    const char* help;       // one line for the usage text
};

struct ParsedCommandLine {
    enum class Action { kRun, kHelp, kVersion, kUsageError };
    Action action = Action::kRun;
    std::string error;                         // kUsageError: what is wrong
    std::map<std::string, std::string> values;  // options given, by name ("" for a flag)
    std::vector<std::string> words;             // the other arguments, in order

    bool Has(const char* name) const { return values.count(name) != 0; }
    std::string Value(const char* name, const std::string& fallback = "") const;
};

// Parses argv[1..argc-1] against options (--help and --version are added).
ParsedCommandLine ParseCommandLine(int argc, char** argv, const std::vector<ProgramOption>& options);

// The usage text: "usage: PROGRAM SYNOPSIS\n", the description, then one
// line per option.
std::string UsageText(const char* program, const char* synopsis, const char* description,
                      const std::vector<ProgramOption>& options);

// Handles what the programs do alike for a parsed command line: --help
// prints the usage on standard output, --version "PROGRAM VERSION", a usage
// error "PROGRAM: ERROR" and the usage on standard error. Returns the exit
// status to end with (0 or 2), or -1 when the program is to run.
int AnswerCommandLine(const ParsedCommandLine& parsed, const char* program, const char* usage);

// The version of the Morvane programs.
const char* MorvaneVersion();

// Exit status of a usage error, as diff and grep use it.
constexpr int kExitUsageError = 2;

}  // namespace morvane
