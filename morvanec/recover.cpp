// recover: closes a session file that a killed server left unterminated.
//
// A session file is machine-written: the header, then one record element
// after another, each ending with "</Schema>" on a line of its own, then
// "</Root>" when the session is closed. The server writes every record in
// one piece, so a kill leaves the records whole up to the last "</Schema>",
// followed at most by the first part of the next one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "morvanec/commands.h"
#include "morvanec/diagnostics.h"
#include "morvanec/session_text.h"
#include "morvanec/stream_output.h"

namespace morvane {
namespace {

// The end tag of the Root element, without its line end.
constexpr std::string_view kRootEnd = kSessionEnd.substr(0, kSessionEnd.size() - 1);
constexpr size_t kChunk = size_t{1} << 20;

// What a scan of the file found.
struct SessionScan {
    int64_t records = 0;   // record end tags
    int64_t keep = 0;      // bytes up to the last record end, its line end included
    bool lineEnd = false;  // the last record end is followed by a line end
    bool closed = false;   // the file ends with </Root> and blanks
    bool header = false;   // the file starts with the session header
};

bool IsBlank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// The bytes at offset (fewer at the end of the file); empty on error.
std::string ReadAt(int fd, int64_t offset, size_t size) {
    std::string bytes(size, '\0');
    ssize_t n = pread(fd, bytes.data(), size, offset);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}

// Scans fd in pieces of kChunk bytes, so memory stays flat whatever the size.
bool Scan(int fd, int64_t size, SessionScan& scan) {
    std::string text;
    int64_t base = 0;  // file offset of text[0]
    int64_t lastEnd = -1;
    for (;;) {
        size_t old = text.size();
        text.resize(old + kChunk);
        ssize_t n;
        do {
            n = ::read(fd, text.data() + old, kChunk);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return false;
        text.resize(old + static_cast<size_t>(n));
        if (n == 0) break;
        for (size_t at = 0, found; (found = text.find(kRecordEndTag, at)) != std::string::npos;) {
            ++scan.records;
            at = found + kRecordEndTag.size();
            lastEnd = base + static_cast<int64_t>(at);
        }
        // A tag split between two pieces is found with the next one.
        size_t carry = std::min(text.size(), kRecordEndTag.size() - 1);
        base += static_cast<int64_t>(text.size() - carry);
        text.erase(0, text.size() - carry);
    }
    if (base + static_cast<int64_t>(text.size()) != size) return false;

    // The server writes the header in one piece when it opens the session:
    // a file without all of it was never a session file.
    scan.header = ReadAt(fd, 0, kSessionHeader.size()) == kSessionHeader;
    int64_t tailStart = std::max<int64_t>(0, size - 64);
    std::string tail = ReadAt(fd, tailStart, static_cast<size_t>(size - tailStart));
    size_t end = tail.size();
    while (end > 0 && IsBlank(tail[end - 1])) --end;
    scan.closed = end >= kRootEnd.size() &&
                  tail.compare(end - kRootEnd.size(), kRootEnd.size(), kRootEnd) == 0;
    if (lastEnd >= 0) {
        scan.lineEnd = ReadAt(fd, lastEnd, 1) == "\n";
        scan.keep = lastEnd + (scan.lineEnd ? 1 : 0);
    }
    return true;
}

bool CopyPrefix(int fd, int64_t bytes, StreamOutput& out) {
    if (lseek(fd, 0, SEEK_SET) != 0) return false;
    std::string buffer(kChunk, '\0');
    while (bytes > 0) {
        size_t want = static_cast<size_t>(std::min<int64_t>(bytes, static_cast<int64_t>(kChunk)));
        ssize_t n = ::read(fd, buffer.data(), want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (!out.Write(std::string_view(buffer.data(), static_cast<size_t>(n)))) return false;
        bytes -= n;
    }
    return true;
}

}  // namespace

int RunRecover(const Invocation& call) {
    const std::string& path = call.args[0];
    Diagnostics diagnostics;
    // Opened without blocking, so that a FIFO without a writer is refused
    // at once rather than waited on.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        diagnostics.Error(path, 0, 0, fd < 0 ? std::strerror(errno) : "not a regular file");
        if (fd >= 0) ::close(fd);
        return kExitInput;
    }
    if (st.st_size == 0) {
        diagnostics.Error(path, 0, 0, "not a session file: it is empty");
        ::close(fd);
        return kExitInput;
    }
    SessionScan scan;
    bool read = Scan(fd, st.st_size, scan);
    if (!read || !scan.header) {
        diagnostics.Error(path, 0, 0,
                          read ? "not a session file: it does not start with the session header"
                               : "cannot read the file (it changed while being read?)");
        ::close(fd);
        return kExitInput;
    }
    if (scan.closed) {
        std::fprintf(stderr, "%s: closed, %lld records; left untouched\n", path.c_str(),
                     static_cast<long long>(scan.records));
        ::close(fd);
        return kExitOk;
    }
    // No whole record: the header alone is kept.
    const bool noRecord = scan.records == 0;
    const int64_t keep = noRecord ? static_cast<int64_t>(kSessionHeader.size()) : scan.keep;
    StreamOutput out;
    bool ok = out.Open(path, diagnostics, st.st_mode & 07777) && CopyPrefix(fd, keep, out) &&
              out.Write(noRecord ? kSessionHeader.substr(static_cast<size_t>(keep))
                                 : (scan.lineEnd ? "" : "\n")) &&
              out.Write(kSessionEnd) && out.Commit();
    ::close(fd);
    if (!ok) {
        if (diagnostics.errors() == 0) diagnostics.Error(path, 0, 0, "cannot read the file");
        return kExitInput;
    }
    std::fprintf(stderr, "%s: kept %lld records, dropped %lld bytes\n", path.c_str(),
                 static_cast<long long>(scan.records), static_cast<long long>(st.st_size - keep));
    return kExitOk;
}

}  // namespace morvane
