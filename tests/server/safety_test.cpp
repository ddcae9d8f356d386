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
#include <thread>

#include "channel/messages.h"
#include "server_test_util.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::seconds;

const std::string kSeeLog = "See results in Morvane.log\n";
const std::string kBadConfig = kSeeLog + "Errors in configuration file, see Morvane.log\n";

// text with every '@' replaced by the program directory.
std::string InDir(std::string text, const std::string& dir) {
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + dir.size()))
        text.replace(at, 1, dir);
    return text;
}

// True once the self-test has finished its last data file (PosRec, the
// schema with the highest id).
bool SelfTestDone(const MorvaneServer& server) {
    return WaitFor(
        [&] {
            return ReadFile(server / "XML_Data/PosRec_dataW.xml").find("</Root>\n") !=
                   std::string::npos;
        },
        seconds(20));
}

TEST(SafetyTest, FilesAppendedToAreNeverReachedThroughALink) {
    const struct {
        const char* link;  // planted in the program directory, pointing at outside.txt
        bool selfTest;     // else start-up must fail
        std::string logLine;
        bool hard = false;  // a second hard link of outside.txt instead of a symbolic one
    } cases[] = {
        {"Morvane.log", false, ""},
        {"XML_Data/Telemetry_dataW.xml", true,
         "Error! data file @/XML_Data/Telemetry_dataW.xml cannot be created\n"},
        {"XML_Data/FormattedOutput.log", true,
         "Error! libprintdata.so cannot open @/XML_Data/FormattedOutput.log\n"},
        {"Morvane.log", false, "", true},
        {"XML_Data/Telemetry_dataW.xml", true,
         "Error! data file @/XML_Data/Telemetry_dataW.xml cannot be created\n", true},
        {"XML_Data/FormattedOutput.log", true,
         "Error! libprintdata.so cannot open @/XML_Data/FormattedOutput.log\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.link) + (c.hard ? " (hard link)" : ""));
        MorvaneServer server(FreeTcpPort(), "PrintDataDll=libprintdata.so\n");
        CopyFromBin(server.dir(), {"libprintdata.so"});
        const std::string outside = server / "outside.txt";
        WriteFile(outside, "keep\n");
        if (c.hard) {
            ASSERT_EQ(link(outside.c_str(), (server / c.link).c_str()), 0);
        } else {
            ASSERT_EQ(symlink(outside.c_str(), (server / c.link).c_str()), 0);
        }
        if (c.selfTest) {
            BackgroundProgram p(server / "Morvane", {"test"}, server.dir());
            EXPECT_TRUE(SelfTestDone(server));
            EXPECT_EQ(p.Stop(SIGTERM), 0);
            EXPECT_NE(server.Log().find(InDir(c.logLine, server.dir())), std::string::npos)
                << server.Log();
        } else {
            ProgramResult r = RunProgram(server / "Morvane", {}, server.dir(), seconds(20));
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.out, kBadConfig);
        }
        EXPECT_EQ(ReadFile(outside), "keep\n");
    }
}

TEST(SafetyTest, ServerNeverHangsOnAFileNorRunsCodeFromElsewhere) {
    {
        SCOPED_TRACE("read requests while another thread swaps the data file for a FIFO");
        MorvaneServer server(FreeTcpPort(), "LogFlag=0\n");
        ASSERT_TRUE(server.Start());
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
        bool inStep = client.valid();
        for (int i = 0; inStep && i < 1000; ++i) {
            // The pause leaves the swapper a processor while the server reads.
            SleepMs(1);
            Bytes frames = ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0));
            Append(frames, SizeRequest(kTelemetryId));
            inStep = SendAll(client, frames);
            // The read answer when the file was read, then the size answer.
            for (bool sized = false; inStep && !sized;) {
                // Acknowledged at once: the server's small answer does not
                // wait behind the large one.
                int one = 1;
                setsockopt(client.fd(), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
                auto header = RecvExact(client, kFrameHeaderSize, seconds(20));
                const int32_t id = header ? GetInt32(header->data()) : -1;
                sized = id == MSG_COMM_ANSWER_SIZE;
                inStep = (sized || id == MSG_COMM_ANSWER_READ_XML) &&
                         RecvExact(client, static_cast<size_t>(GetInt32(header->data() + 4) - 8),
                                   seconds(20));
            }
        }
        stop = true;
        swapper.join();
        EXPECT_TRUE(inStep);
    }
    // Started through PATH from a directory with a logger library and data
    // folders of its own; the plug-in lies beside the program only.
    MorvaneServer server(FreeTcpPort(), "PrintDataDll=plugins/libprintdata.so\n");
    MakeDirs(server / "plugins");
    CopyFile(BinDir() + "/libprintdata.so", server / "plugins/libprintdata.so");
    const std::string elsewhere = server / "elsewhere";
    MakeProgramDir(elsewhere, {}, false);
    BackgroundProgram p("/bin/sh", {"-c", "exec Morvane test"}, elsewhere,
                        {"PATH=" + server.dir() + ":/usr/bin:/bin"});
    EXPECT_TRUE(SelfTestDone(server));
    EXPECT_EQ(p.Stop(SIGTERM), 0);
    EXPECT_NE(ReadFile(server / "XML_Data/FormattedOutput.log").find("-----PosRec-----"),
              std::string::npos)
        << server.Log();
    EXPECT_FALSE(FileExists(elsewhere + "/Morvane.log"));
}

TEST(SafetyTest, StartupNeverFailsWithoutAWord) {
    const std::string unlisted = "Error! Schemas_dir=@/Schemas cannot be listed err=20\n";
    const char* quiet = "[General]\nLogFlag=0\nPort=@\n";
    const struct {
        const char* name;
        const char* ini;     // '@' stands for a free port; null: a FIFO of that name
        const char* schema;  // Schemas/Broken.xsd; "": a file named Schemas
        std::string out;     // here and below '@' stands for the program directory
        std::string err;
        std::string logLine;
    } cases[] = {
        {"schema not well-formed", quiet,
         "<Schema name=\"Broken\" id=\"3\">\n   <Item name=\"a\">\n</Schema>\n", kSeeLog,
         "@/Schemas/Broken.xsd:3:3: error: Start-end tags mismatch\n",
         "Error  during reading  @/Schemas/Broken.xsd[Start-end tags mismatch]\n"},
        {"schema that fails to load", quiet,
         "<Schema name=\"Broken\" id=\"3\">\n   <Structure name=\"s\" type=\"Nowhere\"/>\n"
         "</Schema>\n",
         kSeeLog, "@/Schemas/Broken.xsd:2:5: error: Error!!! Type name [Nowhere] is wrong\n", ""},
        {"byte-order mark", "\xEF\xBB\xBF[Directory]\nSchemas=Nowhere\n[General]\nPort=@\n",
         nullptr, kBadConfig, "", "Error! Schemas_dir=@/Nowhere is not exist\n"},
        {"Morvane.ini a FIFO", nullptr, nullptr, kBadConfig, "",
         "Error! @/Morvane.ini cannot be read err=22\n"},
        {"Port 0", "[General]\nPort=0\n", nullptr, kBadConfig, "",
         "Error! Port=0 is outside 1..65535\n"},
        {"Port 65536", "[General]\nPort=65536\n", nullptr, kBadConfig, "",
         "Error! Port=65536 is outside 1..65535\n"},
        {"Schemas a file", quiet, "", kSeeLog + unlisted, "", unlisted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MorvaneServer server(0);
        const std::string ini = server / "Morvane.ini";
        std::remove(ini.c_str());
        if (c.ini != nullptr)
            WriteFile(ini, InDir(c.ini, std::to_string(FreeTcpPort())));
        else
            ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0);
        if (c.schema != nullptr && *c.schema != '\0') {
            WriteFile(server / "Schemas/Broken.xsd", c.schema);
        } else if (c.schema != nullptr) {
            std::filesystem::remove_all(server / "Schemas");
            WriteFile(server / "Schemas", "");
        }
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
