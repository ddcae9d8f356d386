// Conversions between the value texts of XML data files and the packed bytes
// of a record.
//
// A record is a run of fields laid end to end, without alignment or padding,
// each in the machine's (little-endian) byte order. Repetitions follow each
// other directly. For the PosRec example (28 bytes):
//
//   offset  0       4   5   6   7   8       12      16      20      24     28
//          +-------+---+---+---+---+-------+-------+-------+-------+-------+
//          | count |flags[0..3]    | mode  | pos[0].x pos[0].y pos[1].x ...|
//          | int   |char x 4       | enum  | int   | int   | int   | int   |
//          +-------+---+---+---+---+-------+-------+-------+-------+-------+
//
// One value of a kind occupies TypeSize(kind) bytes: char 1; int16 and
// unsigned16 2; int, unsigned, float, bool and item_enum 4; int64,
// unsigned64 and double 8; text, structure, template, enum and undefined
// none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "schema/unit_type.h"

namespace morvane {

// Room for the longest value text FormatValue() writes, terminator
// included: "%f" of -DBL_MAX is 317 characters.
constexpr size_t kValueTextSize = 320;

// Converts text by the rules of kind and stores TypeSize(kind) bytes at
// dest; kinds without bytes store nothing. Text that does not parse stores
// the kind's zero. dest must hold TypeSize(kind) bytes.
void StoreValueText(UnitType kind, const char* text, uint8_t* dest);

// Whether text is a whole value of kind that fits it, as a strict read
// wants it: blanks around the value aside, nothing but the value. Integers
// are decimal within the range of their width (unsigned also down to
// INT32_MIN, the way it is written; bool and item_enum within int's);
// char is "0x" and hexadecimal digits up to 0xFF; float and double are
// decimal or exponent forms, "inf", "nan" or a NaN text of FormatValue's
// whose payload fits the type, and a finite text must not overflow the
// type. Kinds without bytes take any text.
bool ValueTextFits(UnitType kind, const char* text);

// ValueTextFits and StoreValueText in one pass: whether text fits kind, and
// when it does, the bytes StoreValueText would store are stored at dest.
// Nothing is stored when it does not fit.
bool ConvertFittingText(UnitType kind, const char* text, uint8_t* dest);

// Reads a value text of a form FormatValue writes, from begin up to end
// (the text need not be terminated), and stores the bytes that
// StoreValueText and ConvertFittingText both store for it. Integers are
// decimal, "0" or without leading zeros, within ValueTextFits's range;
// char is "0x" and one or two hexadecimal digits; float and double are
// texts std::from_chars reads whole starting with a digit (after an
// optional '-'), "inf", "nan", each with an optional '-', and the NaN
// texts with payloads; kinds without bytes take the empty text only. No
// blanks. False, storing nothing, for any other text: the caller then
// reads it the general way, which gives the same bytes for every text
// this takes.
//
// Inline (below), so that a scanner converting value after value makes no
// call for an integer; float and double go to ReadWrittenFloating.
inline bool ReadWrittenValue(UnitType kind, const char* begin, const char* end, uint8_t* dest);

// ReadWrittenValue for kTypeFloat and kTypeDouble.
bool ReadWrittenFloating(UnitType kind, const char* begin, const char* end, uint8_t* dest);

// Formats the TypeSize(kind) bytes at src into out (kValueTextSize bytes),
// terminated, and returns the text's length. Kinds without bytes give the
// empty text. A float or double is written as "%f" writes it when that text
// reads back as the same value, otherwise in the shortest text that does
// (1e-10, 3.141592653589793); StoreValueText reads both forms.
//
// Every float and double bit pattern survives the text. The plain quiet
// NaNs are written "nan" and "-nan", as "%f" writes them; any other NaN is
// written "nan(0xP)" when quiet, P being its payload (the fraction below
// the quiet bit), and "snan(0xP)" when signalling, P being its whole
// fraction, with a '-' in front when the sign bit is set and P in
// upper-case hexadecimal digits: nan(0x1), -snan(0x7FFFFFFFFFFFF).
// StoreValueText reads those texts back into the same bits without the C
// library, whose strtod would quiet a signalling NaN.
size_t FormatValue(UnitType kind, const uint8_t* src, char* out);

// Decimal text the way the C library reads it: leading blanks, an optional
// sign, digits up to the first other character; no digits give 0.
// ParseInt64 saturates like strtoll; ParseUnsigned64 behaves like strtoull
// (a minus sign negates modulo 2^64, overflow gives the maximum);
// ParseInt32 keeps the low 32 bits of ParseInt64, like atoi on a 64-bit
// system.
int64_t ParseInt64(const char* text);
uint64_t ParseUnsigned64(const char* text);
int32_t ParseInt32(const char* text);

// The char rule: "0x" followed by hexadecimal digits of either case; a value
// above 255 (read as a signed 32-bit number) and any text not starting with
// "0x" give 0.
uint8_t CharFromText(const char* text);

// The shortest decimal text that reads back as the same value, as
// std::to_chars writes it (0.1, 1e-10, 5e+20, -0; "inf", "-inf", and for
// NaNs the texts of FormatValue), for formats that want no "%f" form. A
// float's text is the shortest for a float. out holds kValueTextSize
// bytes; returns the text's length, the text terminated.
size_t FormatShortest(double value, char* out);
size_t FormatShortest(float value, char* out);

// The value of type T at p, and back: a record's bytes are little-endian
// like the machine's and need not be aligned.
template <class T>
T LoadValue(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T>
void StoreValue(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// The parts of ReadWrittenValue.
namespace written_value {

// Eight decimal digits at p (any other byte: false) into value, in a few
// word operations rather than a step per digit.
inline bool EightDigits(const char* p, uint64_t& value) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);  // little-endian: the first digit lowest
    if (((v & 0xF0F0F0F0F0F0F0F0ull) |
         (((v + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) != 0x3333333333333333ull)
        return false;
    v -= 0x3030303030303030ull;
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
    value = (v * 10000 + (v >> 32)) & 0xFFFFFFFFull;
    return true;
}

// A decimal integer as the writer writes it: an optional '-', then "0" or
// digits without a leading zero, no "-0"; false for any other text or one
// outside [low, high]. bits is its value modulo 2^64.
inline bool Integer(const char* p, const char* end, int64_t low, uint64_t high, uint64_t& bits) {
    const bool negative = p < end && *p == '-';
    p += negative;
    const ptrdiff_t n = end - p;
    // Twenty digits may overflow, more always do: those are not written.
    if (n <= 0 || n > 20 || (*p == '0' && (n > 1 || negative))) return false;
    uint64_t magnitude = 0;
    // Nineteen digits cannot overflow; a twentieth is checked.
    const char* last = n == 20 ? end - 1 : end;
    for (uint64_t eight; last - p >= 8; p += 8) {
        if (!EightDigits(p, eight)) return false;
        magnitude = magnitude * 100000000 + eight;
    }
    for (; p < last; ++p) {
        const unsigned d = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (d > 9) return false;
        magnitude = magnitude * 10 + d;
    }
    if (p < end) {
        const unsigned d = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (d > 9 || __builtin_mul_overflow(magnitude, uint64_t{10}, &magnitude) ||
            __builtin_add_overflow(magnitude, uint64_t{d}, &magnitude))
            return false;
    }
    bits = negative ? 0 - magnitude : magnitude;
    if (!negative) return magnitude <= high;
    return low < 0 && magnitude <= static_cast<uint64_t>(-(low + 1)) + 1;
}

// An integer text within [low, high] stored as a Stored.
template <class Stored>
inline bool StoreInteger(const char* begin, const char* end, int64_t low, uint64_t high,
                         uint8_t* dest) {
    uint64_t bits = 0;
    if (!Integer(begin, end, low, high, bits)) return false;
    StoreValue(dest, static_cast<Stored>(bits));
    return true;
}

inline int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace written_value

inline bool ReadWrittenValue(UnitType kind, const char* begin, const char* end, uint8_t* dest) {
    using written_value::StoreInteger;
    constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
    constexpr uint64_t kInt32Max = std::numeric_limits<int32_t>::max();
    switch (kind) {
        case kTypeChar: {
            const ptrdiff_t n = end - begin;
            if (n < 3 || n > 4 || begin[0] != '0' || begin[1] != 'x') return false;
            const int high = written_value::Hex(begin[2]);
            const int low = n == 4 ? written_value::Hex(begin[3]) : 0;
            if (high < 0 || low < 0) return false;
            *dest = static_cast<uint8_t>(n == 4 ? high * 16 + low : high);
            return true;
        }
        case kTypeInt:
        case kTypeItemEnum:
            return StoreInteger<uint32_t>(begin, end, kInt32Min, kInt32Max, dest);
        case kTypeBool: {
            uint64_t bits = 0;
            if (!written_value::Integer(begin, end, kInt32Min, kInt32Max, bits)) return false;
            StoreValue(dest, static_cast<int32_t>(bits != 0 ? 1 : 0));
            return true;
        }
        case kTypeUnsigned:
            return StoreInteger<uint32_t>(begin, end, kInt32Min, std::numeric_limits<uint32_t>::max(), dest);
        case kTypeInt16:
            return StoreInteger<uint16_t>(begin, end, std::numeric_limits<int16_t>::min(),
                                          std::numeric_limits<int16_t>::max(), dest);
        case kTypeUnsigned16:
            return StoreInteger<uint16_t>(begin, end, 0, std::numeric_limits<uint16_t>::max(), dest);
        case kTypeInt64:
            return StoreInteger<uint64_t>(begin, end, std::numeric_limits<int64_t>::min(),
                                          std::numeric_limits<int64_t>::max(), dest);
        case kTypeUnsigned64:
            return StoreInteger<uint64_t>(begin, end, 0, std::numeric_limits<uint64_t>::max(), dest);
        case kTypeFloat:
        case kTypeDouble:
            return ReadWrittenFloating(kind, begin, end, dest);
        default:  // kinds without bytes: the writer writes no text
            return begin == end;
    }
}

}  // namespace morvane
