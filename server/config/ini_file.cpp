#include "server/config/ini_file.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <limits>
#include <sstream>

namespace morvane {
namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

}  // namespace

bool IniFile::Load(const std::string& path) {
    sections_.clear();
    // O_NONBLOCK: a FIFO of that name must not stall start-up; the type
    // check refuses it.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0) break;
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    LoadText(text);
    return true;
}

void IniFile::LoadText(const std::string& text) {
    sections_.clear();
    // Editors that save UTF-8 may put a byte-order mark before the first
    // section; it is no part of that section's name.
    static constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
    const size_t skip = text.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
    std::istringstream lines(text.substr(skip));
    std::string raw;
    Section* current = nullptr;
    while (std::getline(lines, raw)) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos
                                                                               : close - 1));
            sections_.push_back({name, {}});
            current = &sections_.back();
            continue;
        }
        size_t eq = line.find('=');
        if (current == nullptr || eq == std::string::npos) continue;
        current->entries.push_back({Trim(line.substr(0, eq)), Unquote(Trim(line.substr(eq + 1)))});
    }
}

const std::string* IniFile::Find(const std::string& section, const std::string& key) const {
    for (const Section& s : sections_) {
        if (!SameName(s.name, section)) continue;
        // Only the first section of that name is searched.
        for (const Entry& e : s.entries)
            if (SameName(e.key, key)) return &e.value;
        return nullptr;
    }
    return nullptr;
}

bool IniFile::HasSection(const std::string& section) const {
    for (const Section& s : sections_)
        if (SameName(s.name, section)) return true;
    return false;
}

std::string IniFile::GetString(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
    const std::string* v = Find(section, key);
    return v != nullptr ? *v : fallback;
}

int32_t IniFile::GetInt(const std::string& section, const std::string& key,
                        int32_t fallback) const {
    const std::string* v = Find(section, key);
    return v != nullptr ? ProfileInt(*v) : fallback;
}

int32_t ProfileInt(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

}  // namespace morvane
