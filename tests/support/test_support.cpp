#include "support/test_support.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "logging/log.h"

namespace fs = std::filesystem;

namespace morvane::test {

std::string BinDir() { return MORVANE_BIN_DIR; }
std::string SourceDir() { return MORVANE_SOURCE_DIR; }
std::string TestDataDir() { return MORVANE_TEST_DATA_DIR; }

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "morvane-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void MakeDirs(const std::string& path) { fs::create_directories(path); }

void CopyFile(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void CopyFromBin(const std::string& dir, const std::vector<std::string>& names) {
    for (const auto& n : names) CopyFile(BinDir() + "/" + n, dir + "/" + n);
}

void MakeProgramDir(const std::string& dir, const std::vector<std::string>& programs,
                    bool withExamples) {
    MakeDirs(dir);
    CopyFromBin(dir, programs);
    CopyFromBin(dir, {"libquillog.so"});
    for (const char* sub : {"Schemas", "ResultsInclude", "ResultsEmptyXml", "XML_Data"}) {
        MakeDirs(dir + "/" + sub);
        if (withExamples && (std::string(sub) == "Schemas" || std::string(sub) == "XML_Data")) {
            fs::copy(SourceDir() + "/examples/" + sub, dir + "/" + sub,
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        }
    }
}

namespace {

// The words of MORVANE_TEST_SERVER_WRAPPER when exe is a Morvane program,
// e.g. "valgrind --error-exitcode=99": the command that runs it.
std::vector<std::string> ServerWrapper(const std::string& exe) {
    std::vector<std::string> words;
    const char* wrapper = std::getenv("MORVANE_TEST_SERVER_WRAPPER");
    if (wrapper == nullptr || fs::path(exe).filename() != "Morvane") return words;
    std::istringstream in(wrapper);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

pid_t Spawn(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
            const std::vector<std::string>& extraEnv, int outFd, int errFd) {
    const std::vector<std::string> wrapper = ServerWrapper(exe);
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(cwd.c_str()) != 0) _exit(126);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    // Tests that run on several threads hold sockets and files of their
    // own; a program that inherited them would keep another test's
    // connection open and count descriptors that are not its own.
    close_range(3, ~0U, 0);
    for (const auto& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    for (const auto& w : wrapper) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (wrapper.empty())
        execv(exe.c_str(), argv.data());
    else
        execvp(argv[0], argv.data());
    _exit(127);
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

ProgramResult RunProgram(const std::string& exe, const std::vector<std::string>& args,
                         const std::string& cwd, std::chrono::milliseconds timeout,
                         const std::vector<std::string>& extraEnv) {
    ProgramResult result;
    TempDir capture;
    std::string outPath = capture / "out", errPath = capture / "err";
    int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = Spawn(exe, args, cwd, extraEnv, outFd, errFd);
    close(outFd);
    close(errFd);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        SleepMs(5);
    }
    result.exitCode = result.timedOut ? -1 : ExitCodeOf(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

BackgroundProgram::BackgroundProgram(const std::string& exe, const std::vector<std::string>& args,
                                     const std::string& cwd,
                                     const std::vector<std::string>& extraEnv)
    : cwd_(cwd) {
    int outFd = open((cwd + "/.stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int errFd = open((cwd + "/.stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_ = Spawn(exe, args, cwd, extraEnv, outFd, errFd);
    close(outFd);
    close(errFd);
}

BackgroundProgram::~BackgroundProgram() {
    if (Running()) Stop(SIGKILL);
}

bool BackgroundProgram::Running() {
    if (reaped_ || pid_ <= 0) return false;
    pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) reaped_ = true;
    return !reaped_;
}

int BackgroundProgram::Stop(int sig, std::chrono::milliseconds timeout) {
    if (Running()) {
        kill(pid_, sig);
        if (!WaitFor([this] { return !Running(); }, timeout)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
            reaped_ = true;
            return -1;
        }
    }
    return ExitCodeOf(status_);
}

std::string BackgroundProgram::Stdout() const { return ReadFile(cwd_ + "/.stdout"); }
std::string BackgroundProgram::Stderr() const { return ReadFile(cwd_ + "/.stderr"); }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int FreeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

LogRecorder::LogRecorder(bool trace) { BindLog(this, &LogRecorder::Record, trace); }

LogRecorder::~LogRecorder() { BindLog(nullptr, nullptr, false); }

bool FormatV(std::string& out, const char* format, va_list args) {
    char* text = nullptr;
    int n = vasprintf(&text, format, args);
    if (n < 0) return false;
    out.assign(text, static_cast<size_t>(n));
    free(text);
    return true;
}

int LogRecorder::Record(void* handle, bool enable, const char* format, ...) {
    if (!enable) return 0;
    va_list args;
    va_start(args, format);
    std::string line;
    bool ok = FormatV(line, format, args);
    va_end(args);
    if (!ok) return -1;
    static_cast<LogRecorder*>(handle)->lines_.push_back(line);
    return static_cast<int>(line.size());
}

std::string LogRecorder::Text() const {
    std::string all;
    for (const auto& l : lines_) all += l;
    return all;
}

bool LogRecorder::Contains(const std::string& line) const {
    for (const auto& call : lines_) {
        if (call == line) return true;
        for (size_t at = 0; at < call.size();) {
            size_t end = call.find('\n', at);
            end = end == std::string::npos ? call.size() : end + 1;
            if (call.compare(at, end - at, line) == 0) return true;
            at = end;
        }
    }
    return false;
}

}  // namespace morvane::test
