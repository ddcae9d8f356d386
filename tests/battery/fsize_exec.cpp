// Runs a program with the size of every file it writes limited, the way a
// full device limits it: a write that would pass the limit writes what fits,
// the next one fails with EFBIG.
//
//   battery_fsize_exec BYTES PROGRAM [ARGUMENT...]
//   battery_fsize_exec nofile=N PROGRAM [ARGUMENT...]
//   battery_fsize_exec as=BYTES PROGRAM [ARGUMENT...]
//   battery_fsize_exec full=DIR PROGRAM [ARGUMENT...]
//
// The second form limits the open descriptors to N instead, the way a
// process that has used up its descriptors meets it; the third limits its
// address space, so that a large allocation fails. The fourth gives the
// program a mount namespace of its own in which DIR is a small tmpfs filled
// up to its last block: files can still be created there, no byte can be
// written. It exits with 77 when the system refuses the namespace.
//
// PROGRAM is run with its own path as its first word. SIGXFSZ keeps its
// default action (ending the process), so that the program has to protect
// itself.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kRefused = 77;

bool WriteText(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Mounts a full tmpfs at dir in a mount namespace of the process's own
// (a user namespace too when it lacks the privilege); false when refused.
bool MountFullDevice(const char* dir) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        WriteText("/proc/self/setgroups", "deny");
        if (!WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    // Nothing mounted here may reach the namespace the process came from.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    if (mount("tmpfs", dir, "tmpfs", 0, "size=64k") != 0) return false;
    const std::string filler = std::string(dir) + "/.filler";
    int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    char block[4096] = {};
    while (write(fd, block, sizeof block) > 0) {
    }
    const bool full = errno == ENOSPC;
    close(fd);
    return full;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s BYTES PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    if (std::strncmp(argv[1], "full=", 5) == 0) {
        if (!MountFullDevice(argv[1] + 5)) {
            std::fprintf(stderr, "%s: no full device at %s: %s\n", argv[0], argv[1] + 5,
                         std::strerror(errno));
            return kRefused;
        }
        execv(argv[2], argv + 2);
        std::perror("execv");
        return 127;
    }
    const bool nofile = std::strncmp(argv[1], "nofile=", 7) == 0;
    const bool memory = std::strncmp(argv[1], "as=", 3) == 0;
    if (nofile || memory) {
        const char* number = argv[1] + (nofile ? 7 : 3);
        const unsigned long long n = std::strtoull(number, &end, 10);
        rlimit limit{n, n};
        if (end == number || *end != '\0' ||
            setrlimit(nofile ? RLIMIT_NOFILE : RLIMIT_AS, &limit) != 0) {
            std::fprintf(stderr, "%s: cannot set the limit %s\n", argv[0], argv[1]);
            return 2;
        }
        execv(argv[2], argv + 2);
        std::perror("execv");
        return 127;
    }
    const unsigned long long bytes = std::strtoull(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0') {
        std::fprintf(stderr, "%s: not a byte count: %s\n", argv[0], argv[1]);
        return 2;
    }
    rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        std::perror("setrlimit");
        return 2;
    }
    signal(SIGXFSZ, SIG_DFL);
    execv(argv[2], argv + 2);
    std::perror("execv");
    return 127;
}
