// The conversion tables of value texts to packed bytes and back.
#include "convert/value_codec.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert_test_util.h"

namespace morvane {
namespace {

using test::Hex;

struct StoreCase {
    UnitType kind;
    const char* text;
    const char* bytes;  // the TypeSize(kind) bytes stored, as hex
};

const StoreCase kStoreCases[] = {
    // char: "0x" and hexadecimal digits; above 255 or without "0x" gives 0
    {kTypeChar, "0x41", "41"},
    {kTypeChar, "0xff", "ff"},
    {kTypeChar, "0xFF", "ff"},
    {kTypeChar, "0x5", "05"},
    {kTypeChar, "0x100", "00"},
    {kTypeChar, "65", "00"},
    {kTypeChar, "A", "00"},
    {kTypeChar, "0X41", "00"},
    {kTypeChar, " 0x41", "00"},
    {kTypeChar, "0x", "00"},
    {kTypeChar, "0xzz", "00"},
    {kTypeChar, "0x41zz", "41"},
    {kTypeChar, "0xFFFFFFFF", "ff"},  // -1 as a signed number: not above 255
    {kTypeChar, "0x80000041", "41"},  // negative as well: the low byte
    {kTypeChar, "0x1FFFFFFFFFFFFFFFF", "ff"},
    // int: blanks, sign, digits up to the first other character
    {kTypeInt, "42", "2a 00 00 00"},
    {kTypeInt, "  -17", "ef ff ff ff"},
    {kTypeInt, "+5", "05 00 00 00"},
    {kTypeInt, "12abc", "0c 00 00 00"},
    {kTypeInt, "abc", "00 00 00 00"},
    {kTypeInt, "- 5", "00 00 00 00"},
    {kTypeInt, "2147483647", "ff ff ff 7f"},
    {kTypeInt, "-2147483648", "00 00 00 80"},
    {kTypeInt, "4294967295", "ff ff ff ff"},  // the low 32 bits
    // int16 and unsigned16: the low 16 bits
    {kTypeInt16, "-7", "f9 ff"},
    {kTypeInt16, "70000", "70 11"},
    {kTypeUnsigned16, "65535", "ff ff"},
    {kTypeUnsigned16, "65536", "00 00"},
    {kTypeUnsigned16, "-1", "ff ff"},
    // unsigned: the 32-bit pattern
    {kTypeUnsigned, "-1", "ff ff ff ff"},
    {kTypeUnsigned, "4294967295", "ff ff ff ff"},
    {kTypeUnsigned, "1", "01 00 00 00"},
    // int64 and unsigned64: all 64 bits
    {kTypeInt64, "1234567890123", "cb 04 fb 71 1f 01 00 00"},
    {kTypeInt64, "-1", "ff ff ff ff ff ff ff ff"},
    {kTypeInt64, "-2", "fe ff ff ff ff ff ff ff"},
    {kTypeInt64, "9223372036854775807", "ff ff ff ff ff ff ff 7f"},
    {kTypeInt64, "-9223372036854775808", "00 00 00 00 00 00 00 80"},
    {kTypeInt64, "99999999999999999999", "ff ff ff ff ff ff ff 7f"},
    {kTypeInt64, "-99999999999999999999", "00 00 00 00 00 00 00 80"},
    {kTypeUnsigned64, "-1", "ff ff ff ff ff ff ff ff"},
    {kTypeUnsigned64, "-5", "fb ff ff ff ff ff ff ff"},
    {kTypeUnsigned64, "18446744073709551615", "ff ff ff ff ff ff ff ff"},
    {kTypeUnsigned64, "18446744073709551616", "ff ff ff ff ff ff ff ff"},
    {kTypeUnsigned64, "4294967296", "00 00 00 00 01 00 00 00"},
    {kTypeUnsigned64, "x", "00 00 00 00 00 00 00 00"},
    // float and double
    {kTypeFloat, "1.5", "00 00 c0 3f"},
    {kTypeFloat, "-3.250000", "00 00 50 c0"},
    {kTypeFloat, "0.1", "cd cc cc 3d"},
    {kTypeFloat, "1.5e0", "00 00 c0 3f"},
    {kTypeFloat, "abc", "00 00 00 00"},
    {kTypeDouble, "2.5", "00 00 00 00 00 00 04 40"},
    {kTypeDouble, " -1e-3", "fc a9 f1 d2 4d 62 50 bf"},
    // NaN texts keep every bit, the signalling ones unquieted
    {kTypeFloat, "nan", "00 00 c0 7f"},
    {kTypeFloat, "-nan", "00 00 c0 ff"},
    {kTypeFloat, "snan(0x1)", "01 00 80 7f"},
    {kTypeFloat, "-nan(0x2a)", "2a 00 c0 ff"},
    {kTypeFloat, " nan(0x3FFFFF)", "ff ff ff 7f"},
    {kTypeFloat, "-snan(0x3FFFFF)", "ff ff bf ff"},
    {kTypeFloat, "nan(0x0)", "00 00 c0 7f"},
    {kTypeFloat, "snan(0x0)", "00 00 00 00"},  // no NaN: read as the C library reads it
    {kTypeDouble, "nan", "00 00 00 00 00 00 f8 7f"},
    {kTypeDouble, "snan(0x8)", "08 00 00 00 00 00 f0 7f"},
    {kTypeDouble, "-snan(0x7FFFFFFFFFFFF)", "ff ff ff ff ff ff f7 ff"},
    {kTypeDouble, "nan(0xDEADBEEF)", "ef be ad de 00 00 f8 7f"},
    // bool: nonzero stores 1, as a 4-byte value
    {kTypeBool, "2", "01 00 00 00"},
    {kTypeBool, "-1", "01 00 00 00"},
    {kTypeBool, "0", "00 00 00 00"},
    {kTypeBool, "yes", "00 00 00 00"},
    // item_enum: the enumerator's id, not its name
    {kTypeItemEnum, "7", "07 00 00 00"},
    {kTypeItemEnum, "ON", "00 00 00 00"},
};

class StoreValueTextTest : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreValueTextTest, StoresTheKindsBytesOnly) {
    const StoreCase& c = GetParam();
    uint8_t bytes[16];
    std::memset(bytes, 0xEE, sizeof bytes);
    StoreValueText(c.kind, c.text, bytes);
    size_t size = static_cast<size_t>(TypeSize(c.kind));
    EXPECT_EQ(Hex(bytes, size), c.bytes) << SchemaTypeName(c.kind) << " \"" << c.text << "\"";
    for (size_t i = size; i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], 0xEE) << "byte " << i;
}

template <class Case>
std::string KindAndIndex(const testing::TestParamInfo<Case>& info) {
    return std::string(SchemaTypeName(info.param.kind)) + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Table, StoreValueTextTest, testing::ValuesIn(kStoreCases),
                         KindAndIndex<StoreCase>);

TEST(StoreValueText, KindsWithoutBytesStoreNothing) {
    for (UnitType kind : {kTypeText, kTypeStructure, kTypeTemplate, kTypeEnum, kTypeUndefined}) {
        uint8_t bytes[8];
        std::memset(bytes, 0xEE, sizeof bytes);
        StoreValueText(kind, "123", bytes);
        EXPECT_EQ(Hex(bytes, sizeof bytes), "ee ee ee ee ee ee ee ee") << SchemaTypeName(kind);
    }
}

struct FormatCase {
    UnitType kind;
    std::vector<uint8_t> bytes;
    const char* text;
};

const FormatCase kFormatCases[] = {
    {kTypeChar, {0x00}, "0x0"},
    {kTypeChar, {0x05}, "0x5"},
    {kTypeChar, {0x41}, "0x41"},
    {kTypeChar, {0xAB}, "0xAB"},
    {kTypeChar, {0xFF}, "0xFF"},
    {kTypeInt, {0xEF, 0xFF, 0xFF, 0xFF}, "-17"},
    {kTypeInt, {0x00, 0x00, 0x00, 0x80}, "-2147483648"},
    {kTypeInt16, {0xF9, 0xFF}, "-7"},
    {kTypeUnsigned16, {0xFF, 0xFF}, "65535"},
    {kTypeUnsigned, {0xFF, 0xFF, 0xFF, 0xFF}, "-1"},  // the pattern as a signed number
    {kTypeUnsigned, {0x2A, 0x00, 0x00, 0x00}, "42"},
    {kTypeInt64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
    {kTypeInt64, {0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}, "4294967301"},
    {kTypeInt64, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, "-9223372036854775808"},
    {kTypeUnsigned64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "18446744073709551615"},
    {kTypeUnsigned64, {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}, "4294967296"},
    {kTypeFloat, {0x00, 0x00, 0xC0, 0x3F}, "1.500000"},
    {kTypeFloat, {0x00, 0x00, 0x00, 0x00}, "0.000000"},
    {kTypeDouble, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x40}, "2.500000"},
    // the plain quiet NaNs keep "%f"'s text, the others their payload
    {kTypeFloat, {0x00, 0x00, 0xC0, 0x7F}, "nan"},
    {kTypeFloat, {0x00, 0x00, 0xC0, 0xFF}, "-nan"},
    {kTypeFloat, {0x01, 0x00, 0x80, 0x7F}, "snan(0x1)"},
    {kTypeFloat, {0x2A, 0x00, 0xC0, 0xFF}, "-nan(0x2A)"},
    {kTypeFloat, {0xFF, 0xFF, 0xBF, 0xFF}, "-snan(0x3FFFFF)"},
    {kTypeDouble, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x7F}, "nan"},
    {kTypeDouble, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0xFF}, "-nan"},
    {kTypeDouble, {0xEF, 0xBE, 0xAD, 0xDE, 0x00, 0x00, 0xF8, 0x7F}, "nan(0xDEADBEEF)"},
    {kTypeDouble, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF7, 0xFF}, "-snan(0x7FFFFFFFFFFFF)"},
    {kTypeDouble, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x7F}, "snan(0x1)"},
    {kTypeBool, {0x01, 0x00, 0x00, 0x00}, "1"},
    {kTypeBool, {0x00, 0x01, 0x00, 0x00}, "0"},  // the first byte only
    {kTypeBool, {0xFF, 0xFF, 0x00, 0x00}, "255"},
    {kTypeItemEnum, {0x09, 0x00, 0x00, 0x00}, "9"},
    {kTypeText, {}, ""},
};

class FormatValueTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatValueTest, WritesTheTableText) {
    const FormatCase& c = GetParam();
    ASSERT_EQ(c.bytes.size(), static_cast<size_t>(TypeSize(c.kind)));
    uint8_t bytes[8] = {};
    if (!c.bytes.empty()) std::memcpy(bytes, c.bytes.data(), c.bytes.size());
    char text[kValueTextSize];
    std::memset(text, 'Z', sizeof text);
    size_t n = FormatValue(c.kind, bytes, text);
    EXPECT_STREQ(text, c.text) << SchemaTypeName(c.kind);
    EXPECT_EQ(n, std::strlen(c.text));
}

INSTANTIATE_TEST_SUITE_P(Table, FormatValueTest, testing::ValuesIn(kFormatCases),
                         KindAndIndex<FormatCase>);

// Floating-point values keep printf's "%f" text wherever it reads back as
// the same value, also where the text is far longer than 51 characters;
// any other value is written in the shortest text that reads back exactly.
template <class T>
std::string Written(T value) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof value);
    char text[kValueTextSize];
    size_t n = FormatValue(sizeof(T) == 4 ? kTypeFloat : kTypeDouble, bytes, text);
    EXPECT_EQ(n, std::strlen(text));
    return text;
}

TEST(FormatValue, FloatingPointKeepsPrintfOrElseShortestExactText) {
    const auto printfF = [](double value) {
        char text[400];
        std::snprintf(text, sizeof text, "%f", value);
        return std::string(text);
    };
    const double doubles[] = {0.1,     -0.0,      1e43,     -1e43,    1e300,  DBL_MAX,
                              -DBL_MAX, HUGE_VAL, -HUGE_VAL, NAN,     -NAN,   2.5,
                              -500.25, 123456.000001, 1073741823.999999, 1e15 + 0.5};
    for (double d : doubles) EXPECT_EQ(Written(d), printfF(d));
    const float floats[] = {FLT_MAX, -FLT_MAX, -2.5e38f, 0.1f, 1.5f, 1e7f, 0.25f};
    for (float f : floats) EXPECT_EQ(Written(f), printfF(static_cast<double>(f)));
    const std::pair<double, const char*> shortest[] = {
        {1e-10, "1e-10"}, {3.141592653589793, "3.141592653589793"},
        {123456.0000005, "123456.0000005"}, {0.5e-6, "5e-07"},
        {DBL_MIN, "2.2250738585072014e-308"}, {5e-324, "5e-324"},
        {1073741824.0000002, "1073741824.0000002"}};
    for (const auto& [d, text] : shortest) EXPECT_EQ(Written(d), text);
    const std::pair<float, const char*> shortestFloats[] = {
        {3.14159265f, "3.1415927"}, {1e-45f, "1e-45"}, {1.0f / 3, "0.33333334"}, {1e-7f, "1e-07"}};
    for (const auto& [f, text] : shortestFloats) EXPECT_EQ(Written(f), text);
    // The longest text of all fits the value text.
    EXPECT_EQ(Written(-DBL_MAX).size(), kValueTextSize - 3);
}

// Values of everyday magnitudes, many of them exact in six decimals and
// some at an exact tie of the sixth: the text is printf's "%f" where that
// reads back as the same value, else the shortest exact one.
template <class T>
std::string PrintfOrShortest(T value) {
    char text[400];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    T back;
    auto r = std::from_chars(text, text + std::strlen(text), back);
    if (r.ec == std::errc() && back == value) return text;
    *std::to_chars(text, text + sizeof text, value).ptr = '\0';
    return text;
}

TEST(FormatValue, FloatingPointAgreesWithPrintfOrShortestAtEverydayMagnitudes) {
    std::mt19937_64 random(20261210);
    for (int i = 0; i < 100000 && !HasFailure(); ++i) {
        const uint64_t r = random();
        const double sign = r & 1 ? -1.0 : 1.0;
        // Six-decimal values up to 2^31, their neighbours, and random bits.
        const double sixths = sign * static_cast<double>(r >> 20) / 1e6;
        const double doubles[] = {sixths, std::nextafter(sixths, 0.0),
                                  std::nextafter(sixths, 1e300),
                                  sign * std::ldexp(static_cast<double>(r >> 11), -60 + i % 90)};
        for (double d : doubles) ASSERT_EQ(Written(d), PrintfOrShortest(d)) << d;
        // Floats with up to seven bits below the point include exact ties.
        const float tie =
            static_cast<float>(sign * std::ldexp(static_cast<double>(r >> 40), -(i % 8)));
        const float floats[] = {
            static_cast<float>(sixths), tie,
            static_cast<float>(std::ldexp(static_cast<double>(r >> 40), -30 + i % 60)),
            std::nextafter(tie, 0.0f)};
        for (float f : floats) ASSERT_EQ(Written(f), PrintfOrShortest(f)) << f;
    }
    EXPECT_EQ(Written(65535.0078125f), "65535.007812");  // a tie rounds to even
    EXPECT_EQ(Written(-0.0f), "-0.000000");
    EXPECT_EQ(Written(1073741823.999999), "1073741823.999999");
}

// Integer texts of the writer's form at the edges of their widths, and
// texts it never writes.
TEST(ReadWrittenValue, IntegersOfTheWritersFormOnly) {
    struct Row {
        UnitType kind;
        const char* text;
        bool taken;
        uint64_t bits;  // the stored bytes, when taken
    };
    const Row rows[] = {
        {kTypeUnsigned64, "18446744073709551615", true, ~0ull},
        {kTypeUnsigned64, "18446744073709551616", false, 0},
        {kTypeUnsigned64, "99999999999999999999", false, 0},
        {kTypeUnsigned64, "100000000000000000000", false, 0},
        {kTypeUnsigned64, "-1", false, 0},
        {kTypeInt64, "-9223372036854775808", true, 1ull << 63},
        {kTypeInt64, "-9223372036854775809", false, 0},
        {kTypeInt64, "9223372036854775807", true, (1ull << 63) - 1},
        {kTypeInt64, "9223372036854775808", false, 0},
        {kTypeInt, "-2147483648", true, 0x80000000u},
        {kTypeInt, "2147483648", false, 0},
        {kTypeUnsigned, "4294967295", true, 0xFFFFFFFFu},
        {kTypeUnsigned, "-2147483648", true, 0x80000000u},
        {kTypeInt16, "-32768", true, 0x8000u},
        {kTypeUnsigned16, "65536", false, 0},
        {kTypeBool, "7", true, 1},
        {kTypeInt, "0", true, 0},
        {kTypeInt, "00", false, 0},
        {kTypeInt, "-0", false, 0},
        {kTypeInt, "012", false, 0},
        {kTypeInt, "1a", false, 0},
        {kTypeInt, "", false, 0},
        {kTypeInt, "-", false, 0},
        {kTypeChar, "0xA", true, 10},
        {kTypeChar, "0xff", true, 255},
        {kTypeChar, "0x100", false, 0},
    };
    for (const Row& row : rows) {
        uint8_t bytes[8] = {};
        const char* end = row.text + std::strlen(row.text);
        EXPECT_EQ(ReadWrittenValue(row.kind, row.text, end, bytes), row.taken)
            << SchemaTypeName(row.kind) << " " << row.text;
        uint64_t bits = 0;
        std::memcpy(&bits, bytes, sizeof bits);
        EXPECT_EQ(bits, row.bits) << SchemaTypeName(row.kind) << " " << row.text;
    }
}

// "%f" texts of up to fifteen digits read as from_chars reads them, bit for
// bit, floats exactly halfway between two floats included.
TEST(ReadWrittenValue, SixDecimalTextsReadAsFromCharsReadsThem) {
    std::mt19937_64 random(20261211);
    std::vector<std::string> texts = {"16777217.000000", "-16777219.000000", "0.000000",
                                      "-0.000000",       "999999999.999999", "0.000001",
                                      "33554434.000000", "1.000000"};
    for (int i = 0; i < 100000; ++i) {
        const uint64_t r = random();
        const uint64_t digits = (r >> 4) % (i % 2 == 0 ? 1000000000000000ull : 100000000ull);
        char text[40];
        std::snprintf(text, sizeof text, "%s%llu.%06llu", r & 1 ? "-" : "",
                      static_cast<unsigned long long>(digits / 1000000),
                      static_cast<unsigned long long>(digits % 1000000));
        texts.push_back(text);
    }
    for (const std::string& t : texts) {
        const char* end = t.data() + t.size();
        double d = 1;
        float f = 1;
        ASSERT_EQ(std::from_chars(t.data(), end, d).ptr, end);
        ASSERT_EQ(std::from_chars(t.data(), end, f).ptr, end);
        uint8_t bytes[8] = {};
        ASSERT_TRUE(ReadWrittenValue(kTypeDouble, t.data(), end, bytes)) << t;
        ASSERT_EQ(Hex(bytes, 8), Hex(reinterpret_cast<const uint8_t*>(&d), 8)) << t;
        ASSERT_TRUE(ReadWrittenValue(kTypeFloat, t.data(), end, bytes)) << t;
        ASSERT_EQ(Hex(bytes, 4), Hex(reinterpret_cast<const uint8_t*>(&f), 4)) << t;
    }
}

// Every float and double pattern reads back as the bytes it was written
// from, every NaN included, in strict mode too.
template <class T, class Bits>
void ExpectReadsBack(Bits bits) {
    const UnitType kind = sizeof(T) == 4 ? kTypeFloat : kTypeDouble;
    char text[kValueTextSize];
    FormatValue(kind, reinterpret_cast<const uint8_t*>(&bits), text);
    Bits back = 0;
    StoreValueText(kind, text, reinterpret_cast<uint8_t*>(&back));
    ASSERT_EQ(back, bits) << text;
    Bits checked = 0;
    ASSERT_TRUE(ConvertFittingText(kind, text, reinterpret_cast<uint8_t*>(&checked))) << text;
    ASSERT_EQ(checked, bits) << text;
}

TEST(ValueCodec, FloatingValuesRoundTrip) {
    std::mt19937_64 random(20261209);
    for (int i = 0; i < 200000 && !HasFailure(); ++i) {
        uint64_t bits = random();
        // Mostly values of everyday magnitudes, where "%f" usually reads back.
        if (i % 2 == 0) bits = (bits & 0x800FFFFFFFFFFFFFull) | (static_cast<uint64_t>(1000 + i % 70) << 52);
        auto fbits = static_cast<uint32_t>(bits >> 32);
        if (i % 2 == 0) fbits = (fbits & 0x807FFFFFu) | (static_cast<uint32_t>(100 + i % 55) << 23);
        ExpectReadsBack<double>(bits);
        ExpectReadsBack<float>(fbits);
        // A NaN of every sign, quiet bit and payload width.
        const int width = i % 52;
        ExpectReadsBack<double>((bits & (0x8000000000000000ull | ((1ull << width) - 1) << (i % 3))) |
                                0x7FF0000000000000ull | (i % 5 == 0 ? 0 : 1));
        ExpectReadsBack<float>((fbits & (0x80000000u | ((1u << (i % 23)) - 1))) | 0x7F800000u |
                               (i % 5 == 0 ? 0 : 1));
    }
}

// Every integral pattern reads back as the bytes it was written from.
TEST(ValueCodec, IntegralValuesRoundTrip) {
    std::mt19937_64 random(20240611);
    for (UnitType kind : {kTypeChar, kTypeInt, kTypeInt16, kTypeInt64, kTypeUnsigned,
                          kTypeUnsigned16, kTypeUnsigned64, kTypeItemEnum}) {
        size_t size = static_cast<size_t>(TypeSize(kind));
        for (int i = 0; i < 2000; ++i) {
            uint64_t value = random();
            if (i < 3) value = i == 0 ? 0 : (i == 1 ? ~0ull : 1ull << 63);
            uint8_t in[8], out[8] = {};
            std::memcpy(in, &value, sizeof in);
            char text[kValueTextSize];
            FormatValue(kind, in, text);
            StoreValueText(kind, text, out);
            ASSERT_EQ(Hex(out, size), Hex(in, size)) << SchemaTypeName(kind) << " " << text;
        }
    }
}

TEST(ValueCodec, DecimalParsingFollowsTheCLibrary) {
    const char* texts[] = {"0",     "  12",  "\t-34x", "+",    "-",    "",
                           "1e5",   "007",   "\n9",    "--1",  "+-1",  "2147483648",
                           "-2147483649", "9223372036854775807", "9223372036854775808",
                           "-9223372036854775809", "18446744073709551615", "36893488147419103232",
                           "-18446744073709551615"};
    for (const char* t : texts) {
        EXPECT_EQ(ParseInt64(t), std::strtoll(t, nullptr, 10)) << '"' << t << '"';
        EXPECT_EQ(ParseUnsigned64(t), std::strtoull(t, nullptr, 10)) << '"' << t << '"';
        EXPECT_EQ(ParseInt32(t), static_cast<int32_t>(std::strtol(t, nullptr, 10))) << t;
    }
}

// Floating-point texts read as strtod (strtof for float) reads them, bit
// for bit: a float never rounds twice through a double.
TEST(ValueCodec, FloatingPointParsingFollowsStrtod) {
    const char* texts[] = {"3.141593",  "-0.0",    "1e308",     "1e309",   "-1e-400", "4.9e-324",
                           "  2.5",     "+2.5",    "0x1p4",     "0X10",    ".5",      "-.5e1",
                           "5.",        "1e",      "1.5e+",     "inf",     "-nan",    "Infinity",
                           "0.1f",      "12,5",    "",          "-",       ".",       "0x",
                           "123456789012345678901234567890", "2.2250738585072011e-308",
                           "1.000000059604644775390626"};
    for (const char* t : texts) {
        double expected = std::strtod(t, nullptr);
        uint8_t bytes[8];
        StoreValueText(kTypeDouble, t, bytes);
        EXPECT_EQ(Hex(bytes, 8), Hex(reinterpret_cast<const uint8_t*>(&expected), 8)) << t;
        float expectedFloat = std::strtof(t, nullptr);
        StoreValueText(kTypeFloat, t, bytes);
        EXPECT_EQ(Hex(bytes, 4), Hex(reinterpret_cast<const uint8_t*>(&expectedFloat), 4)) << t;
    }
}

}  // namespace
}  // namespace morvane
