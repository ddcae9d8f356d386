// `cmake --install` into a temporary prefix: the three programs, both
// libraries and the example archive land side by side in PREFIX/bin, and
// PREFIX/bin/Morvane runs there as the Morvane of the build does: it
// generates the same files from the same schemas and answers clients.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>

#include "channel_test_util.h"
#include "support/test_support.h"

namespace morvane::test {
namespace {

namespace fs = std::filesystem;

// The files below dir, by path relative to it, with their contents.
std::map<std::string, std::string> Tree(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file())
            files[fs::relative(e.path(), dir).string()] = ReadFile(e.path().string());
    }
    return files;
}

// Runs the Morvane of programDir until it listens on port, asks it for the
// size of the Telemetry record, and stops it. False when any of that fails.
bool ServeOnce(const std::string& programDir, int port, const std::string& cwd) {
    WriteFile(programDir + "/Morvane.ini", "[General]\nPort=" + std::to_string(port) + "\n");
    BackgroundProgram morvane(programDir + "/Morvane", {}, cwd);
    Socket client = Connect(port, std::chrono::seconds(10));
    if (!client.valid()) return false;
    if (!SendAll(client, Frame(MSG_COMM_SIZE, Int32Body({1})))) return false;
    auto answer = RecvExact(client, 16);
    client.Close();
    const bool answered = answer == Frame(MSG_COMM_ANSWER_SIZE, Int32Body({1, 82}));
    return morvane.Stop(SIGTERM) == 0 && answered;
}

TEST(InstallTest, InstalledMorvaneRunsAsTheBuiltOne) {
    TempDir prefix;
    TempDir work;
    ProgramResult install = RunProgram(INSTALL_CMAKE_COMMAND,
                                       {"--install", INSTALL_BUILD_DIR, "--prefix", prefix.path()},
                                       work.path(), std::chrono::seconds(120));
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;

    const std::string bin = prefix / "bin";
    std::vector<std::string> expected = {"Morvane", "demo", "morvanec", "libquillog.so",
                                         "libprintdata.so"};
    if (INSTALL_WITH_BUILDER) expected.push_back("MorvaneBuilder");
    for (const auto& name : expected) {
        EXPECT_TRUE(fs::is_regular_file(bin + "/" + name)) << name;
    }
    for (const char* dir : {"ResultsInclude", "ResultsEmptyXml"})
        EXPECT_TRUE(fs::is_directory(bin + "/" + dir)) << dir;
    EXPECT_EQ(Tree(bin + "/Schemas"), Tree(SourceDir() + "/examples/Schemas"));
    EXPECT_EQ(Tree(bin + "/XML_Data"), Tree(SourceDir() + "/examples/XML_Data"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/doc/morvane/Morvane.ini.example"));

    // The installed Morvane, started from elsewhere, finds its logger and
    // its data folders beside itself.
    const int port = FreeTcpPort();
    ASSERT_TRUE(ServeOnce(bin, port, work.path()))
        << ReadFile(work / ".stdout") << ReadFile(work / ".stderr");
    EXPECT_TRUE(FileExists(bin + "/Morvane.log"));

    // The same start in a program directory made from the build.
    TempDir built;
    MakeProgramDir(built.path(), {"Morvane"}, true);
    ASSERT_TRUE(ServeOnce(built.path(), FreeTcpPort(), built.path()));
    for (const char* dir : {"ResultsInclude", "ResultsEmptyXml"}) {
        auto installed = Tree(bin + "/" + dir);
        EXPECT_FALSE(installed.empty()) << dir;
        EXPECT_EQ(installed, Tree(built / dir)) << dir;
    }

    // The installed morvanec, run from elsewhere, generates what the
    // installed Morvane generated (its value-name logs aside).
    ProgramResult generate =
        RunProgram(bin + "/morvanec",
                   {"generate", "-o", work / "generated", bin + "/Schemas/PosRec.xsd",
                    bin + "/Schemas/Telemetry.xsd"},
                   work.path());
    ASSERT_EQ(generate.exitCode, 0) << generate.err;
    std::map<std::string, std::string> fromMorvane = Tree(bin + "/ResultsInclude");
    for (const auto& [name, text] : Tree(bin + "/ResultsEmptyXml")) {
        if (!name.ends_with(".log")) fromMorvane[name] = text;
    }
    EXPECT_EQ(Tree(work / "generated"), fromMorvane);
}

}  // namespace
}  // namespace morvane::test
