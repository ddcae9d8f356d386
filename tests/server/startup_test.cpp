// Morvane started as a user starts it: in a program directory of its own.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "support/own_network.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::BackgroundProgram;
using test::ReadFile;
using test::RunProgram;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

constexpr const char* kPosRec =
    "<?xml version=\"1.0\"?>\n"
    "<Schema name=\"PosRec\" id=\"7\">\n"
    "   <Item name=\"count\" type=\"int\"/>\n"
    "</Schema>\n";

class StartupTest : public ::testing::Test {
  protected:
    // Without Morvane.ini, Morvane serves on its default port.
    void SetUp() override {
        SKIP_WITHOUT_OWN_NETWORK();
        test::MakeProgramDir(dir_.path(), {"Morvane"}, false);
    }

    std::string Exe() const { return dir_ / "Morvane"; }
    std::string Log() const { return ReadFile(dir_ / "Morvane.log"); }
    // Runs Morvane where a failing start-up is expected to end by itself.
    test::ProgramResult RunToEnd(const std::vector<std::string>& args = {}) {
        return RunProgram(Exe(), args, dir_.path(), std::chrono::seconds(20));
    }
    // Starts Morvane and waits until its start-up is over (the log holds
    // the last configuration line), then checks it keeps running.
    void StartAndSettle(BackgroundProgram& p) {
        ASSERT_TRUE(WaitFor([&] { return Log().find("CreateFilesFlag=") != std::string::npos; }));
        test::SleepMs(300);
        ASSERT_TRUE(p.Running()) << p.Stdout() << p.Stderr();
    }

    TempDir dir_;
};

TEST_F(StartupTest, DefaultsWithoutIniLoadTheSchemasAndKeepRunning) {
    WriteFile(dir_ / "Schemas/PosRec.xsd", kPosRec);
    BackgroundProgram p(Exe(), {}, dir_.path());
    StartAndSettle(p);
    std::string log = Log();
    const std::string d = dir_.path();
    std::string block = "-----Configuration-----\narchive_dir=" + d + "\nSchemas_dir=" + d +
                        "/Schemas\nResultsInclude_dir=" + d + "/ResultsInclude\nResultsEmptyXml_dir=" +
                        d + "/ResultsEmptyXml\nXML_Data_dir=" + d +
                        "/XML_Data\nPort=25000\nLogFlag=1\nPrintDataDll=\nCreateFilesFlag=1\n"
                        "-----------------------\n\n";
    EXPECT_NE(log.find(block + "MaxClients=1\nIdleTimeout=0\nMaxDataFileMB=64\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("\n=========PrintUnits===============================\n"), std::string::npos);
    EXPECT_NE(log.find("\tname={PosRec:count}\ttype=int[1]\toffset=0\tsize=4\tnrepet=1\tvis=1\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(p.Stdout().rfind("See results in Morvane.log\n", 0), 0u);
    EXPECT_EQ(p.Stop(SIGTERM), 0);
}

TEST_F(StartupTest, MissingLoggerLibrary) {
    std::remove((dir_ / "libquillog.so").c_str());
    auto r = RunToEnd();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "See results in Morvane.log\nError! Quillog is absent\n");
}

TEST_F(StartupTest, LoggerThatCannotOpenItsFile) {
    test::MakeDirs(dir_ / "Morvane.log");  // a directory where the log belongs
    auto r = RunToEnd();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "See results in Morvane.log\nErrors in configuration file, see Morvane.log\n");
}

TEST_F(StartupTest, MissingArchiveIsTheOnlyCheck) {
    WriteFile(dir_ / "Morvane.ini", "[Directory]\nArchive=" + dir_ / "nowhere" + "\n");
    auto r = RunToEnd();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "See results in Morvane.log\nErrors in configuration file, see Morvane.log\n");
    std::string log = Log();
    EXPECT_NE(log.find("Error! archive_dir=" + dir_ / "nowhere" + " is not exist\n"),
              std::string::npos);
    EXPECT_EQ(log.find("Schemas_dir=" + dir_ / "nowhere/Schemas is not exist"), std::string::npos);
}

// The serving keys are logged right after the configuration block,
// as they are used. The Archive is missing, so each start ends there.
TEST_F(StartupTest, ServingKeysFollowTheConfigurationBlock) {
    // Without the keys: DefaultsWithoutIniLoadTheSchemasAndKeepRunning.
    const struct {
        const char* general;
        const char* logged;
    } cases[] = {
        {"MaxClients=8\nIdleTimeout=30\nMaxDataFileMB=512\n",
         "MaxClients=8\nIdleTimeout=30\nMaxDataFileMB=512\n"},
        {"MaxClients=0\nIdleTimeout=-5\nMaxDataFileMB=0\n",
         "MaxClients=1\nIdleTimeout=0\nMaxDataFileMB=64\n"},
        {"maxclients=100000\nIdleTimeout=x\nmaxdatafilemb=2000000\n",
         "MaxClients=256\nIdleTimeout=0\nMaxDataFileMB=64\n"},
        {"HeaderChecks=1\n", "MaxClients=1\nIdleTimeout=0\nMaxDataFileMB=64\nHeaderChecks=1\n"},
        {"HeaderChecks=0\n", "MaxClients=1\nIdleTimeout=0\nMaxDataFileMB=64\n"},
        // The publishing keys follow them, only with a [Publish] section.
        {"[Publish]\nServerName=rig-1\nFormat=json\nSpoolMB=8\n",
         "MaxClients=1\nIdleTimeout=0\nMaxDataFileMB=64\nPublish_Url=nats://127.0.0.1:4222\n"
         "Publish_Stream=MORVANE\nPublish_Subject=morvane\nPublish_Format=json\n"
         "Publish_ServerName=rig-1\nPublish_SpoolMB=8\nPublish_Replicas=1\n"
         "Publish_DuplicateWindow=600\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.general);
        std::remove((dir_ / "Morvane.log").c_str());
        WriteFile(dir_ / "Morvane.ini",
                  "[Directory]\nArchive=" + dir_ / "nowhere" + "\n[General]\n" + c.general);
        EXPECT_EQ(RunToEnd().exitCode, 1);
        EXPECT_NE(Log().find("CreateFilesFlag=1\n-----------------------\n\n" +
                             std::string(c.logged) + "Error! archive_dir="),
                  std::string::npos)
            << Log();
    }
}

TEST_F(StartupTest, EveryMissingDirectoryIsReported) {
    WriteFile(dir_ / "Morvane.ini",
              "[directory]\nschemas=S2\nXML_Data=X2\n[General]\nCreateFilesFlag=0\n");
    auto r = RunToEnd();
    EXPECT_EQ(r.exitCode, 1);
    std::string log = Log();
    EXPECT_NE(log.find("Error! Schemas_dir=" + dir_ / "S2 is not exist\n"), std::string::npos);
    EXPECT_NE(log.find("Error! XML_Data_dir=" + dir_ / "X2 is not exist\n"), std::string::npos);
    EXPECT_EQ(log.find("ResultsInclude_dir=" + dir_ / "ResultsInclude is not exist"),
              std::string::npos);
}

TEST_F(StartupTest, MalformedSchemaEndsStartupAfterEarlierFilesAreGenerated) {
    WriteFile(dir_ / "Schemas/a_good.xsd", kPosRec);
    WriteFile(dir_ / "Schemas/b_bad.xsd", "<Schema name=\"X\"><Item name=\"a\"></Schema>\n");
    // Loaded beside the others, but after the failure: not generated, not logged.
    WriteFile(dir_ / "Schemas/c_after.xsd", "<Schema name=\"After\"><Item name=\"a\"/></Schema>\n");
    auto r = RunToEnd();
    EXPECT_EQ(r.exitCode, 1);
    std::string log = Log();
    std::string prefix = "Error  during reading  " + dir_ / "Schemas/b_bad.xsd" + "[";
    EXPECT_NE(log.find(prefix), std::string::npos) << log;
    EXPECT_TRUE(test::FileExists(dir_ / "ResultsInclude/posrec.h"));
    EXPECT_FALSE(test::FileExists(dir_ / "ResultsInclude/after.h"));
    EXPECT_EQ(log.find("After"), std::string::npos);
}

TEST_F(StartupTest, SchemaThatFailsToLayOutEndsStartup) {
    // Eight templates of ten repetitions each: 10^8 fields, which the data
    // files would write one by one.
    std::string tenfold = "<Schema name=\"Big\"><Template name=\"T0\"><Item name=\"x\"/></Template>";
    for (int i = 1; i <= 8; ++i) {
        tenfold += "<Template name=\"T" + std::to_string(i) + "\"><Structure name=\"s\" type=\"T" +
                   std::to_string(i - 1) + "\" nrepetitions=\"10\"/></Template>";
    }
    tenfold += "<Structure name=\"top\" type=\"T8\"/></Schema>\n";
    const struct {
        std::string schema;
        std::string error;
        std::string earlier = "";  // Schemas/a.xsd, loaded before x.xsd
    } rows[] = {
        {"<Schema name=\"X\"><Structure name=\"s\" type=\"Nowhere\"/></Schema>\n",
         "Error!!! Type name [Nowhere] is wrong\n"},
        {"<Schema name=\"../../x\"><Item name=\"a\"/></Schema>\n",
         "Error! Schema name=\"../../x\" is not a plain file name\n"},
        {tenfold, "Error! schema [Big] expands to more than 2097152 fields\n"},
        // Headers that would not compile.
        {"<Schema name=\"X\"><Item name=\"a\"/><Item name=\"a\"/></Schema>\n",
         "Error! The member name \"a\" is used twice in the record \"X\"\n"},
        {"<Schema name=\"X\"><Enum name=\"A\"><Item name=\"OFF\" id=\"0\"/></Enum>"
         "<Enum name=\"B\"><Item name=\"OFF\" id=\"1\"/></Enum></Schema>\n",
         "Error! The enumerator \"OFF\" of the enumeration \"B\" is also in the enumeration "
         "\"A\"\n"},
        // Both would write posrec.h, posrec.xml and E_SCHEMA_ENUM_POSREC.
        {"<Schema name=\"POSREC\" id=\"8\"><Item name=\"other\"/></Schema>\n",
         "Error! schema [POSREC] differs from schema [PosRec] of " + dir_ / "Schemas/a.xsd" +
             " only in letter case: both would write posrec.h, posrec.xml and the enumerator "
             "E_SCHEMA_ENUM_POSREC\n",
         kPosRec},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        if (!row.earlier.empty()) WriteFile(dir_ / "Schemas/a.xsd", row.earlier);
        WriteFile(dir_ / "Schemas/x.xsd", row.schema);
        auto r = RunToEnd();
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(Log().find(row.error), std::string::npos) << Log();
        EXPECT_NE(r.err.find(dir_ / "Schemas/x.xsd:1:"), std::string::npos)
            << r.err;
        EXPECT_FALSE(test::FileExists(dir_ / "ResultsEmptyXml/big.xml"));
        if (!row.earlier.empty()) {
            // The earlier schema's files, whole and only its own.
            EXPECT_EQ(ReadFile(dir_ / "ResultsEmptyXml/posrec.xml").find("other"),
                      std::string::npos);
            EXPECT_NE(ReadFile(dir_ / "ResultsInclude/posrec.h").find("// id=7\n"),
                      std::string::npos);
            std::remove((dir_ / "Schemas/a.xsd").c_str());
        }
    }
}

TEST_F(StartupTest, OnlyLowerCaseExtensionsAreLoaded) {
    WriteFile(dir_ / "Schemas/Upper.XSD",
              "<Schema name=\"Upper\" id=\"2\"><Item name=\"u\"/></Schema>\n");
    WriteFile(dir_ / "Schemas/Lower.xsd",
              "<Schema name=\"Lower\" id=\"3\"><Item name=\"l\"/></Schema>\n");
    BackgroundProgram p(Exe(), {}, dir_.path(), {"MORVANE_DEBUG=1"});
    StartAndSettle(p);
    ASSERT_TRUE(WaitFor([&] { return p.Stderr().find("End of files\n") != std::string::npos; }));
    std::string log = Log();
    EXPECT_NE(log.find("name=Lower id=3"), std::string::npos);
    EXPECT_EQ(log.find("name=Upper"), std::string::npos);
    EXPECT_NE(p.Stderr().find("---Upper.XSD\n"), std::string::npos);
    EXPECT_NE(p.Stderr().find("Lower.xsd\n"), std::string::npos);
}

TEST_F(StartupTest, CreateFilesFlagZeroWritesNothingButTraces) {
    WriteFile(dir_ / "Schemas/PosRec.xsd", kPosRec);
    WriteFile(dir_ / "Morvane.ini", "[General]\nCreateFilesFlag=0\nLogFlag=1\n");
    BackgroundProgram p(Exe(), {}, dir_.path());
    StartAndSettle(p);
    ASSERT_TRUE(WaitFor([&] { return Log().find("name=PosRec id=7") != std::string::npos; }));
    EXPECT_EQ(Log().find("PrintUnits"), std::string::npos);
    EXPECT_FALSE(test::FileExists(dir_ / "ResultsInclude/posrec.h"));
    EXPECT_FALSE(test::FileExists(dir_ / "ResultsInclude/Schema_Enum.h"));
    EXPECT_FALSE(test::FileExists(dir_ / "ResultsEmptyXml/posrec.xml"));
}

TEST_F(StartupTest, LogFlagZeroKeepsTracesOut) {
    WriteFile(dir_ / "Schemas/PosRec.xsd", kPosRec);
    WriteFile(dir_ / "Morvane.ini", "[General]\nLogFlag=0\n");
    BackgroundProgram p(Exe(), {}, dir_.path());
    StartAndSettle(p);
    ASSERT_TRUE(WaitFor([&] { return test::FileExists(dir_ / "ResultsInclude/Schema_Enum.h"); }));
    EXPECT_EQ(Log().find("name=PosRec"), std::string::npos);
    EXPECT_NE(Log().find("LogFlag=0\n"), std::string::npos);
}

TEST_F(StartupTest, StopSignalsEndWithStatusZero) {
    for (int sig : {SIGINT, SIGTERM}) {
        // The log of the run before would show this start as settled at once.
        std::remove((dir_ / "Morvane.log").c_str());
        BackgroundProgram p(Exe(), {}, dir_.path());
        StartAndSettle(p);
        EXPECT_EQ(p.Stop(sig), 0) << "signal " << sig;
    }
}

// HeaderChecks=1: the headers carry their checks, and a schema whose names
// collide with the checks' macros ends the start-up as a schema error.
TEST_F(StartupTest, HeaderChecksKeyGivesTheHeadersTheirChecks) {
    WriteFile(dir_ / "Schemas/PosRec.xsd", kPosRec);
    WriteFile(dir_ / "Morvane.ini", "[General]\nHeaderChecks=1\n");
    {
        BackgroundProgram p(Exe(), {}, dir_.path());
        StartAndSettle(p);
        ASSERT_TRUE(WaitFor([&] { return test::FileExists(dir_ / "ResultsInclude/Schema_Enum.h"); }));
        const std::string header = ReadFile(dir_ / "ResultsInclude/posrec.h");
        EXPECT_NE(header.find("#endif //__POSREC__\n\n#define POSREC_SIZE 4\n"
                              "#define POSREC_FINGERPRINT 0x"),
                  std::string::npos)
            << header;
        EXPECT_NE(header.find("POSREC_LAYOUT_ASSERT(offsetof(POSREC, count) == 0"),
                  std::string::npos);
        EXPECT_EQ(p.Stop(SIGTERM), 0);
    }
    WriteFile(dir_ / "Schemas/PosRec.xsd",
              "<?xml version=\"1.0\"?>\n<Schema name=\"PosRec\" id=\"7\">\n"
              "   <Item name=\"POSREC_SIZE\" type=\"int\"/>\n</Schema>\n");
    auto r = RunToEnd();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("is also a macro of the header"), std::string::npos) << r.err;
}

TEST_F(StartupTest, ShippedExamplesLoad) {
    test::MakeProgramDir(dir_.path(), {}, true);
    BackgroundProgram p(Exe(), {}, dir_.path());
    StartAndSettle(p);
    ASSERT_TRUE(WaitFor([&] { return test::FileExists(dir_ / "ResultsInclude/Schema_Enum.h"); }));
    EXPECT_EQ(Log().find("Error"), std::string::npos) << Log();
    EXPECT_TRUE(test::FileExists(dir_ / "ResultsInclude/posrec.h"));
    EXPECT_TRUE(test::FileExists(dir_ / "ResultsInclude/telemetry.h"));
}

// Links planted at the generated files' names are replaced, not written
// through; what was logged before a SIGKILL is in the log; a restart with
// the same schemas rewrites no generated file.
TEST_F(StartupTest, GeneratedFilesReplaceLinksAndARestartLeavesThemAlone) {
    WriteFile(dir_ / "Schemas/PosRec.xsd", kPosRec);
    WriteFile(dir_ / "victim", "precious\n");
    const std::string files[] = {dir_ / "ResultsInclude/posrec.h",
                                 dir_ / "ResultsInclude/Schema_Enum.h",
                                 dir_ / "ResultsEmptyXml/posrec.xml",
                                 dir_ / "ResultsEmptyXml/PosRec.log"};
    for (const std::string& f : files) std::filesystem::create_symlink(dir_ / "victim", f);
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        std::remove((dir_ / "Morvane.log").c_str());
        BackgroundProgram p(Exe(), {}, dir_.path());
        // Schema_Enum.h comes last; a link is replaced in one step.
        ASSERT_TRUE(WaitFor([&] {
            return Log().find("Create SchemaEnumIncludeFile") != std::string::npos &&
                   !std::filesystem::is_symlink(files[1]);
        }));
        p.Stop(SIGKILL);
        EXPECT_NE(Log().find("\tname={PosRec:count}\ttype=int[1]\toffset=0\tsize=4\tnrepet=1"
                             "\tvis=1\n\n=========CreateEmptyXmlFile"),
                  std::string::npos);
        EXPECT_EQ(ReadFile(dir_ / "victim"), "precious\n");
        EXPECT_EQ(ReadFile(files[3]), "count\n");
        for (const std::string& f : files) {
            EXPECT_FALSE(std::filesystem::is_symlink(f)) << f;
            if (start == 1) {
                EXPECT_EQ(std::filesystem::last_write_time(f), old) << f;
            }
            std::filesystem::last_write_time(f, old);
        }
    }
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

// Temporaries of generated files left by a start-up that was killed are
// removed at the next one; one whose writer still holds its lock, and
// files that are not the program's own, are left alone.
TEST_F(StartupTest, StaleTemporariesOfAKilledStartAreRemoved) {
    WriteFile(dir_ / "Schemas/PosRec.xsd", kPosRec);
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".morvane-%x-", static_cast<unsigned>(gone));
    const struct {
        std::string path;
        bool locked;
        bool removed;
    } cases[] = {
        {dir_ / "ResultsInclude/.posrec.h" + suffix + "0", false, true},
        {dir_ / "ResultsInclude/.Schema_Enum.h" + suffix + "1", false, true},
        {dir_ / "ResultsEmptyXml/.posrec.xml" + suffix + "2", false, true},
        {dir_ / "ResultsEmptyXml/.posrec.xml" + suffix + "3", true, false},
        {dir_ / "ResultsInclude/.posrec.h.swp", false, false},
    };
    std::vector<int> held;
    for (const auto& c : cases) {
        WriteFile(c.path, "#ifndef __POS");
        if (!c.locked) continue;
        held.push_back(::open(c.path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
    }
    BackgroundProgram p(Exe(), {}, dir_.path());
    StartAndSettle(p);
    for (const auto& c : cases) EXPECT_EQ(test::FileExists(c.path), !c.removed) << c.path;
    EXPECT_TRUE(test::FileExists(dir_ / "ResultsInclude/posrec.h"));
    for (int fd : held) ::close(fd);
    EXPECT_EQ(p.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace morvane
