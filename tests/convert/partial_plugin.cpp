// A print-data plug-in missing RunMyPrintData_Int.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void* CreateMyPrintData_Int(const char*,
                                                                               int32_t) {
    static int instance;
    return &instance;
}
