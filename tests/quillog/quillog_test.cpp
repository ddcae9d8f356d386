// The logger library, loaded the way the programs load it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "logging/log.h"
#include "support/test_support.h"

namespace morvane {
namespace {

class QuillogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        lib_ = dlopen((test::BinDir() + "/libquillog.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib_, nullptr) << dlerror();
        create_ = reinterpret_cast<CreateLoggerFn>(dlsym(lib_, "CreateLogger_Int"));
        init_ = reinterpret_cast<InitLoggerFn>(dlsym(lib_, "InitLogger_Int"));
        print_ = reinterpret_cast<PrintfDebFn>(dlsym(lib_, "printfdeb_Int"));
        delete_ = reinterpret_cast<DeleteLoggerFn>(dlsym(lib_, "DeleteLogger_Int"));
        ASSERT_TRUE(create_ && init_ && print_ && delete_);
    }

    void* lib_ = nullptr;
    CreateLoggerFn create_ = nullptr;
    InitLoggerFn init_ = nullptr;
    PrintfDebFn print_ = nullptr;
    DeleteLoggerFn delete_ = nullptr;
    test::TempDir dir_;
};

TEST_F(QuillogTest, WritesExactlyTheEnabledText) {
    std::string path = dir_ / "a.log";
    void* h = create_();
    ASSERT_TRUE(init_(h, path.c_str(), 0));
    print_(h, true, "x=%d ", 5);
    print_(h, false, "hidden\n");
    print_(h, true, "%s\n", std::string(3000, 'y').c_str());
    // A text handed over whole is not formatted again.
    print_(h, true, "%s", ("%d%s\n" + std::string(3000, 'z') + "\n").c_str());
    print_(h, true, "%s", static_cast<const char*>(nullptr));
    delete_(h);
    EXPECT_EQ(test::ReadFile(path), "x=5 " + std::string(3000, 'y') + "\n%d%s\n" +
                                        std::string(3000, 'z') + "\n(null)");
}

TEST_F(QuillogTest, ModeOneAppendsModeZeroTruncates) {
    std::string path = dir_ / "m.log";
    test::WriteFile(path, "old\n");
    void* h = create_();
    ASSERT_TRUE(init_(h, path.c_str(), 1));
    print_(h, true, "new\n");
    delete_(h);
    EXPECT_EQ(test::ReadFile(path), "old\nnew\n");

    test::WriteFile(path, std::string(100, 'z'));
    h = create_();
    ASSERT_TRUE(init_(h, path.c_str(), 0));
    print_(h, true, "fresh\n");
    delete_(h);
    EXPECT_EQ(test::ReadFile(path), "fresh\n");
}

TEST_F(QuillogTest, InitFailsOnAnUnwritablePath) {
    void* h = create_();
    EXPECT_FALSE(init_(h, (dir_ / "no/such/dir/x.log").c_str(), 1));
    print_(h, true, "dropped\n");  // must not crash
    delete_(h);
}

TEST_F(QuillogTest, HandlesWriteTheirOwnFiles) {
    void* a = create_();
    void* b = create_();
    ASSERT_TRUE(init_(a, (dir_ / "a.log").c_str(), 0));
    ASSERT_TRUE(init_(b, (dir_ / "b.log").c_str(), 0));
    print_(a, true, "to a\n");
    print_(b, true, "to b\n");
    delete_(a);
    delete_(b);
    EXPECT_EQ(test::ReadFile(dir_ / "a.log"), "to a\n");
    EXPECT_EQ(test::ReadFile(dir_ / "b.log"), "to b\n");
}

TEST_F(QuillogTest, ConcurrentWritersLeaveWholeLines) {
    std::string path = dir_ / "c.log";
    void* h = create_();
    ASSERT_TRUE(init_(h, path.c_str(), 0));
    constexpr int kThreads = 4, kLines = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string payload(100 + t * 50, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) print_(h, true, "%d:%s\n", t, payload.c_str());
        });
    }
    for (auto& th : threads) th.join();
    delete_(h);

    std::istringstream in(test::ReadFile(path));
    std::string line;
    int counts[kThreads] = {};
    while (std::getline(in, line)) {
        ASSERT_GE(line.size(), 2u);
        int t = line[0] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        ASSERT_EQ(line, std::to_string(t) + ":" +
                            std::string(100 + t * 50, static_cast<char>('a' + t)));
        ++counts[t];
    }
    for (int c : counts) EXPECT_EQ(c, kLines);
}

// Modules that log many lines in one step hand them over with LogText():
// each batch lands whole and in order, whatever other threads write.
TEST_F(QuillogTest, BatchesOfLinesStayTogetherAcrossThreads) {
    std::string path = dir_ / "b.log";
    void* h = create_();
    ASSERT_TRUE(init_(h, path.c_str(), 0));
    BindLog(h, print_, true);
    constexpr int kThreads = 4, kBatches = 200, kLinesPerBatch = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int b = 0; b < kBatches; ++b) {
                std::string batch;
                for (int l = 0; l < kLinesPerBatch; ++l) AppendFormat(batch, "%d %d %d\n", t, b, l);
                LogText(true, batch);
            }
        });
    }
    for (auto& th : threads) th.join();
    BindLog(nullptr, nullptr, false);
    delete_(h);

    std::istringstream in(test::ReadFile(path));
    int t = 0, b = 0, l = 0, lines = 0;
    int next[kThreads] = {};  // each thread's next batch
    while (in >> t >> b >> l) {
        ASSERT_TRUE(t >= 0 && t < kThreads);
        ASSERT_EQ(l, lines % kLinesPerBatch);
        if (l == 0) {
            ASSERT_EQ(b, next[t]++);
        }
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kBatches * kLinesPerBatch);
}

// The lines of logs and generated files are formatted without vsnprintf
// where the format allows; the text is the same.
TEST(AppendFormatTest, TextIsExactlyWhatVsnprintfGives) {
    struct Case {
        const char* format;
        bool numberFirst;  // arguments (int, text) rather than (text, int)
        const char* text;
        int number;
    } cases[] = {
        {"   %s=%d,\n", false, "OFF", 0},
        {"   /*size=%2d*/ E_%s", true, "X", 7},
        {"%2d|%s", true, "wide", 1234},
        {"%10d%s", true, "", -42},
        {"%d%%%s", true, "(pct)", -2147483647 - 1},
        {"%s%d", false, nullptr, 3},
        {"%05d %s", true, "zero flag", 42},  // not a plain form: vsnprintf's
        {"%s %x", false, "hex", 255},
        {"%s=0x%X", false, "this", 0x4BFEBDF0},
        {"%X|%s", true, "all bits", -1},
        {"0%X%s", true, "", 0},
        {"%6X%s", true, "", 0xAB},
        {"%40d%s", true, "wider than the blanks", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        std::string out = "kept ";
        char expected[256];
        if (c.numberFirst) {
            std::snprintf(expected, sizeof expected, c.format, c.number, c.text);
            AppendFormat(out, c.format, c.number, c.text);
        } else {
            std::snprintf(expected, sizeof expected, c.format, c.text, c.number);
            AppendFormat(out, c.format, c.text, c.number);
        }
        EXPECT_EQ(out, std::string("kept ") + expected);
    }
}

}  // namespace
}  // namespace morvane
