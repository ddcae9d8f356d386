#include "morvanec/stream_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "morvanec/diagnostics.h"

namespace morvane {
namespace {

constexpr size_t kPieceSize = size_t{1} << 20;

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads up to size bytes; fewer only at the end of the file. -1 on error.
ssize_t ReadFull(int fd, char* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

StreamOutput::~StreamOutput() { Abandon(); }

bool StreamOutput::Open(const std::string& path, Diagnostics& diagnostics, mode_t mode) {
    diagnostics_ = &diagnostics;
    path_ = path;
    pending_.reserve(kPieceSize);
    if (path.empty()) {
        fd_ = STDOUT_FILENO;
        return true;
    }
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    temp_ = dir + "." + name + ".XXXXXX";
    fd_ = mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        temp_.clear();
        return Fail("cannot create a temporary file beside it", errno);
    }
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, mode & ~mask & 07777);
    return true;
}

bool StreamOutput::Fail(const std::string& what, int error) {
    diagnostics_->Error(path_.empty() ? "<stdout>" : path_, 0, 0,
                        what + ": " + std::strerror(error));
    Abandon();
    return false;
}

bool StreamOutput::Flush() {
    if (fd_ < 0) return false;
    if (!WriteAll(fd_, pending_.data(), pending_.size())) return Fail("write failed", errno);
    pending_.clear();
    return true;
}

bool StreamOutput::Write(std::string_view bytes) {
    if (fd_ < 0) return false;
    if (pending_.size() + bytes.size() > kPieceSize && !Flush()) return false;
    if (bytes.size() >= kPieceSize) {
        if (!WriteAll(fd_, bytes.data(), bytes.size())) return Fail("write failed", errno);
        return true;
    }
    pending_.append(bytes);
    return true;
}

std::string* StreamOutput::Pending() {
    if (fd_ < 0 || (pending_.size() >= kPieceSize && !Flush())) return nullptr;
    return &pending_;
}

bool StreamOutput::SameAsTarget() {
    struct stat target;
    struct stat temp;
    if (lstat(path_.c_str(), &target) != 0 || !S_ISREG(target.st_mode) || fstat(fd_, &temp) != 0 ||
        temp.st_size != target.st_size)
        return false;
    int other = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (other < 0) return false;
    std::vector<char> a(kPieceSize);
    std::vector<char> b(kPieceSize);
    bool same = lseek(fd_, 0, SEEK_SET) == 0;
    while (same) {
        ssize_t n = ReadFull(fd_, a.data(), a.size());
        ssize_t m = ReadFull(other, b.data(), b.size());
        same = n >= 0 && n == m && std::memcmp(a.data(), b.data(), static_cast<size_t>(n)) == 0;
        if (n <= 0) break;
    }
    ::close(other);
    return same;
}

bool StreamOutput::Commit() {
    if (!Flush()) return false;
    if (path_.empty()) {
        fd_ = -1;
        return true;
    }
    // No fsync: like the generated files, this guards against the process
    // dying, not against the machine losing power.
    if (SameAsTarget()) {
        Abandon();
        return true;
    }
    if (::close(fd_) != 0) {
        fd_ = -1;
        return Fail("cannot write the file", errno);
    }
    fd_ = -1;
    if (::rename(temp_.c_str(), path_.c_str()) != 0) return Fail("cannot replace the file", errno);
    temp_.clear();
    return true;
}

void StreamOutput::Abandon() {
    pending_.clear();
    if (path_.empty()) {
        fd_ = -1;
        return;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

}  // namespace morvane
