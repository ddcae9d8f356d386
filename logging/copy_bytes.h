// CopyBytes and AppendViews: how log lines and generated lines are put
// together from their pieces.
//
// CopyBytes is memcpy for the short pieces. A call into the library's memcpy per piece of a
// few bytes cost more than the copying; up to 16 bytes are copied here with
// two overlapping moves of fixed size, which the compiler inlines, and
// never read outside [from, from + size).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

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

// Appends the pieces to out, growing it once.
inline void AppendViews(std::string& out, const std::string_view* pieces, size_t count) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += pieces[i].size();
    const size_t at = out.size();
    out.resize(at + total);
    char* to = out.data() + at;
    for (size_t i = 0; i < count; ++i) {
        CopyBytes(to, pieces[i].data(), pieces[i].size());
        to += pieces[i].size();
    }
}

}  // namespace morvane
