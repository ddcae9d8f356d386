// Morvane.ini: the input is the text of the file. Every key the
// configuration reads is looked up, and so is every section and key name
// the text itself holds (up to a bound), and the answers are held to the
// reader's rules: names compare ignoring case, a present key ignores the
// fallback, and the integer of a key is the profile integer of its text.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "server/config/ini_file.h"

namespace {

constexpr size_t kMaxNames = 64;

std::string Flipped(std::string text) {
    for (char& c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        c = static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
    }
    return text;
}

// Looks key up and checks the answers against each other.
void Check(const morvane::IniFile& ini, const std::string& section, const std::string& key) {
    const std::string a = ini.GetString(section, key, std::string("\x01") + "a");
    const std::string b = ini.GetString(section, key, std::string("\x01") + "b");
    const bool present = a == b;
    if (!present && (a != "\x01" "a" || b != "\x01" "b")) std::abort();
    if (ini.GetString(Flipped(section), Flipped(key), "\x01" "a") != a) std::abort();

    const int32_t n = ini.GetInt(section, key, 12345);
    if (present ? n != morvane::ProfileInt(a) : n != 12345) std::abort();
}

// Section names and key names as the text spells them, without trimming:
// lookups of untrimmed names exercise the comparison as much as trimmed ones.
std::vector<std::pair<std::string, std::string>> NamesIn(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> names;
    std::string section;
    size_t start = 0;
    while (start < text.size() && names.size() < kMaxNames) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            section = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            continue;
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos) names.emplace_back(section, line.substr(0, eq));
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    morvane::IniFile ini;
    ini.LoadText(text);

    static const char* const kDirectory[] = {"Archive", "Schemas", "ResultsInclude",
                                             "ResultsEmptyXml", "XML_Data"};
    static const char* const kGeneral[] = {"Port", "LogFlag", "PrintDataDll", "CreateFilesFlag"};
    for (const char* key : kDirectory) Check(ini, "Directory", key);
    for (const char* key : kGeneral) Check(ini, "General", key);
    for (const auto& [section, key] : NamesIn(text)) Check(ini, section, key);

    morvane::ProfileInt(text);
    return 0;
}
