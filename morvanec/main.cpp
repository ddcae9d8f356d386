#include "morvanec/commands.h"

int main(int argc, char** argv) { return morvane::MorvanecMain(argc, argv); }
