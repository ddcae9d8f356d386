#include "morvanec/commands.h"

namespace morvane {

int RunToBinary(const Invocation&) { return kExitInput; }
int RunToXml(const Invocation&) { return kExitInput; }

}  // namespace morvane
