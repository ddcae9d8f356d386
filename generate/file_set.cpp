#include "generate/file_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace morvane {
namespace {

constexpr char kMarker[] = ".morvane-";
constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links

// True when path is a regular file, reached without following a symbolic
// link, whose bytes are exactly content. O_NONBLOCK: a FIFO planted at
// path must not stall the open.
bool HoldsContent(const std::string& path, std::string_view content) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                static_cast<uint64_t>(st.st_size) == content.size();
    // The size already agrees: read that much, no read at the end of file.
    char buffer[64 * 1024];
    size_t at = 0;
    while (same && at < content.size()) {
        ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, content.size() - at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            same = false;
            break;
        }
        const size_t got = static_cast<size_t>(n);
        same = std::memcmp(buffer, content.data() + at, got) == 0;
        at += got;
    }
    ::close(fd);
    return same;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file at the end of path's symbolic links; path itself when it is no
// link. A loop of links gives its last name, whose rename then fails.
std::string EndOfLinks(std::string path) {
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string to(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
        if (n <= 0 || static_cast<size_t>(n) >= to.size()) break;
        to.resize(static_cast<size_t>(n));
        path = to[0] == '/' ? to : DirectoryOf(path) + to;
    }
    return path;
}

// A new name beside path, ".<file name>.morvane-<pid>-<n>", made by make
// (which returns false with errno EEXIST when the name is taken, and then
// the next number is tried).
template <typename Make>
bool NewNameBeside(const std::string& path, std::string& name, Make make) {
    static std::atomic<unsigned> s_counter{0};
    const std::string head = DirectoryOf(path);
    const std::string tail = path.substr(head.size());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, "%s%x-%x", kMarker, static_cast<unsigned>(::getpid()),
                      s_counter.fetch_add(1));
        name = head + "." + tail + suffix;
        if (make(name)) return true;
        if (errno != EEXIST) return false;
    }
    return false;
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

// The process id in a name of NewNameBeside(), or 0 when name is not one.
pid_t PidOfTemporary(const char* name) {
    if (name[0] != '.') return 0;
    const char* marker = std::strstr(name + 1, kMarker);
    if (marker == nullptr || marker == name + 1) return 0;
    // The file name itself may hold the marker: take its last occurrence.
    for (const char* next; (next = std::strstr(marker + 1, kMarker)) != nullptr;) marker = next;
    const char* digits = marker + sizeof kMarker - 1;
    char* end = nullptr;
    const unsigned long pid = std::strtoul(digits, &end, 16);
    if (end == digits || *end != '-' || pid == 0 || pid > INT32_MAX) return 0;
    const char* counter = end + 1;
    std::strtoul(counter, &end, 16);
    if (end == counter || *end != '\0') return 0;
    return static_cast<pid_t>(pid);
}

}  // namespace

FileSet::FileSet(LinkPolicy links) : links_(links) {}

FileSet::~FileSet() { RemoveTemporaries(); }

bool FileSet::Fail(ReplaceFailure kind, const std::string& path, int error) {
    failure_.kind = kind;
    failure_.path = path;
    failure_.error = error;
    return false;
}

std::string FileSet::Reason() const {
    return failure_.path + ": " + std::strerror(failure_.error);
}

void FileSet::RemoveTemporaries() {
    for (const Staged& file : files_) {
        ::unlink(file.temporary.c_str());
        if (!file.backup.empty()) ::unlink(file.backup.c_str());
    }
    files_.clear();
}

bool FileSet::Add(const std::string& path, std::string_view content) {
    return Add(path, content, links_);
}

bool FileSet::Add(const std::string& path, std::string_view content, LinkPolicy links) {
    Staged file;
    file.path = path;
    file.target = links == LinkPolicy::kReplaceTarget ? EndOfLinks(path) : path;
    if (HoldsContent(file.target, content)) return true;

    struct stat old {};
    const bool exists = ::lstat(file.target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) return Fail(ReplaceFailure::kCreate, path, EISDIR);
    int fd = -1;
    const bool created = NewNameBeside(file.target, file.temporary, [&fd](const std::string& n) {
        fd = ::open(n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        return fd >= 0;
    });
    if (!created) return Fail(ReplaceFailure::kCreate, path, errno != 0 ? errno : EEXIST);
    // Held until the content is whole; released by close().
    ::flock(fd, LOCK_EX);
    bool ok = WriteAll(fd, content);
    int error = ok ? 0 : errno;
    if (ok && exists && S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & 07777) != 0) {
        ok = false;
        error = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(file.temporary.c_str());
        return Fail(ReplaceFailure::kWrite, path, error);
    }
    files_.push_back(std::move(file));
    return true;
}

bool FileSet::Commit() {
    size_t done = 0;
    int error = 0;
    for (; done < files_.size(); ++done) {
        Staged& file = files_[done];
        // A second name of the file being replaced, never following a link
        // that stands there (kReplaceLink keeps the link itself).
        struct stat st {};
        if (::lstat(file.target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {  // planted since Add(): say so, not link()'s EPERM
                error = EISDIR;
                file.backup.clear();
                break;
            }
            const bool linked = NewNameBeside(file.target, file.backup, [&](const std::string& n) {
                return ::linkat(AT_FDCWD, file.target.c_str(), AT_FDCWD, n.c_str(), 0) == 0;
            });
            if (!linked) {
                error = errno;
                file.backup.clear();
                break;
            }
        } else {
            file.backup.clear();
        }
        if (::rename(file.temporary.c_str(), file.target.c_str()) != 0) {
            error = errno;
            break;
        }
        file.temporary.clear();
    }
    if (done == files_.size()) {
        RemoveTemporaries();
        return true;
    }
    Fail(ReplaceFailure::kWrite, files_[done].path, error);
    // Back to the old files, the last replaced first.
    for (size_t i = done; i-- > 0;) {
        const Staged& file = files_[i];
        if (file.backup.empty())
            ::unlink(file.target.c_str());
        else if (::rename(file.backup.c_str(), file.target.c_str()) == 0)
            files_[i].backup.clear();
    }
    for (Staged& file : files_) {
        if (!file.temporary.empty()) ::unlink(file.temporary.c_str());
        if (!file.backup.empty()) ::unlink(file.backup.c_str());
    }
    files_.clear();
    return false;
}

size_t RemoveStaleTemporaries(const std::string& directory) {
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr) return 0;
    const std::string head = directory.empty() ? std::string() : directory + "/";
    size_t removed = 0;
    while (dirent* entry = ::readdir(dir)) {
        const pid_t pid = PidOfTemporary(entry->d_name);
        if (pid == 0) continue;
        // A writer that is alive may have closed its temporary already and
        // be about to rename it; one that is gone holds no lock. Only this
        // process's own pid, alive by definition, is left to the lock.
        if (pid != ::getpid() && !(::kill(pid, 0) != 0 && errno == ESRCH)) continue;
        const std::string path = head + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        const bool stale =
            ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale && ::unlink(path.c_str()) == 0) ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

}  // namespace morvane
