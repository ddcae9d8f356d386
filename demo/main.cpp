// demo: runs one client session against a Morvane server (by default on this
// machine, 127.0.0.1, port 25000), then idles until it is stopped. SIGINT
// and SIGTERM end it with status 0.
#include <arpa/inet.h>
#include <netdb.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "channel/auto_reset_event.h"
#include "cli/options.h"
#include "demo/channel_app.h"

namespace {

// The dotted IPv4 address of host (a name or an address); empty when it
// has none.
std::string Ipv4AddressOf(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return "";
    char text[INET_ADDRSTRLEN] = "";
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

// The port of a --port value: 1 to 65535, nothing else after the digits.
bool ParsePort(const std::string& text, int32_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 65535) return false;
    port = static_cast<int32_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Every line reaches a pipe or a log file at once: the program never
    // reaches an exit-time flush.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stderr, nullptr, _IOLBF, 0);

    const std::vector<morvane::ProgramOption> options = {
        {"--host", "HOST", "the server's host name or IPv4 address (default 127.0.0.1)"},
        {"--port", "PORT", "the server's TCP port (default 25000)"},
    };
    const std::string usage = morvane::UsageText(
        "demo", "[--host HOST] [--port PORT]",
        "Runs the reference session against a Morvane server: the size and the\n"
        "record of schema 1, then a session file Record.xml with three records.\n"
        "Waits for the server when it is not there yet; ends on SIGINT or SIGTERM.\n",
        options);
    morvane::ParsedCommandLine commandLine = morvane::ParseCommandLine(argc, argv, options);
    int32_t port = morvane::kDemoPort;
    if (commandLine.action == morvane::ParsedCommandLine::Action::kRun) {
        // Other words are ignored, as they always were.
        if (commandLine.Has("--port") && !ParsePort(commandLine.Value("--port"), port)) {
            commandLine.action = morvane::ParsedCommandLine::Action::kUsageError;
            commandLine.error = "port '" + commandLine.Value("--port") + "' is not 1 to 65535";
        }
    }
    if (int status = morvane::AnswerCommandLine(commandLine, "demo", usage.c_str()); status >= 0)
        return status;
    std::string address = morvane::kDemoServerAddress;
    if (commandLine.Has("--host")) {
        address = Ipv4AddressOf(commandLine.Value("--host"));
        if (address.empty()) {
            std::fprintf(stderr, "demo: host '%s' has no IPv4 address\n",
                         commandLine.Value("--host").c_str());
            return 1;
        }
    }

    // Blocked here, before any thread exists, so that only the waiter below
    // takes these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread([stopSignals] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) != 0) {
        }
        std::fflush(nullptr);
        _exit(0);
    }).detach();

    // Lives until the process ends; never freed.
    auto* app = new morvane::CChannelApp;
    app->Begin(port, morvane::kInfinite, address.c_str());
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
}
