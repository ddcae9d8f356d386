#include "cli/options.h"

#include <cstdio>
#include <cstring>

namespace morvane {
namespace {

const ProgramOption kCommonOptions[] = {
    {"--help", nullptr, "print this help and exit"},
    {"--version", nullptr, "print the version and exit"},
};

const ProgramOption* FindOption(const std::vector<ProgramOption>& options, const std::string& name) {
    for (const ProgramOption& o : options) {
        if (name == o.name) return &o;
    }
    for (const ProgramOption& o : kCommonOptions) {
        if (name == o.name) return &o;
    }
    return nullptr;
}

}  // namespace

std::string ParsedCommandLine::Value(const char* name, const std::string& fallback) const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
}

ParsedCommandLine ParseCommandLine(int argc, char** argv, const std::vector<ProgramOption>& options) {
    ParsedCommandLine parsed;
    auto fail = [&parsed](std::string error) {
        parsed.action = ParsedCommandLine::Action::kUsageError;
        parsed.error = std::move(error);
        return parsed;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] != nullptr ? argv[i] : "";
        if (arg.empty() || arg[0] != '-') {
            parsed.words.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const ProgramOption* option = FindOption(options, name);
        if (option == nullptr) return fail("unknown option '" + arg + "'");
        std::string value;
        if (option->valueName == nullptr) {
            if (equals != std::string::npos) return fail("option " + name + " takes no value");
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            value = argv[++i];
        } else {
            return fail("option " + name + " needs a value " + option->valueName);
        }
        if (option->valueName != nullptr && value.empty())
            return fail("option " + name + " needs a value " + option->valueName);
        parsed.values[name] = value;
    }
    // --help wins over --version, and both over the rest of the line.
    if (parsed.Has("--help"))
        parsed.action = ParsedCommandLine::Action::kHelp;
    else if (parsed.Has("--version"))
        parsed.action = ParsedCommandLine::Action::kVersion;
    return parsed;
}

std::string UsageText(const char* program, const char* synopsis, const char* description,
                      const std::vector<ProgramOption>& options) {
    std::string text = std::string("usage: ") + program + " " + synopsis + "\n\n" + description +
                       "\noptions:\n";
    auto add = [&text](const ProgramOption& o) {
        std::string left = o.name;
        if (o.valueName != nullptr) left += std::string(" ") + o.valueName;
        char line[256];
        std::snprintf(line, sizeof line, "  %-16s %s\n", left.c_str(), o.help);
        text += line;
    };
    for (const ProgramOption& o : options) add(o);
    for (const ProgramOption& o : kCommonOptions) add(o);
    return text;
}

int AnswerCommandLine(const ParsedCommandLine& parsed, const char* program, const char* usage) {
    switch (parsed.action) {
        case ParsedCommandLine::Action::kHelp:
            std::fputs(usage, stdout);
            std::fflush(stdout);
            return 0;
        case ParsedCommandLine::Action::kVersion:
            std::printf("%s %s\n", program, MorvaneVersion());
            std::fflush(stdout);
            return 0;
        case ParsedCommandLine::Action::kUsageError:
            std::fprintf(stderr, "%s: %s\n%s", program, parsed.error.c_str(), usage);
            std::fflush(stderr);
            return kExitUsageError;
        case ParsedCommandLine::Action::kRun:
            break;
    }
    return -1;
}

const char* MorvaneVersion() { return MORVANE_VERSION; }

}  // namespace morvane
