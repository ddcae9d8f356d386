// The program icon, painted at run time (the program ships no artwork).
#pragma once

#include <QIcon>

namespace morvane {

QIcon BuilderIcon();

}  // namespace morvane
