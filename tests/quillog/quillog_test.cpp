// The logger library, loaded the way the programs load it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <sstream>
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

}  // namespace
}  // namespace morvane
