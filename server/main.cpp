#include "logging/last_resort.h"
#include "server/startup.h"

int main(int argc, char** argv) {
    morvane::InstallLastResort("Morvane");
    return morvane::ServerMain(argc, argv);
}
