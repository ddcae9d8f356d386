// CMorvaneBuilderApp: the application object of MorvaneBuilder.
#pragma once

namespace morvane {

class CMorvaneBuilderApp {
  public:
    // Runs the main dialog modally and returns the exit status. A
    // QApplication must exist.
    int Run(int argc, char** argv);
};

}  // namespace morvane
