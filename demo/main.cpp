// demo: runs one client session against the Morvane server on this machine
// (127.0.0.1, port 25000), then idles until it is stopped. SIGINT and SIGTERM
// end it with status 0.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "channel/auto_reset_event.h"
#include "demo/channel_app.h"
#include "logging/last_resort.h"

int main() {
    morvane::InstallLastResort("demo");
    // Every line reaches a pipe or a log file at once: the program never
    // reaches an exit-time flush.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::setvbuf(stderr, nullptr, _IOLBF, 0);

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
    app->Begin(morvane::kDemoPort, morvane::kInfinite);
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
}
