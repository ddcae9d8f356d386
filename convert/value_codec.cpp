#include "convert/value_codec.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <limits>

namespace morvane {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c) { return written_value::Hex(c); }

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

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

// The bit layout of a float or double, for the NaN texts.
template <class T>
struct Layout;
template <>
struct Layout<float> {
    using Bits = uint32_t;
    static constexpr Bits kSign = 0x80000000u;
    static constexpr Bits kExponent = 0x7F800000u;
    static constexpr Bits kQuiet = 0x00400000u;
};
template <>
struct Layout<double> {
    using Bits = uint64_t;
    static constexpr Bits kSign = 0x8000000000000000ull;
    static constexpr Bits kExponent = 0x7FF0000000000000ull;
    static constexpr Bits kQuiet = 0x0008000000000000ull;
};

// The text of a NaN that "nan" would not give back: "nan(0xP)" for a quiet
// NaN with payload P (the fraction bits below the quiet bit), "snan(0xP)"
// for a signalling one (P the whole fraction, never 0), a '-' before either
// when the sign bit is set; P in upper-case hexadecimal digits. Returns 0,
// writing nothing, for the plain quiet NaNs, whose text stays "nan" or
// "-nan".
template <class T>
size_t NanText(T value, char* out) {
    using L = Layout<T>;
    typename L::Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    const typename L::Bits fraction = bits & ~(L::kSign | L::kExponent);
    const bool quiet = (fraction & L::kQuiet) != 0;
    const typename L::Bits payload = quiet ? fraction & ~L::kQuiet : fraction;
    if (quiet && payload == 0) return 0;
    char* p = out;
    if ((bits & L::kSign) != 0) *p++ = '-';
    if (!quiet) *p++ = 's';
    std::memcpy(p, "nan(0x", 6);
    p += 6;
    int shift = 0;
    while (shift + 4 < static_cast<int>(sizeof bits * 8) && (payload >> (shift + 4)) != 0) shift += 4;
    for (; shift >= 0; shift -= 4) *p++ = "0123456789ABCDEF"[(payload >> shift) & 15];
    *p++ = ')';
    *p = '\0';
    return static_cast<size_t>(p - out);
}

// Reads a NaN text of NanText's form (digits of either case, "nan(0x0)"
// being the plain quiet NaN) from p up to end into value, bit for bit,
// never through strtod, which would quiet a signalling NaN. Returns the end
// of the text read, or null when p holds no such text or its payload does
// not fit the fraction.
template <class T>
const char* ReadNanText(const char* p, const char* end, T& value) {
    using L = Layout<T>;
    typename L::Bits bits = L::kExponent;
    if (p < end && *p == '-') {
        bits |= L::kSign;
        ++p;
    }
    const bool signalling = p < end && *p == 's';
    p += signalling;
    if (end - p < 7 || std::memcmp(p, "nan(0x", 6) != 0) return nullptr;
    p += 6;
    typename L::Bits payload = 0;
    const char* digits = p;
    for (int d; p < end && (d = HexDigit(*p)) >= 0; ++p) {
        payload = payload << 4 | static_cast<typename L::Bits>(d);
        if (payload >= L::kQuiet) return nullptr;
    }
    if (p == digits || p == end || *p != ')') return nullptr;
    if (signalling && payload == 0) return nullptr;  // that would be an infinity
    bits |= signalling ? payload : payload | L::kQuiet;
    std::memcpy(&value, &bits, sizeof value);
    return p + 1;
}

// ReadNanText on a terminated text after leading blanks; the end of the
// NaN text or null.
template <class T>
const char* ReadNanText(const char* text, T& value) {
    const char* p = SkipBlanks(text);
    const char* q = p + (*p == '-');
    if (*q != 'n' && *q != 's') return nullptr;
    return ReadNanText(p, p + std::strlen(p), value);
}

// strtod (strtof for float), with from_chars's faster conversion wherever
// it reads exactly what strtod would: not after blanks or '+', not for
// hexadecimal or out-of-range texts. A float is read as a float, never
// through a double, so that no text rounds twice.
template <class T>
T ParseFloating(const char* text) {
    if (T nan; ReadNanText(text, nan) != nullptr) return nan;
    const char* p = text + (text[0] == '-');
    if ((*p >= '0' && *p <= '9') || *p == '.') {
        T value;
        const char* end = text + std::strlen(text);
        auto r = std::from_chars(text, end, value);
        if (r.ec == std::errc() && *r.ptr != 'x' && *r.ptr != 'X') return value;
    }
    if constexpr (sizeof(T) == sizeof(float)) {
        return std::strtof(text, nullptr);
    } else {
        return std::strtod(text, nullptr);
    }
}

// A decimal integer filling text (blanks around it aside) within [low, high];
// bits is its value modulo 2^64.
bool IntegerFits(const char* text, int64_t low, uint64_t high, uint64_t& bits) {
    const char* p = SkipBlanks(text);
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    if (DigitOf<10>(*p) < 0) return false;
    uint64_t magnitude = 0;
    for (; DigitOf<10>(*p) >= 0; ++p) {
        if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
            __builtin_add_overflow(magnitude, static_cast<uint64_t>(*p - '0'), &magnitude))
            return false;
    }
    if (*SkipBlanks(p) != '\0') return false;
    bits = negative ? 0 - magnitude : magnitude;
    if (!negative) return magnitude <= high;
    return low < 0 && magnitude <= static_cast<uint64_t>(-(low + 1)) + 1;
}

bool IntegerFits(const char* text, int64_t low, uint64_t high) {
    uint64_t bits;
    return IntegerFits(text, low, high, bits);
}

// A floating text that from_chars reads whole, as strtod would read it: a
// plain decimal number, perhaps with blanks after it. Others go the long
// way, which gives the same answers.
template <class T>
bool PlainFloatingFits(const char* text, T& value) {
    const char* p = text + (text[0] == '-');
    if (*p < '0' || *p > '9') return false;
    auto r = std::from_chars(text, text + std::strlen(text), value);
    return r.ec == std::errc() && *SkipBlanks(r.ptr) == '\0' && std::isfinite(value);
}

template <class T>
bool FloatingFits(const char* text) {
    T value;
    if (PlainFloatingFits(text, value)) return true;
    if (const char* end = ReadNanText(text, value)) return *SkipBlanks(end) == '\0';
    const char* p = SkipBlanks(text);
    // A NaN with a payload in any other form would not keep its bits.
    if (strncasecmp(p + (*p == '-' || *p == '+'), "nan(", 4) == 0) return false;
    char* end = nullptr;
    if constexpr (sizeof(T) == sizeof(float)) {
        value = std::strtof(p, &end);
    } else {
        value = std::strtod(p, &end);
    }
    if (end == p || *SkipBlanks(end) != '\0') return false;
    // Hexadecimal floating texts are the C library's, not ours.
    const char* digits = p + (*p == '-' || *p == '+');
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) return false;
    if (!std::isinf(value)) return true;
    return (digits[0] | 0x20) == 'i';  // "inf" itself, not an overflow
}

// Stores a plain floating text that fits T; false, storing nothing, for
// any other text.
template <class T>
bool PutPlainFloating(const char* text, uint8_t* dest) {
    T value;
    if (!PlainFloatingFits(text, value)) return false;
    std::memcpy(dest, &value, sizeof value);
    return true;
}

// strtoull's result for a scanned number.
uint64_t AsUnsigned(const Scanned& s) {
    if (s.overflow) return std::numeric_limits<uint64_t>::max();
    return s.negative ? 0 - s.magnitude : s.magnitude;
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

// Whether the "%f" text of value reads back as value, decided without any
// text below 2^30: m, value times 10^6 rounded, is the "%f" text's digits
// (the product is exact for a float, within 1/16 for a double, and a miss
// of the rounding only happens where no six-decimal text reads back
// anyway; at an exact tie both round to even), and that text reads back as
// m / 10^6 correctly rounded. A float is read back through a double only
// where that cannot round twice. kUndecided elsewhere; digits is m, its
// sign aside, when the text reads back.
enum class FixedBack { kYes, kNo, kUndecided };

// Whether a double of the normal float range lies exactly halfway between
// two floats, where rounding it to a float could differ from rounding the
// exact value once.
bool HalfwayBetweenFloats(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    constexpr uint64_t kBelowFloat = (uint64_t{1} << 29) - 1;  // bits a float drops
    return (bits & kBelowFloat) == uint64_t{1} << 28;
}

template <class T>
FixedBack FixedDigits(T value, uint64_t& digits) {
    constexpr double kScale = 1e6;
    const double v = static_cast<double>(value);
    const double magnitude = std::fabs(v);
    if (magnitude >= 0x1p30 || (sizeof(T) == sizeof(float) && magnitude < 0x1p-126 && v != 0))
        return FixedBack::kUndecided;
    const double scaled = std::nearbyint(v * kScale);
    const double back = scaled / kScale;
    bool same;
    if constexpr (sizeof(T) == sizeof(double)) {
        same = back == v;
    } else {
        if (HalfwayBetweenFloats(back)) return FixedBack::kUndecided;
        same = static_cast<float>(back) == value;
    }
    if (!same) return FixedBack::kNo;
    digits = static_cast<uint64_t>(std::fabs(scaled));
    return FixedBack::kYes;
}

// The "%f" text of a value whose digits (value times 10^6, below 2^53) are
// known: the same text as Fixed's, without the general formatter.
size_t SixDecimalText(char* out, bool negative, uint64_t digits) {
    char* p = out;
    if (negative) *p++ = '-';
    p = std::to_chars(p, p + 20, digits / 1000000).ptr;
    auto fraction = static_cast<uint32_t>(digits % 1000000);
    for (int i = 6; i > 0; --i) {
        p[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    p[0] = '.';
    p += 7;
    *p = '\0';
    return static_cast<size_t>(p - out);
}

template <class T>
bool FixedTextReadsBack(T value) {
    char text[kValueTextSize];
    size_t n = Fixed(text, static_cast<double>(value));
    T back;
    auto r = std::from_chars(text, text + n, back);
    return r.ec == std::errc() && back == value;
}

// The "%f" text when it reads back as the same value, which keeps the text
// of every value it renders exactly; otherwise the shortest text that reads
// back exactly (1e-10, 3.141592653589793), in exponent form where that is
// shorter. Infinities and the plain quiet NaNs keep "%f"'s text, every
// other NaN gets NanText's.
template <class T>
size_t Floating(char* out, T value) {
    if (std::isnan(value)) {
        if (size_t n = NanText(value, out)) return n;
    }
    if (!std::isfinite(value)) return Fixed(out, static_cast<double>(value));
    uint64_t digits = 0;
    switch (FixedDigits(value, digits)) {
        case FixedBack::kYes:
            return SixDecimalText(out, std::signbit(value), digits);
        case FixedBack::kUndecided:
            if (FixedTextReadsBack(value)) return Fixed(out, static_cast<double>(value));
            break;
        case FixedBack::kNo:
            break;
    }
    auto r = std::to_chars(out, out + kValueTextSize - 1, value);
    *r.ptr = '\0';
    return static_cast<size_t>(r.ptr - out);
}

}  // namespace

// to_chars without a format is the shortest text that reads back.
size_t FormatShortest(double value, char* out) {
    if (size_t n = std::isnan(value) ? NanText(value, out) : 0) return n;
    return Decimal(out, value);
}
size_t FormatShortest(float value, char* out) {
    if (size_t n = std::isnan(value) ? NanText(value, out) : 0) return n;
    return Decimal(out, value);
}

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
            StoreValue(dest, ParseInt32(text));
            break;
        case kTypeInt16:
        case kTypeUnsigned16:
            StoreValue(dest, static_cast<uint16_t>(ParseInt32(text)));
            break;
        case kTypeInt64:
            StoreValue(dest, ParseInt64(text));
            break;
        case kTypeUnsigned64:
            StoreValue(dest, ParseUnsigned64(text));
            break;
        case kTypeFloat:
            StoreValue(dest, ParseFloating<float>(text));
            break;
        case kTypeDouble:
            StoreValue(dest, ParseFloating<double>(text));
            break;
        case kTypeBool:
            StoreValue(dest, static_cast<int32_t>(ParseInt32(text) != 0 ? 1 : 0));
            break;
        default:  // kinds without bytes
            break;
    }
}

bool ValueTextFits(UnitType kind, const char* text) {
    constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
    constexpr uint64_t kInt32Max = std::numeric_limits<int32_t>::max();
    switch (kind) {
        case kTypeChar: {
            const char* p = SkipBlanks(text);
            if (p[0] != '0' || p[1] != 'x' || HexDigit(p[2]) < 0) return false;
            uint32_t value = 0;
            for (p += 2; HexDigit(*p) >= 0; ++p) {
                value = value * 16 + static_cast<uint32_t>(HexDigit(*p));
                if (value > 0xFF) return false;
            }
            return *SkipBlanks(p) == '\0';
        }
        case kTypeInt:
        case kTypeItemEnum:
        case kTypeBool:
            return IntegerFits(text, kInt32Min, kInt32Max);
        case kTypeInt16:
            return IntegerFits(text, std::numeric_limits<int16_t>::min(),
                               std::numeric_limits<int16_t>::max());
        case kTypeUnsigned16:
            return IntegerFits(text, 0, std::numeric_limits<uint16_t>::max());
        case kTypeUnsigned:
            return IntegerFits(text, kInt32Min, std::numeric_limits<uint32_t>::max());
        case kTypeInt64:
            return IntegerFits(text, std::numeric_limits<int64_t>::min(),
                               std::numeric_limits<int64_t>::max());
        case kTypeUnsigned64:
            return IntegerFits(text, 0, std::numeric_limits<uint64_t>::max());
        case kTypeFloat:
            return FloatingFits<float>(text);
        case kTypeDouble:
            return FloatingFits<double>(text);
        default:  // kinds without bytes
            return true;
    }
}

bool ConvertFittingText(UnitType kind, const char* text, uint8_t* dest) {
    constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
    constexpr uint64_t kInt32Max = std::numeric_limits<int32_t>::max();
    uint64_t bits = 0;
    switch (kind) {
        case kTypeInt:
        case kTypeItemEnum:
            if (!IntegerFits(text, kInt32Min, kInt32Max, bits)) return false;
            StoreValue(dest, static_cast<uint32_t>(bits));
            return true;
        case kTypeBool:
            if (!IntegerFits(text, kInt32Min, kInt32Max, bits)) return false;
            StoreValue(dest, static_cast<int32_t>(static_cast<uint32_t>(bits) != 0 ? 1 : 0));
            return true;
        case kTypeUnsigned:
            if (!IntegerFits(text, kInt32Min, std::numeric_limits<uint32_t>::max(), bits))
                return false;
            StoreValue(dest, static_cast<uint32_t>(bits));
            return true;
        case kTypeInt16:
            if (!IntegerFits(text, std::numeric_limits<int16_t>::min(),
                             std::numeric_limits<int16_t>::max(), bits))
                return false;
            StoreValue(dest, static_cast<uint16_t>(bits));
            return true;
        case kTypeUnsigned16:
            if (!IntegerFits(text, 0, std::numeric_limits<uint16_t>::max(), bits)) return false;
            StoreValue(dest, static_cast<uint16_t>(bits));
            return true;
        case kTypeInt64:
            if (!IntegerFits(text, std::numeric_limits<int64_t>::min(),
                             std::numeric_limits<int64_t>::max(), bits))
                return false;
            StoreValue(dest, bits);
            return true;
        case kTypeUnsigned64:
            if (!IntegerFits(text, 0, std::numeric_limits<uint64_t>::max(), bits)) return false;
            StoreValue(dest, bits);
            return true;
        case kTypeFloat:
            if (PutPlainFloating<float>(text, dest)) return true;
            break;
        case kTypeDouble:
            if (PutPlainFloating<double>(text, dest)) return true;
            break;
        default:
            break;
    }
    if (!ValueTextFits(kind, text)) return false;
    StoreValueText(kind, text, dest);
    return true;
}

namespace {

// A "%f" text of at most fifteen digits (six of them after the point)
// read into value: the integer of its digits and 10^6 are exact in a
// double, and their correctly rounded quotient is the value from_chars
// reads for the text. A float takes that quotient rounded again, except
// where it lies exactly halfway between two floats, where rounding twice
// could differ from rounding once: false then, and for any other text.
template <class T>
bool SixDecimals(const char* p, const char* end, T& value) {
    const bool negative = *p == '-';
    p += negative;
    const ptrdiff_t n = end - p;
    if (n < 8 || n > 16 || end[-7] != '.') return false;
    uint64_t digits = 0;
    for (; p < end; ++p) {
        if (p == end - 7) continue;
        const unsigned d = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (d > 9) return false;
        digits = digits * 10 + d;
    }
    const double quotient = static_cast<double>(digits) / 1e6;
    if constexpr (sizeof(T) == sizeof(float)) {
        if (HalfwayBetweenFloats(quotient)) return false;
    }
    value = static_cast<T>(negative ? -quotient : quotient);
    return true;
}

template <class T>
bool WrittenFloating(const char* p, const char* end, uint8_t* dest) {
    T value;
    const char* digits = p + (p < end && *p == '-');
    if (digits < end && *digits >= '0' && *digits <= '9') {
        if (SixDecimals(p, end, value)) {
            std::memcpy(dest, &value, sizeof value);
            return true;
        }
        auto r = std::from_chars(p, end, value);
        if (r.ec != std::errc() || r.ptr != end) return false;
    } else if (ReadNanText(p, end, value) == end) {
    } else if (end - digits == 3 && std::memcmp(digits, "inf", 3) == 0) {
        value = digits == p ? std::numeric_limits<T>::infinity() : -std::numeric_limits<T>::infinity();
    } else if (end - digits == 3 && std::memcmp(digits, "nan", 3) == 0) {
        value = digits == p ? std::numeric_limits<T>::quiet_NaN() : -std::numeric_limits<T>::quiet_NaN();
    } else {
        return false;
    }
    std::memcpy(dest, &value, sizeof value);
    return true;
}

}  // namespace

bool ReadWrittenFloating(UnitType kind, const char* begin, const char* end, uint8_t* dest) {
    return kind == kTypeFloat ? WrittenFloating<float>(begin, end, dest)
                              : WrittenFloating<double>(begin, end, dest);
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
            return Decimal(out, LoadValue<int32_t>(src));
        case kTypeInt16:
            return Decimal(out, LoadValue<int16_t>(src));
        case kTypeUnsigned16:
            return Decimal(out, LoadValue<uint16_t>(src));
        case kTypeInt64:
            return Decimal(out, LoadValue<int64_t>(src));
        case kTypeUnsigned64:
            return Decimal(out, LoadValue<uint64_t>(src));
        case kTypeFloat:
            return Floating(out, LoadValue<float>(src));
        case kTypeDouble:
            return Floating(out, LoadValue<double>(src));
        case kTypeBool:
            return Decimal(out, static_cast<int>(src[0]));
        default:  // kinds without bytes
            break;
    }
    out[0] = '\0';
    return 0;
}

}  // namespace morvane
