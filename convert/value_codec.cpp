#include "convert/value_codec.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace morvane {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The magnitude of an optionally signed number after leading blanks, in
// the given base; overflow is set when it does not fit 64 bits.
struct Scanned {
    uint64_t magnitude = 0;
    bool negative = false;
    bool overflow = false;
};

template <int kBase>
int DigitOf(char c) {
    if constexpr (kBase == 10) {
        return c >= '0' && c <= '9' ? c - '0' : -1;
    } else {
        return HexDigit(c);
    }
}

template <int kBase>
Scanned Scan(const char* p) {
    Scanned s;
    while (IsBlank(*p)) ++p;
    if (*p == '+' || *p == '-') s.negative = *p++ == '-';
    if (kBase == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
    for (int d; (d = DigitOf<kBase>(*p)) >= 0; ++p) {
        if (s.overflow) continue;
        if (__builtin_mul_overflow(s.magnitude, static_cast<uint64_t>(kBase), &s.magnitude) ||
            __builtin_add_overflow(s.magnitude, static_cast<uint64_t>(d), &s.magnitude)) {
            s.overflow = true;
            s.magnitude = std::numeric_limits<uint64_t>::max();
        }
    }
    return s;
}

// strtod, with from_chars's faster conversion wherever it reads exactly
// what strtod would: not after blanks or '+', not for hexadecimal or
// out-of-range texts.
double ParseDouble(const char* text) {
    const char* p = text + (text[0] == '-');
    if ((*p >= '0' && *p <= '9') || *p == '.') {
        double value;
        const char* end = text + std::strlen(text);
        auto r = std::from_chars(text, end, value);
        if (r.ec == std::errc() && *r.ptr != 'x' && *r.ptr != 'X') return value;
    }
    return std::strtod(text, nullptr);
}

// strtoull's result for a scanned number.
uint64_t AsUnsigned(const Scanned& s) {
    if (s.overflow) return std::numeric_limits<uint64_t>::max();
    return s.negative ? 0 - s.magnitude : s.magnitude;
}

template <class T>
void Put(uint8_t* dest, T value) {
    std::memcpy(dest, &value, sizeof value);
}

template <class T>
T Get(const uint8_t* src) {
    T value;
    std::memcpy(&value, src, sizeof value);
    return value;
}

template <class T>
size_t Decimal(char* out, T value) {
    auto r = std::to_chars(out, out + kValueTextSize - 1, value);
    *r.ptr = '\0';
    return static_cast<size_t>(r.ptr - out);
}

// "%f": the same text as printf's, including "inf", "-nan" and the full
// digits of large magnitudes.
size_t Fixed(char* out, double value) {
    auto r = std::to_chars(out, out + kValueTextSize - 1, value, std::chars_format::fixed, 6);
    *r.ptr = '\0';
    return static_cast<size_t>(r.ptr - out);
}

}  // namespace

int64_t ParseInt64(const char* text) {
    Scanned s = Scan<10>(text);
    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (s.negative) {
        if (s.overflow || s.magnitude > kLimit + 1) return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(0 - s.magnitude);
    }
    if (s.overflow || s.magnitude > kLimit) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(s.magnitude);
}

uint64_t ParseUnsigned64(const char* text) { return AsUnsigned(Scan<10>(text)); }

int32_t ParseInt32(const char* text) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ParseInt64(text))));
}

uint8_t CharFromText(const char* text) {
    if (text[0] != '0' || text[1] != 'x') return 0;
    // What follows is read like scanf's %X: blanks, a sign and a second
    // "0x" are allowed, and the result is kept as an unsigned int.
    auto value = static_cast<int32_t>(static_cast<uint32_t>(AsUnsigned(Scan<16>(text + 2))));
    return value > 255 ? 0 : static_cast<uint8_t>(value);
}

void StoreValueText(UnitType kind, const char* text, uint8_t* dest) {
    switch (kind) {
        case kTypeChar:
            *dest = CharFromText(text);
            break;
        case kTypeInt:
        case kTypeUnsigned:
        case kTypeItemEnum:
            Put(dest, ParseInt32(text));
            break;
        case kTypeInt16:
        case kTypeUnsigned16:
            Put(dest, static_cast<uint16_t>(ParseInt32(text)));
            break;
        case kTypeInt64:
            Put(dest, ParseInt64(text));
            break;
        case kTypeUnsigned64:
            Put(dest, ParseUnsigned64(text));
            break;
        case kTypeFloat:
            Put(dest, static_cast<float>(ParseDouble(text)));
            break;
        case kTypeDouble:
            Put(dest, ParseDouble(text));
            break;
        case kTypeBool:
            Put(dest, static_cast<int32_t>(ParseInt32(text) != 0 ? 1 : 0));
            break;
        default:  // kinds without bytes
            break;
    }
}

size_t FormatValue(UnitType kind, const uint8_t* src, char* out) {
    switch (kind) {
        case kTypeChar: {
            static const char kHex[] = "0123456789ABCDEF";
            uint8_t c = *src;
            size_t n = 0;
            out[n++] = '0';
            out[n++] = 'x';
            if (c >= 16) out[n++] = kHex[c >> 4];
            out[n++] = kHex[c & 15];
            out[n] = '\0';
            return n;
        }
        // unsigned keeps printing its 32-bit pattern as a signed number, so
        // that data files written earlier read back the same.
        case kTypeInt:
        case kTypeUnsigned:
        case kTypeItemEnum:
            return Decimal(out, Get<int32_t>(src));
        case kTypeInt16:
            return Decimal(out, Get<int16_t>(src));
        case kTypeUnsigned16:
            return Decimal(out, Get<uint16_t>(src));
        case kTypeInt64:
            return Decimal(out, Get<int64_t>(src));
        case kTypeUnsigned64:
            return Decimal(out, Get<uint64_t>(src));
        case kTypeFloat:
            return Fixed(out, static_cast<double>(Get<float>(src)));
        case kTypeDouble:
            return Fixed(out, Get<double>(src));
        case kTypeBool:
            return Decimal(out, static_cast<int>(src[0]));
        default:  // kinds without bytes
            break;
    }
    out[0] = '\0';
    return 0;
}

}  // namespace morvane
