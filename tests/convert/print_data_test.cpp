// The print-data binding with the real sample plug-in, an absent library and
// a library without the exports; and the plug-in's own entry points.
#include "convert/print_data.h"

#include <dlfcn.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "convert/data_writer.h"
#include "convert_test_util.h"
#include "generate/xml_writer.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::Lines;

class PrintDataTest : public testing::Test {
  protected:
    void SetUp() override {
        schema_ = test::PosRecSchema();
        ASSERT_TRUE(schema_);
        ASSERT_TRUE(writer_.OpenFile((dir_ / "session.xml").c_str()));
    }
    void TearDown() override { BindPrintData("", "", ""); }

    // Writes the worked example's record count times; returns what went to
    // standard output meanwhile.
    std::string WriteRecords(int count, int32_t length = 28) {
        std::vector<uint8_t> record = test::PosRecRecord();
        testing::internal::CaptureStdout();
        for (int n = 1; n <= count; ++n) WriteXmlFile(*schema_, writer_, n, record.data(), length);
        return testing::internal::GetCapturedStdout();
    }
    std::string Output() const { return test::ReadFile(dir_ / "FormattedOutput.log"); }

    test::TempDir dir_;
    std::unique_ptr<Schema> schema_;
    CXmlWriter writer_;
};

const std::vector<std::string> kPosRecOutput = {
    "--------------PosRec--------------",
    "count = 5",
    "flags[4] = Collapsed",
    "mode = ON[1]",
    "pos:x = 1",
    "pos:y = 2",
    "pos:x = 3",
    "pos:y = 4",
};

TEST_F(PrintDataTest, PluginReceivesHeaderAndEveryValue) {
    testing::internal::CaptureStdout();
    void* handle = BindPrintData(MORVANE_PRINTDATA_PLUGIN, "/nonexistent", dir_.path());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_NE(handle, nullptr);
    schema_->printData = handle;
    EXPECT_EQ(WriteRecords(3), "");
    std::vector<std::string> three;
    for (int i = 0; i < 3; ++i) three.insert(three.end(), kPosRecOutput.begin(), kPosRecOutput.end());
    EXPECT_EQ(Output(), Lines(three));
}

TEST_F(PrintDataTest, NameWithoutSlashIsLoadedFromTheProgramDirectory) {
    std::string program = dir_ / "program";
    test::MakeDirs(program);
    test::CopyFile(MORVANE_PRINTDATA_PLUGIN, program + "/libprintdata.so");
    void* handle = BindPrintData("libprintdata.so", program, dir_.path());
    ASSERT_NE(handle, nullptr);
    schema_->printData = handle;
    WriteRecords(1);
    EXPECT_EQ(Output(), Lines(kPosRecOutput));
}

TEST_F(PrintDataTest, AbsentLibraryWarnsOnceAndComplainsAtEveryRecord) {
    test::LogRecorder log;
    testing::internal::CaptureStdout();
    void* handle = BindPrintData("libnothere.so", dir_.path(), dir_.path());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning! libnothere.so is absent\n");
    EXPECT_EQ(log.Text(), "Warning! libnothere.so is absent\n");
    EXPECT_EQ(handle, nullptr);
    schema_->printData = handle;
    EXPECT_EQ(WriteRecords(3), Lines({"Error! File libnothere.so is absent",
                                      "Error! File libnothere.so is absent",
                                      "Error! File libnothere.so is absent"}));
    EXPECT_FALSE(test::FileExists(dir_ / "FormattedOutput.log"));
    // A record that is refused does not get as far as the message.
    EXPECT_EQ(WriteRecords(1, 27), "");
}

TEST_F(PrintDataTest, LibraryWithoutTheExportsCountsAsAbsent) {
    test::LogRecorder log;
    testing::internal::CaptureStdout();
    void* handle = BindPrintData(MORVANE_PARTIAL_PLUGIN, "", dir_.path());
    std::string expected = std::string("Warning! ") + MORVANE_PARTIAL_PLUGIN + " is absent\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    EXPECT_EQ(log.Text(), expected);
    EXPECT_EQ(handle, nullptr);
    // Even a schema holding some handle gets no call from an absent plug-in.
    int notAPlugin = 0;
    schema_->printData = &notAPlugin;
    EXPECT_EQ(WriteRecords(1), std::string("Error! File ") + MORVANE_PARTIAL_PLUGIN + " is absent\n");
}

TEST_F(PrintDataTest, NoLibraryConfiguredMeansNoMessagesAndNoCalls) {
    test::LogRecorder log;
    testing::internal::CaptureStdout();
    EXPECT_EQ(BindPrintData("", dir_.path(), dir_.path()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(WriteRecords(2), "");
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(PrintDataTest, RefusedRecordGivesNoCallAtAll) {
    void* handle = BindPrintData(MORVANE_PRINTDATA_PLUGIN, "", dir_.path());
    ASSERT_NE(handle, nullptr);
    schema_->printData = handle;
    WriteRecords(1, 27);
    CXmlWriter closed;
    std::vector<uint8_t> record = test::PosRecRecord();
    EXPECT_FALSE(WriteXmlFile(*schema_, closed, 1, record.data(), 28));
    EXPECT_EQ(Output(), "");
}

// Value paths of nested structures, indexes of visible repetitions, counts
// of collapsed ones, enumeration names with unknown values, empty text.
TEST_F(PrintDataTest, LabelsAndTextsOfEveryMemberForm) {
    auto schema = test::SchemaFromText(R"(<Schema name="Forms" id="9">
   <Template name="Inner"><Item name="v" type="int16"/><Item name="n" type="char" nrepetitions="0" visibility="0"/></Template>
   <Template name="Outer">
      <Item name="a" type="char"/>
      <Structure name="in" type="Inner" nrepetitions="2"/>
   </Template>
   <Enum name="E"><Item name="ZERO" id="0"/><Item name="NINE" id="9"/><Item name="NEUF" id="9"/></Enum>
   <Item name="rep" type="char" nrepetitions="2"/>
   <Item name="hid" type="int16" nrepetitions="2" visibility="0"/>
   <Item name="t" type="text"/>
   <Item_enum name="es" type="E" nrepetitions="2"/>
   <Item name="hides" type="E" nrepetitions="3" visibility="0"/>
   <Structure name="out" type="Outer"><Item name="z" type="bool"/></Structure>
</Schema>)");
    ASSERT_TRUE(schema);
    ASSERT_EQ(schema->Size(), 2 + 4 + 8 + 12 + 5 + 4);
    schema->printData = BindPrintData(MORVANE_PRINTDATA_PLUGIN, "", dir_.path());
    ASSERT_NE(schema->printData, nullptr);
    std::vector<uint8_t> record(35, 0);
    record[6] = 9;   // es[0]: NINE, the first item of id 9
    record[10] = 5;  // es[1]: no item
    record[26] = 0xAB;
    record[27] = 0xFF;
    record[28] = 0xFF;
    record[31] = 2;
    ASSERT_TRUE(WriteXmlFile(*schema, writer_, 1, record.data(), 35));
    EXPECT_EQ(Output(), Lines({
                            "--------------Forms--------------",
                            "rep[0] = 0x0",
                            "rep[1] = 0x0",
                            "hid[2] = Collapsed",
                            "t = ",
                            "es[0] = NINE[9]",
                            "es[1] = [5]",
                            "hides[3] = Collapsed",
                            "out:a = 0xAB",
                            "out:in:v = -1",
                            "out:in:n[0] = Collapsed",
                            "out:in:v = 0",
                            "out:in:n[0] = Collapsed",
                            "out:z = 2",
                        }));
}

// The plug-in's entry points called directly.
class PrintDataPluginTest : public testing::Test {
  protected:
    void SetUp() override {
        // Never unloaded: the instances the tests create stay valid.
        library_ = dlopen(MORVANE_PRINTDATA_PLUGIN, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(library_, nullptr) << dlerror();
        create_ = reinterpret_cast<CreateMyPrintDataFn>(dlsym(library_, "CreateMyPrintData_Int"));
        run_ = reinterpret_cast<RunMyPrintDataFn>(dlsym(library_, "RunMyPrintData_Int"));
        ASSERT_NE(create_, nullptr);
        ASSERT_NE(run_, nullptr);
    }
    void* library_ = nullptr;
    CreateMyPrintDataFn create_ = nullptr;
    RunMyPrintDataFn run_ = nullptr;
    test::TempDir dir_;
};

TEST_F(PrintDataPluginTest, FlagOneAppendsAnyOtherStartsAfresh) {
    std::string path = dir_ / "out.log";
    test::WriteFile(path, "earlier\n");
    void* appending = create_(path.c_str(), 1);
    ASSERT_NE(appending, nullptr);
    run_(appending, "--h--", nullptr);
    run_(appending, "a:b[1]", "x y");
    EXPECT_EQ(test::ReadFile(path), "earlier\n--h--\na:b[1] = x y\n");

    void* fresh = create_(path.c_str(), 0);
    ASSERT_NE(fresh, nullptr);
    run_(fresh, "v", "");
    EXPECT_EQ(test::ReadFile(path), "v = \n");
}

TEST_F(PrintDataPluginTest, BadArgumentsAreRefused) {
    EXPECT_EQ(create_((dir_ / "no/such/dir/out.log").c_str(), 1), nullptr);
    EXPECT_EQ(create_(nullptr, 1), nullptr);
    EXPECT_EQ(run_(nullptr, "label", "value"), -1);
}

TEST_F(PrintDataPluginTest, ConcurrentCallsNeverMixLines) {
    std::string path = dir_ / "out.log";
    void* handle = create_(path.c_str(), 0);
    ASSERT_NE(handle, nullptr);
    constexpr int kThreads = 4, kCalls = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string label = "thread" + std::to_string(t) + ":value";
            std::string value(100, static_cast<char>('a' + t));
            for (int i = 0; i < kCalls; ++i) run_(handle, label.c_str(), value.c_str());
        });
    }
    for (auto& th : threads) th.join();
    std::istringstream lines(test::ReadFile(path));
    std::vector<int> counts(kThreads, 0);
    std::string line;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.size(), 13u + 3 + 100) << line;
        int t = line[6] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        ASSERT_EQ(line, "thread" + std::to_string(t) + ":value = " +
                            std::string(100, static_cast<char>('a' + t)));
        ++counts[t];
    }
    EXPECT_EQ(counts, std::vector<int>(kThreads, kCalls));
}

}  // namespace
}  // namespace morvane
