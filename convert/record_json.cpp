#include "convert/record_json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "convert/json_writer.h"
#include "convert/value_codec.h"
#include "schema/schema.h"

namespace morvane {

// One member of the plan. offset is relative to the start of one
// repetition of the enclosing structure; a structure's size is the bytes of
// one repetition of it, as the running offset counts them.
struct RecordPlanNode {
    enum Kind { kStruct, kItem, kItems, kCollapsed };
    Kind kind = kItem;
    UnitType type = kTypeUndefined;
    int32_t count = 1;
    int64_t size = 0;
    int64_t offset = 0;
    std::string name;
    std::string key;   // "name":
    std::string lead;  // key, after a comma but for a structure's first member
    // lead's first 16 bytes as two words, and masks of the bytes it has.
    uint64_t leadWords[2] = {0, 0};
    uint64_t leadMasks[2] = {0, 0};
    // item_enum: the values written as names, sorted, with their JSON texts;
    // and every name that stands for one value, sorted by name.
    std::vector<std::pair<int32_t, std::string>> valueNames;
    std::vector<std::pair<std::string, int32_t>> nameValues;
    std::string enumName;
    // The names of nameValues a JSON string holds as they are, with no
    // escape and no byte a reader checks the encoding of: those the scanner
    // of written lines takes.
    std::vector<std::pair<std::string, int32_t>> plainNames;
    std::vector<RecordPlanNode> members;
};

namespace {

using Node = RecordPlanNode;

std::string JsonStringOf(const std::string& text) {
    std::string out;
    AppendJsonString(text, &out);
    return out;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Bytes written straight into a string: grown ahead of the writing, a
// piece at a time, and cut to what was written by Finish().
class StringCursor {
  public:
    explicit StringCursor(std::string& out) : out_(out) { p_ = limit_ = out.data() + out.size(); }

    // At least n bytes writable at p_: the check inline, the growth not.
    [[gnu::always_inline]] void Room(size_t n) {
        if (static_cast<size_t>(limit_ - p_) < n) Grow(n);
    }
    void Put(std::string_view text) {
        Room(text.size());
        std::memcpy(p_, text.data(), text.size());
        p_ += text.size();
    }
    void Put(char c) {
        Room(1);
        *p_++ = c;
    }
    void Finish() { out_.resize(static_cast<size_t>(p_ - out_.data())); }

  protected:
    static constexpr size_t kPiece = 4096;

    [[gnu::noinline]] void Grow(size_t n) {
        const size_t used = static_cast<size_t>(p_ - out_.data());
        out_.resize(used + n + kPiece);
        p_ = out_.data() + used;
        limit_ = out_.data() + out_.size();
    }

    std::string& out_;
    char* p_;
    char* limit_;
};

// A finite value's shortest text at out, ".0" added where it would read
// as an integer; out holds kValueTextSize + 2 bytes. Its end.
template <class T>
char* FiniteText(T value, char* out) {
    char* end = out + FormatShortest(value, out);
    if (std::find_if(out, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
        std::memcpy(end, ".0", 2);
        end += 2;
    }
    return end;
}

constexpr char kHexPairs[] =
    "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
    "202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f"
    "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f"
    "606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f"
    "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f"
    "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"
    "c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf"
    "e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";

// The n bytes at p in lower-case hexadecimal at out; its end.
char* HexText(const uint8_t* p, int64_t n, char* out) {
    for (int64_t i = 0; i < n; ++i, out += 2) std::memcpy(out, kHexPairs + 2 * p[i], 2);
    return out;
}

// The JSON string of the item name an enumerated value is written as, or
// null when it is written as its number.
const std::string* ItemName(const Node& node, int32_t value) {
    auto it = std::lower_bound(
        node.valueNames.begin(), node.valueNames.end(), value,
        [](const std::pair<int32_t, std::string>& e, int32_t v) { return e.first < v; });
    return it != node.valueNames.end() && it->first == value ? &it->second : nullptr;
}

// Calls integer(v), floating(v) or enumerated(v) with the value of the
// item node at p, as the type of its kind.
template <class Integer, class Floating, class Enumerated>
void WithValue(const Node& node, const uint8_t* p, Integer&& integer, Floating&& floating,
               Enumerated&& enumerated) {
    switch (node.type) {
        case kTypeChar: integer(static_cast<unsigned>(*p)); break;
        case kTypeInt:
        case kTypeBool: integer(LoadValue<int32_t>(p)); break;
        case kTypeUnsigned: integer(LoadValue<uint32_t>(p)); break;
        case kTypeInt16: integer(LoadValue<int16_t>(p)); break;
        case kTypeUnsigned16: integer(LoadValue<uint16_t>(p)); break;
        case kTypeInt64: integer(LoadValue<int64_t>(p)); break;
        case kTypeUnsigned64: integer(LoadValue<uint64_t>(p)); break;
        case kTypeFloat: floating(LoadValue<float>(p)); break;
        case kTypeDouble: floating(LoadValue<double>(p)); break;
        case kTypeItemEnum: enumerated(LoadValue<int32_t>(p)); break;
        default: break;
    }
}

// The JSON object of a record, written through a StringCursor.
class JsonText : public StringCursor {
  public:
    using StringCursor::StringCursor;

    // One value of an item: a finite floating value as FiniteText() has
    // it, NaNs and infinities as a string of the data files' text, an
    // enumerated value as its item name where it has one.
    void Value(const Node& node, const uint8_t* p) {
        Room(kValueTextSize + 8);
        WithValue(
            node, p, [&](auto value) { Integer(value); },
            [&](auto value) {
                if (std::isfinite(value)) {
                    p_ = FiniteText(value, p_);
                    return;
                }
                *p_++ = '"';
                p_ += FormatValue(node.type, p, p_);
                *p_++ = '"';
            },
            [&](int32_t value) {
                if (const std::string* name = ItemName(node, value)) {
                    Put(*name);
                } else {
                    Integer(value);
                }
            });
    }
    // A collapsed member's bytes as a string of their hexadecimal.
    void Hex(const uint8_t* p, int64_t n) {
        Room(static_cast<size_t>(2 * n) + 2);
        *p_++ = '"';
        p_ = HexText(p, n, p_);
        *p_++ = '"';
    }
    void Integer(auto value) {
        Room(24);
        p_ = std::to_chars(p_, p_ + 24, value).ptr;
    }
};

// Builds the members of s; offset runs over them as the XML writer's does.
// Returns the bytes the members take.
int64_t AddMembers(const CStructure& s, Node& into, const std::string& prefix,
                   std::vector<RecordJsonPlan::Collapsed>& collapsed, int64_t base) {
    int64_t offset = 0;
    for (const auto& member : s.units) {
        const Unit& u = *member;
        if (!u.IsLayoutMember()) continue;
        Node node;
        node.name = u.name;
        node.key = JsonStringOf(u.name) + ":";
        node.offset = offset;
        node.count = u.nrepetitions;
        if (const CStructure* child = u.AsStructure()) {
            if (u.nrepetitions <= 0) continue;
            node.kind = Node::kStruct;
            node.type = kTypeStructure;
            node.size = AddMembers(*child, node,
                                   prefix + u.name + (u.nrepetitions != 1 ? "[0]." : "."),
                                   collapsed, base + offset);
            // A repeated structure's collapsed members repeat too.
            if (u.nrepetitions > 1) {
                std::vector<RecordJsonPlan::Collapsed> first;
                const std::string at = prefix + u.name + "[0].";
                for (const auto& c : collapsed) {
                    if (c.path.compare(0, at.size(), at) == 0) first.push_back(c);
                }
                for (int32_t k = 1; k < u.nrepetitions; ++k) {
                    for (RecordJsonPlan::Collapsed c : first) {
                        c.path = prefix + u.name + "[" + std::to_string(k) + "]." +
                                 c.path.substr(at.size());
                        c.offset += k * node.size;
                        collapsed.push_back(std::move(c));
                    }
                }
            }
            offset += node.size * u.nrepetitions;
            into.members.push_back(std::move(node));
            continue;
        }
        node.type = u.type;
        node.size = TypeSize(u.type);
        const int64_t n = std::max(u.nrepetitions, 0);
        if (u.nrepetitions != 1 && !u.visibility) {
            node.kind = Node::kCollapsed;
            collapsed.push_back({prefix + u.name, base + offset, n * node.size});
        } else if (u.nrepetitions != 1) {
            node.kind = Node::kItems;
        }
        offset += n * node.size;
        if (node.size == 0 && node.kind != Node::kCollapsed) continue;  // text, undefined
        if (u.type == kTypeItemEnum && u.ref != nullptr) {
            node.enumName = u.ref->name;
            // Counted by sorting, so that a large enumeration costs no more
            // than its sort.
            std::map<int32_t, int> values;
            std::map<std::string_view, int> names;
            for (const EnumItem& item : u.ref->items) {
                ++values[item.id];
                ++names[item.name];
            }
            for (const EnumItem& item : u.ref->items) {
                if (names[item.name] != 1) continue;
                node.nameValues.emplace_back(item.name, item.id);
                if (values[item.id] == 1) node.valueNames.emplace_back(item.id, JsonStringOf(item.name));
            }
            std::sort(node.valueNames.begin(), node.valueNames.end());
            std::sort(node.nameValues.begin(), node.nameValues.end());
            for (const auto& entry : node.nameValues) {
                if (JsonStringOf(entry.first) == '"' + entry.first + '"' && IsAscii(entry.first))
                    node.plainNames.push_back(entry);
            }
        }
        into.members.push_back(std::move(node));
    }
    for (size_t i = 0; i < into.members.size(); ++i) {
        Node& m = into.members[i];
        m.lead = (i == 0 ? "" : ",") + m.key;
        for (size_t b = 0; b < std::min<size_t>(m.lead.size(), 16); ++b) {
            m.leadWords[b / 8] |= uint64_t{static_cast<unsigned char>(m.lead[b])} << (8 * (b % 8));
            m.leadMasks[b / 8] |= uint64_t{0xFF} << (8 * (b % 8));
        }
    }
    return offset;
}

void AppendMembers(const Node& s, const uint8_t* base, JsonText& out) {
    for (const Node& m : s.members) {
        out.Put(m.lead);
        const uint8_t* p = base + m.offset;
        switch (m.kind) {
            case Node::kItem: out.Value(m, p); break;
            case Node::kItems:
                out.Put('[');
                for (int32_t i = 0; i < m.count; ++i, p += m.size) {
                    if (i != 0) out.Put(',');
                    out.Value(m, p);
                }
                out.Put(']');
                break;
            case Node::kCollapsed: out.Hex(p, m.size * std::max(m.count, 0)); break;
            case Node::kStruct:
                if (m.count != 1) out.Put('[');
                for (int32_t k = 0; k < m.count; ++k, p += m.size) {
                    if (k != 0) out.Put(',');
                    out.Put('{');
                    AppendMembers(m, p, out);
                    out.Put('}');
                }
                if (m.count != 1) out.Put(']');
                break;
        }
    }
}

void AddHeader(const Node& s, const std::string& prefix, std::vector<std::string>& cells) {
    for (const Node& m : s.members) {
        const std::string path = prefix + m.name;
        switch (m.kind) {
            case Node::kItem:
            case Node::kCollapsed: cells.push_back(path); break;
            case Node::kItems:
                for (int32_t i = 0; i < m.count; ++i)
                    cells.push_back(path + "[" + std::to_string(i) + "]");
                break;
            case Node::kStruct:
                for (int32_t k = 0; k < m.count; ++k) {
                    AddHeader(m, m.count == 1 ? path + "." : path + "[" + std::to_string(k) + "].",
                              cells);
                }
                break;
        }
    }
}

// A CSV row put together straight in the bytes of its string. Each cell
// is followed by the delimiter; Finish drops the last one.
class CsvRow : public StringCursor {
  public:
    CsvRow(std::string& out, char delimiter)
        : StringCursor(out), start_(out.size()), delimiter_(delimiter) {
        // Which texts can hold the delimiter and so must be looked at for
        // quoting: integers are '-' and digits; finite floating-point
        // values add '+', '.' and 'e'; collapsed bytes are lower-case
        // hexadecimal. Enumeration names and the NaN and infinity texts
        // are always looked at.
        auto among = [delimiter](std::string_view characters) {
            return characters.find(delimiter) != std::string_view::npos;
        };
        quoteIntegers_ = among("-0123456789");
        quoteFinite_ = among("-+.e0123456789");
        quoteHex_ = among("0123456789abcdef");
    }

    void Value(const Node& node, const uint8_t* p) {
        Room(kValueTextSize + 8);
        WithValue(
            node, p, [&](auto value) { Integer(value); },
            [&](auto value) { Floating(value, node.type, p); },
            [&](int32_t value) { Enumerated(node, value); });
        *p_++ = delimiter_;
    }

    // A text as it is, quoted where needed.
    void Text(std::string_view text) {
        Quoted(text);
        *p_++ = delimiter_;
    }

    // A collapsed member's bytes in hexadecimal.
    void Hex(const uint8_t* p, int64_t n) {
        Room(static_cast<size_t>(2 * n) + 8);
        char* begin = p_;
        p_ = HexText(p, n, p_);
        if (quoteHex_) Quote(begin);
        *p_++ = delimiter_;
    }

    void Finish() {
        if (p_ != out_.data() + start_) --p_;
        StringCursor::Finish();
    }

  private:

    void Integer(auto value, bool quote) {
        char* begin = p_;
        p_ = std::to_chars(p_, p_ + 24, value).ptr;
        if (quote) Quote(begin);
    }
    void Integer(auto value) { Integer(value, quoteIntegers_); }

    // As JsonText writes it, the NaN and infinity texts unquoted.
    template <class T>
    void Floating(T value, UnitType type, const uint8_t* p) {
        char* begin = p_;
        if (!std::isfinite(value)) {
            p_ += FormatValue(type, p, p_);
            Quote(begin);
            return;
        }
        p_ = FiniteText(value, p_);
        if (quoteFinite_) Quote(begin);
    }

    void Enumerated(const Node& node, int32_t value) {
        const std::string* name = ItemName(node, value);
        if (name == nullptr) {
            Integer(value, true);
            return;
        }
        // The name as in the JSON object, without its quotes.
        Quoted(std::string_view(*name).substr(1, name->size() - 2));
    }

    void Quoted(std::string_view text) {
        Room(2 * text.size() + 8);
        char* begin = p_;
        std::memcpy(p_, text.data(), text.size());
        p_ += text.size();
        Quote(begin);
    }

    // Quotes the cell from begin to p_ as RFC 4180 wants it when it holds
    // the delimiter, a quote or a line break, its quotes doubled, in place:
    // there is room for the two quotes and one more byte per quote.
    void Quote(char* begin) {
        size_t quotes = 0;
        bool plain = true;
        for (const char* c = begin; c < p_; ++c) {
            quotes += *c == '"';
            plain = plain && *c != delimiter_ && *c != '"' && *c != '\r' && *c != '\n';
        }
        if (plain) return;
        char* from = p_;
        char* to = p_ + quotes + 2;
        p_ = to;
        *--to = '"';
        while (from != begin) {
            const char c = *--from;
            *--to = c;
            if (c == '"') *--to = '"';
        }
        *--to = '"';
    }

    const size_t start_;
    const char delimiter_;
    bool quoteIntegers_ = true;
    bool quoteFinite_ = true;
    bool quoteHex_ = true;
};

void AppendCells(const Node& s, const uint8_t* base, CsvRow& row) {
    for (const Node& m : s.members) {
        const uint8_t* p = base + m.offset;
        switch (m.kind) {
            case Node::kItem: row.Value(m, p); break;
            case Node::kItems:
                for (int32_t i = 0; i < m.count; ++i, p += m.size) row.Value(m, p);
                break;
            case Node::kCollapsed: row.Hex(p, m.size * std::max(m.count, 0)); break;
            case Node::kStruct:
                for (int32_t k = 0; k < m.count; ++k, p += m.size) AppendCells(m, p, row);
                break;
        }
    }
}

// Whether a JSON number (the parser has checked its grammar) is written
// as an integer: no fraction, no exponent.
bool IsJsonInteger(const char* text, size_t length) {
    return std::all_of(text + (length > 0 && text[0] == '-'), text + length,
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Reads one record object through the parser's events, checking each
// against the plan as it comes: the first event that does not fit stops
// the parse, so input nested deeper than the record is never followed.
class RecordReader {
  public:
    RecordReader(const Node& top, const std::string& name, int32_t id, bool lenient,
                 uint8_t* buffer, const rapidjson::MemoryStream& stream)
        : top_(top), name_(name), id_(id), lenient_(lenient), buffer_(buffer), stream_(stream) {}

    bool Null() { return Scalar(kNull, "null", 4); }
    bool Bool(bool b) { return Scalar(kBool, b ? "true" : "false", b ? 4 : 5); }
    bool Int(int) { return true; }  // numbers come as RawNumber
    bool Uint(unsigned) { return true; }
    bool Int64(int64_t) { return true; }
    bool Uint64(uint64_t) { return true; }
    bool Double(double) { return true; }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        return Scalar(kNumber, text, length);
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Scalar(kString, text, length);
    }
    bool StartObject();
    bool Key(const char* text, rapidjson::SizeType length, bool);
    bool EndObject(rapidjson::SizeType);
    bool StartArray();
    bool EndArray(rapidjson::SizeType);

    bool failed() const { return failed_; }
    // The path of the value being read: the field whose key came last, or
    // the array element next; empty outside the record's fields.
    std::string Where() const {
        if (depth_ == 0) return std::string();
        const Frame& f = frames_[depth_ - 1];
        if (f.array) return f.path + "[" + std::to_string(f.index) + "]";
        if (f.pending == nullptr || f.special != kNone) return std::string();
        return f.path.empty() ? f.pending->name : f.path + "." + f.pending->name;
    }
    const RecordJsonPlan::ReadError& error() const { return error_; }

  private:
    enum Event { kNull, kBool, kNumber, kString, kObject, kArray };
    enum Special { kNone, kSchemaKey, kIdKey, kNumberKey };

    struct Frame {
        const Node* node = nullptr;  // an object's structure; an array's repeated member
        bool array = false;
        int64_t base = 0;  // the object's bytes, or the array's first element
        int32_t index = 0;  // an array's elements so far
        std::string path;
        std::vector<uint8_t> seen;  // an object's members given
        const Node* pending = nullptr;  // the member whose key came last
        Special special = kNone;
        unsigned specialsSeen = 0;
        size_t hint = 0;  // where the next key is looked for first
    };

    // What the next value is for: the member, whether it is one element of
    // its repetitions, its bytes and its path.
    struct Slot {
        const Node* node = nullptr;
        bool element = false;
        int64_t offset = 0;
        std::string Path(const Frame& f) const;
    };

    bool Next(Slot& slot);
    bool Scalar(Event event, const char* text, size_t length);
    bool StoreScalar(const Slot& slot, Event event, const char* text, size_t length,
                     size_t start);
    bool SpecialValue(Frame& f, Event event, const char* text, size_t length, size_t start);
    bool Fail(size_t offset, std::string text) {
        failed_ = true;
        error_ = {offset, std::move(text)};
        return false;
    }
    std::string PathOf(const Slot& slot) const;
    static std::string Expected(const Node& node, bool element);
    static const char* Found(Event event);
    static std::string Shown(Event event, const char* text, size_t length);

    const Node& top_;
    const std::string& name_;
    int32_t id_;
    bool lenient_;
    uint8_t* buffer_;
    const rapidjson::MemoryStream& stream_;
    std::vector<Frame> frames_;
    size_t depth_ = 0;  // frames_ in use; kept beyond it for their memory
    bool failed_ = false;
    RecordJsonPlan::ReadError error_;
};

std::string RecordReader::PathOf(const Slot& slot) const {
    const Frame& f = frames_[depth_ - 1];
    if (f.array) return f.path + "[" + std::to_string(f.index) + "]";
    return f.path.empty() ? slot.node->name : f.path + "." + slot.node->name;
}

std::string RecordReader::Expected(const Node& node, bool element) {
    const std::string type =
        node.type == kTypeItemEnum ? node.enumName : std::string(SchemaTypeName(node.type));
    if (node.kind == Node::kCollapsed)
        return "a string of " + std::to_string(2 * node.size * std::max(node.count, 0)) +
               " hexadecimal digits (collapsed " + type + "[" + std::to_string(node.count) + "])";
    if (node.kind == Node::kStruct && (element || node.count == 1)) return "an object";
    if (!element && node.kind != Node::kItem)
        return "an array of " + std::to_string(node.count) +
               (node.kind == Node::kStruct ? " objects" : " " + type);
    switch (node.type) {
        case kTypeFloat:
        case kTypeDouble: return "a number or a string of nan or inf (" + type + ")";
        case kTypeItemEnum: return "an item name of " + type + " or an integer";
        default: return "an integer (" + type + ")";
    }
}

const char* RecordReader::Found(Event event) {
    switch (event) {
        case kNull: return "null";
        case kBool: return "true or false";
        case kNumber: return "a number";
        case kString: return "a string";
        case kObject: return "an object";
        case kArray: return "an array";
    }
    return "";
}

// A value as an error shows it: numbers and strings by their text, cut
// short when long.
std::string RecordReader::Shown(Event event, const char* text, size_t length) {
    if (event != kNumber && event != kString) return Found(event);
    std::string shown(text, std::min<size_t>(length, 40));
    if (length > 40) shown += "...";
    return event == kString ? "\"" + shown + "\"" : shown;
}

bool RecordReader::Next(Slot& slot) {
    Frame& f = frames_[depth_ - 1];
    if (f.array) {
        if (f.index >= f.node->count) {
            return Fail(stream_.Tell() - 1, "field " + f.path + ": expected " +
                                                std::to_string(f.node->count) +
                                                " values, found more");
        }
        slot.node = f.node;
        slot.element = true;
        slot.offset = f.base + static_cast<int64_t>(f.index) * f.node->size;
        return true;
    }
    slot.node = f.pending;
    slot.element = false;
    slot.offset = f.base + f.pending->offset;
    return true;
}

bool RecordReader::StartObject() {
    const size_t start = stream_.Tell() - 1;
    std::string path;
    int64_t base = 0;
    const Node* node = &top_;
    if (depth_ != 0) {
        Frame& f = frames_[depth_ - 1];
        if (!f.array && f.special != kNone) return SpecialValue(f, kObject, "", 0, start);
        Slot slot;
        if (!Next(slot)) return false;
        if (slot.node->kind != Node::kStruct || (!slot.element && slot.node->count != 1)) {
            return Fail(start, "field " + PathOf(slot) + ": expected " +
                                   Expected(*slot.node, slot.element) + ", found an object");
        }
        path = PathOf(slot);
        base = slot.offset;
        node = slot.node;
    }
    if (frames_.size() == depth_) frames_.emplace_back();
    Frame& f = frames_[depth_++];
    f.node = node;
    f.array = false;
    f.base = base;
    f.index = 0;
    f.path = std::move(path);
    f.seen.assign(node->members.size(), 0);
    f.pending = nullptr;
    f.special = kNone;
    f.specialsSeen = 0;
    f.hint = 0;
    return true;
}

bool RecordReader::Key(const char* text, rapidjson::SizeType length, bool) {
    Frame& f = frames_[depth_ - 1];
    const std::string_view key(text, length);
    const size_t start = stream_.Tell() - length - 2;
    const auto& members = f.node->members;
    size_t at = f.hint < members.size() && members[f.hint].name == key ? f.hint : members.size();
    for (size_t i = 0; at == members.size() && i < members.size(); ++i) {
        if (members[i].name == key) at = i;
    }
    const std::string path = f.path.empty() ? std::string(key) : f.path + "." + std::string(key);
    if (at == members.size()) {
        Special special = kNone;
        if (depth_ == 1) {
            special = key == "$schema" ? kSchemaKey
                      : key == "$id"   ? kIdKey
                      : key == "$number" ? kNumberKey
                                         : kNone;
        }
        if (special == kNone) return Fail(start, "unknown field " + path);
        if ((f.specialsSeen & (1u << special)) != 0)
            return Fail(start, "key " + path + " is given twice");
        f.specialsSeen |= 1u << special;
        f.special = special;
        return true;
    }
    if (f.seen[at] != 0) return Fail(start, "field " + path + " is given twice");
    f.seen[at] = 1;
    f.pending = &members[at];
    f.special = kNone;
    f.hint = at + 1;
    return true;
}

bool RecordReader::EndObject(rapidjson::SizeType) {
    Frame& f = frames_[depth_ - 1];
    if (!lenient_) {
        for (size_t i = 0; i < f.seen.size(); ++i) {
            if (f.seen[i] != 0) continue;
            const Node& m = f.node->members[i];
            return Fail(stream_.Tell() - 1,
                        "missing field " + (f.path.empty() ? m.name : f.path + "." + m.name) +
                            ": expected " + Expected(m, false));
        }
    }
    --depth_;
    if (depth_ != 0) {
        Frame& parent = frames_[depth_ - 1];
        if (parent.array) ++parent.index;
    }
    return true;
}

bool RecordReader::StartArray() {
    const size_t start = stream_.Tell() - 1;
    if (depth_ == 0) return Fail(start, "expected a record object, found an array");
    Frame& f = frames_[depth_ - 1];
    if (!f.array && f.special != kNone) return SpecialValue(f, kArray, "", 0, start);
    Slot slot;
    if (!Next(slot)) return false;
    if (slot.element || slot.node->kind == Node::kItem || slot.node->kind == Node::kCollapsed ||
        (slot.node->kind == Node::kStruct && slot.node->count == 1)) {
        return Fail(start, "field " + PathOf(slot) + ": expected " +
                               Expected(*slot.node, slot.element) + ", found an array");
    }
    std::string path = PathOf(slot);
    if (frames_.size() == depth_) frames_.emplace_back();
    Frame& a = frames_[depth_++];
    a.node = slot.node;
    a.array = true;
    a.base = slot.offset;
    a.index = 0;
    a.path = std::move(path);
    a.special = kNone;
    return true;
}

bool RecordReader::EndArray(rapidjson::SizeType) {
    Frame& a = frames_[depth_ - 1];
    if (a.index != a.node->count) {
        return Fail(stream_.Tell() - 1, "field " + a.path + ": expected " +
                                            Expected(*a.node, false) + ", found " +
                                            std::to_string(a.index));
    }
    --depth_;
    return true;
}

bool RecordReader::Scalar(Event event, const char* text, size_t length) {
    const size_t token = event == kString ? length + 2 : length;
    const size_t start = stream_.Tell() >= token ? stream_.Tell() - token : 0;
    if (depth_ == 0) return Fail(start, std::string("expected a record object, found ") + Found(event));
    Frame& f = frames_[depth_ - 1];
    if (!f.array && f.special != kNone) return SpecialValue(f, event, text, length, start);
    Slot slot;
    if (!Next(slot)) return false;
    if (!StoreScalar(slot, event, text, length, start)) return false;
    if (f.array) ++f.index;
    return true;
}

bool RecordReader::SpecialValue(Frame& f, Event event, const char* text, size_t length,
                                size_t start) {
    const Special special = f.special;
    f.special = kNone;
    const std::string_view value(text, length);
    if (special == kSchemaKey) {
        if (event == kString && value == name_) return true;
        return Fail(start, "key $schema: expected \"" + name_ + "\", found " +
                               (event == kString ? "\"" + std::string(value) + "\""
                                                 : std::string(Found(event))));
    }
    const bool integer = event == kNumber && IsJsonInteger(text, length);
    if (special == kIdKey) {
        if (integer && value == std::to_string(id_)) return true;
        return Fail(start, "key $id: expected " + std::to_string(id_) + ", found " +
                               (event == kNumber ? std::string(value) : std::string(Found(event))));
    }
    if (integer && text[0] != '-') return true;  // $number: not stored in the record
    return Fail(start, std::string("key $number: expected a record number, found ") +
                           (event == kNumber ? std::string(value) : std::string(Found(event))));
}

bool RecordReader::StoreScalar(const Slot& slot, Event event, const char* text, size_t length,
                               size_t start) {
    const Node& node = *slot.node;
    uint8_t* dest = buffer_ + slot.offset;
    auto wrong = [&] {
        return Fail(start, "field " + PathOf(slot) + ": expected " + Expected(node, slot.element) +
                               ", found " + Shown(event, text, length));
    };
    auto misfit = [&](const std::string& shown) {
        const std::string type =
            node.type == kTypeItemEnum ? node.enumName : std::string(SchemaTypeName(node.type));
        return Fail(start, "field " + PathOf(slot) + ": " + shown + " does not fit " + type);
    };
    if (node.kind == Node::kCollapsed) {
        const int64_t bytes = node.size * std::max(node.count, 0);
        auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0'
                   : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                            : -1;
        };
        if (event != kString || static_cast<int64_t>(length) != 2 * bytes ||
            !std::all_of(text, text + length, [&](char c) { return hex(c) >= 0; }))
            return wrong();
        for (int64_t i = 0; i < bytes; ++i)
            dest[i] = static_cast<uint8_t>(hex(text[2 * i]) * 16 + hex(text[2 * i + 1]));
        return true;
    }
    if (node.kind == Node::kStruct || (!slot.element && node.kind == Node::kItems)) return wrong();
    if (node.type == kTypeFloat || node.type == kTypeDouble) {
        // Strings only for the texts that are no JSON number.
        const char* p = text + (length > 0 && text[0] == '-');
        const bool special = event == kString && (*p == 'n' || *p == 'i' || *p == 's');
        if (event != kNumber && !special) return wrong();
        if (std::memchr(text, '\0', length) != nullptr) return wrong();
        if (!ConvertFittingText(node.type, text, dest))
            return misfit(event == kString ? "\"" + std::string(text, length) + "\""
                                           : std::string(text, length));
        return true;
    }
    if (node.type == kTypeItemEnum && event == kString) {
        const std::string_view name(text, length);
        auto it = std::lower_bound(
            node.nameValues.begin(), node.nameValues.end(), name,
            [](const std::pair<std::string, int32_t>& e, std::string_view n) { return e.first < n; });
        if (it == node.nameValues.end() || it->first != name) {
            return Fail(start, "field " + PathOf(slot) + ": \"" + std::string(name) +
                                   "\" is not an item of " + node.enumName);
        }
        StoreValue(dest, it->second);
        return true;
    }
    if (event != kNumber || !IsJsonInteger(text, length)) return wrong();
    // The value texts' own range checks (text is terminated). JSON takes
    // every stored value: a bool's whole int, a char as 0 to 255, unsigned
    // without a sign.
    bool fits;
    switch (node.type) {
        case kTypeBool: fits = ConvertFittingText(kTypeInt, text, dest); break;
        case kTypeChar: {
            uint8_t wide[2];
            fits = ConvertFittingText(kTypeUnsigned16, text, wide) && wide[1] == 0;
            if (fits) *dest = wide[0];
            break;
        }
        case kTypeUnsigned:
            fits = text[0] != '-' && ConvertFittingText(kTypeUnsigned, text, dest);
            break;
        default: fits = ConvertFittingText(node.type, text, dest); break;
    }
    if (!fits) return misfit(std::string(text, length));
    return true;
}

// Reads lines in exactly the form AppendJson writes, by the plan: each key
// is compared with the writer's text, each value converted by the value
// texts' own reads for written values (ReadWrittenValue) and stored at its
// offset. It departs (null, stop() where) at the first byte that differs
// from that form, and also at any text the parser and RecordReader might
// take another way than it does: escapes, bytes whose encoding would be
// checked, numbers the parser finds too big. A line it takes whole is one
// RecordReader reads without an error, strict or not, into the same bytes.
class WrittenLineScanner {
  public:
    explicit WrittenLineScanner(const char* end) : end_(end) {}

    // The members of s from p on (its first key), stored from base on;
    // returns the byte after the last one.
    const char* Members(const Node& s, const char* p, uint8_t* base);
    const char* stop() const { return stop_; }

  private:
    const char* Value(const Node& m, const char* p, uint8_t* dest);
    const char* Integer(UnitType kind, const char* p, uint8_t* dest);
    const char* Floating(UnitType kind, const char* p, uint8_t* dest);
    const char* Name(const Node& m, const char* p, uint8_t* dest);
    const char* Hex(const Node& m, const char* p, uint8_t* dest);
    const char* Depart(const char* p) {
        stop_ = p;
        return nullptr;
    }
    bool Take(const char*& p, char c) const {
        if (p == end_ || *p != c) return false;
        ++p;
        return true;
    }
    bool Digit(const char* p) const { return p < end_ && *p >= '0' && *p <= '9'; }
    // Whether m's lead is at p. Most keys are short: two words compared
    // under their masks rather than a call of memcmp.
    bool Lead(const Node& m, const char* p) const {
        const size_t n = m.lead.size();
        if (static_cast<size_t>(end_ - p) < std::max<size_t>(n, 16))
            return static_cast<size_t>(end_ - p) >= n && std::memcmp(p, m.lead.data(), n) == 0;
        uint64_t words[2];
        std::memcpy(words, p, sizeof words);  // the machine's order is little-endian
        if (((words[0] ^ m.leadWords[0]) & m.leadMasks[0]) != 0 ||
            ((words[1] ^ m.leadWords[1]) & m.leadMasks[1]) != 0)
            return false;
        return n <= 16 || std::memcmp(p + 16, m.lead.data() + 16, n - 16) == 0;
    }

    const char* end_;
    const char* stop_ = nullptr;
};

const char* WrittenLineScanner::Members(const Node& s, const char* p, uint8_t* base) {
    for (const Node& m : s.members) {
        if (!Lead(m, p)) return Depart(p);
        p += m.lead.size();
        uint8_t* dest = base + m.offset;
        switch (m.kind) {
            case Node::kItem: p = Value(m, p, dest); break;
            case Node::kCollapsed: p = Hex(m, p, dest); break;
            case Node::kItems:
                // A negative count is written as [], which the reader refuses.
                if (m.count < 0 || !Take(p, '[')) return Depart(p);
                for (int32_t i = 0; i < m.count; ++i, dest += m.size) {
                    if (i != 0 && !Take(p, ',')) return Depart(p);
                    if ((p = Value(m, p, dest)) == nullptr) return nullptr;
                }
                if (!Take(p, ']')) return Depart(p);
                break;
            case Node::kStruct:
                if (m.count != 1 && !Take(p, '[')) return Depart(p);
                for (int32_t k = 0; k < m.count; ++k, dest += m.size) {
                    if (k != 0 && !Take(p, ',')) return Depart(p);
                    if (!Take(p, '{')) return Depart(p);
                    if ((p = Members(m, p, dest)) == nullptr) return nullptr;
                    if (!Take(p, '}')) return Depart(p);
                }
                if (m.count != 1 && !Take(p, ']')) return Depart(p);
                break;
        }
        if (p == nullptr) return nullptr;
    }
    return p;
}

// The kinds as JSON writes them: a char as 0 to 255, a bool's whole int,
// unsigned without a sign.
const char* WrittenLineScanner::Value(const Node& m, const char* p, uint8_t* dest) {
    switch (m.type) {
        case kTypeFloat:
        case kTypeDouble: return Floating(m.type, p, dest);
        case kTypeItemEnum:
            return p < end_ && *p == '"' ? Name(m, p, dest) : Integer(kTypeItemEnum, p, dest);
        case kTypeChar: {
            uint8_t wide[2];
            const char* next = Integer(kTypeUnsigned16, p, wide);
            if (next == nullptr || wide[1] != 0) return Depart(p);
            *dest = wide[0];
            return next;
        }
        case kTypeBool: return Integer(kTypeInt, p, dest);
        case kTypeUnsigned:
            if (p < end_ && *p == '-') return Depart(p);
            return Integer(kTypeUnsigned, p, dest);
        default: return Integer(m.type, p, dest);
    }
}

const char* WrittenLineScanner::Integer(UnitType kind, const char* p, uint8_t* dest) {
    const char* q = p + (p < end_ && *p == '-');
    while (Digit(q)) ++q;
    if (!ReadWrittenValue(kind, p, q, dest)) return Depart(p);
    return q;
}

const char* WrittenLineScanner::Floating(UnitType kind, const char* p, uint8_t* dest) {
    // Longer numbers than any the writer writes are left to the parser,
    // which refuses some of them (an integer part of over 308 digits).
    constexpr ptrdiff_t kLongest = 64;
    if (p < end_ && *p == '"') {
        const char* text = p + 1;
        const auto* close = static_cast<const char*>(
            std::memchr(text, '"', static_cast<size_t>(std::min(end_ - text, kLongest))));
        if (close == nullptr) return Depart(p);
        const char* first = text + (text < close && *text == '-');
        if (first == close || (*first != 'n' && *first != 'i' && *first != 's') ||
            !ReadWrittenValue(kind, text, close, dest))
            return Depart(p);
        return close + 1;
    }
    // JSON's number grammar, which from_chars alone does not hold to.
    const char* q = p + (p < end_ && *p == '-');
    if (Digit(q) && *q == '0') {
        ++q;
    } else if (Digit(q)) {
        while (Digit(q)) ++q;
    } else {
        return Depart(p);
    }
    if (Take(q, '.')) {
        if (!Digit(q)) return Depart(p);
        while (Digit(q)) ++q;
    }
    if (Take(q, 'e') || Take(q, 'E')) {
        const bool minus = q < end_ && *q == '-';
        if (!Take(q, '+')) Take(q, '-');
        // A positive exponent above 308 is too big for the parser whatever
        // the digits before it.
        int exponent = 0;
        const char* digits = q;
        while (Digit(q) && q - digits < 3) exponent = exponent * 10 + (*q++ - '0');
        if (q == digits || Digit(q) || (!minus && exponent > 308)) return Depart(p);
    }
    if (q - p > kLongest || !ReadWrittenValue(kind, p, q, dest)) return Depart(p);
    return q;
}

const char* WrittenLineScanner::Name(const Node& m, const char* p, uint8_t* dest) {
    const char* text = p + 1;
    const auto* close =
        static_cast<const char*>(std::memchr(text, '"', static_cast<size_t>(end_ - text)));
    if (close == nullptr) return Depart(p);
    const std::string_view name(text, static_cast<size_t>(close - text));
    auto it = std::lower_bound(
        m.plainNames.begin(), m.plainNames.end(), name,
        [](const std::pair<std::string, int32_t>& e, std::string_view n) { return e.first < n; });
    if (it == m.plainNames.end() || it->first != name) return Depart(p);
    StoreValue(dest, it->second);
    return close + 1;
}

const char* WrittenLineScanner::Hex(const Node& m, const char* p, uint8_t* dest) {
    static const auto kDigits = [] {
        std::array<int8_t, 256> digits;
        digits.fill(-1);
        for (int c = 0; c < 10; ++c) digits['0' + c] = static_cast<int8_t>(c);
        for (int c = 0; c < 6; ++c) {
            digits['a' + c] = static_cast<int8_t>(10 + c);
            digits['A' + c] = static_cast<int8_t>(10 + c);
        }
        return digits;
    }();
    const int64_t bytes = m.size * std::max(m.count, 0);
    if (end_ - p < 2 * bytes + 2 || *p != '"' || p[2 * bytes + 1] != '"') return Depart(p);
    const auto* text = reinterpret_cast<const uint8_t*>(p + 1);
    for (int64_t i = 0; i < bytes; ++i) {
        const int high = kDigits[text[2 * i]];
        const int low = kDigits[text[2 * i + 1]];
        if ((high | low) < 0) return Depart(p);
        dest[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return p + 2 * bytes + 2;
}

// Whether every key of s and below is the name's JSON text with no byte
// whose encoding the parser checks, and no name is given twice in a
// structure: the scanner's keys then say the same as the reader's.
bool PlainKeys(const Node& s) {
    std::vector<std::string_view> names;
    for (const Node& m : s.members) {
        if (!IsAscii(m.name) || (m.kind == Node::kStruct && !PlainKeys(m))) return false;
        names.push_back(m.name);
    }
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) == names.end();
}

}  // namespace

RecordJsonPlan::RecordJsonPlan(const Schema& schema)
    : top_(std::make_unique<Node>()), name_(schema.name), id_(schema.id) {
    top_->kind = Node::kStruct;
    bytes_ = AddMembers(*schema.Top(), *top_, "", collapsed_, 0);
    top_->size = bytes_;
    head_ = "{\"$schema\":" + JsonStringOf(schema.name) + ",\"$id\":" + std::to_string(schema.id);
    scannable_ = IsAscii(schema.name) && PlainKeys(*top_);
}

RecordJsonPlan::~RecordJsonPlan() = default;

bool RecordJsonPlan::AppendJson(const uint8_t* buffer, int64_t length, int64_t number,
                                std::string& out) const {
    if (length < bytes_) return false;
    JsonText text(out);
    text.Put(head_);
    if (number >= 0) {
        text.Put(",\"$number\":");
        text.Integer(number);
    }
    if (!top_->members.empty()) text.Put(',');
    AppendMembers(*top_, buffer, text);
    text.Put('}');
    text.Finish();
    return true;
}

std::vector<std::string> RecordJsonPlan::CsvHeader() const {
    std::vector<std::string> cells;
    AddHeader(*top_, "", cells);
    return cells;
}

void RecordJsonPlan::AppendCsvHeader(char delimiter, std::string& out) const {
    CsvRow row(out, delimiter);
    for (const std::string& cell : CsvHeader()) row.Text(cell);
    row.Finish();
}

bool RecordJsonPlan::AppendCsv(const uint8_t* buffer, int64_t length, char delimiter,
                               std::string& out) const {
    if (length < bytes_) return false;
    CsvRow row(out, delimiter);
    AppendCells(*top_, buffer, row);
    row.Finish();
    return true;
}

bool RecordJsonPlan::ReadJson(std::string_view text, bool lenient, uint8_t* buffer,
                              int64_t length, ReadError* error) const {
    if (length < bytes_) {
        if (error != nullptr) *error = {0, "the record buffer is too small"};
        return false;
    }
    if (backOff_.Worth()) {
        size_t reached = 0;
        const bool taken = ScanJson(text, buffer, length, &reached);
        backOff_.Count(taken, static_cast<ptrdiff_t>(reached));
        if (taken) return true;
    }
    std::memset(buffer, 0, static_cast<size_t>(bytes_));
    rapidjson::MemoryStream stream(text.data(), text.size());
    RecordReader handler(*top_, name_, id_, lenient, buffer, stream);
    rapidjson::Reader reader;
    constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag |
                                rapidjson::kParseValidateEncodingFlag;
    rapidjson::ParseResult result = reader.Parse<kFlags>(stream, handler);
    if (!result.IsError()) return true;
    if (error != nullptr) {
        if (handler.failed()) {
            *error = handler.error();
        } else {
            // Errors inside a value name the field it is for.
            std::string where;
            switch (result.Code()) {
                case rapidjson::kParseErrorValueInvalid:
                case rapidjson::kParseErrorNumberTooBig:
                case rapidjson::kParseErrorNumberMissFraction:
                case rapidjson::kParseErrorNumberMissExponent:
                case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
                case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
                case rapidjson::kParseErrorStringEscapeInvalid:
                case rapidjson::kParseErrorStringMissQuotationMark:
                case rapidjson::kParseErrorStringInvalidEncoding:
                    where = handler.Where();
                    break;
                default:
                    break;
            }
            *error = {result.Offset(), (where.empty() ? std::string() : "field " + where + ": ") +
                                           "not JSON: " +
                                           rapidjson::GetParseError_En(result.Code())};
        }
    }
    return false;
}

bool RecordJsonPlan::ScanJson(std::string_view text, uint8_t* buffer, int64_t length,
                              size_t* reached) const {
    const char* p = text.data();
    const char* end = p + text.size();
    auto depart = [&](const char* at) {
        if (reached != nullptr) *reached = static_cast<size_t>(at - text.data());
        return false;
    };
    if (!scannable_ || length < bytes_ || text.substr(0, head_.size()) != head_) return depart(p);
    std::memset(buffer, 0, static_cast<size_t>(bytes_));
    p += head_.size();
    constexpr std::string_view kNumberKey = ",\"$number\":";
    if (text.substr(head_.size(), kNumberKey.size()) == kNumberKey) {
        // Any record number the parser reads whole: no leading zero, no
        // sign, and few enough digits.
        p += kNumberKey.size();
        const char* digits = p;
        while (p < end && *p >= '0' && *p <= '9' && p - digits < 19) ++p;
        if (p == digits || (*digits == '0' && p - digits > 1) || (p < end && *p >= '0' && *p <= '9'))
            return depart(digits);
    }
    if (!top_->members.empty()) {
        if (p == end || *p != ',') return depart(p);
        ++p;
    }
    WrittenLineScanner scanner(end);
    p = scanner.Members(*top_, p, buffer);
    if (p == nullptr) return depart(scanner.stop());
    if (p == end || *p != '}') return depart(p);
    // The blanks JSON allows after the object: a line end of CR LF.
    for (++p; p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'); ++p) {
    }
    if (p != end) return depart(p);
    return true;
}

bool AppendRecordJson(const Schema& schema, const uint8_t* buffer, int64_t length, int64_t number,
                      std::string& out) {
    if (schema.Top() == nullptr) return false;
    return RecordJsonPlan(schema).AppendJson(buffer, length, number, out);
}

}  // namespace morvane
