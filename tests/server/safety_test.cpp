// Morvane as users run it, in a program directory of its own, against what
// may lie in that directory or around it: links planted where it writes, a
// data file that turns into a FIFO, a library in the directory it is started
// from, and settings or schemas it cannot use. Every server listens on a
// port of its own.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "channel/messages.h"
#include "server_test_util.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::seconds;

// text with every '@' replaced by the program directory.
std::string InDir(std::string text, const std::string& dir) {
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + dir.size()))
        text.replace(at, 1, dir);
    return text;
}

// Runs the self-test and waits until it has written its last data file
// (PosRec, the schema with the highest id).
int RunSelfTest(MorvaneServer& server, const std::string& cwd) {
    BackgroundProgram p(server / "Morvane", {"test"}, cwd);
    EXPECT_TRUE(WaitFor(
        [&] {
            return ReadFile(server / "XML_Data/PosRec_dataW.xml").find("</Root>\n") !=
                   std::string::npos;
        },
        seconds(20)))
        << p.Stdout() << p.Stderr();
    return p.Stop(SIGTERM);
}

TEST(SafetyTest, FilesAppendedToAreNeverReachedThroughALink) {
    const struct {
        const char* link;  // planted in the program directory, pointing at outside.txt
        bool selfTest;     // else start-up must fail
        std::string logLine;
    } cases[] = {
        {"Morvane.log", false, ""},
        {"XML_Data/Telemetry_dataW.xml", true,
         "Error! data file @/XML_Data/Telemetry_dataW.xml cannot be created\n"},
        {"XML_Data/FormattedOutput.log", true,
         "Error! libprintdata.so cannot open @/XML_Data/FormattedOutput.log\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        MorvaneServer server(FreeTcpPort(), "PrintDataDll=libprintdata.so\n");
        CopyFromBin(server.dir(), {"libprintdata.so"});
        const std::string outside = server / "outside.txt";
        WriteFile(outside, "keep\n");
        ASSERT_EQ(symlink(outside.c_str(), (server / c.link).c_str()), 0);
        if (c.selfTest) {
            EXPECT_EQ(RunSelfTest(server, server.dir()), 0);
            EXPECT_NE(server.Log().find(InDir(c.logLine, server.dir())), std::string::npos)
                << server.Log();
        } else {
            ProgramResult r = RunProgram(server / "Morvane", {}, server.dir(), seconds(20));
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(
                r.out,
                "See results in Morvane.log\nErrors in configuration file, see Morvane.log\n");
        }
        EXPECT_EQ(ReadFile(outside), "keep\n");
    }
}

// Read requests while another thread swaps the data file for a FIFO and
// back: the server answers, or refuses the read, and is never stuck.
void ReadWhileTheDataFileTurnsIntoAFifo(MorvaneServer& server) {
    const std::string data = server / "XML_Data/Telemetry_dataR.xml";
    const std::string regular = server / "regular.xml", fifo = server / "fifo.xml",
                      next = server / "XML_Data/next.xml";
    ASSERT_EQ(link(data.c_str(), regular.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (bool toFifo = true; !stop; toFifo = !toFifo) {
            if (link((toFifo ? fifo : regular).c_str(), next.c_str()) == 0)
                std::rename(next.c_str(), data.c_str());
        }
    });
    Socket client = server.NextClient();
    int answered = 0;
    bool inStep = client.valid();
    for (int i = 0; inStep && i < 1000; ++i) {
        // The pause leaves the swapper a processor to itself while the
        // server reads.
        SleepMs(1);
        Bytes frames = ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0));
        Append(frames, SizeRequest(kTelemetryId));
        inStep = SendAll(client, frames);
        // The read answer when the file was read, then the size answer.
        for (bool sized = false; inStep && !sized;) {
            // Acknowledged at once, so the server does not hold the small
            // size answer back behind the large read answer.
            int one = 1;
            setsockopt(client.fd(), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            auto header = RecvExact(client, kFrameHeaderSize, seconds(20));
            const int32_t id = header ? GetInt32(header->data()) : -1;
            if (id == MSG_COMM_ANSWER_READ_XML) ++answered;
            sized = id == MSG_COMM_ANSWER_SIZE;
            inStep = (sized || id == MSG_COMM_ANSWER_READ_XML) &&
                     RecvExact(client,
                               static_cast<size_t>(GetInt32(header->data() + 4)) - kFrameHeaderSize,
                               seconds(20));
        }
    }
    stop = true;
    swapper.join();
    EXPECT_TRUE(inStep) << "stuck after " << answered << " read answers";
}

TEST(SafetyTest, ServerNeverHangsOnAFileNorRunsCodeFromElsewhere) {
    enum Start { kInProgramDirectory, kFromElsewhere, kThroughPath };
    const struct {
        const char* name;
        std::string extraIni;
        Start start;
        std::vector<std::string> args;
        std::function<void(MorvaneServer&)> act;
        std::string file;  // must hold text once act is done
        std::string text;
    } cases[] = {
        {"data file swapped for a FIFO",
         "LogFlag=0\n",
         kInProgramDirectory,
         {},
         ReadWhileTheDataFileTurnsIntoAFifo,
         "",
         ""},
        {"started through PATH from a directory with a logger library",
         "",
         kThroughPath,
         {},
         [](MorvaneServer& s) { EXPECT_TRUE(s.WaitLog("CreateFilesFlag=1\n")); },
         "Morvane.log",
         "archive_dir=@\n"},
        {"relative PrintDataDll started from elsewhere",
         "PrintDataDll=plugins/libprintdata.so\n",
         kFromElsewhere,
         {"test"},
         nullptr,
         "XML_Data/FormattedOutput.log",
         "--------------PosRec--------------\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MorvaneServer server(FreeTcpPort(), c.extraIni);
        MakeDirs(server / "plugins");
        CopyFile(BinDir() + "/libprintdata.so", server / "plugins/libprintdata.so");
        // Elsewhere holds a logger library and data folders of its own.
        const std::string elsewhere = server / "elsewhere";
        MakeProgramDir(elsewhere, {}, false);
        const std::string cwd = c.start == kInProgramDirectory ? server.dir() : elsewhere;
        std::string exe = server / "Morvane";
        std::vector<std::string> args = c.args;
        std::vector<std::string> env;
        if (c.start == kThroughPath) {
            exe = "/bin/sh";
            args.insert(args.begin(), {"-c", "exec Morvane \"$@\"", "sh"});
            env.push_back("PATH=" + server.dir() + ":/usr/bin:/bin");
        }
        if (c.args == std::vector<std::string>{"test"}) {
            EXPECT_EQ(RunSelfTest(server, cwd), 0);
        } else {
            BackgroundProgram p(exe, args, cwd, env);
            c.act(server);
            EXPECT_EQ(p.Stop(SIGTERM), 0);
        }
        if (!c.file.empty()) {
            EXPECT_NE(ReadFile(server / c.file).find(InDir(c.text, server.dir())),
                      std::string::npos)
                << ReadFile(server / c.file);
        }
        EXPECT_EQ(server.Log().find("Warning!"), std::string::npos) << server.Log();
        EXPECT_FALSE(FileExists(elsewhere + "/Morvane.log"));
    }
}

TEST(SafetyTest, StartupNeverFailsWithoutAWord) {
    const std::string seeLog = "See results in Morvane.log\n";
    const std::string configErrors = seeLog + "Errors in configuration file, see Morvane.log\n";
    const std::string listFailure = "Error! Schemas_dir=@/Schemas cannot be listed err=20\n";
    // port: a free port for a server that should not have started.
    auto ini = [](const std::string& text) {
        return [text](const std::string& dir, const std::string& port) {
            WriteFile(dir + "/Morvane.ini", InDir(text, port));
        };
    };
    auto schema = [](const std::string& text) {
        return [text](const std::string& dir, const std::string& port) {
            WriteFile(dir + "/Morvane.ini", "[General]\nLogFlag=0\nPort=" + port + "\n");
            WriteFile(dir + "/Schemas/Broken.xsd", text);
        };
    };
    const struct {
        const char* name;
        std::function<void(const std::string& dir, const std::string& port)> plant;
        std::string out;
        std::string err;
        std::string logLine;
    } cases[] = {
        {"schema that is not well-formed",
         schema("<Schema name=\"Broken\" id=\"3\">\n   <Item name=\"a\">\n</Schema>\n"), seeLog,
         "@/Schemas/Broken.xsd:3:3: error: Start-end tags mismatch\n",
         "Error  during reading  @/Schemas/Broken.xsd[Start-end tags mismatch]\n"},
        {"schema that fails to load",
         schema("<Schema name=\"Broken\" id=\"3\">\n   <Structure name=\"s\" type=\"Nowhere\"/>\n"
                "</Schema>\n"),
         seeLog, "@/Schemas/Broken.xsd:2:5: error: Error!!! Type name [Nowhere] is wrong\n", ""},
        {"Morvane.ini with a byte-order mark",
         ini("\xEF\xBB\xBF[Directory]\nSchemas=Nowhere\n[General]\nPort=@\n"), configErrors, "",
         "Error! Schemas_dir=@/Nowhere is not exist\n"},
        {"Morvane.ini that is a directory",
         [](const std::string& dir, const std::string&) {
             std::remove((dir + "/Morvane.ini").c_str());
             MakeDirs(dir + "/Morvane.ini");
         },
         configErrors, "", "Error! @/Morvane.ini cannot be read err=22\n"},
        {"Morvane.ini that is a FIFO",
         [](const std::string& dir, const std::string&) {
             std::remove((dir + "/Morvane.ini").c_str());
             ASSERT_EQ(mkfifo((dir + "/Morvane.ini").c_str(), 0644), 0);
         },
         configErrors, "", "Error! @/Morvane.ini cannot be read err=22\n"},
        {"Port 0", ini("[General]\nPort=0\n"), configErrors, "",
         "Error! Port=0 is outside 1..65535\n"},
        {"Port 65536", ini("[General]\nPort=65536\n"), configErrors, "",
         "Error! Port=65536 is outside 1..65535\n"},
        {"Schemas that cannot be listed",
         [](const std::string& dir, const std::string&) {
             std::filesystem::remove_all(dir + "/Schemas");
             WriteFile(dir + "/Schemas", "");
         },
         seeLog + listFailure, "", listFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int port = FreeTcpPort();
        MorvaneServer server(port);
        c.plant(server.dir(), std::to_string(port));
        ProgramResult r = RunProgram(server / "Morvane", {}, server.dir(), seconds(20));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, InDir(c.out, server.dir()));
        EXPECT_EQ(r.err, InDir(c.err, server.dir()));
        EXPECT_NE(server.Log().find(InDir(c.logLine, server.dir())), std::string::npos)
            << server.Log();
    }
}

}  // namespace
}  // namespace morvane::test
