#include "support/own_network.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace morvane::test {
namespace {

bool g_inOwnNetwork = false;
std::string g_refusal = "not tried";

bool WriteProcFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

bool BringLoopbackUp(std::string& why) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags |= IFF_UP | IFF_RUNNING;
        ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!ok) why = std::string("loopback: ") + std::strerror(errno);
    close(fd);
    return ok;
}

}  // namespace

bool EnterOwnNetwork(std::string& why) {
    if (unshare(CLONE_NEWNET) != 0) {
        const int plain = errno;
        // Without the privilege, a user namespace of our own grants it.
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            why = std::string("unshare: ") + std::strerror(plain) + ", with a user namespace: " +
                  std::strerror(errno);
            return false;
        }
        WriteProcFile("/proc/self/setgroups", "deny");
        if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            why = std::string("user namespace map: ") + std::strerror(errno);
            return false;
        }
    }
    return BringLoopbackUp(why);
}

bool InOwnNetwork() { return g_inOwnNetwork; }
const std::string& OwnNetworkRefusal() { return g_refusal; }

// For own_network_main.cpp only.
void SetOwnNetwork(bool entered, const std::string& why) {
    g_inOwnNetwork = entered;
    g_refusal = entered ? "" : why;
}

}  // namespace morvane::test
