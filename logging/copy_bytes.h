// CopyBytes: memcpy for the short pieces that log lines and generated lines
// are put together from. A call into the library's memcpy per piece of a
// few bytes cost more than the copying; up to 16 bytes are copied here with
// two overlapping moves of fixed size, which the compiler inlines, and
// never read outside [from, from + size).
#pragma once

#include <cstddef>
#include <cstring>

namespace morvane {

inline void CopyBytes(char* to, const char* from, size_t size) {
    if (size >= 8) {
        if (size > 16) {
            std::memcpy(to, from, size);
            return;
        }
        std::memcpy(to, from, 8);
        std::memcpy(to + size - 8, from + size - 8, 8);
    } else if (size >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + size - 4, from + size - 4, 4);
    } else {
        for (size_t i = 0; i < size; ++i) to[i] = from[i];
    }
}

}  // namespace morvane
