// libquillog.so: the logger library. One file per handle; every enabled
// printfdeb_Int call becomes exactly one write(2) of its formatted text, so
// calls from several threads (or processes appending to the same file)
// never interleave within a line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#define QUILLOG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Logger {
    std::mutex mutex;
    int fd = -1;
    bool cutAtClose = false;  // mode 0: the file ends where our writes end
};

void CloseLogger(Logger* logger) {
    if (logger->fd < 0) return;
    if (logger->cutAtClose) {
        off_t end = lseek(logger->fd, 0, SEEK_CUR);
        if (end >= 0 && ftruncate(logger->fd, end) != 0) {
            // The old tail stays; nothing better can be done at close.
        }
    }
    close(logger->fd);
    logger->fd = -1;
}

void WriteAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += n;
        length -= static_cast<size_t>(n);
    }
}

}  // namespace

QUILLOG_EXPORT void* CreateLogger_Int() { return new Logger; }

// mode 1 appends to an existing file; any other mode starts it afresh. A
// fresh file is overwritten from its start and cut to length when the
// logger is deleted, rather than truncated at open: ext4 forces a disk
// write-back of every file truncated and written again, which made the
// start-up of a large archive wait on the disk. False when path names a
// symbolic link, anything but a regular file or a file with a second hard
// link.
QUILLOG_EXPORT bool InitLogger_Int(void* handle, const char* path, int mode) {
    auto* logger = static_cast<Logger*>(handle);
    if (logger == nullptr || path == nullptr) return false;
    // Never through a symbolic link, and only into a regular file: a FIFO
    // without a reader would stall the open (hence O_NONBLOCK), a device
    // would take the lines away.
    int flags =
        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (mode == 1 ? O_APPEND : 0);
    int fd = open(path, flags, 0644);
    if (fd < 0) return false;
    struct stat st;
    // A second hard link is the same file under another name (a data file,
    // a file outside the program directory): it is not written through.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::lock_guard<std::mutex> lock(logger->mutex);
    CloseLogger(logger);
    logger->fd = fd;
    logger->cutAtClose = mode != 1;
    return true;
}

QUILLOG_EXPORT int printfdeb_Int(void* handle, bool enable, const char* format, ...) {
    auto* logger = static_cast<Logger*>(handle);
    if (!enable || logger == nullptr || format == nullptr) return 0;
    va_list args;
    va_start(args, format);
    // "%s" is how callers hand over text formatted already, often many
    // lines at once: written as it is, without formatting it again.
    if (std::strcmp(format, "%s") == 0) {
        const char* text = va_arg(args, const char*);
        va_end(args);
        if (text == nullptr) text = "(null)";
        const size_t length = std::strlen(text);
        std::lock_guard<std::mutex> lock(logger->mutex);
        if (logger->fd >= 0) WriteAll(logger->fd, text, length);
        return static_cast<int>(length);
    }
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    char* text = small;
    if (n >= static_cast<int>(sizeof small)) {
        text = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
        if (text != nullptr) vsnprintf(text, static_cast<size_t>(n) + 1, format, args);
    }
    va_end(args);
    if (n < 0 || text == nullptr) return -1;
    {
        std::lock_guard<std::mutex> lock(logger->mutex);
        if (logger->fd >= 0) WriteAll(logger->fd, text, static_cast<size_t>(n));
    }
    if (text != small) free(text);
    return n;
}

QUILLOG_EXPORT void DeleteLogger_Int(void* handle) {
    auto* logger = static_cast<Logger*>(handle);
    if (logger == nullptr) return;
    CloseLogger(logger);
    delete logger;
}
