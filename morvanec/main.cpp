#include "logging/last_resort.h"
#include "morvanec/commands.h"

int main(int argc, char** argv) {
    morvane::InstallLastResort("morvanec");
    return morvane::MorvanecMain(argc, argv);
}
