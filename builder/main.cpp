// MorvaneBuilder: the schema editor.
#include <QApplication>

#include <cstdio>

#include "builder/builder_app.h"
#include "logging/last_resort.h"

int main(int argc, char** argv) {
    morvane::InstallLastResort("MorvaneBuilder");
    // Messages must reach a pipe at once, also when the program is ended
    // from outside.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stderr, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    morvane::CMorvaneBuilderApp builder;
    return builder.Run(argc, argv);
}
