// Generated files written whole: replaced through a temporary file, links
// replaced rather than followed, unchanged files left alone.
#include "generate/output_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <csignal>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr char kNew[] = "#ifndef __A__\n#define __A__\n#endif //__A__\n";

// What stands at the target before the write. All but the same content
// give a new file (a new inode) at the target.
enum class Before { kNothing, kSameContent, kOtherContent, kLinkToSame, kDanglingLink, kHardLink };

struct stat Lstat(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

size_t EntryCount(const std::string& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(WriteFileIfChangedTest, TargetEndsAsARegularFileWithTheContent) {
    const std::pair<const char*, Before> cases[] = {
        {"missing file", Before::kNothing},
        {"same content: kept with its time", Before::kSameContent},
        {"other, longer content", Before::kOtherContent},
        {"link to a file of the same content", Before::kLinkToSame},
        {"dangling link", Before::kDanglingLink},
        {"file with a second hard link", Before::kHardLink},
    };
    for (const auto& [label, before] : cases) {
        SCOPED_TRACE(label);
        TempDir tmp;
        const std::string target = tmp / "a.h";
        const std::string outside = tmp / "outside";
        const std::string older = std::string(kNew) + "// an older, longer text\n";
        WriteFile(outside, before == Before::kLinkToSame ? kNew : older);
        if (before == Before::kSameContent || before == Before::kOtherContent)
            WriteFile(target, before == Before::kSameContent ? kNew : older);
        if (before == Before::kLinkToSame) fs::create_symlink(outside, target);
        if (before == Before::kDanglingLink) fs::create_symlink(tmp / "nowhere", target);
        if (before == Before::kHardLink) fs::create_hard_link(outside, target);
        // An old time stamp that a rewrite could not keep.
        if (before != Before::kNothing && !fs::is_symlink(target))
            fs::last_write_time(target, fs::file_time_type::clock::now() - std::chrono::hours(48));
        const struct stat old = Lstat(target);
        const size_t entries = EntryCount(tmp.path()) + (before == Before::kNothing ? 1 : 0);

        test::LogRecorder log;
        EXPECT_TRUE(WriteFileIfChanged(target, kNew));
        EXPECT_TRUE(log.lines().empty());
        EXPECT_FALSE(fs::is_symlink(target));
        EXPECT_EQ(ReadFile(target), kNew);
        EXPECT_EQ(Lstat(target).st_ino != old.st_ino, before != Before::kSameContent);
        if (before == Before::kSameContent) {
            EXPECT_EQ(Lstat(target).st_mtime, old.st_mtime);
        }
        // Nothing written through a link or a second name, no temporary left.
        EXPECT_EQ(ReadFile(outside), before == Before::kLinkToSame ? kNew : older);
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
        rlimit saved{};
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
