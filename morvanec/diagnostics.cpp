#include "morvanec/diagnostics.h"

#include <cstdio>

#include "schema/schema.h"

namespace morvane {

int Diagnostics::printed_ = 0;

void Diagnostics::Print(const std::string& path, int line, int column, const char* kind,
                        const std::string& text) {
    if (line > 0)
        std::fprintf(stderr, "%s:%d:%d: %s: %s\n", path.c_str(), line, column, kind, text.c_str());
    else
        std::fprintf(stderr, "%s: %s: %s\n", path.c_str(), kind, text.c_str());
}

void Diagnostics::PrintAt(const std::string& path, std::ptrdiff_t offset, const char* kind,
                          const std::string& text) {
    int line = 0;
    int column = 0;
    if (offset < 0 || !LineColumnAt(path.c_str(), offset, line, column)) line = 0;
    Print(path, line, column, kind, text);
}

void Diagnostics::Error(const std::string& path, int line, int column, const std::string& text) {
    ++errors_;
    ++printed_;
    Print(path, line, column, "error", text);
}

void Diagnostics::Warning(const std::string& path, int line, int column, const std::string& text) {
    Print(path, line, column, "warning", text);
}

void Diagnostics::ErrorAt(const std::string& path, std::ptrdiff_t offset, const std::string& text) {
    ++errors_;
    ++printed_;
    PrintAt(path, offset, "error", text);
}

void Diagnostics::WarningAt(const std::string& path, std::ptrdiff_t offset,
                            const std::string& text) {
    PrintAt(path, offset, "warning", text);
}

void Diagnostics::NoteAt(const std::string& path, std::ptrdiff_t offset, const std::string& text) {
    PrintAt(path, offset, "note", text);
}

}  // namespace morvane
