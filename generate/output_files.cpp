#include "generate/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

namespace {

// True when path is a regular file, reached without following a symbolic
// link, whose bytes are exactly content. O_NONBLOCK: a FIFO planted at
// path must not stall the open.
bool HoldsContent(const std::string& path, std::string_view content) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                static_cast<uint64_t>(st.st_size) == content.size();
    char buffer[64 * 1024];
    size_t at = 0;
    while (same) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            same = n == 0 && at == content.size();
            break;
        }
        const size_t got = static_cast<size_t>(n);
        same = got <= content.size() - at && std::memcmp(buffer, content.data() + at, got) == 0;
        at += got;
    }
    ::close(fd);
    return same;
}

// Creates a new file beside path, named ".<file name>.<suffix>" so that
// directory listings pass over it. O_EXCL: whatever already has that name,
// a link included, makes the next suffix be tried instead.
int CreateTemporary(const std::string& path, std::string& temporary) {
    static std::atomic<unsigned> s_counter{0};
    const size_t slash = path.rfind('/');
    const std::string head = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string tail = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%x.%x", static_cast<unsigned>(::getpid()),
                      s_counter.fetch_add(1));
        temporary = head + "." + tail + suffix;
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

ReplaceResult ReplaceFile(const std::string& path, std::string_view content) {
    ReplaceResult result;
    if (HoldsContent(path, content)) return result;
    std::string temporary;
    int fd = CreateTemporary(path, temporary);
    if (fd < 0) {
        result.failure = ReplaceFailure::kCreate;
        result.error = errno;
        return result;
    }
    bool ok = WriteAll(fd, content);
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        result.failure = ReplaceFailure::kWrite;
        result.error = error;
        return result;
    }
    result.written = true;
    return result;
}

bool WriteFileIfChanged(const std::string& path, std::string_view content) {
    const ReplaceResult result = ReplaceFile(path, content);
    if (result.failure == ReplaceFailure::kNone) return true;
    LogLine(true, "Error! [%s] is not written [%s]\n", path.c_str(), std::strerror(result.error));
    return false;
}

}  // namespace morvane
