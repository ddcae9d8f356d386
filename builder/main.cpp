// MorvaneBuilder: the schema editor.
#include <QApplication>

#include <cstdio>

#include "builder/builder_app.h"

int main(int argc, char** argv) {
    // Messages must reach a pipe at once, also when the program is ended
    // from outside.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stderr, nullptr, _IOLBF, 0);
    // Answered before Qt sees the command line: --help, --version and a
    // mistyped option never open a window nor need a display.
    const morvane::ParsedCommandLine commandLine =
        morvane::ParseCommandLine(argc, argv, morvane::BuilderOptions());
    const std::string& usage = morvane::BuilderUsage();
    if (int status = morvane::AnswerCommandLine(commandLine, "MorvaneBuilder", usage.c_str());
        status >= 0)
        return status;
    QApplication app(argc, argv);
    morvane::CMorvaneBuilderApp builder;
    return builder.Run(argc, argv, commandLine);
}
