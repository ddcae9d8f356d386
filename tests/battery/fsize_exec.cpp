// Runs a program with the size of every file it writes limited, the way a
// full device limits it: a write that would pass the limit writes what fits,
// the next one fails with EFBIG.
//
//   battery_fsize_exec BYTES PROGRAM [ARGUMENT...]
//   battery_fsize_exec nofile=N PROGRAM [ARGUMENT...]
//
// The second form limits the open descriptors to N instead, the way a
// process that has used up its descriptors meets it.
//
// PROGRAM is run with its own path as its first word. SIGXFSZ keeps its
// default action (ending the process), so that the program has to protect
// itself.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s BYTES PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const bool nofile = std::strncmp(argv[1], "nofile=", 7) == 0;
    if (nofile) {
        const unsigned long long n = std::strtoull(argv[1] + 7, &end, 10);
        rlimit limit{n, n};
        if (end == argv[1] + 7 || *end != '\0' || setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            std::fprintf(stderr, "%s: cannot limit descriptors to %s\n", argv[0], argv[1] + 7);
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
