#include "generate/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>

#include "logging/log.h"

namespace morvane {

std::string ToLower(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ToUpper(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool GeneratedFilePath(const char* who, const char* directory, const std::string& stem,
                       const char* extension, bool lowerStem, std::string& path) {
    if (stem.empty() || stem.find('/') != std::string::npos) {
        LogLine(true, "Error! %s: schema name [%s] cannot be a file name\n", who, stem.c_str());
        return false;
    }
    path.clear();
    if (directory != nullptr && directory[0] != '\0') {
        path = directory;
        path += '/';
    }
    path += lowerStem ? ToLower(stem) : stem;
    path += extension;
    return true;
}

std::FILE* OpenReplaced(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) ::close(fd);
    return file;
}

bool CloseReplaced(std::FILE* file) {
    bool ok = std::fflush(file) == 0 && std::ferror(file) == 0;
    long length = std::ftell(file);
    if (length < 0 || ::ftruncate(::fileno(file), length) != 0) ok = false;
    if (std::fclose(file) != 0) ok = false;
    return ok;
}

}  // namespace morvane
