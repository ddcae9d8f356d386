// A reader for Morvane.ini that behaves like the Windows profile functions:
// section and key names compare ignoring case, the first matching section
// and the first matching key win, ';' starts a comment line, names and values
// are trimmed, one pair of matching surrounding quotes is removed from a
// value, and lines have no length limit. A missing file, section or key
// gives the caller's default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

class IniFile {
  public:
    // Reads the file; false (and an empty file) when it cannot be read, with
    // errno telling why: ENOENT (or ENOTDIR) when there is no file at path,
    // EINVAL when path names anything but a regular file.
    bool Load(const std::string& path);
    // A UTF-8 byte-order mark at the start of text is skipped.
    void LoadText(const std::string& text);

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;
    // Optional sign and leading decimal digits; anything else reads as 0.
    // A missing key gives fallback.
    int32_t GetInt(const std::string& section, const std::string& key, int32_t fallback) const;
    // True when the file has a section of that name, keys or not.
    bool HasSection(const std::string& section) const;

  private:
    const std::string* Find(const std::string& section, const std::string& key) const;

    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    std::vector<Section> sections_;
};

// The profile integer rule on a text: optional sign, then the leading
// decimal digits; no digits gives 0. Values beyond 32 bits saturate.
int32_t ProfileInt(const std::string& text);

}  // namespace morvane
