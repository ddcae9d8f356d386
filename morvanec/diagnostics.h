// Diagnostics in the form compilers print, so that editors and CI jobs can
// jump to them: one per line on standard error,
//
//   PATH:LINE:COLUMN: error: TEXT
//   PATH:LINE:COLUMN: warning: TEXT
//
// with a 1-based line and column, or "PATH: error: TEXT" when the place is
// not known.
#pragma once

#include <cstddef>
#include <string>

namespace morvane {

class Diagnostics {
  public:
    // At a 1-based line and column; line 0 prints no place.
    void Error(const std::string& path, int line, int column, const std::string& text);
    void Warning(const std::string& path, int line, int column, const std::string& text);
    // At a byte offset into the file at path; -1 (or an offset the file
    // does not reach) prints no place.
    void ErrorAt(const std::string& path, std::ptrdiff_t offset, const std::string& text);
    void WarningAt(const std::string& path, std::ptrdiff_t offset, const std::string& text);
    // "PATH:LINE:COLUMN: note: TEXT": what is worth knowing but harms nothing.
    void NoteAt(const std::string& path, std::ptrdiff_t offset, const std::string& text);

    int errors() const { return errors_; }
    // Errors printed by every Diagnostics of the process.
    static int Printed() { return printed_; }

  private:
    void Print(const std::string& path, int line, int column, const char* kind,
               const std::string& text);
    void PrintAt(const std::string& path, std::ptrdiff_t offset, const char* kind,
                 const std::string& text);

    int errors_ = 0;
    static int printed_;
};

}  // namespace morvane
