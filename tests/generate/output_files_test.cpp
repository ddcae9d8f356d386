// Generated files written whole: replaced through a temporary file, links
// replaced rather than followed, unchanged files left alone.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <filesystem>
#include <string>

#include "generate/output_files.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr char kNew[] = "#ifndef __A__\n#define __A__\n#endif //__A__\n";

// What stands at the target before the write.
enum class Before { kNothing, kSameContent, kOtherContent, kLinkToSame, kDanglingLink, kHardLink };

struct ReplaceCase {
    const char* label;
    Before before;
    bool rewritten;  // a new file (new inode) is expected at the target
};

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

time_t ModifiedAt(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

size_t EntryCount(const std::string& dir) {
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST(WriteFileIfChangedTest, TargetEndsAsARegularFileWithTheContent) {
    const ReplaceCase cases[] = {
        {"missing file", Before::kNothing, true},
        {"same content: kept with its time", Before::kSameContent, false},
        {"other, longer content", Before::kOtherContent, true},
        {"link to a file of the same content", Before::kLinkToSame, true},
        {"dangling link", Before::kDanglingLink, true},
        {"file with a second hard link", Before::kHardLink, true},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir tmp;
        const std::string target = tmp / "a.h";
        const std::string outside = tmp / "outside";
        const std::string old = std::string(kNew) + "// an older, longer text\n";
        WriteFile(outside, c.before == Before::kLinkToSame ? kNew : old);
        switch (c.before) {
            case Before::kNothing: break;
            case Before::kSameContent: WriteFile(target, kNew); break;
            case Before::kOtherContent: WriteFile(target, old); break;
            case Before::kLinkToSame: fs::create_symlink(outside, target); break;
            case Before::kDanglingLink: fs::create_symlink(tmp / "nowhere", target); break;
            case Before::kHardLink: fs::create_hard_link(outside, target); break;
        }
        // An old time stamp that a rewrite could not keep.
        if (c.before != Before::kNothing && !fs::is_symlink(target))
            fs::last_write_time(target, fs::file_time_type::clock::now() - std::chrono::hours(48));
        const ino_t inodeBefore = Inode(target);
        const time_t timeBefore = ModifiedAt(target);
        const size_t entries = EntryCount(tmp.path()) + (c.before == Before::kNothing ? 1 : 0);

        test::LogRecorder log;
        EXPECT_TRUE(WriteFileIfChanged(target, kNew));
        EXPECT_TRUE(log.lines().empty());
        EXPECT_FALSE(fs::is_symlink(target));
        EXPECT_EQ(ReadFile(target), kNew);
        EXPECT_EQ(Inode(target) != inodeBefore, c.rewritten);
        if (!c.rewritten) {
            EXPECT_EQ(ModifiedAt(target), timeBefore);
        }
        // Nothing written through a link or a second name, no temporary left.
        EXPECT_EQ(ReadFile(outside), c.before == Before::kLinkToSame ? kNew : old);
        EXPECT_FALSE(fs::exists(tmp / "nowhere"));
        EXPECT_EQ(EntryCount(tmp.path()), entries);
    }
}

TEST(WriteFileIfChangedTest, FailureLeavesTheTargetAndNoTemporary) {
    TempDir tmp;
    struct FailCase {
        const char* label;
        std::string path;
        std::string reason;
        rlim_t fileSizeLimit;  // below the content: the write itself fails
    } cases[] = {
        {"missing directory", tmp / "missing/a.h", "No such file or directory", RLIM_INFINITY},
        {"a directory at the target", tmp / "dir", "Is a directory", RLIM_INFINITY},
        {"write refused", tmp / "old.h", "File too large", 8},
    };
    fs::create_directory(tmp / "dir");
    WriteFile(tmp / "dir/inside", "kept");
    WriteFile(tmp / "old.h", "old");
    for (const FailCase& c : cases) {
        SCOPED_TRACE(c.label);
        rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = std::min(c.fileSizeLimit, saved.rlim_max);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        test::LogRecorder log;
        const bool written = WriteFileIfChanged(c.path, kNew);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(written);
        EXPECT_EQ(log.Text(), "Error! [" + c.path + "] is not written [" + c.reason + "]\n");
        EXPECT_EQ(EntryCount(tmp.path()), 2u);
        EXPECT_EQ(EntryCount(tmp / "dir"), 1u);
        EXPECT_EQ(ReadFile(tmp / "dir/inside"), "kept");
        EXPECT_EQ(ReadFile(tmp / "old.h"), "old");
    }
}

}  // namespace
}  // namespace morvane
