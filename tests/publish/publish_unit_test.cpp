// The pieces of publishing that need no broker: subject tokens, the
// settings' checks, the spool's message bytes and the spool itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "publish/message.h"
#include "publish/publisher.h"
#include "publish/spool.h"
#include "server/config/ini_file.h"
#include "server/config/publish_settings.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::TempDir;

TEST(PublishSubjectTest, SchemaNamesBecomeOneTokenAndBack) {
    const struct {
        const char* name;
        const char* token;
    } cases[] = {
        {"PosRec", "PosRec"},
        {"a.b", "a%2Eb"},
        {"all*", "all%2A"},
        {"x>y", "x%3Ey"},
        {"two words", "two%20words"},
        {"tab\there", "tab%09here"},
        {"100%", "100%25"},
        {"", "%00"},
        {"ünï", "ünï"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EscapeSubjectToken(c.name), c.token);
        std::string back;
        ASSERT_TRUE(UnescapeSubjectToken(c.token, back));
        EXPECT_EQ(back, c.name);
        EXPECT_TRUE(IsPlainSubject(std::string("morvane.") + c.token));
    }
    std::string back;
    EXPECT_FALSE(UnescapeSubjectToken("a%2", back));
    EXPECT_FALSE(UnescapeSubjectToken("a%zz", back));
}

TEST(PublishSettingsTest, SectionKeysDefaultsAndRefusals) {
    const struct {
        const char* ini;
        bool enabled;
        bool usable;
        const char* error;  // the first error line, or ""
    } cases[] = {
        {"[General]\nPort=1\n", false, true, ""},
        {"[Publish]\n", true, true, ""},
        {"[publish]\nUrl=nats://a:1, nats://b:2\nFormat=JSON\n", true, true, ""},
        {"[Publish]\nUrl=http://a:1\n", true, false,
         "Error! Publish Url=http://a:1 is not a list of nats://HOST:PORT\n"},
        {"[Publish]\nUrl=nats://a:70000\n", true, false,
         "Error! Publish Url=nats://a:70000 is not a list of nats://HOST:PORT\n"},
        {"[Publish]\nStream=A.B\n", true, false,
         "Error! Publish Stream=A.B is not a stream name (empty, or holds '.', '*', '>', '/', "
         "'\\' or a blank)\n"},
        {"[Publish]\nSubject=rigs.>\n", true, false,
         "Error! Publish Subject=rigs.> is not a subject of plain tokens\n"},
        {"[Publish]\nSubject=a..b\n", true, false,
         "Error! Publish Subject=a..b is not a subject of plain tokens\n"},
        {"[Publish]\nFormat=xml\n", true, false, "Error! Publish Format=xml is neither binary nor json\n"},
        {"[Publish]\nSpoolMB=0\n", true, false, "Error! Publish SpoolMB=0 is below 1\n"},
        {"[Publish]\nReplicas=7\n", true, false, "Error! Publish Replicas=7 is outside 1..5\n"},
        {"[Publish]\nDuplicateWindow=0\n", true, false,
         "Error! Publish DuplicateWindow=0 is below 1 second\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        IniFile ini;
        ini.LoadText(c.ini);
        PublishSettings s = ReadPublishSettings(ini);
        EXPECT_EQ(s.enabled, c.enabled);
        test::LogRecorder log;
        EXPECT_EQ(CheckPublishSettings(s), c.usable);
        if (*c.error == '\0') {
            EXPECT_TRUE(log.lines().empty()) << log.Text();
        } else {
            EXPECT_EQ(log.lines().empty() ? "" : log.lines()[0], c.error);
        }
    }
    IniFile ini;
    ini.LoadText("[Publish]\n");
    PublishSettings s = ReadPublishSettings(ini);
    EXPECT_EQ(s.url, "nats://127.0.0.1:4222");
    EXPECT_EQ(s.stream, "MORVANE");
    EXPECT_EQ(s.subject, "morvane");
    EXPECT_EQ(s.format, PublishFormat::kBinary);
    EXPECT_FALSE(s.serverName.empty());
    EXPECT_EQ(s.spoolMB, 256);
    EXPECT_EQ(s.replicas, 1);
    EXPECT_EQ(s.duplicateWindow, 600);
}

TEST(PublishMessageTest, SpoolBytesRoundTripAndDamageIsRefused) {
    OutMessage m;
    m.subject = "morvane.PosRec";
    m.headers = {{"Nats-Msg-Id", "a-b-1"}, {"Morvane-Session", ""}};
    m.body = std::string("\0\1\2zero", 7);
    const std::string bytes = EncodeMessage(m);
    OutMessage back;
    ASSERT_TRUE(DecodeMessage(bytes, back));
    EXPECT_EQ(back.subject, m.subject);
    EXPECT_EQ(back.headers, m.headers);
    EXPECT_EQ(back.body, m.body);
    for (size_t cut : {size_t{0}, size_t{3}, bytes.size() / 2, bytes.size() - 1}) {
        SCOPED_TRACE(cut);
        EXPECT_FALSE(DecodeMessage(bytes.substr(0, cut), back));
    }
    EXPECT_FALSE(DecodeMessage(bytes + "x", back));

    // The run of a message id, whatever the installation id holds.
    for (const auto& [id, run] : std::vector<std::pair<std::string, std::string>>{
             {"0123456789abcdef-fedcba9876543210-12", "fedcba9876543210"},
             {"file-0a1b-file-3", "file"},
             {"-0011223344556677-1", "0011223344556677"},
             {"no-run", ""},
             {"none", ""}})
        EXPECT_EQ(RunOfMessageId(id), run) << id;
}

// The stream's answers: only a sequence number is a stored message; an
// error, a truncated or empty answer leaves it to be sent again.
TEST(PublishMessageTest, AcknowledgementsAreStoredOnlyWithASequence) {
    struct Row {
        std::string text;
        bool ok;
        bool duplicate;
        std::string failure;
    };
    for (const Row& row : std::vector<Row>{
             {R"({"stream":"MORVANE","seq":12})", true, false, ""},
             {R"({"stream":"MORVANE","seq":12,"duplicate":true})", true, true, ""},
             {R"({"stream":"MORVANE","seq":12,"duplicate":false})", true, false, ""},
             {R"({"error":{"code":503,"err_code":10077,"description":"maximum messages exceeded"}})", false,
              false, "maximum messages exceeded"},
             {R"({"error":"busy","seq":3})", false, false, "refused by the stream"},
             {R"({"stream":"MORVANE","seq":-1})", false, false, "an acknowledgement without a sequence number"},
             {R"({"stream":"MORVANE"})", false, false, "an acknowledgement without a sequence number"},
             {R"({"stream":"MORVANE","seq":1)", false, false, "an acknowledgement that is not JSON"},
             {"", false, false, "an acknowledgement that is not JSON"},
             {"[1]", false, false, "an acknowledgement that is not JSON"},
             {R"({"stream":")" + std::string(4000, 'x') + R"(","seq":7})", true, false, ""},
         }) {
        const Acknowledgement a = ParseAcknowledgement(row.text);
        EXPECT_EQ(a.ok, row.ok) << row.text.substr(0, 80);
        EXPECT_EQ(a.duplicate, row.duplicate) << row.text.substr(0, 80);
        EXPECT_EQ(a.failure, row.failure) << row.text.substr(0, 80);
    }
}

TEST(PublishMessageTest, InstallationIdIsKeptAndRunsDiffer) {
    TempDir dir;
    const std::string id = InstallationId(dir / "Morvane.id");
    ASSERT_EQ(id.size(), 16u);
    EXPECT_EQ(InstallationId(dir / "Morvane.id"), id);
    EXPECT_NE(RandomId(), RandomId());
    test::LogRecorder log;
    EXPECT_EQ(InstallationId(dir / "missing/Morvane.id"), "");
    EXPECT_FALSE(log.lines().empty());
}

std::string Payload(int n) { return "entry " + std::to_string(n) + std::string(100, 'x'); }

// Reads every entry from the cursor on.
std::vector<std::string> Pending(Spool& spool) {
    std::vector<std::string> out;
    Spool::Position at = spool.Cursor();
    std::string payload;
    while (spool.Next(at, payload)) out.push_back(payload);
    return out;
}

TEST(PublishSpoolTest, EntriesStayInOrderUntilAcknowledgedAcrossReopening) {
    TempDir dir;
    Spool::Position third;
    {
        Spool spool;
        ASSERT_TRUE(spool.Open(dir / "spool", 1 << 20));
        for (int n = 0; n < 5; ++n) ASSERT_EQ(spool.Add(Payload(n)), Spool::Added::kAdded);
        Spool::Position at = spool.Cursor();
        std::string payload;
        for (int n = 0; n < 2; ++n) ASSERT_TRUE(spool.Next(at, payload));
        third = at;
        spool.Acknowledge(at);
        spool.Sync();
    }
    Spool spool;
    ASSERT_TRUE(spool.Open(dir / "spool", 1 << 20));
    EXPECT_EQ(spool.Cursor(), third);
    EXPECT_EQ(Pending(spool), (std::vector<std::string>{Payload(2), Payload(3), Payload(4)}));
}

TEST(PublishSpoolTest, TornEndIsCutAndCapacityHolds) {
    TempDir dir;
    {
        Spool spool;
        ASSERT_TRUE(spool.Open(dir / "spool", 1 << 20));
        ASSERT_EQ(spool.Add(Payload(0)), Spool::Added::kAdded);
        ASSERT_EQ(spool.Add(Payload(1)), Spool::Added::kAdded);
    }
    const std::string segment = dir / "spool/00000001.seg";
    const std::string whole = test::ReadFile(segment);
    // A process killed while writing leaves the rest of the segment's
    // reservation behind: zeros, cut without a word.
    test::WriteFile(segment, whole + std::string(5000, '\0'));
    {
        test::LogRecorder log;
        Spool spool;
        ASSERT_TRUE(spool.Open(dir / "spool", 1 << 20));
        EXPECT_EQ(Pending(spool), (std::vector<std::string>{Payload(0), Payload(1)}));
        EXPECT_EQ(log.Text().find("unfinished entry"), std::string::npos) << log.Text();
    }
    EXPECT_EQ(test::ReadFile(segment), whole);
    // A process killed inside its copy left half an entry behind.
    test::WriteFile(segment, whole + whole.substr(0, 40) + std::string(100, '\0'));
    {
        test::LogRecorder log;
        Spool spool;
        ASSERT_TRUE(spool.Open(dir / "spool", 1 << 20));
        EXPECT_EQ(Pending(spool), (std::vector<std::string>{Payload(0), Payload(1)}));
        EXPECT_NE(log.Text().find("40 bytes of an unfinished entry cut"), std::string::npos);
        ASSERT_EQ(spool.Add(Payload(2)), Spool::Added::kAdded);
        EXPECT_EQ(Pending(spool).back(), Payload(2));
    }
    // Capacity: entries of 12 + 109 bytes; the spool never holds more.
    TempDir small;
    Spool spool;
    const uint64_t capacity = 100 * 1024;
    ASSERT_TRUE(spool.Open(small / "spool", capacity));
    int added = 0;
    while (spool.Add(Payload(added)) == Spool::Added::kAdded) ++added;
    EXPECT_LE(spool.Bytes(), capacity);
    EXPECT_GT(spool.Bytes() + Spool::kEntryHeaderSize + Payload(added).size(), capacity);
    // Acknowledged whole segments leave the disk, and make room.
    Spool::Position at = spool.Cursor();
    std::string payload;
    while (spool.Next(at, payload)) {
    }
    spool.Acknowledge(at);
    EXPECT_EQ(spool.Unacknowledged(), 0u);
    EXPECT_EQ(spool.Add(Payload(0)), Spool::Added::kAdded);
    spool.Acknowledge(spool.Cursor());
    EXPECT_LT(spool.Bytes(), capacity / 4);
}

}  // namespace
}  // namespace morvane
