// CMsgQueue: bounded slots, arrival order, refusals and waiting.
#include <gtest/gtest.h>

#include <thread>

#include "channel/msg_queue.h"
#include "channel_test_util.h"
#include "support/test_support.h"

namespace morvane::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> TakeOne(CMsgQueue& queue, int32_t capacity, bool* ok) {
    std::vector<uint8_t> out(static_cast<size_t>(capacity) + 1);
    int32_t count = -1;
    *ok = queue.Take(out.data(), capacity, &count);
    out.resize(static_cast<size_t>(count < 0 ? 0 : count));
    return out;
}

TEST(MsgQueueTest, FullQueueRefusesUntilASlotIsTaken) {
    CMsgQueue queue(16, 3);
    for (uint8_t i = 0; i < 3; ++i) EXPECT_TRUE(queue.Put(Pattern(4, i).data(), 4));
    EXPECT_EQ(queue.UsedSlots(), 3);
    EXPECT_EQ(queue.FreeSlots(), 0);
    EXPECT_FALSE(queue.Put(Pattern(4, 9).data(), 4));

    bool ok = false;
    EXPECT_EQ(TakeOne(queue, 16, &ok), Pattern(4, 0));
    EXPECT_TRUE(ok);
    EXPECT_EQ(queue.LastSlot(), 0);
    // The freed slot is the first free one in index order.
    EXPECT_TRUE(queue.Put(Pattern(5, 7).data(), 5));
    EXPECT_EQ(queue.FreeSlots(), 0);
    for (auto expected : {Pattern(4, 1), Pattern(4, 2), Pattern(5, 7)}) {
        EXPECT_EQ(TakeOne(queue, 16, &ok), expected);
        EXPECT_TRUE(ok);
    }
    EXPECT_EQ(queue.LastSlot(), 0);
    EXPECT_EQ(queue.UsedSlots(), 0);
}

TEST(MsgQueueTest, EmptyQueueTakesNothing) {
    CMsgQueue queue(16, 2);
    uint8_t out[16];
    int32_t count = 99;
    EXPECT_FALSE(queue.Take(out, sizeof out, &count));
    EXPECT_EQ(count, 0);
    auto start = Clock::now();
    count = 99;
    EXPECT_FALSE(queue.WaitAndTake(out, sizeof out, &count, milliseconds(100)));
    EXPECT_EQ(count, 0);
    EXPECT_GE(Clock::now() - start, milliseconds(90));
    EXPECT_EQ(queue.LastSlot(), -1);
}

TEST(MsgQueueTest, PutRefusesCountsOutsideTheSlot) {
    struct Case {
        int32_t count;
        bool accepted;
    };
    const std::vector<Case> cases = {{-1, false}, {0, true}, {1, true}, {32, true}, {33, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        CMsgQueue queue(32, 1);
        std::vector<uint8_t> data = Pattern(64, 3);
        EXPECT_EQ(queue.Put(data.data(), c.count), c.accepted);
        EXPECT_EQ(queue.UsedSlots(), c.accepted ? 1 : 0);
        if (c.accepted) {
            bool ok = false;
            EXPECT_EQ(TakeOne(queue, 32, &ok),
                      std::vector<uint8_t>(data.begin(), data.begin() + c.count));
            EXPECT_TRUE(ok);
        }
    }
}

TEST(MsgQueueTest, TakeLeavesAMessageLongerThanTheCapacity) {
    CMsgQueue queue(64, 2);
    ASSERT_TRUE(queue.Put(Pattern(40, 1).data(), 40));
    ASSERT_TRUE(queue.Put(Pattern(2, 2).data(), 2));
    bool ok = true;
    EXPECT_TRUE(TakeOne(queue, 39, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(queue.UsedSlots(), 2);
    // Nothing overtakes the refused message.
    EXPECT_EQ(TakeOne(queue, 40, &ok), Pattern(40, 1));
    EXPECT_TRUE(ok);
    EXPECT_EQ(TakeOne(queue, 40, &ok), Pattern(2, 2));
}

TEST(MsgQueueTest, WaitAndTakeWakesForAMessageFromAnotherThread) {
    CMsgQueue queue(128, 4);
    std::thread producer([&] {
        SleepMs(50);
        queue.Put(Pattern(100, 5).data(), 100);
    });
    uint8_t out[128];
    int32_t count = 0;
    EXPECT_TRUE(queue.WaitAndTake(out, sizeof out, &count, milliseconds(10000)));
    producer.join();
    EXPECT_EQ(std::vector<uint8_t>(out, out + count), Pattern(100, 5));
}

// Messages taken without waiting must not leave wake-ups behind for a
// waiting take.
TEST(MsgQueueTest, WaitAndTakeDoesNotWakeForMessagesAlreadyTaken) {
    CMsgQueue queue(8, 2);
    uint8_t out[8];
    int32_t count = 0;
    ASSERT_TRUE(queue.Put("ab", 2));
    ASSERT_TRUE(queue.Put("cd", 2));
    ASSERT_TRUE(queue.Take(out, sizeof out, &count));
    ASSERT_TRUE(queue.Take(out, sizeof out, &count));
    auto start = Clock::now();
    EXPECT_FALSE(queue.WaitAndTake(out, sizeof out, &count, milliseconds(100)));
    EXPECT_GE(Clock::now() - start, milliseconds(90));

    // A refused waiting take keeps its wake-up for the next try.
    ASSERT_TRUE(queue.Put("efgh", 4));
    EXPECT_FALSE(queue.WaitAndTake(out, 3, &count, milliseconds(1000)));
    EXPECT_TRUE(queue.WaitAndTake(out, 4, &count, milliseconds(1000)));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "efgh");
}

}  // namespace
}  // namespace morvane::test
