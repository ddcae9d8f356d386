#include "server/startup.h"

int main(int argc, char** argv) { return morvane::ServerMain(argc, argv); }
