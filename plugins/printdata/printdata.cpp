// libprintdata.so: the sample print-data plug-in. Each instance writes to
// the file it was created on one line per call: the label alone for a
// record header (null value), "label = value" for a value. A line is
// written and flushed under the instance's mutex, so calls may come from any
// thread, lines never interleave, and the file is complete whenever the
// process stops.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <mutex>

#define PRINTDATA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct PrintData {
    std::mutex mutex;
    FILE* file = nullptr;
    PrintData* next = nullptr;
};

// Every instance lives until the process ends (the host never releases its
// handle); the list keeps them reachable, so leak checkers stay quiet.
std::mutex g_instancesMutex;
PrintData* g_instances = nullptr;

}  // namespace

// flag 1 appends to an existing file (Morvane passes 1, so the output of
// earlier runs stays); any other flag starts the file afresh. Null when the
// file cannot be opened, and when path names a symbolic link, anything but
// a regular file or a file with a second hard link. The instance is never released.
PRINTDATA_EXPORT void* CreateMyPrintData_Int(const char* path, int32_t flag) {
    if (path == nullptr) return nullptr;
    // O_NONBLOCK keeps a FIFO without a reader from stalling the open; the
    // type check refuses it. Truncated only once it is known to be a file.
    const int append = flag == 1 ? O_APPEND : 0;
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | append, 0644);
    if (fd < 0) return nullptr;
    struct stat st;
    // Nor a file with a second hard link: the same file under another name.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1 ||
        (flag != 1 && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, flag == 1 ? "a" : "w");
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    auto* p = new PrintData;
    p->file = file;
    std::lock_guard<std::mutex> lock(g_instancesMutex);
    p->next = g_instances;
    g_instances = p;
    return p;
}

// Returns 0, or -1 for a null handle; Morvane ignores the result.
PRINTDATA_EXPORT int32_t RunMyPrintData_Int(void* handle, const char* label, const char* value) {
    auto* p = static_cast<PrintData*>(handle);
    if (p == nullptr) return -1;
    std::lock_guard<std::mutex> lock(p->mutex);
    std::fputs(label != nullptr ? label : "", p->file);
    if (value != nullptr) {
        std::fputs(" = ", p->file);
        std::fputs(value, p->file);
    }
    std::fputc('\n', p->file);
    std::fflush(p->file);
    return 0;
}
