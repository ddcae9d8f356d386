#include "broker_util.h"

#include <gtest/gtest.h>
#include <nats/nats.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "publish/message.h"

namespace morvane::test {

std::string NatsServerPath() {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/usr/local/sbin:/usr/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = path.find(':', start);
        std::string dir = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        std::string candidate = dir + "/nats-server";
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string::npos) return "";
        start = colon + 1;
    }
}

std::vector<int> FreePorts(int n) {
    // Held open together, so that no two are the same.
    std::vector<int> fds;
    std::vector<int> ports;
    for (int i = 0; i < n; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ports.push_back(ntohs(a.sin_port));
        fds.push_back(fd);
    }
    for (int fd : fds) close(fd);
    return ports;
}

NatsBroker::NatsBroker() : port_(FreeTcpPort()) {
    args_ = {"-a", "127.0.0.1", "-p", std::to_string(port_), "-js", "-sd", dir_ / "store"};
}

NatsBroker::NatsBroker(int index, const std::vector<int>& clientPorts,
                       const std::vector<int>& routePorts)
    : port_(clientPorts[static_cast<size_t>(index)]) {
    std::string routes;
    for (size_t i = 0; i < routePorts.size(); ++i) {
        if (static_cast<int>(i) == index) continue;
        if (!routes.empty()) routes += ",";
        routes += "nats://127.0.0.1:" + std::to_string(routePorts[i]);
    }
    args_ = {"-a", "127.0.0.1", "-p", std::to_string(port_), "-js", "-sd", dir_ / "store",
             "-n", "node" + std::to_string(index), "--cluster_name", "morvane-test",
             "--cluster", "nats://127.0.0.1:" + std::to_string(routePorts[static_cast<size_t>(index)]),
             "--routes", routes};
}

NatsBroker::~NatsBroker() { Kill(); }

bool NatsBroker::Start() {
    program_ = std::make_unique<BackgroundProgram>(NatsServerPath(), args_, dir_.path());
    return WaitFor([&] {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        return ok || !program_->Running();
    }) && program_->Running();
}

void NatsBroker::Kill() {
    if (program_ != nullptr && program_->Running()) program_->Stop(SIGKILL);
}

std::vector<InMessage> ReadAll(const std::string& urls, const std::string& stream, int timeoutMs) {
    std::vector<InMessage> out;
    std::string error;
    bool ok = ReadStream(urls, stream, [&](const InMessage& m) {
        out.push_back(m);
        return true;
    }, error, timeoutMs);
    EXPECT_TRUE(ok) << error;
    return out;
}

int64_t StreamCount(const std::string& urls, const std::string& stream) {
    natsOptions* o = nullptr;
    natsConnection* nc = nullptr;
    jsCtx* js = nullptr;
    jsStreamInfo* si = nullptr;
    int64_t n = -1;
    std::vector<std::string> list = SplitUrls(urls);
    std::vector<const char*> servers;
    for (const std::string& u : list) servers.push_back(u.c_str());
    if (natsOptions_Create(&o) == NATS_OK &&
        natsOptions_SetServers(o, servers.data(), static_cast<int>(servers.size())) == NATS_OK &&
        natsOptions_SetTimeout(o, 1000) == NATS_OK && natsConnection_Connect(&nc, o) == NATS_OK &&
        natsConnection_JetStream(&js, nc, nullptr) == NATS_OK &&
        js_GetStreamInfo(&si, js, stream.c_str(), nullptr, nullptr) == NATS_OK) {
        n = static_cast<int64_t>(si->State.Msgs);
        jsStreamInfo_Destroy(si);
    }
    if (js != nullptr) jsCtx_Destroy(js);
    if (nc != nullptr) natsConnection_Destroy(nc);
    if (o != nullptr) natsOptions_Destroy(o);
    return n;
}

}  // namespace morvane::test
