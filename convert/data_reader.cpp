#include "convert/data_reader.h"

#include <fcntl.h>
#include <malloc.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include <pugixml.hpp>

#include "convert/value_codec.h"
#include "convert/written_record.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

const char* OrNull(const char* text) { return text != nullptr ? text : "(null)"; }
const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Exact comparison of short names, inlined: it stops at the first byte that
// differs, the terminator included, and saves a library call per attribute.
inline bool Same(const char* a, const char* b) {
    for (; *a == *b; ++a, ++b) {
        if (*a == '\0') return true;
    }
    return false;
}

pugi::xml_node FirstElement(pugi::xml_node parent) {
    pugi::xml_node n = parent.first_child();
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
}

pugi::xml_node NextElement(pugi::xml_node node) {
    pugi::xml_node n = node.next_sibling();
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
}

// The attributes a value element is read by, found in one pass.
struct ValueAttributes {
    const char* name = nullptr;
    const char* type = nullptr;
    const char* nrepetitions = nullptr;
};

ValueAttributes AttributesOf(pugi::xml_node element) {
    ValueAttributes a;
    for (pugi::xml_attribute attr = element.first_attribute(); attr; attr = attr.next_attribute()) {
        const char* n = attr.name();
        const char** slot = nullptr;
        if (Same(n, "name"))
            slot = &a.name;
        else if (Same(n, "type"))
            slot = &a.type;
        else if (Same(n, "nrepetitions"))
            slot = &a.nrepetitions;
        if (slot != nullptr && *slot == nullptr) *slot = attr.value();
    }
    return a;
}

// The type table's names and sizes, taken once: the walk needs them for
// every element.
struct KindTable {
    const char* name[kUnitTypeCount];
    int32_t size[kUnitTypeCount];

    KindTable() {
        for (int code = 0; code < kUnitTypeCount; ++code) {
            name[code] = SchemaTypeName(static_cast<UnitType>(code));
            size[code] = TypeSize(static_cast<UnitType>(code));
        }
    }
};

const KindTable& Kinds() {
    static const KindTable table;
    return table;
}

// Compares a tag with a type's name ignoring case; the first letter decides
// most tags cheaply.
bool TagIs(const char* tag, UnitType kind) {
    const char* name = Kinds().name[kind];
    return (tag[0] | 0x20) == name[0] && strcasecmp(tag, name) == 0;
}

// The kind a type attribute names. Data files spell the names as the type
// table does, so an exact match settles almost every element cheaply; other
// spellings go through the case-insensitive look-up.
UnitType KindOfTypeName(const char* name) {
    const KindTable& kinds = Kinds();
    for (int code = 0; code < kUnitTypeCount; ++code) {
        if (kinds.name[code][0] == name[0] && Same(kinds.name[code], name))
            return static_cast<UnitType>(code);
    }
    return TypeFromName(name);
}

// What the schema expects next in strict mode: the member of each
// structure entered so far and how many of its elements were seen.
class SchemaCursor {
  public:
    explicit SchemaCursor(const CStructure* top) { frames_.push_back({top, 0, 0}); }

    // The member the next element must stand for; null when the innermost
    // structure has no more.
    const Unit* Expected() {
        Frame& f = frames_.back();
        while (f.member < f.s->units.size()) {
            const Unit& u = *f.s->units[f.member];
            if (u.IsLayoutMember() && f.seen < ElementsOf(u)) return &u;
            ++f.member;
            f.seen = 0;
        }
        return nullptr;
    }
    void Consume() { ++frames_.back().seen; }
    void Enter(const CStructure* s) { frames_.push_back({s, 0, 0}); }
    void Leave() {
        if (frames_.size() > 1) frames_.pop_back();
    }
    const CStructure* Current() const { return frames_.back().s; }

    // The elements a member is written as: one per structure repetition or
    // visible repetition, one collapsed element otherwise.
    static int32_t ElementsOf(const Unit& u) {
        if (StructureOf(u) != nullptr || (u.visibility && u.nrepetitions != 1))
            return u.nrepetitions;
        return 1;
    }
    static bool Collapsed(const Unit& u) {
        return StructureOf(u) == nullptr && !u.visibility && u.nrepetitions != 1;
    }
    // The structure a member is; only units of type structure can be one,
    // so the others cost no virtual call.
    static const CStructure* StructureOf(const Unit& u) {
        return u.type == kTypeStructure ? u.AsStructure() : nullptr;
    }

  private:
    struct Frame {
        const CStructure* s;
        size_t member;
        int32_t seen;
    };
    std::vector<Frame> frames_;
};

const char* TypeAttributeOf(const Unit& u) {
    if (u.type == kTypeItemEnum) return u.ref != nullptr ? u.ref->name.c_str() : "";
    return Kinds().name[u.type];
}

// The lines of one read, collected as the walk goes and handed to the
// logger in as few calls as possible: one per read, unless the lines pass
// kFlushBytes (a file of many thousand values) or an error line must
// follow them. The logger library writes each call at once and whole, so
// lines stay whole and in order; nothing is held once the read returns.
// Given the caller's text, the lines are appended there instead and
// nothing is logged.
class TraceLines {
  public:
    static constexpr size_t kFlushBytes = 256 * 1024;

    explicit TraceLines(std::string* callers)
        : on_(TraceEnabled()),
          text_(callers != nullptr ? *callers : Text()),
          callers_(callers),
          used_(callers != nullptr ? callers->size() : 0) {}
    ~TraceLines() {
        Flush();
        if (callers_ != nullptr) callers_->resize(used_);
    }
    TraceLines(const TraceLines&) = delete;
    TraceLines& operator=(const TraceLines&) = delete;

    bool On() const { return on_; }
    TraceLines& operator<<(const char* piece) {
        Append(piece, std::strlen(piece));
        return *this;
    }
    TraceLines& operator<<(int value) {
        char* p = Room(16);
        used_ += static_cast<size_t>(std::to_chars(p, p + 16, value).ptr - p);
        return *this;
    }
    // Whole lines, each with its line end.
    void Lines(std::string_view lines) {
        Append(lines.data(), lines.size());
        if (used_ >= kFlushBytes) Flush();
    }
    // Ends a line begun with the operators.
    void EndLine() {
        Append("\n", 1);
        if (used_ >= kFlushBytes) Flush();
    }
    // An error line: after the lines before it.
    void Error(const char* source, const std::string& text) {
        if (callers_ == nullptr) {
            Flush();
            LogLine(true, "Error! %s: %s\n", source, text.c_str());
            return;
        }
        *this << "Error! " << source << ": " << text.c_str();
        EndLine();
    }
    void Flush() {
        if (callers_ != nullptr || used_ == 0) return;
        *Room(1) = '\0';
        if (PrintfDebFn fn = LogFunction()) fn(LogHandle(), true, "%s", text_.data());
        used_ = 0;
    }

  private:
    // The thread's line buffer, kept so that its memory is reused.
    static std::string& Text() {
        thread_local std::string text;
        return text;
    }
    // Room for n more bytes. The string is kept at least as long as the
    // lines, so that each piece is a plain copy; used_ is where they end.
    char* Room(size_t n) {
        if (text_.size() - used_ < n) text_.resize(std::max(text_.size() * 2, used_ + n + 4096));
        return text_.data() + used_;
    }
    void Append(const char* piece, size_t n) {
        std::memcpy(Room(n), piece, n);
        used_ += n;
    }

    bool on_;
    std::string& text_;
    std::string* callers_;
    size_t used_;
};

class DataReader {
  public:
    DataReader(const Schema& schema, const char* source, bool store, uint8_t* buffer,
               int32_t length, const ReadOptions& options, std::vector<ReadError>* errors,
               TraceLines& trace)
        : schema_(schema),
          source_(source),
          store_(store),
          buffer_(buffer),
          length_(length),
          strict_(options.strict),
          errors_(errors),
          trace_(trace) {}

    // Reads the children of the record element; false after an error.
    bool ReadRecord(pugi::xml_node record);
    // Reports an error: logged with the source when log is set, appended to
    // the caller's errors when it asked for them.
    void Report(pugi::xml_node at, bool log, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

  private:
    bool ReadValue(pugi::xml_node element, const char* tag);
    // Whether element, at the given nesting level (the record element is
    // 1), holds elements deeper than kMaxXmlDepth; reported when it does.
    bool TooDeep(pugi::xml_node element, int level);
    // Strict mode: checks an element against the member the schema expects.
    bool MatchesSchema(pugi::xml_node element, const char* tag, const ValueAttributes& a);
    void CheckStructureEnd(pugi::xml_node element);

    const Schema& schema_;
    const char* source_;
    bool store_;
    uint8_t* buffer_;
    int32_t length_;
    bool strict_;
    std::vector<ReadError>* errors_;
    TraceLines& trace_;
    bool failed_ = false;  // a strict error was reported
    int64_t offset_ = 0;
    int depth_ = 0;  // Structure elements entered
    std::unique_ptr<SchemaCursor> cursor_;  // strict mode while the elements follow the schema
};

void DataReader::Report(pugi::xml_node at, bool log, const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    AppendFormatV(text, format, args);
    va_end(args);
    if (log) trace_.Error(source_, text);
    if (errors_ != nullptr) errors_->push_back({at ? at.offset_debug() : -1, std::move(text)});
}

bool DataReader::TooDeep(pugi::xml_node element, int level) {
    if (XmlElementDepth(element, level, kMaxXmlDepth) <= kMaxXmlDepth) return false;
    Report(element, false, "elements nested deeper than %d levels", kMaxXmlDepth);
    return true;
}

// The walk is iterative: a Structure element is entered by moving to its
// first child and left by moving on from it when its children run out, so
// the depth costs no stack. Elements it does not enter are measured only
// when they hold more than their text, so that the common file is walked
// once.
bool DataReader::ReadRecord(pugi::xml_node record) {
    if (strict_) {
        const CStructure* top = schema_.Top();
        const char* name = record.attribute("name").value();
        if (Same(record.name(), "Schema") && top != nullptr && Same(name, top->name.c_str()))
            cursor_ = std::make_unique<SchemaCursor>(top);
        else
            Report(record, true, "element %s name=\"%s\" is not a record of %s", record.name(), name,
                   schema_.name.c_str());
        failed_ = !cursor_;
    }
    pugi::xml_node parent = record;
    pugi::xml_node node = FirstElement(record);
    for (;;) {
        if (!node) {
            if (cursor_) CheckStructureEnd(parent);
            if (depth_ == 0) return !failed_;
            node = NextElement(parent);
            parent = parent.parent();
            --depth_;
            continue;
        }
        const char* tag = node.name();
        if (TagIs(tag, kTypeStructure)) {
            if (trace_.On()) {
                trace_ << "name_unit=" << tag << ", struct_name="
                       << OrNull(node.attribute("name").as_string(nullptr));
                trace_.EndLine();
            }
            if (depth_ == kMaxDataStructureDepth) {
                Report(node, true, "element %s name=\"%s\" is nested deeper than %d structures", tag,
                       node.attribute("name").value(), kMaxDataStructureDepth);
                return false;
            }
            if (strict_) MatchesSchema(node, tag, AttributesOf(node));
            ++depth_;
            parent = node;
            node = FirstElement(node);
            continue;
        }
        if (TagIs(tag, kTypeEnum)) {
            if (strict_) MatchesSchema(node, tag, AttributesOf(node));
            if (node.first_child() && TooDeep(node, depth_ + 2)) return false;
        } else if (!ReadValue(node, tag)) {
            return false;
        }
        node = NextElement(node);
    }
}

bool DataReader::ReadValue(pugi::xml_node element, const char* tag) {
    ValueAttributes a = AttributesOf(element);
    UnitType kind = Same(tag, "Item_enum") ? kTypeItemEnum
                    : a.type != nullptr    ? KindOfTypeName(a.type)
                                           : kTypeUndefined;
    // The text of the element's first child when that child is text.
    pugi::xml_node first = element.first_child();
    const char* text = nullptr;
    if (first) {
        pugi::xml_node_type t = first.type();
        if (t == pugi::node_pcdata || t == pugi::node_cdata) text = first.value();
        if ((t == pugi::node_element || first.next_sibling()) && TooDeep(element, depth_ + 2)) return false;
    }
    if (trace_.On()) {
        trace_ << "   name_unit=" << tag << ", struct_name=" << OrNull(a.name)
               << " offset_elem=" << static_cast<int>(offset_) << " text=" << OrNull(text);
        trace_.EndLine();
    }
    bool store = store_;
    // Strict mode converts the value once, while checking it, and stores
    // those bytes below.
    uint8_t checked[8];
    if (strict_) {
        if (!MatchesSchema(element, tag, a)) store = false;
        if (text != nullptr && !ConvertFittingText(kind, text, checked)) {
            Report(first, true, "element %s name=\"%s\" holds \"%s\", which does not fit %s", tag,
                   OrEmpty(a.name), text, OrEmpty(a.type));
            failed_ = true;
            store = false;
        }
    }
    int64_t size = Kinds().size[kind];
    if (size == 0) return true;

    int64_t count = a.nrepetitions != nullptr ? ParseInt32(a.nrepetitions) : 1;
    if (count < 0) {
        Report(element, true, "element %s name=\"%s\" has nrepetitions=\"%s\"", tag, OrEmpty(a.name),
               a.nrepetitions);
        return false;
    }
    // A value is stored once, at the first repetition's place, even when
    // the count is 0; the check covers that byte range too.
    int64_t bytes = (count == 0 && text != nullptr ? 1 : count) * size;
    if (offset_ + bytes > length_) {
        Report(element, true,
               "element %s name=\"%s\" at offset %lld describes %lld bytes, the buffer holds %d", tag,
               OrEmpty(a.name), static_cast<long long>(offset_), static_cast<long long>(bytes),
               length_);
        return false;
    }
    if (store && text != nullptr && strict_)
        std::memcpy(buffer_ + offset_, checked, static_cast<size_t>(size));
    else if (store && text != nullptr)
        StoreValueText(kind, text, buffer_ + offset_);
    offset_ += count * size;
    return true;
}

bool DataReader::MatchesSchema(pugi::xml_node element, const char* tag, const ValueAttributes& a) {
    bool known = Same(tag, "Structure") || Same(tag, "Item") || Same(tag, "Item_enum");
    if (!cursor_) {
        if (!known) {
            Report(element, true, "element %s name=\"%s\" is not in the schema", tag, OrEmpty(a.name));
            failed_ = true;
        }
        return known;
    }
    const Unit* u = cursor_->Expected();
    const CStructure* s = u != nullptr ? SchemaCursor::StructureOf(*u) : nullptr;
    bool match = known && u != nullptr && a.name != nullptr && Same(a.name, u->name.c_str());
    if (match && s != nullptr) {
        match = Same(tag, "Structure");
    } else if (match) {
        int32_t count = a.nrepetitions != nullptr ? ParseInt32(a.nrepetitions) : 1;
        match = Same(tag, u->type == kTypeItemEnum ? "Item_enum" : "Item") && a.type != nullptr &&
                Same(a.type, TypeAttributeOf(*u)) &&
                count == (SchemaCursor::Collapsed(*u) ? u->nrepetitions : 1);
    }
    if (match) {
        cursor_->Consume();
        if (s != nullptr) cursor_->Enter(s);
        return true;
    }
    // Everything after a mismatch is out of step with the schema: one error
    // says it, the values are still checked.
    if (u == nullptr) {
        Report(element, true, "element %s name=\"%s\" is not in the schema: %s has no more members",
               tag, OrEmpty(a.name), cursor_->Current()->name.c_str());
    } else {
        Report(element, true, "element %s name=\"%s\" is not in the schema here: it has %s %s",
               tag, OrEmpty(a.name), s != nullptr ? "structure" : "member",
               u->name.c_str());
    }
    failed_ = true;
    cursor_.reset();
    return false;
}

void DataReader::CheckStructureEnd(pugi::xml_node element) {
    if (const Unit* u = cursor_->Expected()) {
        Report(element, true, "element %s name=\"%s\" ends before its member %s", element.name(),
               element.attribute("name").value(), u->name.c_str());
        failed_ = true;
        cursor_.reset();
        return;
    }
    cursor_->Leave();
}

// The text of the last read and the document parsed from it, kept for the
// thread's next read: their memory is reused rather than allocated and
// faulted in again for every read.
struct ReadBuffers {
    std::unique_ptr<char[]> text;
    size_t capacity = 0;
    pugi::xml_document doc;

    // Null when the memory cannot be had.
    char* Reserve(size_t size) {
        if (size > capacity) {
            text.reset();
            capacity = 0;
            text.reset(new (std::nothrow) char[size]);
            if (!text) return nullptr;
            capacity = size;
        }
        return text.get();
    }
    // Gives the memory of a large read back to the system.
    void ReleaseLarge() {
        if (capacity <= kKeptReadBytes) return;
        text.reset();
        capacity = 0;
        doc.reset();
        malloc_trim(0);
    }
};

ReadBuffers& Buffers() {
    thread_local ReadBuffers buffers;
    return buffers;
}

// Parses size bytes of buffers.text in place and walks the record.
bool ReadParsed(const Schema& schema, bool store, const char* source, size_t size,
                uint8_t* buffer, int32_t length, const ReadOptions& options,
                std::vector<ReadError>* errors, std::string* lines) {
    ReadBuffers& buffers = Buffers();
    // Text in the writer's form is read by the scanner; any other goes
    // through the parser below, with the same results.
    {
        thread_local std::string scanned;
        scanned.clear();
        const bool traced = TraceEnabled();
        if (ReadWrittenText(schema, store, std::string_view(buffers.text.get(), size), buffer, length,
                            traced ? &scanned : nullptr)) {
            if (traced) TraceLines(lines).Lines(scanned);
            return true;
        }
    }
    pugi::xml_parse_result result = buffers.doc.load_buffer_inplace(
        buffers.text.get(), size, pugi::parse_default | pugi::parse_comments);
    if (!result) {
        if (errors != nullptr) errors->push_back({result.offset, result.description()});
        if (result.status == pugi::status_no_document_element) {
            // A document without any element: the reader's own trace line.
            TraceLines trace(lines);
            if (trace.On()) {
                trace << "Error  during reading  Root Element";
                trace.EndLine();
            }
        }
        return false;
    }
    TraceLines trace(lines);
    DataReader reader(schema, source, store, buffer, length, options, errors, trace);
    pugi::xml_node record = FirstElement(buffers.doc);
    if (!record) {
        if (trace.On()) {
            trace << "Error  during reading  Root Element";
            trace.EndLine();
        }
        if (errors != nullptr) errors->push_back({-1, "no element"});
        return false;
    }
    // Elements beside the record element are never walked: only their depth
    // matters.
    for (pugi::xml_node n = record.next_sibling(); n; n = n.next_sibling()) {
        if (n.first_child() && XmlElementDepth(n, 1, kMaxXmlDepth) > kMaxXmlDepth) {
            reader.Report(n, false, "elements nested deeper than %d levels", kMaxXmlDepth);
            return false;
        }
    }
    if (trace.On()) {
        trace << "offset0 =" << ParseInt32(record.attribute("offset").value());
        trace.EndLine();
    }
    if (length < schema.Size()) return false;
    return reader.ReadRecord(record);
}

}  // namespace

namespace {

bool ReadFile(const Schema& schema, bool store, const char* path, uint8_t* buffer, int32_t length,
              std::string* lines, size_t maxBytes) {
    if (path == nullptr) return false;
    size_t size = 0;
    ReadBuffers& buffers = Buffers();
    const int err = ReadRegularFile(
        path,
        [&buffers, maxBytes](size_t n) {
            return n > maxBytes || n == SIZE_MAX ? nullptr : buffers.Reserve(n + 1);
        },
        size);
    if (err == ENOENT || err == ENOTDIR) return true;  // the record keeps what it holds
    if (err != 0) return false;
    const bool ok =
        ReadParsed(schema, store, path, size, buffer, length, ReadOptions{}, nullptr, lines);
    buffers.ReleaseLarge();
    return ok;
}

}  // namespace

bool ReadXmlFile(const Schema& schema, bool store, const char* path, uint8_t* buffer,
                 int32_t length, size_t maxBytes) {
    return ReadFile(schema, store, path, buffer, length, nullptr, maxBytes);
}

bool ReadXmlFile(const Schema& schema, bool store, const char* path, uint8_t* buffer,
                 int32_t length, std::string& lines, size_t maxBytes) {
    return ReadFile(schema, store, path, buffer, length, &lines, maxBytes);
}

bool ReadXmlText(const Schema& schema, bool store, std::string_view text, const char* source,
                 uint8_t* buffer, int32_t length, const ReadOptions& options,
                 std::vector<ReadError>* errors) {
    ReadBuffers& buffers = Buffers();
    char* data = buffers.Reserve(text.size() + 1);
    if (data == nullptr) {
        if (errors != nullptr) errors->push_back({-1, "out of memory"});
        return false;
    }
    std::memcpy(data, text.data(), text.size());
    const bool ok = ReadParsed(schema, store, source != nullptr ? source : "(text)", text.size(),
                               buffer, length, options, errors, nullptr);
    buffers.ReleaseLarge();
    return ok;
}

}  // namespace morvane
