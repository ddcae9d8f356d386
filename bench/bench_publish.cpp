// Publishing to NATS JetStream: what it costs the server, and how the
// publisher compares with the client library alone.
//
// Sets up program directories of its own (Morvane and libquillog.so from the
// build, a generated schema "Wide" of 200 fields), starts nats-server with
// JetStream on free loopback ports and a temporary store, and measures:
//
//   server     100,000 Wide records from one client and from four
//              (MaxClients=4) into session files: records per second
//              without [Publish], with it against one local broker (target:
//              at least 0.8x without), and with the broker down (records go
//              into the spool);
//   acks       the publisher of this build in this process, 100,000 Wide
//              records: records per second until all are acknowledged and
//              the publish-to-acknowledgement p50 and p99;
//   floor      the client library alone with no spool, the same bytes:
//              records per second until all acknowledged, published the
//              publisher's way (PublishMsg, the seven headers of a record,
//              a reply subject of its own under one subscription) and with
//              js_PublishAsync (without headers and with them); beside the
//              publisher's and the floor's rates, this process's CPU per
//              record;
//   cpu        beside each server row, the Morvane process's own CPU time
//              per record (user and system, all its threads): the broker
//              and the clients share the machine's cores with it, so the
//              wall-clock ratio is bounded by their share; the CPU ratio
//              says what publishing costs the server itself;
//   (each server figure is the best of two runs taken in turn: the higher
//   rate, the lower CPU)
//   cluster    the server and ack figures against three brokers on this
//              machine with a stream of three replicas, without a target
//              (the brokers share the machine's cores with everything else).
//
// Usage: bench_publish [--records N] [--window N] [--only one,acks,down,cluster] [bin-dir]
// (--window: the in-process publisher's window of messages in flight)
// (one: the server rows against one broker; acks: the publisher and the
// floor against it)
// MORVANE_BENCH_KEEP=1 in the environment keeps the program directories
// (for a profiler).
#include <arpa/inet.h>
#include <fcntl.h>
#include <nats/nats.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <condition_variable>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "publish/message.h"
#include "publish/publisher.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWideFields = 200;
int g_records = 100000;
int g_window = 0;  // --window: the in-process publisher's, 0 for its default
std::string g_bin = MORVANE_BIN_DIR;

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::exit(1);
}

std::string TempDirectory(const char* name) {
    std::string tmpl = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    if (mkdtemp(tmpl.data()) == nullptr) Die("mkdtemp");
    return tmpl;
}

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    int port = ntohs(a.sin_port);
    close(fd);
    return port;
}

int ConnectTo(int port, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

pid_t Spawn(const std::string& dir, const std::vector<std::string>& argv) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int out = open((dir + "/out.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void Kill(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Wide: 200 fields of the usual type codes.
int32_t WriteWide(const std::string& dir) {
    static const struct {
        const char* type;
        int size;
    } kinds[] = {{"int", 4}, {"double", 8}, {"float", 4}, {"int64", 8},
                 {"unsigned", 4}, {"int16", 2}, {"char", 1}, {"bool", 4}};
    std::string schema = "<?xml version=\"1.0\"?>\n<Schema name=\"Wide\" id=\"2\">\n";
    int32_t size = 0;
    for (int i = 0; i < kWideFields; ++i) {
        const auto& k = kinds[i % 8];
        schema += "   <Item name=\"f" + std::to_string(i) + "\" type=\"" + k.type + "\"/>\n";
        size += k.size;
    }
    schema += "</Schema>\n";
    std::ofstream(dir + "/Schemas/Wide.xsd") << schema;
    return size;
}

struct Brokers {
    std::vector<pid_t> pids;
    std::vector<std::string> dirs;
    std::string urls;
    ~Brokers() {
        for (pid_t p : pids) Kill(p);
        std::error_code ec;
        for (const std::string& d : dirs) fs::remove_all(d, ec);
    }
};

void StartBrokers(Brokers& b, int n) {
    std::vector<int> ports, routes;
    for (int i = 0; i < n; ++i) ports.push_back(FreePort());
    for (int i = 0; i < n; ++i) routes.push_back(FreePort());
    for (int i = 0; i < n; ++i) {
        std::string dir = TempDirectory("morvane-bench-nats");
        std::vector<std::string> argv = {"nats-server", "-a", "127.0.0.1", "-p",
                                         std::to_string(ports[i]), "-js", "-sd", dir + "/store"};
        if (n > 1) {
            std::string r;
            for (int j = 0; j < n; ++j)
                if (j != i) r += (r.empty() ? "" : ",") + std::string("nats://127.0.0.1:") + std::to_string(routes[j]);
            for (const std::string& a : {std::string("-n"), "node" + std::to_string(i),
                                         std::string("--cluster_name"), std::string("bench"),
                                         std::string("--cluster"),
                                         "nats://127.0.0.1:" + std::to_string(routes[i]),
                                         std::string("--routes"), r})
                argv.push_back(a);
        }
        b.pids.push_back(Spawn(dir, argv));
        b.dirs.push_back(dir);
        b.urls += (i ? "," : "") + std::string("nats://127.0.0.1:") + std::to_string(ports[i]);
    }
    for (int p : ports) {
        int fd = ConnectTo(p, 10000);
        if (fd < 0) Die("nats-server did not start");
        close(fd);
    }
    if (n > 1) std::this_thread::sleep_for(std::chrono::seconds(3));  // leader elections
}

void PutInt32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }

void SendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0) Die("send");
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// The CPU time of process pid so far (user and system, all threads), in
// seconds; 0 when /proc does not say.
double ProcessCpu(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    // state is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct ServerFigure {
    double rate = 0;       // records per second
    double cpuUs = 0;      // Morvane's CPU per record, microseconds
    double brokerUs = 0;   // the brokers' CPU per record meanwhile
};

// Keeps the better of two figures: the higher rate, the lower CPU.
void Better(ServerFigure& best, const ServerFigure& f) {
    best.rate = std::max(best.rate, f.rate);
    best.cpuUs = best.cpuUs == 0 ? f.cpuUs : std::min(best.cpuUs, f.cpuUs);
    best.brokerUs = best.brokerUs == 0 ? f.brokerUs : std::min(best.brokerUs, f.brokerUs);
}

// The brokers of the server rows, whose CPU is taken beside Morvane's.
std::vector<pid_t> g_brokers;

double BrokersCpu() {
    double sum = 0;
    for (pid_t p : g_brokers) sum += ProcessCpu(p);
    return sum;
}

// Records per second of clients writing records Wide records into
// session files of a fresh Morvane, and its CPU per record; publish: the
// [Publish] section, or "".
ServerFigure ServerRate(int clients, int32_t size, const std::string& publish) {
    const std::string dir = TempDirectory("morvane-bench-publish");
    for (const char* sub : {"Schemas", "ResultsInclude", "ResultsEmptyXml", "XML_Data"})
        fs::create_directories(dir + "/" + sub);
    for (const char* file : {"Morvane", "libquillog.so"}) fs::copy_file(g_bin + "/" + file, dir + "/" + file);
    WriteWide(dir);
    const int port = FreePort();
    std::ofstream(dir + "/Morvane.ini") << "[General]\nPort=" << port
                                        << "\nCreateFilesFlag=0\nLogFlag=0\nMaxClients=" << clients
                                        << "\n" << publish;
    pid_t pid = Spawn(dir, {dir + "/Morvane"});
    std::vector<int> fds;
    for (int c = 0; c < clients; ++c) {
        int fd = ConnectTo(port, 10000);
        if (fd < 0) Die("Morvane did not start");
        fds.push_back(fd);
    }
    const int each = g_records / clients;
    std::vector<uint8_t> write(static_cast<size_t>(12 + size), 0x5A);
    PutInt32(write.data(), 6);
    PutInt32(write.data() + 4, 12 + size);
    PutInt32(write.data() + 8, 2);
    const double cpuBefore = ProcessCpu(pid);
    const double brokersBefore = BrokersCpu();
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            const int fd = fds[static_cast<size_t>(c)];
            std::string open(8, '\0');
            open += "s" + std::to_string(c) + ".xml";
            open.push_back('\0');
            uint8_t header[8];
            PutInt32(header, 4);
            PutInt32(header + 4, static_cast<int32_t>(open.size()));
            std::memcpy(open.data(), header, 8);
            SendAll(fd, reinterpret_cast<const uint8_t*>(open.data()), open.size());
            std::vector<uint8_t> batch;
            for (int i = 0; i < 100; ++i) batch.insert(batch.end(), write.begin(), write.end());
            for (int i = 0; i < each; i += 100) SendAll(fd, batch.data(), batch.size());
            // A size request answered: every write before it is handled.
            uint8_t size[12];
            PutInt32(size, 0);
            PutInt32(size + 4, 12);
            PutInt32(size + 8, 2);
            SendAll(fd, size, sizeof size);
            uint8_t answer[16];
            size_t got = 0;
            while (got < sizeof answer) {
                ssize_t r = recv(fd, answer + got, sizeof answer - got, 0);
                if (r <= 0) Die("recv");
                got += static_cast<size_t>(r);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ProcessCpu(pid) - cpuBefore;
    const double brokers = BrokersCpu() - brokersBefore;
    for (int fd : fds) close(fd);
    Kill(pid);
    if (std::getenv("MORVANE_BENCH_KEEP") == nullptr) {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    return {(each * clients) / seconds, cpu * 1e6 / (each * clients), brokers * 1e6 / (each * clients)};
}

void PrintServerRow(int clients, const ServerFigure& off, const ServerFigure& on,
                    const char* with, bool target) {
    std::printf("  %d client%s: without [Publish] %.0f records/s, %s %.0f records/s: ratio %.2f%s\n",
                clients, clients > 1 ? "s" : " ", off.rate, with, on.rate, on.rate / off.rate,
                target ? (on.rate / off.rate >= 0.8 ? " (target 0.8: met)" : " (target 0.8: MISSED)")
                       : "");
    std::printf("             Morvane CPU per record: without %.1f us, with %.1f us: ratio %.2f; "
                "the brokers' meanwhile %.1f us\n",
                off.cpuUs, on.cpuUs, off.cpuUs > 0 && on.cpuUs > 0 ? off.cpuUs / on.cpuUs : 0.0,
                on.brokerUs);
}

// This process's CPU time so far, in seconds.
double OwnCpu() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// The seven headers of a record, as the server gives them.
std::vector<std::pair<std::string, std::string>> RecordHeaders(const std::string& run, int i) {
    const std::string number = std::to_string(i);
    return {{"Morvane-Schema", "Wide"},          {"Morvane-Schema-Id", "2"},
            {"Morvane-Record", number},          {"Morvane-Session", "s0.xml"},
            {"Morvane-Server", "bench"},         {"Morvane-Fingerprint", "0123456789abcdef"},
            {"Nats-Msg-Id", run + "-" + run + "-" + number}};
}

double Percentile(std::vector<int64_t> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))]);
}

// The publisher of this build, in this process.
void PublisherFigures(const std::string& urls, int32_t size, int replicas, const char* label) {
    const std::string dir = TempDirectory("morvane-bench-spool");
    morvane::PublisherOptions o;
    o.urls = urls;
    o.stream = "BENCH" + std::to_string(FreePort());
    o.subjectPrefix = "bench" + std::to_string(FreePort());
    o.replicas = replicas;
    o.spoolDirectory = dir + "/spool";
    o.spoolBytes = uint64_t{4} << 30;
    o.keepAckTimes = true;
    if (g_window > 0) o.window = g_window;
    morvane::Publisher publisher;
    if (!publisher.Start(o)) Die("publisher");
    const std::string run = morvane::RandomId();
    const double cpu = OwnCpu();
    const auto start = Clock::now();
    for (int i = 1; i <= g_records; ++i) {
        morvane::OutMessage m;
        m.subject = o.subjectPrefix + ".Wide";
        m.headers = RecordHeaders(run, i);
        m.body.assign(static_cast<size_t>(size), 'x');
        publisher.Add(m);
    }
    const double added = std::chrono::duration<double>(Clock::now() - start).count();
    if (!publisher.Drain(120000)) std::printf("  %s: not all acknowledged in 120 s\n", label);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuUs = (OwnCpu() - cpu) * 1e6 / g_records;
    std::vector<int64_t> acks = publisher.TakeAckTimes();
    publisher.Stop();
    std::printf("  %s publisher: %.0f records/s into the spool, %.0f records/s acknowledged "
                "(CPU %.1f us per record); publish-to-ack p50 %.2f ms p99 %.2f ms\n",
                label, g_records / added, g_records / seconds, cpuUs, Percentile(acks, 0.5) / 1000,
                Percentile(acks, 0.99) / 1000);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// The client library alone, no spool, the same bytes: js_PublishAsync with
// the headers of a record or none (the library's own way), and the least
// the publisher's way takes: natsConnection_PublishMsg with the headers and
// a reply subject of its own under one subscription that counts the
// answers, at most 4,096 unanswered. Prints records per second and CPU per
// record.
enum class Floor { kAsyncBare, kAsyncHeaders, kReplyHeaders };

struct Answers {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
};

void OnFloorAnswer(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
    natsMsg_Destroy(msg);
    auto* answers = static_cast<Answers*>(closure);
    std::lock_guard<std::mutex> lock(answers->mutex);
    ++answers->count;
    answers->changed.notify_all();
}

void LibraryRate(const std::string& urls, int32_t size, Floor floor) {
    natsConnection* nc = nullptr;
    jsCtx* js = nullptr;
    if (natsConnection_ConnectTo(&nc, urls.c_str()) != NATS_OK) Die("connect");
    jsOptions jo;
    jsOptions_Init(&jo);
    jo.PublishAsync.MaxPending = 4096;
    natsConnection_JetStream(&js, nc, &jo);
    const std::string name = "FLOOR" + std::to_string(FreePort());
    const std::string subject = "floor" + std::to_string(FreePort()) + ".>";
    const char* subjects[] = {subject.c_str()};
    jsStreamConfig sc;
    jsStreamConfig_Init(&sc);
    sc.Name = name.c_str();
    sc.Subjects = subjects;
    sc.SubjectsLen = 1;
    sc.Storage = js_FileStorage;
    jsStreamInfo* si = nullptr;
    js_AddStream(&si, js, &sc, nullptr, nullptr);
    if (si != nullptr) jsStreamInfo_Destroy(si);
    const std::string to = subject.substr(0, subject.size() - 1) + "Wide";
    std::string body(static_cast<size_t>(size), 'x');
    const std::string run = morvane::RandomId();
    Answers answers;
    natsSubscription* sub = nullptr;
    const std::string inbox = "_INBOX." + run;
    if (floor == Floor::kReplyHeaders &&
        natsConnection_Subscribe(&sub, nc, (inbox + ".*").c_str(), OnFloorAnswer, &answers) != NATS_OK)
        Die("subscribe");
    std::vector<natsMsg*> sent;
    const double cpu = OwnCpu();
    const auto start = Clock::now();
    for (int i = 0; i < g_records; ++i) {
        if (floor == Floor::kAsyncBare) {
            js_PublishAsync(js, to.c_str(), body.data(), static_cast<int>(body.size()), nullptr);
            continue;
        }
        const std::string reply = inbox + "." + std::to_string(i);
        natsMsg* msg = nullptr;
        natsMsg_Create(&msg, to.c_str(), floor == Floor::kReplyHeaders ? reply.c_str() : nullptr,
                       body.data(), static_cast<int>(body.size()));
        for (const auto& [key, value] : RecordHeaders(run, i + 1))
            natsMsgHeader_Set(msg, key.c_str(), value.c_str());
        if (floor == Floor::kAsyncHeaders) {
            if (js_PublishMsgAsync(js, &msg, nullptr) != NATS_OK) natsMsg_Destroy(msg);
            continue;
        }
        {
            std::unique_lock<std::mutex> lock(answers.mutex);
            answers.changed.wait(lock, [&] { return i - answers.count < 4096; });
        }
        natsConnection_PublishMsg(nc, msg);
        // Freed a batch at a time: the library's freeing thread is woken
        // once for each batch.
        sent.push_back(msg);
        if (sent.size() == 256) {
            for (natsMsg* m : sent) natsMsg_Destroy(m);
            sent.clear();
        }
    }
    for (natsMsg* m : sent) natsMsg_Destroy(m);
    if (floor == Floor::kReplyHeaders) {
        std::unique_lock<std::mutex> lock(answers.mutex);
        answers.changed.wait_for(lock, std::chrono::seconds(120),
                                 [&] { return answers.count == g_records; });
    } else {
        jsPubOptions po;
        jsPubOptions_Init(&po);
        po.MaxWait = 120000;
        js_PublishAsyncComplete(js, &po);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuUs = (OwnCpu() - cpu) * 1e6 / g_records;
    if (sub != nullptr) {
        natsSubscription_Unsubscribe(sub);
        natsSubscription_Destroy(sub);
    }
    jsCtx_Destroy(js);
    natsConnection_Destroy(nc);
    const char* what = floor == Floor::kAsyncBare      ? "js_PublishAsync alone, no spool, no headers"
                       : floor == Floor::kAsyncHeaders ? "js_PublishAsync alone, no spool, the seven headers of a record"
                                                       : "PublishMsg with a reply subject, no spool, the seven headers";
    std::printf("  floor (%s): %.0f records/s (CPU %.1f us per record)\n", what,
                g_records / seconds, cpuUs);
}

// The machine is shared: each figure is the best of two runs, taken in
// turn with the other, so that a burst of other load hits both alike.
void ServerRows(const Brokers& brokers, int32_t size, int replicas, bool target) {
    const std::string& urls = brokers.urls;
    g_brokers = brokers.pids;
    for (int clients : {1, 4}) {
        ServerFigure off;
        ServerFigure on;
        for (int round = 0; round < 2; ++round) {
            Better(off, ServerRate(clients, size, ""));
            const std::string section = "[Publish]\nUrl=" + urls + "\nReplicas=" +
                                        std::to_string(replicas) + "\nStream=S" +
                                        std::to_string(FreePort()) + "\nSubject=s" +
                                        std::to_string(FreePort()) + "\n";
            Better(on, ServerRate(clients, size, section));
        }
        PrintServerRow(clients, off, on, "with it", target);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string only = ",one,acks,down,cluster,";
    auto wanted = [&](const char* section) {
        return only.find("," + std::string(section) + ",") != std::string::npos;
    };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
            g_records = std::max(100, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc) {
            g_window = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = "," + std::string(argv[++i]) + ",";
        } else {
            g_bin = argv[i];
        }
    }
    if (std::system("command -v nats-server > /dev/null 2>&1") != 0) {
        std::printf("bench_publish: nats-server is not installed (apt-get install nats-server)\n");
        return 1;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string probe = TempDirectory("morvane-bench-probe");
    fs::create_directories(probe + "/Schemas");
    const int32_t size = WriteWide(probe);
    fs::remove_all(probe);
    std::printf("bench_publish: %d records of Wide (%d fields, %d bytes)\n", g_records, kWideFields, size);

    if (wanted("one") || wanted("acks")) {
        Brokers one;
        StartBrokers(one, 1);
        std::printf("one local broker:\n");
        if (wanted("one")) ServerRows(one, size, 1, true);
        if (wanted("acks")) PublisherFigures(one.urls, size, 1, "one broker");
        if (wanted("acks")) LibraryRate(one.urls, size, Floor::kReplyHeaders);
        if (wanted("acks")) LibraryRate(one.urls, size, Floor::kAsyncBare);
        if (wanted("acks")) LibraryRate(one.urls, size, Floor::kAsyncHeaders);
    }
    if (wanted("down")) {
        const std::string down = "[Publish]\nUrl=nats://127.0.0.1:" + std::to_string(FreePort()) + "\n";
        std::printf("broker down (records into the spool):\n");
        g_brokers.clear();
        for (int clients : {1, 4}) {
            ServerFigure off;
            ServerFigure on;
            for (int round = 0; round < 2; ++round) {
                Better(off, ServerRate(clients, size, ""));
                Better(on, ServerRate(clients, size, down));
            }
            PrintServerRow(clients, off, on, "into the spool", false);
        }
    }
    if (wanted("cluster")) {
        Brokers three;
        StartBrokers(three, 3);
        std::printf("three brokers on this machine, Replicas=3 (no target):\n");
        ServerRows(three, size, 3, false);
        PublisherFigures(three.urls, size, 3, "three brokers");
    }
    return 0;
}
