// FileSet: several files replaced all or nothing, links and modes kept,
// stale temporaries told from live ones by their lock.
#include "generate/file_set.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// A file kept with mode 0640, a new one, and one behind a symbolic link:
// after Commit() each holds its new text, the mode and (kReplaceTarget)
// the link are kept, and nothing else is in the directory.
TEST(FileSetTest, CommitReplacesEveryFileKeepingModesAndLinks) {
    for (LinkPolicy links : {LinkPolicy::kReplaceTarget, LinkPolicy::kReplaceLink}) {
        SCOPED_TRACE(links == LinkPolicy::kReplaceTarget ? "keep links" : "replace links");
        TempDir tmp;
        fs::create_directory(tmp / "out");
        WriteFile(tmp / "out/kept.h", "old kept\n");
        ::chmod((tmp / "out/kept.h").c_str(), 0640);
        WriteFile(tmp / "real.h", "old real\n");
        fs::create_symlink(tmp / "real.h", tmp / "out/linked.h");
        FileSet set(links);
        ASSERT_TRUE(set.Add(tmp / "out/kept.h", "new kept\n"));
        ASSERT_TRUE(set.Add(tmp / "out/new.h", "new new\n"));
        ASSERT_TRUE(set.Add(tmp / "out/linked.h", "new linked\n"));
        EXPECT_EQ(set.staged(), 3u);
        // Staged, not yet in place.
        EXPECT_EQ(ReadFile(tmp / "out/kept.h"), "old kept\n");
        ASSERT_TRUE(set.Commit());
        EXPECT_EQ(ReadFile(tmp / "out/kept.h"), "new kept\n");
        EXPECT_EQ(ModeOf(tmp / "out/kept.h"), 0640u);
        EXPECT_EQ(ReadFile(tmp / "out/new.h"), "new new\n");
        EXPECT_EQ(ReadFile(tmp / "out/linked.h"), "new linked\n");
        const bool keep = links == LinkPolicy::kReplaceTarget;
        EXPECT_EQ(fs::is_symlink(tmp / "out/linked.h"), keep);
        EXPECT_EQ(ReadFile(tmp / "real.h"), keep ? "new linked\n" : "old real\n");
        EXPECT_EQ(Entries(tmp / "out"),
                  (std::vector<std::string>{"kept.h", "linked.h", "new.h"}));
        EXPECT_EQ(Entries(tmp.path()), (std::vector<std::string>{"out", "real.h"}));
    }
}

// Whatever fails, at staging or at the renames, every file keeps its old
// content, a file that did not exist stays absent, no temporary or backup
// is left, and the failure names the file and the system's reason.
TEST(FileSetTest, AnyFailureLeavesEveryOldFile) {
    enum class Fault { kMissingDirectory, kDirectoryAtTarget, kFileTooLarge, kRenameRefused };
    const struct {
        const char* label;
        Fault fault;
        const char* reason;
    } cases[] = {
        {"third file's directory missing", Fault::kMissingDirectory, "No such file or directory"},
        {"a directory at the third file", Fault::kDirectoryAtTarget, "Is a directory"},
        {"the device full at the third file", Fault::kFileTooLarge, "File too large"},
        {"the third rename refused", Fault::kRenameRefused, "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir tmp;
        WriteFile(tmp / "a.h", "old a\n");
        const std::string third =
            c.fault == Fault::kMissingDirectory ? tmp / "missing/c.h" : tmp / "c.h";
        if (c.fault == Fault::kDirectoryAtTarget) {
            fs::create_directory(third);
            WriteFile(third + "/inside", "kept");
        }
        {
            FileSet set(LinkPolicy::kReplaceTarget);
            ASSERT_TRUE(set.Add(tmp / "a.h", "new a\n"));
            ASSERT_TRUE(set.Add(tmp / "b.h", "new b\n"));
            bool added = false;
            if (c.fault == Fault::kFileTooLarge) {
                rlimit saved{};
                ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
                rlimit limited = saved;
                limited.rlim_cur = std::min<rlim_t>(4, saved.rlim_max);
                auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
                ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
                added = set.Add(third, "new c, longer than the limit\n");
                ::setrlimit(RLIMIT_FSIZE, &saved);
                std::signal(SIGXFSZ, oldHandler);
            } else {
                added = set.Add(third, "new c\n");
            }
            if (c.fault == Fault::kRenameRefused) {
                ASSERT_TRUE(added);
                // Planted between staging and renaming.
                fs::create_directory(third);
                WriteFile(third + "/inside", "kept");
                EXPECT_FALSE(set.Commit());
            } else {
                EXPECT_FALSE(added);
            }
            EXPECT_EQ(set.failure().path, third);
            EXPECT_EQ(set.Reason(), third + ": " + c.reason);
        }  // a set not committed removes what it staged
        EXPECT_EQ(ReadFile(tmp / "a.h"), "old a\n");
        EXPECT_FALSE(fs::exists(tmp / "b.h"));
        std::vector<std::string> expected = {"a.h"};
        if (c.fault == Fault::kDirectoryAtTarget || c.fault == Fault::kRenameRefused) {
            expected.push_back("c.h");
            EXPECT_EQ(Entries(third), std::vector<std::string>{"inside"});
        }
        EXPECT_EQ(Entries(tmp.path()), expected);
    }
}

// A child that exits at once leaves its process id free: a temporary named
// with it has a writer that is gone.
pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::string TemporaryName(const char* file, pid_t pid, unsigned n) {
    char name[128];
    std::snprintf(name, sizeof name, ".%s.morvane-%x-%x", file, static_cast<unsigned>(pid), n);
    return name;
}

// Only the project's own temporaries whose writer is gone are removed: the
// process is no more (or it is the caller itself, which writes none yet)
// and nobody holds the lock.
TEST(FileSetTest, RemoveStaleTemporariesTakesOnlyThoseWhoseWriterIsGone) {
    TempDir tmp;
    const pid_t dead = DeadPid();
    const pid_t parent = ::getppid();  // alive, and not this process
    const struct {
        std::string name;
        bool locked;  // held by a live open file of this test
        bool removed;
    } cases[] = {
        {TemporaryName("posrec.h", dead, 3), false, true},
        {TemporaryName("posrec.xml", ::getpid(), 0), false, true},
        {TemporaryName("a.morvane-1-2.h", dead, 10), false, true},
        {TemporaryName("posrec.h", dead, 4), true, false},
        {TemporaryName("posrec.h", ::getpid(), 1), true, false},
        {TemporaryName("posrec.h", parent, 5), false, false},
        {".posrec.h.swp", false, false},
        {"posrec.h", false, false},
        {".posrec.h.morvane-zz-1", false, false},
        {".posrec.h.morvane-1a-", false, false},
        {".morvane-1a-2", false, false},
    };
    std::vector<int> held;
    std::vector<std::string> kept;
    size_t removals = 0;
    for (const auto& c : cases) {
        WriteFile(tmp / c.name, "partial");
        if (c.locked) {
            const int fd = ::open((tmp / c.name).c_str(), O_RDONLY);
            ASSERT_EQ(::flock(fd, LOCK_EX), 0);
            held.push_back(fd);
        }
        if (c.removed)
            ++removals;
        else
            kept.push_back(c.name);
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(RemoveStaleTemporaries(tmp.path()), removals);
    EXPECT_EQ(Entries(tmp.path()), kept);
    for (int fd : held) ::close(fd);
}

}  // namespace
}  // namespace morvane
