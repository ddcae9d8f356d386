// A whole session sent in pieces that have nothing to do with the frames:
// one byte per send, three frames per send, and cuts at random places. The
// answers, the session file and the protocol lines of the log must be those
// of the same session sent one frame per send.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

#include "battery_util.h"
#include "channel/messages.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> SessionFrames() {
    return {SizeRequest(kTelemetryId), ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0)),
            OpenSession("split.xml"), WriteRequest(kTelemetryId, Bytes(kTelemetrySize, 0)),
            WriteRequest(kPosRecId, PosRecRecordOf(1)), WriteRequest(kPosRecId, PosRecRecordOf(2)),
            CloseSession(),
            // Answered only once everything before it has been handled.
            SizeRequest(kPosRecId)};
}

constexpr size_t kAnswerBytes = 16 + kAnswerReadXmlLength + 16;

struct Outcome {
    Bytes answers;
    std::string session;
    std::vector<std::string> log;  // protocol lines, the program directory as "@"
};

// Sends the frames of the session in the pieces that cut returns (the sizes
// of the sends, in order) and collects what the server made of them.
Outcome RunSession(const std::function<std::vector<size_t>(const std::vector<Bytes>&)>& cut,
                   bool pauseBetweenSends) {
    Outcome out;
    MorvaneServer server(FreeTcpPort(), "CreateFilesFlag=0\n");
    EXPECT_TRUE(server.Start()) << server.program().Stderr();
    Socket client = server.NextClient();
    EXPECT_TRUE(client.valid());
    if (!client.valid()) return out;
    int one = 1;
    setsockopt(client.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    const std::vector<Bytes> frames = SessionFrames();
    Bytes stream;
    for (const Bytes& f : frames) Append(stream, f);
    size_t at = 0;
    for (size_t piece : cut(frames)) {
        EXPECT_TRUE(SendAll(client, stream.data() + at, piece));
        at += piece;
        // Gives the server time to read each piece on its own.
        if (pauseBetweenSends) SleepMs(1);
    }
    EXPECT_EQ(at, stream.size());
    auto answers = RecvExact(client, kAnswerBytes);
    EXPECT_TRUE(answers.has_value());
    if (answers) out.answers = *answers;
    // The last answer is logged once it has been sent.
    EXPECT_TRUE(server.WaitLog("Xsd Server MSG_COMM_SIZE MSG_COMM_ANSWER_SIZE\n", 2));
    out.session = ReadFile(server / "XML_Data/split.xml");
    std::istringstream in(server.Log());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Xsd Server", 0) != 0 && line.rfind("CChannelXsd::", 0) != 0) continue;
        for (size_t p = line.find(server.dir()); p != std::string::npos;
             p = line.find(server.dir()))
            line.replace(p, server.dir().size(), "@");
        out.log.push_back(line);
    }
    return out;
}

std::vector<size_t> FramePieces(const std::vector<Bytes>& frames, size_t framesPerSend) {
    std::vector<size_t> pieces;
    for (size_t i = 0; i < frames.size(); i += framesPerSend) {
        size_t n = 0;
        for (size_t j = i; j < i + framesPerSend && j < frames.size(); ++j) n += frames[j].size();
        pieces.push_back(n);
    }
    return pieces;
}

size_t TotalSize(const std::vector<Bytes>& frames) {
    size_t n = 0;
    for (const Bytes& f : frames) n += f.size();
    return n;
}

TEST(SplitFramesBattery, PiecesOfAnySizeMakeTheSameSession) {
    const Outcome whole = RunSession([](const auto& f) { return FramePieces(f, 1); }, false);
    ASSERT_EQ(whole.answers.size(), kAnswerBytes);
    EXPECT_EQ(SessionFileProblem(whole.session), "") << whole.session;
    EXPECT_EQ(CountOf(whole.session, "<Schema "), 3);
    EXPECT_EQ(CountOf(whole.session, PosRecRecordText(3, PosRecOf(2))), 1);
    EXPECT_EQ(std::count_if(whole.log.begin(), whole.log.end(),
                            [](const std::string& l) {
                                return l.rfind("Xsd Server MSG_COMM_WRITE_XML ", 0) == 0;
                            }),
              3);

    const struct {
        const char* name;
        std::function<std::vector<size_t>(const std::vector<Bytes>&)> cut;
        bool pause;
    } modes[] = {
        {"one byte per send", [](const auto& f) { return std::vector<size_t>(TotalSize(f), 1); },
         true},
        {"three frames per send", [](const auto& f) { return FramePieces(f, 3); }, false},
        {"the whole session in one send",
         [](const auto& f) { return std::vector<size_t>{TotalSize(f)}; }, false},
        {"cuts at random places",
         [](const auto& f) {
             std::mt19937 rng(4242);
             std::vector<size_t> pieces;
             for (size_t left = TotalSize(f); left > 0;) {
                 size_t n = std::min(left, static_cast<size_t>(1 + rng() % 40));
                 pieces.push_back(n);
                 left -= n;
             }
             return pieces;
         },
         true},
    };
    for (const auto& m : modes) {
        SCOPED_TRACE(m.name);
        const Outcome split = RunSession(m.cut, m.pause);
        EXPECT_TRUE(split.answers == whole.answers);
        EXPECT_EQ(split.session, whole.session);
        EXPECT_EQ(split.log, whole.log);
    }
}

}  // namespace
}  // namespace morvane::test
