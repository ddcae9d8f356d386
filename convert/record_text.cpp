#include "convert/record_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "convert/value_codec.h"
#include "generate/xml_writer.h"
#include "schema/schema.h"

namespace morvane {
namespace {

std::string Indent(int32_t level) { return std::string(static_cast<size_t>(level) * 3, ' '); }

// Appends into a string grown ahead of the writes, so that every piece is
// a plain copy rather than a checked append.
class Sink {
  public:
    explicit Sink(std::string& out) : out_(out), start_(out.size()), used_(out.size()) {}
    ~Sink() { out_.resize(used_); }
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
    void Value(UnitType kind, const uint8_t* bytes) {
        used_ += FormatValue(kind, bytes, Room(kValueTextSize));
    }

  private:
    std::string& out_;
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

bool RecordTextPlan::Append(int32_t number, const uint8_t* buffer, int32_t length,
                            std::string& out, Outside* outside) const {
    if (maxLevel_ >= CXmlWriter::kMaxDepth) return false;
    Sink sink(out);
    const char* texts = texts_.data();
    int64_t offset = 0;
    // The repetition counter of each open structure, innermost last.
    int32_t reps[CXmlWriter::kMaxDepth] = {};
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
                    sink.Copy(texts + s.text, s.textLength);
                    if (s.op == Op::kIndexed) {
                        sink.Number(j);
                        sink.Copy("\">", 2);
                    }
                    sink.Value(s.kind, buffer + offset);
                    sink.Copy(texts + s.tail, s.tailLength);
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
            case Op::kClose: {
                sink.Copy(texts + s.text, s.textLength);
                const Step& head = steps_[static_cast<size_t>(s.jump)];
                int32_t k = reps[--open] + 1;
                if (k < head.count) {
                    reps[open] = k;
                    i = static_cast<size_t>(s.jump) - 1;  // the loop's ++i lands on the kOpen
                } else {
                    reps[open] = 0;
                }
                break;
            }
        }
    }
    return true;
}

}  // namespace morvane
