#include "battery_util.h"

#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <thread>

namespace morvane::test {

int OpenDescriptors(int pid) {
    std::error_code ec;
    std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec);
    if (ec) return -1;
    int n = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) return -1;
        ++n;
    }
    return n;
}

long ResidentKib(int pid) {
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

std::string SessionFileProblem(const std::string& text) {
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed)
        return std::string("not well-formed: ") + parsed.description() + " at byte " +
               std::to_string(parsed.offset);
    pugi::xml_node root = doc.document_element();
    if (std::string(root.name()) != "Root") return "the document element is not Root";
    for (pugi::xml_node record = root.first_child(); record; record = record.next_sibling()) {
        if (record.type() != pugi::node_element || std::string(record.name()) != "Schema")
            return "Root holds something else than record elements";
        if (!record.attribute("number") || !record.first_child())
            return "a record element without its number or its members";
    }
    return "";
}

std::string SessionHeader() { return "<?xml version=\"1.0\"?>\n<Root>\n"; }

void RunOnThreads(int n, const std::function<void(int)>& work) {
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) threads.emplace_back(work, i);
    for (auto& t : threads) t.join();
}

std::vector<std::unique_ptr<MorvaneServer>> MakeServers(int n, const std::string& extraIni) {
    std::set<int> ports;
    while (static_cast<int>(ports.size()) < n) ports.insert(FreeTcpPort());
    std::vector<std::unique_ptr<MorvaneServer>> servers;
    for (int port : ports) servers.push_back(std::make_unique<MorvaneServer>(port, extraIni));
    return servers;
}

long BytesBeforeClose(const Socket& s, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    long total = 0;
    uint8_t sink[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd p{s.fd(), POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return -1;
        ssize_t r = recv(s.fd(), sink, sizeof sink, 0);
        if (r <= 0) return total;
        total += r;
    }
}

void AbortConnection(Socket& s) {
    linger l{1, 0};
    setsockopt(s.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    s.Close();
}

}  // namespace morvane::test
