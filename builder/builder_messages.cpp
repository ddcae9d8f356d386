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

std::string SizeOfField(size_t width, std::string_view field, std::string_view text) {
    size_t characters = 0;
    for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    const int shown = static_cast<int>(field.size());
    std::string message = Format(kSizeOfField, static_cast<int>(width));
    if (characters == text.size())
        return message + Format(": %.*s is %zu characters long; at most %zu fit", shown,
                                field.data(), text.size(), width - 1);
    return message + Format(": %.*s is %zu bytes long in UTF-8 (%zu characters); at most %zu "
                            "bytes fit",
                            shown, field.data(), text.size(), characters, width - 1);
}

std::string FieldCheck(std::string_view text, size_t width, std::string_view field) {
    if (text.empty()) return kEmptyField;
    if (text.size() >= width) return SizeOfField(width, field, text);
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
