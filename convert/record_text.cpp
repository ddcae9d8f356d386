#include "convert/record_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "convert/value_codec.h"
#include "generate/xml_writer.h"
#include "schema/schema.h"

namespace morvane {
namespace {

std::string Indent(int32_t level) { return std::string(static_cast<size_t>(level) * 3, ' '); }

// Writes into a string grown ahead of the writes, so that every piece is
// a plain copy rather than a checked append.
class Sink {
  public:
    Sink(std::string& out, size_t& used) : out_(out), usedOut_(used), start_(used), used_(used) {}
    ~Sink() { usedOut_ = used_; }
    void Drop() { used_ = start_; }

    // Room for n more bytes.
    char* Room(size_t n) {
        if (out_.size() - used_ < n) out_.resize(std::max(out_.size() * 2, used_ + n + 4096));
        return out_.data() + used_;
    }
    void Copy(const char* text, size_t n) {
        std::memcpy(Room(n), text, n);
        used_ += n;
    }
    void Number(int64_t value) {
        char* p = Room(24);
        used_ += static_cast<size_t>(std::to_chars(p, p + 24, value).ptr - p);
    }
    // The end of what was written at Room(); for steps that check the room
    // once and then copy their pieces without further checks.
    void Commit(const char* end) { used_ = static_cast<size_t>(end - out_.data()); }

  private:
    std::string& out_;
    size_t& usedOut_;
    size_t start_;
    size_t used_;
};

}  // namespace

RecordTextPlan::RecordTextPlan(const Schema& schema, int32_t depth) : depth_(depth) {
    const CStructure& top = *schema.Top();
    std::string head = Indent(depth) + "<Schema name=\"" + top.name + "\" id=\"" +
                       std::to_string(schema.id) + "\" number=\"";
    std::string tail = "\" offset=\"" + std::to_string(top.offset) + "\"";
    if (top.size != 0) tail += " size=\"" + std::to_string(top.size) + "\"";
    tail += ">\n";
    Add(Op::kRecordHead, head, tail);
    maxLevel_ = depth;
    AddStructure(top, depth + 1);
    Add(Op::kText, Indent(depth) + "</Schema>\n");
}

uint32_t RecordTextPlan::Piece(const std::string& text, uint32_t& length) {
    auto at = static_cast<uint32_t>(texts_.size());
    texts_ += text;
    length = static_cast<uint32_t>(text.size());
    return at;
}

RecordTextPlan::Step& RecordTextPlan::Add(Op op, const std::string& text, const std::string& tail) {
    Step step;
    step.op = op;
    step.text = Piece(text, step.textLength);
    step.tail = Piece(tail, step.tailLength);
    step.lines = static_cast<int32_t>(std::count(text.begin(), text.end(), '\n') +
                                      std::count(tail.begin(), tail.end(), '\n'));
    steps_.push_back(step);
    return steps_.back();
}

void RecordTextPlan::AddStructure(const CStructure& s, int32_t level) {
    const std::string in = Indent(level);
    for (const auto& member : s.units) {
        const Unit& u = *member;
        if (!u.IsLayoutMember()) continue;
        if (const CStructure* child = u.AsStructure()) {
            if (u.nrepetitions <= 0) continue;
            maxLevel_ = std::max(maxLevel_, level);
            auto open = static_cast<int32_t>(steps_.size());
            Step& step = Add(Op::kOpen, in + "<Structure name=\"" + u.name + "\" offset=\"",
                             "\" size=\"" + std::to_string(u.size) + "\" index=\"");
            step.count = u.nrepetitions;
            step.offset = u.offset;
            step.size = u.size;
            step.name = &u.name;
            ++step.lines;  // the "\">\n" after the index
            AddStructure(*child, level + 1);
            Add(Op::kClose, in + "</Structure>\n").jump = open;
            continue;
        }
        bool isEnum = u.type == kTypeItemEnum;
        const char* element = isEnum ? "Item_enum" : "Item";
        std::string type = isEnum ? (u.ref != nullptr ? u.ref->name : std::string())
                                  : std::string(SchemaTypeName(u.type));
        std::string start = in + "<" + element + " name=\"" + u.name + "\" type=\"" + type + "\"";
        std::string end = std::string("</") + element + ">\n";
        int32_t n = u.nrepetitions;
        Step* step;
        if (n == 1) {
            step = &Add(Op::kValue, start + ">", end);
            step->count = 1;
        } else if (u.visibility) {
            if (n <= 0) continue;
            step = &Add(Op::kIndexed, start + " index=\"", end);
            step->count = n;
        } else {
            step = &Add(Op::kText, start + " nrepetitions=\"" + std::to_string(n) + "\"/>\n");
            step->count = n;
        }
        step->kind = u.type;
        step->size = TypeSize(u.type);
        step->name = &u.name;
    }
}

void RecordTextPlan::Repeat(size_t& i, int32_t* reps, int32_t& open) const {
    const Step& head = steps_[static_cast<size_t>(steps_[i].jump)];
    int32_t k = reps[--open] + 1;
    if (k < head.count) {
        reps[open] = k;
        i = static_cast<size_t>(steps_[i].jump) - 1;  // the loop's ++i lands on the kOpen
    } else {
        reps[open] = 0;
    }
}

bool RecordTextPlan::Append(int32_t number, const uint8_t* buffer, int32_t length, std::string& out,
                            size_t& used, Outside* outside) const {
    if (maxLevel_ >= CXmlWriter::kMaxDepth) return false;
    Sink sink(out, used);
    const char* texts = texts_.data();
    int64_t offset = 0;
    // The repetition counter of each open structure, innermost last; only
    // as many as structures nest are set, not the whole array per record.
    int32_t reps[CXmlWriter::kMaxDepth];
    std::fill_n(reps, maxLevel_ - depth_ + 1, 0);
    int32_t open = 0;
    const size_t count = steps_.size();
    for (size_t i = 0; i < count; ++i) {
        const Step& s = steps_[i];
        switch (s.op) {
            case Op::kRecordHead:
                sink.Copy(texts + s.text, s.textLength);
                sink.Number(number);
                sink.Copy(texts + s.tail, s.tailLength);
                break;
            case Op::kText:
                sink.Copy(texts + s.text, s.textLength);
                offset += static_cast<int64_t>(s.count) * s.size;
                break;
            case Op::kValue:
            case Op::kIndexed: {
                int32_t n = s.op == Op::kValue ? 1 : s.count;
                for (int32_t j = 0; j < n; ++j) {
                    if (offset < 0 || offset + s.size > length) {
                        if (outside != nullptr) *outside = {s.name, offset};
                        sink.Drop();
                        return false;
                    }
                    // The line's pieces, its index (11 characters at most) and
                    // its value, all within the room checked once.
                    char* p = sink.Room(s.textLength + s.tailLength + kValueTextSize + 16);
                    std::memcpy(p, texts + s.text, s.textLength);
                    p += s.textLength;
                    if (s.op == Op::kIndexed) {
                        p = std::to_chars(p, p + 11, j).ptr;
                        *p++ = '"';
                        *p++ = '>';
                    }
                    p += FormatValue(s.kind, buffer + offset, p);
                    std::memcpy(p, texts + s.tail, s.tailLength);
                    sink.Commit(p + s.tailLength);
                    offset += s.size;
                }
                break;
            }
            case Op::kOpen: {
                int32_t k = reps[open++];
                sink.Copy(texts + s.text, s.textLength);
                sink.Number(static_cast<int64_t>(s.offset) + static_cast<int64_t>(k) * s.size);
                sink.Copy(texts + s.tail, s.tailLength);
                sink.Number(k);
                sink.Copy("\">\n", 3);
                break;
            }
            case Op::kClose:
                sink.Copy(texts + s.text, s.textLength);
                Repeat(i, reps, open);
                break;
        }
    }
    return true;
}

}  // namespace morvane

namespace morvane {
namespace {

// The structures the data reader follows in one record; deeper records are
// left to it.
constexpr int32_t kMaxScannedNesting = 100;

static_assert(std::endian::native == std::endian::little, "the byte searches below");

// Whether the n bytes at a and b are the same. The fixed texts of a record
// are short (an element's start, "</Item>\n"): compared inline, in words,
// rather than by a library call each.
inline bool SameBytes(const char* a, const char* b, size_t n) {
    for (; n > 16; a += 16, b += 16, n -= 16) {
        const uint64_t first = LoadValue<uint64_t>(a) ^ LoadValue<uint64_t>(b);
        if ((first | (LoadValue<uint64_t>(a + 8) ^ LoadValue<uint64_t>(b + 8))) != 0) return false;
    }
    // The last words overlap the ones before.
    if (n >= 8)
        return ((LoadValue<uint64_t>(a) ^ LoadValue<uint64_t>(b)) |
                (LoadValue<uint64_t>(a + n - 8) ^ LoadValue<uint64_t>(b + n - 8))) == 0;
    if (n >= 4)
        return ((LoadValue<uint32_t>(a) ^ LoadValue<uint32_t>(b)) |
                (LoadValue<uint32_t>(a + n - 4) ^ LoadValue<uint32_t>(b + n - 4))) == 0;
    if (n >= 2)
        return ((LoadValue<uint16_t>(a) ^ LoadValue<uint16_t>(b)) |
                (LoadValue<uint16_t>(a + n - 2) ^ LoadValue<uint16_t>(b + n - 2))) == 0;
    return n == 0 || *a == *b;
}

// The first '<' in [p, end), or null; eight bytes at a time, as values
// are short.
inline const char* FindTagStart(const char* p, const char* end) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    for (; end - p >= 8; p += 8) {
        const uint64_t v = LoadValue<uint64_t>(p) ^ (kOnes * '<');
        // The lowest byte flagged is the first zero byte of v: bytes above a
        // zero may be flagged wrongly, never those below.
        const uint64_t zero = (v - kOnes) & ~v & (kOnes * 0x80);
        if (zero != 0) return p + (std::countr_zero(zero) >> 3);
    }
    for (; p < end; ++p) {
        if (*p == '<') return p;
    }
    return nullptr;
}

// Moves p past text when the input holds it there.
inline bool Take(const char*& p, const char* end, const char* text, size_t n) {
    if (static_cast<size_t>(end - p) < n || !SameBytes(p, text, n)) return false;
    p += n;
    return true;
}

// Moves p past a decimal number of up to 11 characters, a sign included;
// value is the number, or -1 when it is negative (-0 being 0).
inline bool TakeNumber(const char*& p, const char* end, int64_t& value) {
    const bool negative = p < end && *p == '-';
    const char* q = p + negative;
    const char* digits = q;
    int64_t magnitude = 0;
    for (; q < end && q - digits < 11; ++q) {
        const unsigned d = static_cast<unsigned char>(*q) - unsigned{'0'};
        if (d > 9) break;
        magnitude = magnitude * 10 + d;
    }
    if (q == digits) return false;
    p = q;
    value = negative && magnitude != 0 ? -1 : magnitude;
    return true;
}

inline bool TakeNumber(const char*& p, const char* end) {
    int64_t value;
    return TakeNumber(p, end, value);
}

void AppendNumber(std::string& out, int64_t value) {
    char digits[24];
    out.append(digits, static_cast<size_t>(
                           std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
}

// The data reader's trace line of a value element.
void TraceValue(std::string& out, UnitType kind, const std::string& name, int64_t offset,
                const char* text, size_t n) {
    out += kind == kTypeItemEnum ? "   name_unit=Item_enum, struct_name="
                                 : "   name_unit=Item, struct_name=";
    out += name;
    out += " offset_elem=";
    AppendNumber(out, static_cast<int>(offset));
    out += " text=";
    if (n == 0) {
        out += "(null)";
    } else {
        out.append(text, n);
    }
    out += '\n';
}

}  // namespace

const char* RecordTextPlan::Scan(const char* begin, const char* end, uint8_t* values,
                                 int32_t length, std::string* trace, int64_t& lines,
                                 const char*& reached, int64_t* number) const {
    const char* p = begin;
    reached = begin;
    if (number != nullptr) *number = -1;
    if (maxLevel_ - depth_ >= kMaxScannedNesting) return nullptr;
    const char* texts = texts_.data();
    // Wherever the scan returns, reached tells how far it got.
    struct Reach {
        const char*& p;
        const char*& reached;
        ~Reach() { reached = p; }
    } reach{p, reached};
    int64_t offset = 0;
    int64_t lineEnds = 0;
    int32_t reps[CXmlWriter::kMaxDepth];
    std::fill_n(reps, maxLevel_ - depth_ + 1, 0);
    int32_t open = 0;
    const size_t count = steps_.size();
    for (size_t i = 0; i < count; ++i) {
        const Step& s = steps_[i];
        lineEnds += s.lines;
        switch (s.op) {
            case Op::kRecordHead: {
                // The head's text ends in ` number="`, its tail starts with
                // the quote that closes the number.
                constexpr size_t kNumber = sizeof " number=\"" - 1;
                size_t indent = p < end && *p == '<' ? static_cast<size_t>(depth_) * 3 : 0;
                const char* head = texts + s.text + indent;
                const size_t n = s.textLength - indent;
                if (Take(p, end, head, n)) {
                    int64_t value;
                    if (!TakeNumber(p, end, value) || !Take(p, end, texts + s.tail, s.tailLength))
                        return nullptr;
                    if (number != nullptr) *number = value;
                } else if (!Take(p, end, head, n - kNumber) ||
                           !Take(p, end, texts + s.tail + 1, s.tailLength - 1)) {
                    return nullptr;
                }
                break;
            }
            case Op::kText: {
                size_t n = s.textLength;
                // The record's end line may lack its line end.
                if (i + 1 == count && static_cast<size_t>(end - p) == n - 1) {
                    --n;
                    --lineEnds;
                }
                if (!Take(p, end, texts + s.text, n)) return nullptr;
                if (trace != nullptr && s.name != nullptr)
                    TraceValue(*trace, s.kind, *s.name, offset, nullptr, 0);
                offset += static_cast<int64_t>(s.count) * s.size;
                if (offset > length) return nullptr;
                break;
            }
            case Op::kValue:
            case Op::kIndexed: {
                const int32_t n = s.op == Op::kValue ? 1 : s.count;
                for (int32_t j = 0; j < n; ++j) {
                    if (j > 0) lineEnds += s.lines;
                    if (!Take(p, end, texts + s.text, s.textLength)) return nullptr;
                    if (s.op == Op::kIndexed && (!TakeNumber(p, end) || !Take(p, end, "\">", 2)))
                        return nullptr;
                    const char* text = p;
                    p = FindTagStart(p, end);
                    if (p == nullptr) return nullptr;
                    if (offset + s.size > length) return nullptr;
                    if (p != text && !ReadWrittenValue(s.kind, text, p, values + offset))
                        return nullptr;
                    if (trace != nullptr)
                        TraceValue(*trace, s.kind, *s.name, offset, text,
                                   static_cast<size_t>(p - text));
                    if (!Take(p, end, texts + s.tail, s.tailLength)) return nullptr;
                    offset += s.size;
                }
                break;
            }
            case Op::kOpen: {
                if (!Take(p, end, texts + s.text, s.textLength) || !TakeNumber(p, end) ||
                    !Take(p, end, texts + s.tail, s.tailLength) || !TakeNumber(p, end) ||
                    !Take(p, end, "\">\n", 3))
                    return nullptr;
                if (trace != nullptr) {
                    *trace += "name_unit=Structure, struct_name=";
                    *trace += *s.name;
                    *trace += '\n';
                }
                ++open;
                break;
            }
            case Op::kClose:
                if (!Take(p, end, texts + s.text, s.textLength)) return nullptr;
                Repeat(i, reps, open);
                break;
        }
    }
    lines = lineEnds;
    return p;
}

}  // namespace morvane
