// JSON texts appended to a caller's string: string literals, numbers and
// nested objects and arrays, with the separators placed by the writer.
//
// Strings come out as valid UTF-8 whatever bytes they are given. A quote
// and a backslash are escaped with a backslash, every byte below 0x20 as
// \u00xx (lower-case hexadecimal). Well-formed UTF-8 sequences are copied
// as they are. A byte that does not belong to a well-formed sequence
// (a stray continuation byte, a sequence cut short, an overlong form, a
// surrogate, a code point above U+10FFFF, the bytes 0xC0, 0xC1 and 0xF5 to
// 0xFF) is written as \u00xx of its value, so a reader sees the character
// U+0080 to U+00FF of the same number: the byte's Latin-1 reading.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// text as a JSON string literal, quotes included, appended to out.
void AppendJsonString(std::string_view text, std::string* out);

// Integers in decimal, every value of 64 bits exact.
void AppendJsonInteger(int64_t value, std::string* out);
void AppendJsonUnsigned(uint64_t value, std::string* out);

// The shortest decimal text that reads back as the same double (or float)
// (0.1, 1e-10, 5e+20, -0); a reader of doubles gets a float's value
// exactly too. JSON has no infinities or NaNs: they are written as null.
void AppendJsonDouble(double value, std::string* out);
void AppendJsonFloat(float value, std::string* out);

// Writes one JSON document into a string the caller owns (it must outlive
// the writer), placing the commas and colons. Separators are ", " and ": "
// (kSpaced, the form morvanec prints) or "," and ":" (kCompact, JSON
// Lines). Calls must form a document: a Key before each member of an
// object, none in an array; the writer asserts this, it does not check it
// at run time.
class JsonWriter {
public:
    enum Style { kSpaced, kCompact };

    explicit JsonWriter(std::string* out, Style style = kSpaced);

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view name);

    JsonWriter& String(std::string_view text);
    JsonWriter& Integer(int64_t value);
    JsonWriter& Unsigned(uint64_t value);
    JsonWriter& Double(double value);
    JsonWriter& Float(float value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // A complete JSON value written elsewhere (AppendRecordJson's object),
    // placed as the next value.
    JsonWriter& RawValue(std::string_view json);

    // Line breaks for readers: Break writes the separator due before the
    // next member or element ("," alone, without the style's space) and
    // then whitespace; Whitespace writes whitespace alone (before a closing
    // bracket). Neither is needed for a valid document.
    JsonWriter& Break(std::string_view whitespace);
    JsonWriter& Whitespace(std::string_view whitespace);

    // Whether every object and array begun has been ended.
    bool Closed() const { return open_.empty(); }

private:
    void BeforeValue();
    void Open(char bracket, bool object);
    void Close(char bracket, bool object);

    std::string* out_;
    std::string_view comma_;
    std::string_view colon_;
    // One entry per open container: whether it is an object.
    std::vector<bool> open_;
    bool needComma_ = false;  // a value was written in the innermost container
    bool afterKey_ = false;
};

}  // namespace morvane
