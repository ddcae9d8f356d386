// Morvane and its home: --home takes the settings, the log, the archive and
// the session files from a directory of their own, --config the settings
// from a file, and the logger and a relative plug-in come from beside the
// program or from the package's library directory, never from the current
// directory. --check loads every schema and generates nothing.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <set>

#include "server_test_util.h"

namespace morvane::test {
namespace {

namespace fs = std::filesystem;

const std::string kBroken =
    "<?xml version=\"1.0\"?>\n<Schema name=\"Broken\" id=\"3\">\n"
    "   <Item name=\"a\" type=\"Nowhere\"/>\n</Schema>\n";

// Every file and directory below dir, relative to it.
std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(e.path(), dir).string());
    return names;
}

// A program directory laid out as the package lays it out: root/usr/bin
// with the programs, the logger library (and, when asked, the plug-in) in
// root/usr/lib/<triplet>/morvane; and a home with the example archive.
class HomeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MakeDirs(bin());
        CopyFromBin(bin(), {"Morvane"});
        MakeDirs(lib());
        CopyFromBin(lib(), {"libquillog.so", "libprintdata.so"});
        MakeProgramDir(home_.path(), {}, true);
        fs::remove(home_ / "libquillog.so");
        WriteFile(home_ / "Morvane.ini", "[General]\nPort=" + std::to_string(port_) + "\n");
    }
    std::string bin() const { return root_ / "usr/bin"; }
    std::string lib() const { return root_ / ("usr/bin/" MORVANE_PACKAGE_LIBDIR_FROM_BIN); }
    std::string Exe() const { return bin() + "/Morvane"; }

    // Serves one session on the running server: open, one record, close.
    void RunSession(const std::string& name) {
        Socket client = Connect(port_, std::chrono::seconds(10));
        ASSERT_TRUE(client.valid());
        ASSERT_TRUE(SendAll(client, OpenSession(name)));
        ASSERT_TRUE(SendAll(client, WriteRequest(kPosRecId, PosRecRecordOf(1))));
        ASSERT_TRUE(SendAll(client, CloseSession()));
        ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
        ASSERT_TRUE(RecvExact(client, 16).has_value());
    }

    TempDir root_;
    TempDir home_;
    TempDir cwd_;
    int port_ = FreeTcpPort();
};

TEST_F(HomeTest, EveryFileLandsUnderTheHomeAndNothingBesideTheProgram) {
    WriteFile(home_ / "Morvane.ini", ReadFile(home_ / "Morvane.ini") +
                                         "PrintDataDll=libprintdata.so\n");
    // A logger library in the current directory is never the one used.
    fs::remove(lib() + "/libquillog.so");
    CopyFromBin(cwd_.path(), {"libquillog.so"});
    ProgramResult absent = RunProgram(Exe(), {"--home", home_.path()}, cwd_.path());
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.out, "See results in Morvane.log\nError! Quillog is absent\n");
    CopyFromBin(lib(), {"libquillog.so"});

    const std::set<std::string> programFiles = Entries(root_.path());
    {
        BackgroundProgram morvane(Exe(), {"--home", home_.path()}, cwd_.path());
        RunSession("Homed.xml");
        EXPECT_EQ(morvane.Stop(SIGTERM), 0) << morvane.Stdout() << morvane.Stderr();
        EXPECT_EQ(morvane.Stdout().find("absent"), std::string::npos) << morvane.Stdout();
    }
    EXPECT_EQ(Entries(root_.path()), programFiles);
    EXPECT_EQ(Entries(cwd_.path()), (std::set<std::string>{".stderr", ".stdout", "libquillog.so"}));
    const std::string log = ReadFile(home_ / "Morvane.log");
    EXPECT_NE(log.find("archive_dir=" + home_.path() + "\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("is absent"), std::string::npos) << log;
    EXPECT_TRUE(FileExists(home_ / "ResultsInclude/posrec.h"));
    EXPECT_TRUE(FileExists(home_ / "ResultsEmptyXml/posrec.xml"));
    EXPECT_EQ(ReadFile(home_ / "XML_Data/Homed.xml"),
              SessionText({PosRecRecordText(1, PosRecOf(1))}));
    // The plug-in named without a directory came from the package's
    // library directory and wrote into the home.
    EXPECT_NE(ReadFile(home_ / "XML_Data/FormattedOutput.log").find("--PosRec--"),
              std::string::npos);
}

// Only a program in a directory named bin has a package library directory:
// a copy in /tmp/x never takes its logger from /tmp/lib.
TEST_F(HomeTest, OnlyAnInstalledProgramLooksInThePackageLibraryDirectory) {
    const std::string copy = root_ / "usr/copy";
    MakeDirs(copy);
    CopyFromBin(copy, {"Morvane"});
    MakeDirs(root_ / ("usr/copy/" MORVANE_PACKAGE_LIBDIR_FROM_BIN));
    CopyFromBin(root_ / ("usr/copy/" MORVANE_PACKAGE_LIBDIR_FROM_BIN), {"libquillog.so"});
    ProgramResult r = RunProgram(copy + "/Morvane", {"--home", home_.path()}, cwd_.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "See results in Morvane.log\nError! Quillog is absent\n");
}

TEST_F(HomeTest, ConfigFileAndArchiveMoveSettingsAndSessionFiles) {
    // Settings from a file elsewhere: Archive names a second tree, and the
    // session files follow it with the schemas.
    TempDir archive;
    MakeProgramDir(archive.path(), {}, true);
    fs::remove(archive / "libquillog.so");
    TempDir etc;
    WriteFile(etc / "server.ini", "[Directory]\nArchive=" + archive.path() +
                                      "\n[General]\nPort=" + std::to_string(port_) + "\n");
    WriteFile(home_ / "Morvane.ini", "[General]\nPort=1\n");  // not read
    {
        BackgroundProgram morvane(Exe(), {"--home=" + home_.path(), "--config", etc / "server.ini"},
                                  cwd_.path());
        RunSession("Moved.xml");
        EXPECT_EQ(morvane.Stop(SIGTERM), 0) << morvane.Stdout() << morvane.Stderr();
    }
    EXPECT_TRUE(FileExists(home_ / "Morvane.log"));
    EXPECT_TRUE(FileExists(archive / "XML_Data/Moved.xml"));
    EXPECT_FALSE(FileExists(home_ / "XML_Data/Moved.xml"));
    EXPECT_TRUE(FileExists(archive / "ResultsInclude/posrec.h"));
    EXPECT_FALSE(FileExists(home_ / "ResultsInclude/posrec.h"));

    // A settings file named on the command line must exist; a home must be
    // a directory.
    ProgramResult missing =
        RunProgram(Exe(), {"--home", home_.path(), "--config", etc / "none.ini"}, cwd_.path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.out.find("Errors in configuration file, see Morvane.log\n"),
              std::string::npos);
    EXPECT_NE(ReadFile(home_ / "Morvane.log").find("Error! " + (etc / "none.ini") + " cannot be read"),
              std::string::npos);
    ProgramResult noHome = RunProgram(Exe(), {"--home", etc / "server.ini"}, cwd_.path());
    EXPECT_EQ(noHome.exitCode, 1);
    EXPECT_NE(noHome.out.find("is not a directory"), std::string::npos) << noHome.out;
}

TEST_F(HomeTest, CheckReportsEveryBrokenSchemaAndGeneratesNothing) {
    struct Case {
        std::vector<std::string> broken;  // schema files that do not load
        int exitCode;
    };
    for (const Case& c : {Case{{}, 0}, Case{{"Broken.xsd", "Worse.xsd"}, 1}}) {
        SCOPED_TRACE(c.broken.size());
        for (const std::string& name : c.broken) WriteFile(home_ / ("Schemas/" + name), kBroken);
        ProgramResult r = RunProgram(Exe(), {"--check", "--home", home_.path()}, cwd_.path());
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_NE(r.out.find(std::to_string(2 + c.broken.size()) + " schemas checked in " +
                             home_.path() + "/Schemas, " + std::to_string(c.broken.size()) +
                             " with errors\n"),
                  std::string::npos)
            << r.out;
        for (const std::string& name : c.broken)
            EXPECT_NE(r.err.find(home_.path() + "/Schemas/" + name +
                                 ":3:5: error: Error! name=\"a\" enum type \"Nowhere\" is wrong\n"),
                      std::string::npos)
                << r.err;
        EXPECT_TRUE(fs::is_empty(home_ / "ResultsInclude"));
        EXPECT_TRUE(fs::is_empty(home_ / "ResultsEmptyXml"));
    }
}

}  // namespace
}  // namespace morvane::test
