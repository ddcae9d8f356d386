// Helpers shared by the test suites: temporary directories, files, running
// the built programs in a program directory of their own, and a recording
// stand-in for the logger library.
#pragma once

#include <chrono>
#include <cstdarg>
#include <string>
#include <vector>

namespace morvane::test {

// Where the build put the programs and the example archive.
std::string BinDir();
std::string SourceDir();
// tests/ in the source tree (golden files live below it).
std::string TestDataDir();

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
void MakeDirs(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);
// Copies the files (names relative to BinDir()) into dir.
void CopyFromBin(const std::string& dir, const std::vector<std::string>& names);
// Makes dir a program directory: the programs named, libquillog.so and the
// four data folders, filled from the example archive when withExamples.
void MakeProgramDir(const std::string& dir, const std::vector<std::string>& programs,
                    bool withExamples);

struct ProgramResult {
    int exitCode = -1;      // -1 when killed by a signal or timed out
    bool timedOut = false;  // still running at the deadline (then killed)
    std::string out;
    std::string err;
};

// Programs are started with no descriptor of the test beyond the standard
// three. When MORVANE_TEST_SERVER_WRAPPER holds a command (words separated
// by blanks, e.g. "valgrind --error-exitcode=99"), a program named Morvane
// is run through it, with its own path as the first argument after it.

// Runs exe with args, cwd as working directory, and waits at most timeout.
ProgramResult RunProgram(const std::string& exe, const std::vector<std::string>& args,
                         const std::string& cwd,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20),
                         const std::vector<std::string>& extraEnv = {});

// A program started in the background; stdout and stderr go to files in
// its working directory (.stdout, .stderr). Killed (SIGKILL) when dropped
// unless Stop() ended it first.
class BackgroundProgram {
  public:
    BackgroundProgram(const std::string& exe, const std::vector<std::string>& args,
                      const std::string& cwd, const std::vector<std::string>& extraEnv = {});
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    int pid() const { return pid_; }
    bool Running();
    // Sends sig and waits up to timeout for the exit; returns the exit code
    // (-1 when it did not end normally).
    int Stop(int sig, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string Stdout() const;
    std::string Stderr() const;

  private:
    int pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string cwd_;
};

void SleepMs(int ms);

// The text a printf-style format gives; false when it cannot be formatted.
bool FormatV(std::string& out, const char* format, va_list args);

// Polls until pred() holds or the timeout passes; returns pred()'s last value.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return pred();
        SleepMs(10);
    }
    return true;
}

// A TCP port on loopback that nothing listens on at the moment of the call.
int FreeTcpPort();

// Binds the main log to a recorder for the object's life: the text of every
// enabled call is kept whole, in order; lines() has one entry per call,
// which may carry several lines.
class LogRecorder {
  public:
    explicit LogRecorder(bool trace = true);
    ~LogRecorder();
    const std::vector<std::string>& lines() const { return lines_; }
    std::string Text() const;
    // Whether a call's text is line, or holds it as one of its lines.
    bool Contains(const std::string& line) const;
    void Clear() { lines_.clear(); }

  private:
    static int Record(void* handle, bool enable, const char* format, ...);
    std::vector<std::string> lines_;
};

}  // namespace morvane::test
