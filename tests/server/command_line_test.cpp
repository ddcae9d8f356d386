// The command line of every program: --help and --version answer and end,
// an option a program does not know gives its usage on standard error and
// exit status 2; none of them starts a server, a session or a window.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <set>

#include "server_test_util.h"

namespace morvane::test {
namespace {

namespace fs = std::filesystem;

struct CommandLineCase {
    const char* program;
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // what standard output begins with
    std::string err;  // what standard error begins with
};

const std::string kVersion = "0.1.0\n";

std::vector<CommandLineCase> Cases() {
    std::vector<CommandLineCase> cases = {
        {"Morvane", {"--help"}, 0, "usage: Morvane [--home DIR] [--config FILE] [--check] [test]\n", ""},
        {"Morvane", {"test", "--help"}, 0, "usage: Morvane ", ""},
        {"Morvane", {"--version"}, 0, "Morvane " + kVersion, ""},
        {"Morvane", {"--bogus"}, 2, "", "Morvane: unknown option '--bogus'\nusage: Morvane "},
        {"Morvane", {"-"}, 2, "", "Morvane: unknown option '-'\nusage: Morvane "},
        {"Morvane", {"--home"}, 2, "", "Morvane: option --home needs a value DIR\nusage: Morvane "},
        {"Morvane", {"--check=yes"}, 2, "", "Morvane: option --check takes no value\n"},
        {"morvanec", {"--help"}, 0, "usage: morvanec COMMAND [OPTIONS] ARGS\n", ""},
        {"morvanec", {"--version"}, 0, "morvanec " + kVersion, ""},
        {"morvanec", {"--bogus"}, 2, "", "morvanec: unknown command '--bogus'\nusage: morvanec "},
        {"demo", {"--help"}, 0, "usage: demo [--host HOST] [--port PORT]\n", ""},
        {"demo", {"--version"}, 0, "demo " + kVersion, ""},
        {"demo", {"--bogus"}, 2, "", "demo: unknown option '--bogus'\nusage: demo "},
        {"demo", {"--port", "65536"}, 2, "", "demo: port '65536' is not 1 to 65535\nusage: demo "},
        {"demo", {"--port=12x"}, 2, "", "demo: port '12x' is not 1 to 65535\n"},
    };
    if (fs::exists(BinDir() + "/MorvaneBuilder")) {
        cases.push_back({"MorvaneBuilder", {"--help"}, 0,
                         "usage: MorvaneBuilder [--home DIR] [--config FILE]\n", ""});
        cases.push_back({"MorvaneBuilder", {"--version"}, 0, "MorvaneBuilder " + kVersion, ""});
        // Qt's own options are not taken: nothing but ours opens the window.
        cases.push_back({"MorvaneBuilder", {"-platform", "offscreen"}, 2, "",
                         "MorvaneBuilder: unknown option '-platform'\nusage: MorvaneBuilder "});
    }
    return cases;
}

TEST(CommandLineTest, HelpVersionAndUnknownOptionsStartNothing) {
    for (const CommandLineCase& c : Cases()) {
        SCOPED_TRACE(std::string(c.program) + " " + (c.args.empty() ? "" : c.args[0]));
        TempDir dir;
        MakeProgramDir(dir.path(), {c.program}, false);
        const std::set<std::string> before = {"Morvane.log", "XML_Data/Record.xml"};
        // The display is never needed: a window would wait here until the
        // time limit.
        ProgramResult r = RunProgram(dir / c.program, c.args, dir.path(), std::chrono::seconds(10),
                                     {"QT_QPA_PLATFORM=minimal"});
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << r.out;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
        if (c.exitCode == 0) {
            EXPECT_TRUE(r.err.empty()) << r.err;
        } else {
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
        for (const std::string& name : before) EXPECT_FALSE(FileExists(dir / name)) << name;
    }
}

// demo --host and --port: the reference session against a server elsewhere
// than 127.0.0.1:25000, the host given by name.
TEST(CommandLineTest, DemoRunsItsSessionOnTheHostAndPortGiven) {
    MorvaneServer server(FreeTcpPort());
    ASSERT_TRUE(server.Start()) << server.program().Stderr();
    TempDir demoDir;
    CopyFromBin(demoDir.path(), {"demo"});
    BackgroundProgram demo(demoDir / "demo",
                           {"--host", "localhost", "--port", std::to_string(server.port())},
                           demoDir.path());
    ASSERT_TRUE(server.WaitLog("Xsd Server MSG_COMM_CLOSE_SESSION\n")) << demo.Stderr();
    EXPECT_EQ(ReadFile(server / "XML_Data/Record.xml"),
              SessionText({TelemetryRecordText(1), TelemetryRecordText(2), TelemetryRecordText(3)}));
    EXPECT_EQ(demo.Stop(SIGTERM), 0);
    EXPECT_EQ(server.program().Stop(SIGTERM), 0);

    ProgramResult unknown =
        RunProgram(demoDir / "demo", {"--host", "no-such-host.invalid"}, demoDir.path());
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err, "demo: host 'no-such-host.invalid' has no IPv4 address\n");
}

}  // namespace
}  // namespace morvane::test
