#include "convert/json_writer.h"

#include <cassert>
#include <charconv>
#include <cmath>

#include "convert/value_codec.h"

namespace morvane {
namespace {

// Bytes copied as they stand inside a string: printable ASCII other than
// the quote and the backslash.
bool Plain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

// The length of the well-formed UTF-8 sequence starting at p (p[0] >=
// 0x80), or 0 when p does not start one.
size_t SequenceLength(const unsigned char* p, const unsigned char* end) {
    unsigned char c = p[0];
    size_t n;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;   // overlong
        if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;   // overlong
        if (c == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < n) return 0;
    if (p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < n; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    }
    return n;
}

void AppendByteEscape(unsigned char c, std::string* out) {
    static const char kHex[] = "0123456789abcdef";
    char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
    out->append(escape, sizeof escape);
}

template <class T>
void AppendFloating(T value, std::string* out) {
    if (!std::isfinite(value)) {
        out->append("null");
        return;
    }
    char text[kValueTextSize];
    out->append(text, FormatShortest(value, text));
}

template <class T>
void AppendDecimal(T value, std::string* out) {
    char text[24];
    auto r = std::to_chars(text, text + sizeof text, value);
    out->append(text, r.ptr);
}

}  // namespace

void AppendJsonString(std::string_view text, std::string* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    out->push_back('"');
    while (p < end) {
        const unsigned char* run = p;
        while (p < end && Plain(*p)) ++p;
        out->append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) break;
        unsigned char c = *p;
        if (c == '"' || c == '\\') {
            out->push_back('\\');
            out->push_back(static_cast<char>(c));
            ++p;
        } else if (c < 0x80) {
            AppendByteEscape(c, out);
            ++p;
        } else if (size_t n = SequenceLength(p, end); n != 0) {
            out->append(reinterpret_cast<const char*>(p), n);
            p += n;
        } else {
            AppendByteEscape(c, out);
            ++p;
        }
    }
    out->push_back('"');
}

void AppendJsonInteger(int64_t value, std::string* out) { AppendDecimal(value, out); }
void AppendJsonUnsigned(uint64_t value, std::string* out) { AppendDecimal(value, out); }
void AppendJsonDouble(double value, std::string* out) { AppendFloating(value, out); }
void AppendJsonFloat(float value, std::string* out) { AppendFloating(value, out); }

JsonWriter::JsonWriter(std::string* out, Style style)
    : out_(out),
      comma_(style == kSpaced ? ", " : ","),
      colon_(style == kSpaced ? ": " : ":") {}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    assert(open_.empty() || !open_.back());  // an object's member needs its Key
    if (needComma_) out_->append(comma_);
    needComma_ = true;
}

void JsonWriter::Open(char bracket, bool object) {
    BeforeValue();
    out_->push_back(bracket);
    open_.push_back(object);
    needComma_ = false;
}

void JsonWriter::Close(char bracket, bool object) {
    assert(!open_.empty() && open_.back() == object && !afterKey_);
    (void)object;
    open_.pop_back();
    out_->push_back(bracket);
    needComma_ = true;
}

JsonWriter& JsonWriter::BeginObject() {
    Open('{', true);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    Close('}', true);
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    Open('[', false);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    Close(']', false);
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    assert(!open_.empty() && open_.back() && !afterKey_);
    if (needComma_) out_->append(comma_);
    needComma_ = true;
    AppendJsonString(name, out_);
    out_->append(colon_);
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    BeforeValue();
    AppendJsonString(text, out_);
    return *this;
}

JsonWriter& JsonWriter::Integer(int64_t value) {
    BeforeValue();
    AppendJsonInteger(value, out_);
    return *this;
}

JsonWriter& JsonWriter::Unsigned(uint64_t value) {
    BeforeValue();
    AppendJsonUnsigned(value, out_);
    return *this;
}

JsonWriter& JsonWriter::Double(double value) {
    BeforeValue();
    AppendJsonDouble(value, out_);
    return *this;
}

JsonWriter& JsonWriter::Float(float value) {
    BeforeValue();
    AppendJsonFloat(value, out_);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    out_->append(value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    out_->append("null");
    return *this;
}

JsonWriter& JsonWriter::RawValue(std::string_view json) {
    BeforeValue();
    out_->append(json);
    return *this;
}

JsonWriter& JsonWriter::Break(std::string_view whitespace) {
    assert(!afterKey_);
    if (needComma_) out_->push_back(',');
    needComma_ = false;
    out_->append(whitespace);
    return *this;
}

JsonWriter& JsonWriter::Whitespace(std::string_view whitespace) {
    out_->append(whitespace);
    return *this;
}

}  // namespace morvane
