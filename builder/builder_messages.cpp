#include "builder/builder_messages.h"

#include <cstdarg>
#include <cstdio>

namespace morvane::msg {

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return text;
}

std::string SizeOfField(size_t width) { return Format(kSizeOfField, static_cast<int>(width)); }

std::string FieldCheck(std::string_view text, size_t width) {
    if (text.empty()) return kEmptyField;
    if (text.size() >= width) return SizeOfField(width);
    return {};
}

std::string StillUsedBy(const char* what, std::string_view name,
                        const std::vector<std::string>& users) {
    if (users.empty()) return {};
    std::string text =
        Format("%s \"%.*s\" is still used by ", what, static_cast<int>(name.size()), name.data());
    for (size_t i = 0; i < users.size(); ++i) text += (i == 0 ? "" : ", ") + users[i];
    return text + ". ";
}

}  // namespace morvane::msg
