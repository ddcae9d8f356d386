// 10,000 sessions opened and closed one after the other on one connection,
// with none, one or two records each. The server's descriptors
// stay where they were, and every file is whole, well-formed XML.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "battery_util.h"
#include "channel/messages.h"

namespace morvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kCycles = 10000;
// The last 500 cycles use the names of the first 500 again: those files
// must hold their second session alone. (Few, because ext4 pushes a file
// that is truncated and written again to the disk at once.)
constexpr int kNames = kCycles - 500;
constexpr int kCyclesPerCheck = 250;
constexpr int kDescriptorSlack = 2;

std::string CycleName(int cycle) {
    char name[32];
    std::snprintf(name, sizeof name, "cycle_%04d.xml", cycle % kNames);
    return name;
}

TEST(SessionCycleBattery, TenThousandSessionsLeaveWholeFilesAndNoDescriptor) {
    MorvaneServer server(FreeTcpPort(), "LogFlag=0\nCreateFilesFlag=0\n");
    ASSERT_TRUE(server.Start()) << server.program().Stderr();
    const int pid = server.program().pid();
    Socket client = server.NextClient();
    ASSERT_TRUE(client.valid());
    const Bytes sizeAnswer = Frame(MSG_COMM_ANSWER_SIZE, Int32Body({kPosRecId, kPosRecSize}));
    ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
    ASSERT_EQ(RecvExact(client, 16), sizeAnswer);
    const int descriptorsAtStart = OpenDescriptors(pid);
    ASSERT_GT(descriptorsAtStart, 0);

    std::map<std::string, std::string> expected;  // file name -> its last session
    int number = 0;
    int mostDescriptors = descriptorsAtStart;
    for (int first = 0; first < kCycles; first += kCyclesPerCheck) {
        Bytes batch;
        for (int cycle = first; cycle < first + kCyclesPerCheck; ++cycle) {
            Append(batch, OpenSession(CycleName(cycle)));
            std::vector<std::string> records;
            for (int r = 0; r < cycle % 3; ++r) {
                ++number;
                Append(batch, WriteRequest(kPosRecId, PosRecRecordOf(number)));
                records.push_back(PosRecRecordText(number, PosRecOf(number)));
            }
            Append(batch, CloseSession());
            expected[CycleName(cycle)] = SessionText(records);
        }
        // Answered once the whole batch has been handled.
        Append(batch, SizeRequest(kPosRecId));
        ASSERT_TRUE(SendAll(client, batch));
        ASSERT_EQ(RecvExact(client, 16), sizeAnswer) << "after cycle " << first;
        mostDescriptors = std::max(mostDescriptors, OpenDescriptors(pid));
    }
    const int descriptorsAtEnd = OpenDescriptors(pid);
    EXPECT_LE(mostDescriptors, descriptorsAtStart + kDescriptorSlack);
    EXPECT_LE(descriptorsAtEnd, descriptorsAtStart + kDescriptorSlack)
        << "descriptors " << descriptorsAtStart << " -> " << descriptorsAtEnd;
    EXPECT_TRUE(server.program().Running());

    ASSERT_EQ(expected.size(), static_cast<size_t>(kNames));
    int wrong = 0;
    for (const auto& [name, text] : expected) {
        const std::string actual = ReadFile(server / ("XML_Data/" + name));
        const std::string problem = SessionFileProblem(actual);
        if (actual == text && problem.empty()) continue;
        // The first few are enough to see what went wrong.
        if (++wrong <= 3) ADD_FAILURE() << name << ": " << problem << "\n" << actual;
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace morvane::test
