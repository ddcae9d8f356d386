// 1,000 clients that each leave after a random number of bytes of a valid
// exchange (the reference session: size, read, open, three writes, close),
// by an orderly close or a reset. Every server must answer the next client
// in full, keep its open descriptors and resident memory where they were,
// and leave only whole session files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "battery_util.h"
#include "channel/messages.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kServers = 20;
constexpr int kClientsPerServer = 50;  // 1,000 clients in all
// Descriptors may differ by this much between the start and the end; a
// descriptor lost per client would show as 50.
constexpr int kDescriptorSlack = 2;
// Resident memory may grow by this much after the first whole session has
// warmed the server up; a frame buffer (100 KiB) kept per client would grow
// it by about 5 MiB. AddressSanitizer keeps freed memory resident in its
// quarantine for a while, about 20 KiB per client here.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kResidentSlackKib = 3072;
#else
constexpr long kResidentSlackKib = 1024;
#endif

// One step of the exchange: bytes the client sends, or bytes it expects.
struct Step {
    bool send;
    Bytes bytes;
};

std::vector<Step> Exchange(const std::string& session, const Bytes& readAnswer,
                           const Bytes& record) {
    std::vector<Step> steps;
    steps.push_back({true, SizeRequest(kTelemetryId)});
    steps.push_back(
        {false, Frame(MSG_COMM_ANSWER_SIZE, Int32Body({kTelemetryId, kTelemetrySize}))});
    steps.push_back({true, ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0))});
    steps.push_back({false, readAnswer});
    steps.push_back({true, OpenSession(session)});
    for (int i = 0; i < 3; ++i) steps.push_back({true, WriteRequest(kTelemetryId, record)});
    steps.push_back({true, CloseSession()});
    return steps;
}

// Runs the steps up to step cutStep, of which only cutBytes are sent or
// received. False, with a message, when the server did not play its part.
bool Play(const Socket& client, const std::vector<Step>& steps, size_t cutStep, size_t cutBytes,
          std::string& why) {
    for (size_t i = 0; i <= cutStep && i < steps.size(); ++i) {
        const Step& s = steps[i];
        size_t n = i == cutStep ? cutBytes : s.bytes.size();
        if (s.send) {
            if (!SendAll(client, s.bytes.data(), n)) {
                why = "send of step " + std::to_string(i) + " failed";
                return false;
            }
        } else {
            auto got = RecvExact(client, n);
            if (!got || !std::equal(got->begin(), got->end(), s.bytes.begin())) {
                why = "step " + std::to_string(i) + ": wrong or missing answer (" +
                      std::to_string(n) + " bytes expected)";
                return false;
            }
        }
    }
    return true;
}

// The record numbers of a Telemetry session file, and whether the text is
// exactly the session file of those records.
bool WholeTelemetrySession(const std::string& text, int& records) {
    std::vector<std::string> elements;
    const std::string key = " number=\"";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
        elements.push_back(TelemetryRecordText(std::atoi(text.c_str() + at + key.size())));
    records = static_cast<int>(elements.size());
    return text == SessionText(elements);
}

void ServeClients(int server, MorvaneServer& morvane) {
    SCOPED_TRACE("server " + std::to_string(server));
    std::mt19937 rng(8000 + server);
    ASSERT_TRUE(morvane.Start()) << morvane.program().Stderr();
    const int pid = morvane.program().pid();
    const int descriptorsAtStart = OpenDescriptors(pid);
    ASSERT_GT(descriptorsAtStart, 0);

    // A whole exchange first: its answers are the ones every later client
    // must see, and it brings the server to its working size.
    Bytes readAnswer;
    {
        Socket client = morvane.NextClient();
        ASSERT_TRUE(client.valid());
        ASSERT_TRUE(SendAll(client, ReadRequest(kTelemetryId, Bytes(kTelemetrySize, 0))));
        auto answer = RecvExact(client, kAnswerReadXmlLength);
        ASSERT_TRUE(answer.has_value());
        readAnswer = *answer;
        ASSERT_EQ(GetInt32(readAnswer.data()), MSG_COMM_ANSWER_READ_XML);
        ASSERT_EQ(GetInt32(readAnswer.data() + 8), kTelemetryId);
        const Bytes record(readAnswer.begin() + kRecordOffset,
                           readAnswer.begin() + kRecordOffset + kTelemetrySize);
        std::string why;
        auto steps = Exchange("warm.xml", readAnswer, record);
        ASSERT_TRUE(Play(client, steps, steps.size(), 0, why)) << why;
    }
    const Bytes record(readAnswer.begin() + kRecordOffset,
                       readAnswer.begin() + kRecordOffset + kTelemetrySize);
    ASSERT_TRUE(WaitFor([&] { return morvane.ListenCount() >= 2; }));
    const long residentAtStart = ResidentKib(pid);

    for (int c = 0; c < kClientsPerServer; ++c) {
        SCOPED_TRACE("client " + std::to_string(c));
        auto steps = Exchange("cut_" + std::to_string(c) + ".xml", readAnswer, record);
        size_t cutStep = steps.size(), cutBytes = 0;
        if (rng() % 10 != 0) {
            cutStep = rng() % steps.size();
            cutBytes = rng() % steps[cutStep].bytes.size();
        }
        Socket client = morvane.NextClient();
        ASSERT_TRUE(client.valid()) << "the server did not take the next client";
        std::string why;
        ASSERT_TRUE(Play(client, steps, cutStep, cutBytes, why)) << why;
        if (rng() % 2 == 0)
            AbortConnection(client);
        else
            client.Close();
    }

    // The last client may have left a session open: finish it, so that the
    // server holds what it held at the start.
    {
        Socket client = morvane.NextClient();
        ASSERT_TRUE(client.valid());
        ASSERT_TRUE(SendAll(client, CloseSession()));
        ASSERT_TRUE(SendAll(client, SizeRequest(kTelemetryId)));
        EXPECT_EQ(RecvExact(client, 16),
                  Frame(MSG_COMM_ANSWER_SIZE, Int32Body({kTelemetryId, kTelemetrySize})));
    }
    ASSERT_TRUE(WaitFor([&] { return morvane.ListenCount() >= kClientsPerServer + 3; }));
    ASSERT_TRUE(morvane.program().Running());
    const int descriptorsAtEnd = OpenDescriptors(pid);
    const long residentAtEnd = ResidentKib(pid);
    EXPECT_LE(descriptorsAtEnd, descriptorsAtStart + kDescriptorSlack)
        << "descriptors " << descriptorsAtStart << " -> " << descriptorsAtEnd;
    EXPECT_LE(residentAtEnd, residentAtStart + kResidentSlackKib)
        << "resident KiB " << residentAtStart << " -> " << residentAtEnd;
    std::printf("server %d: descriptors %d -> %d, resident KiB %ld -> %ld\n", server,
                descriptorsAtStart, descriptorsAtEnd, residentAtStart, residentAtEnd);

    // Every record handed to the writer is in a whole session file.
    int recordsInFiles = 0;
    for (const auto& e : std::filesystem::directory_iterator(morvane / "XML_Data")) {
        const std::string name = e.path().filename().string();
        if (name.rfind("cut_", 0) != 0 && name != "warm.xml") continue;
        const std::string text = ReadFile(e.path().string());
        int records = 0;
        EXPECT_EQ(SessionFileProblem(text), "") << name;
        EXPECT_TRUE(WholeTelemetrySession(text, records)) << name << ":\n" << text;
        recordsInFiles += records;
    }
    EXPECT_EQ(recordsInFiles, morvane.LogCount("Xsd Server MSG_COMM_WRITE_XML "));
}

TEST(DisconnectBattery, ClientsLeavingAtAnyByteLeaveTheServerAsItWas) {
    auto servers = MakeServers(kServers, "CreateFilesFlag=0\n");
    RunOnThreads(kServers, [&](int i) { ServeClients(i, *servers[static_cast<size_t>(i)]); });
}

}  // namespace
}  // namespace morvane::test
