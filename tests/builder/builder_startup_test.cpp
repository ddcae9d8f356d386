// Start-up of MorvaneBuilder: the configuration read through the code
// Morvane uses, and the two ways start-up ends the program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>

#include "builder/builder_dlg.h"
#include "builder/builder_messages.h"
#include "scripted_dialogs.h"
#include "server/config/configuration.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::ScriptedDialogs;
using test::TempDir;

const std::vector<std::string> kOffscreen = {"QT_QPA_PLATFORM=offscreen"};

TEST(BuilderStartupTest, MissingLoggerLibraryEndsWithStatusOne) {
    TempDir dir;
    test::CopyFromBin(dir.path(), {"MorvaneBuilder"});
    test::ProgramResult r = test::RunProgram(dir / "MorvaneBuilder", {}, dir.path(),
                                             std::chrono::seconds(20), kOffscreen);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Error! Quillog is absent\n");
}

// Started by its path, through PATH or through a symbolic link from another
// directory that is a program directory of its own, the editor reads
// Morvane.ini and the folders beside its executable and logs there; with
// --home and --config, the home's folders and the file named, and logs in
// the home.
TEST(BuilderStartupTest, CompleteProgramDirectoryShowsTheSheetAndLogs) {
    enum How { kInPlace, kThroughPath, kThroughLink, kWithHome };
    const struct {
        How how;
        const char* ini;  // Morvane.ini beside the executable; null: none
        const char* line;
    } rows[] = {
        {kInPlace, nullptr, "CreateFilesFlag=1\n"},
        {kThroughPath, "[General]\nCreateFilesFlag=0\n", "CreateFilesFlag=0\n"},
        {kThroughLink, "[General]\nCreateFilesFlag=0\n", "CreateFilesFlag=0\n"},
        {kWithHome, "[General]\nCreateFilesFlag=0\n", "CreateFilesFlag=7\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        TempDir dir;
        test::MakeProgramDir(dir.path(), {"MorvaneBuilder"}, false);
        if (row.ini != nullptr) test::WriteFile(dir / "Morvane.ini", row.ini);
        const std::string elsewhere = dir / "elsewhere";
        test::MakeProgramDir(elsewhere, {}, false);
        std::filesystem::create_symlink(dir / "MorvaneBuilder", elsewhere + "/Builder");
        std::vector<std::string> env = kOffscreen;
        if (row.how == kThroughPath) env.push_back("PATH=" + dir.path() + ":/usr/bin:/bin");
        test::WriteFile(dir / "settings.ini", "[General]\nCreateFilesFlag=7\n");
        const std::string exes[] = {dir / "MorvaneBuilder", "/bin/sh", elsewhere + "/Builder",
                                    dir / "MorvaneBuilder"};
        const std::vector<std::vector<std::string>> args = {
            {}, {"-c", "exec MorvaneBuilder"}, {}, {"--home", elsewhere, "--config=settings.ini"}};
        test::BackgroundProgram program(exes[row.how], args[row.how],
                                        row.how == kInPlace || row.how == kWithHome ? dir.path()
                                                                                    : elsewhere,
                                        env);
        const std::string home = row.how == kWithHome ? elsewhere : dir.path();
        const std::string other = row.how == kWithHome ? dir.path() : elsewhere;
        const std::string schemas =
            "Schemas_dir=" + std::filesystem::canonical(home).string() + "/Schemas\n";
        EXPECT_TRUE(test::WaitFor(
            [&] {
                const std::string log = test::ReadFile(home + "/Morvane.log");
                return log.find(schemas) != std::string::npos &&
                       log.find(row.line) != std::string::npos;
            },
            std::chrono::seconds(20)))
            << test::ReadFile(home + "/Morvane.log") << program.Stdout();
        test::SleepMs(300);
        EXPECT_TRUE(program.Running()) << program.Stdout() << program.Stderr();
        EXPECT_FALSE(test::FileExists(other + "/Morvane.log"));
        program.Stop(SIGKILL, std::chrono::seconds(5));
    }
}

class BuilderConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override { test::MakeProgramDir(dir.path(), {}, false); }

    TempDir dir;
    Configuration config;
    ScriptedDialogs dialogs;
};

TEST_F(BuilderConfigurationTest, MissingDirectoryIsShownAndEndsWithStatusOne) {
    std::filesystem::remove(dir / "XML_Data");
    EXPECT_EQ(ReadBuilderConfiguration(config, dir / "MorvaneBuilder", dialogs), 1);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Errors in configuration file, see Morvane.log\n"});
    EXPECT_NE(test::ReadFile(dir / "Morvane.log")
                  .find("Error! XML_Data_dir=" + (dir / "XML_Data") + " is not exist\n"),
              std::string::npos);
}

TEST_F(BuilderConfigurationTest, PathWithoutSlashUsesTheCurrentDirectory) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    int status = ReadBuilderConfiguration(config, "MorvaneBuilder", dialogs);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(std::filesystem::canonical(config.programDirectory),
              std::filesystem::canonical(dir.path()));
    EXPECT_EQ(config.schemasDirectory, config.programDirectory + "/Schemas");
}

}  // namespace
}  // namespace morvane
