// The JSON writer: string escapes (bytes that are not UTF-8 included),
// numbers and the separators of nested documents.
#include "convert/json_writer.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

namespace morvane {
namespace {

struct StringCase {
    std::string text;
    const char* json;
};

const StringCase kStringCases[] = {
    {"", R"("")"},
    {"PosRec", R"("PosRec")"},
    {"a\"b\\c/d", R"("a\"b\\c/d")"},
    {std::string("\0\x01\n\t\x1f\x7f", 6), R"("\u0000\u0001\u000a\u0009\u001f)" "\x7f\""},
    {"\xc3\xa9t\xc3\xa9", "\"\xc3\xa9t\xc3\xa9\""},                 // é: two bytes kept
    {"\xe2\x82\xac", "\"\xe2\x82\xac\""},                           // €: three
    {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},                   // U+1F600: four
    {"\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},                   // U+10FFFF, the last
    {"\xef\xbf\xbf", "\"\xef\xbf\xbf\""},                           // U+FFFF
    {"\xde\xad\xbe\xef", "\"\xde\xad\\u00be\\u00ef\""},  // U+07AD, then two bad bytes
    {"\x80", R"("\u0080")"},                                         // stray continuation
    {"\xc3", R"("\u00c3")"},                                         // cut short at the end
    {"\xc3x", R"("\u00c3x")"},                                       // cut short by ASCII
    {"\xe2\x82", R"("\u00e2\u0082")"},                               // three bytes cut short
    {"\xc0\xaf", R"("\u00c0\u00af")"},                               // overlong '/'
    {"\xe0\x80\xaf", R"("\u00e0\u0080\u00af")"},                     // overlong, three bytes
    {"\xf0\x80\x80\xaf", R"("\u00f0\u0080\u0080\u00af")"},           // overlong, four bytes
    {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},                     // a surrogate
    {"\xf4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},           // above U+10FFFF
    {"\xf5\x80\x80\x80", R"("\u00f5\u0080\u0080\u0080")"},
    {"\xff\xc3\xa9", "\"\\u00ff\xc3\xa9\""},                         // bad byte, then é
};

TEST(JsonWriter, StringLiterals) {
    for (const StringCase& c : kStringCases) {
        std::string out;
        AppendJsonString(c.text, &out);
        EXPECT_EQ(out, c.json);
    }
}

// The literal read back with encoding validation: false when it is not
// valid UTF-8 JSON.
bool ReadBack(const std::string& json, std::string* text) {
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(json.c_str(), json.size());
    if (doc.HasParseError() || !doc.IsString()) {
        ADD_FAILURE() << rapidjson::GetParseError_En(doc.GetParseError()) << " at "
                      << doc.GetErrorOffset() << " in " << json;
        return false;
    }
    text->assign(doc.GetString(), doc.GetStringLength());
    return true;
}

// Whatever the bytes, the literal is valid UTF-8 JSON; text that is UTF-8
// already reads back as it was.
TEST(JsonWriter, AnyBytesGiveValidUtf8) {
    std::mt19937 random(20);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (char& c : bytes) c = static_cast<char>(random() % 3 == 0 ? random() % 0x80 : 0x80 + random() % 0x80);
        std::string json, back;
        AppendJsonString(bytes, &json);
        ASSERT_TRUE(ReadBack(json, &back));

        std::string text;
        for (int i = random() % 6; i > 0; --i) {
            uint32_t cp = random() % 0x110000;
            if (cp >= 0xD800 && cp < 0xE000) cp = '?';
            if (cp < 0x80) {
                text += static_cast<char>(cp);
            } else if (cp < 0x800) {
                text += static_cast<char>(0xC0 | cp >> 6);
                text += static_cast<char>(0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                text += static_cast<char>(0xE0 | cp >> 12);
                text += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
                text += static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                text += static_cast<char>(0xF0 | cp >> 18);
                text += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
                text += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
                text += static_cast<char>(0x80 | (cp & 0x3F));
            }
        }
        json.clear();
        AppendJsonString(text, &json);
        ASSERT_TRUE(ReadBack(json, &back));
        EXPECT_EQ(back, text);
    }
}

struct NumberCase {
    double value;
    bool asFloat;
    const char* json;
};

const NumberCase kNumberCases[] = {
    {0.1, false, "0.1"},
    {0.1f, true, "0.1"},
    {1e-10, false, "1e-10"},
    {5e20, false, "5e+20"},
    {3.0, false, "3"},
    {-0.0, false, "-0"},
    {3.141592653589793, false, "3.141592653589793"},
    {std::numeric_limits<double>::max(), false, "1.7976931348623157e+308"},
    {std::numeric_limits<double>::denorm_min(), false, "5e-324"},
    {std::numeric_limits<float>::denorm_min(), true, "1e-45"},
    {std::numeric_limits<float>::max(), true, "3.4028235e+38"},
    {16777217.0, false, "16777217"},
    {std::numeric_limits<double>::infinity(), false, "null"},
    {-std::numeric_limits<float>::infinity(), true, "null"},
    {std::nan(""), false, "null"},
};

TEST(JsonWriter, Numbers) {
    for (const NumberCase& c : kNumberCases) {
        std::string out;
        if (c.asFloat) {
            AppendJsonFloat(static_cast<float>(c.value), &out);
        } else {
            AppendJsonDouble(c.value, &out);
        }
        EXPECT_EQ(out, c.json) << c.value;
    }
    std::string out;
    AppendJsonInteger(std::numeric_limits<int64_t>::min(), &out);
    out += ' ';
    AppendJsonUnsigned(std::numeric_limits<uint64_t>::max(), &out);
    out += ' ';
    AppendJsonInteger(-1, &out);
    EXPECT_EQ(out, "-9223372036854775808 18446744073709551615 -1");
}

TEST(JsonWriter, NestedDocuments) {
    struct Doc {
        JsonWriter::Style style;
        void (*write)(JsonWriter&);
        const char* json;
    };
    const Doc docs[] = {
        {JsonWriter::kSpaced, [](JsonWriter& w) { w.BeginObject().EndObject(); }, "{}"},
        {JsonWriter::kCompact, [](JsonWriter& w) { w.BeginArray().EndArray(); }, "[]"},
        {JsonWriter::kSpaced,
         [](JsonWriter& w) {
             w.BeginObject().Key("name").String("PosRec").Key("id").Integer(7);
             w.Key("pos").BeginArray().BeginObject().Key("x").Integer(1).EndObject();
             w.BeginObject().EndObject().BeginArray().EndArray().Null().EndArray();
             w.Key("ok").Bool(true).Key("r").RawValue("{\"a\":1}").EndObject();
         },
         R"({"name": "PosRec", "id": 7, "pos": [{"x": 1}, {}, [], null], "ok": true, "r": {"a":1}})"},
        {JsonWriter::kCompact,
         [](JsonWriter& w) {
             w.BeginObject().Key("a").BeginArray().Unsigned(1).Double(0.5).Float(2.5f).EndArray();
             w.Key("b").BeginObject().Key("c").BeginObject().EndObject().EndObject().EndObject();
         },
         R"({"a":[1,0.5,2.5],"b":{"c":{}}})"},
        // the line breaks of morvanec layout --json
        {JsonWriter::kSpaced,
         [](JsonWriter& w) {
             w.BeginObject().Key("n").Integer(1).Key("f").BeginArray();
             w.Break("\n  ").BeginObject().Key("p").String("x").EndObject();
             w.Break("\n  ").BeginObject().Key("p").String("y").EndObject();
             w.Whitespace("\n").EndArray().Break("\n ").Key("z").Integer(2).EndObject();
         },
         "{\"n\": 1, \"f\": [\n  {\"p\": \"x\"},\n  {\"p\": \"y\"}\n],\n \"z\": 2}"},
    };
    for (const Doc& d : docs) {
        std::string out;
        JsonWriter w(&out, d.style);
        d.write(w);
        EXPECT_TRUE(w.Closed());
        EXPECT_EQ(out, d.json);
    }
}

}  // namespace
}  // namespace morvane
