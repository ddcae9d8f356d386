// CMorvaneBuilderApp: the application object of MorvaneBuilder.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"

namespace morvane {

class CMorvaneBuilderApp {
  public:
    // Runs the main dialog modally and returns the exit status. A
    // QApplication must exist. commandLine: the program's options, already
    // parsed (--home, --config).
    int Run(int argc, char** argv, const ParsedCommandLine& commandLine);
};

// The options of MorvaneBuilder and its usage text.
const std::vector<ProgramOption>& BuilderOptions();
const std::string& BuilderUsage();

}  // namespace morvane
