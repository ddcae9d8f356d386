#include "convert/data_reader.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include <pugixml.hpp>

#include "convert/value_codec.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

const char* OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

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

// The text of the element's first child when that child is text (GetText).
const char* TextOf(pugi::xml_node element) {
    pugi::xml_node first = element.first_child();
    if (first && (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata))
        return first.value();
    return nullptr;
}

// Compares a tag with a type's name ignoring case; the first letter decides
// most tags cheaply.
bool TagIs(const char* tag, UnitType kind) {
    const char* name = SchemaTypeName(kind);
    return (tag[0] | 0x20) == name[0] && strcasecmp(tag, name) == 0;
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

// The kind a type attribute names. Data files spell the names as the type
// table does, so an exact match settles almost every element cheaply; other
// spellings go through the case-insensitive look-up.
UnitType KindOfTypeName(const char* name) {
    for (int code = 0; code < kUnitTypeCount; ++code) {
        const char* known = SchemaTypeName(static_cast<UnitType>(code));
        if (Same(known, name)) return static_cast<UnitType>(code);
    }
    return TypeFromName(name);
}

class DataReader {
  public:
    DataReader(const char* path, bool store, uint8_t* buffer, int32_t length)
        : path_(path), store_(store), buffer_(buffer), length_(length), trace_(TraceEnabled()) {}

    // Reads the children of the record element; false after an error line.
    bool ReadRecord(pugi::xml_node record);

  private:
    bool ReadValue(pugi::xml_node element, const char* tag);

    const char* path_;
    bool store_;
    uint8_t* buffer_;
    int32_t length_;
    bool trace_;
    int64_t offset_ = 0;
};

// The walk is iterative: a Structure element is entered by moving to its
// first child and left by moving on from it when its children run out, so
// the depth costs no stack.
bool DataReader::ReadRecord(pugi::xml_node record) {
    int depth = 0;
    pugi::xml_node parent = record;
    pugi::xml_node node = FirstElement(record);
    for (;;) {
        if (!node) {
            if (depth == 0) return true;
            node = NextElement(parent);
            parent = parent.parent();
            --depth;
            continue;
        }
        const char* tag = node.name();
        if (TagIs(tag, kTypeStructure)) {
            if (trace_) {
                LogLine(true, "name_unit=%s, struct_name=%s\n", tag,
                        OrNull(node.attribute("name").as_string(nullptr)));
            }
            if (depth == kMaxDataStructureDepth) {
                LogLine(true, "Error! %s: element %s name=\"%s\" is nested deeper than %d structures\n",
                        path_, tag, node.attribute("name").value(), kMaxDataStructureDepth);
                return false;
            }
            ++depth;
            parent = node;
            node = FirstElement(node);
            continue;
        }
        if (!TagIs(tag, kTypeEnum) && !ReadValue(node, tag)) return false;
        node = NextElement(node);
    }
}

bool DataReader::ReadValue(pugi::xml_node element, const char* tag) {
    ValueAttributes a = AttributesOf(element);
    UnitType kind = Same(tag, "Item_enum") ? kTypeItemEnum
                    : a.type != nullptr                ? KindOfTypeName(a.type)
                                                       : kTypeUndefined;
    const char* text = TextOf(element);
    if (trace_) {
        LogLine(true, "   name_unit=%s, struct_name=%s offset_elem=%d text=%s\n", tag,
                OrNull(a.name), static_cast<int>(offset_), OrNull(text));
    }
    int64_t size = TypeSize(kind);
    if (size == 0) return true;

    int64_t count = a.nrepetitions != nullptr ? ParseInt32(a.nrepetitions) : 1;
    if (count < 0) {
        LogLine(true, "Error! %s: element %s name=\"%s\" has nrepetitions=\"%s\"\n", path_, tag,
                a.name != nullptr ? a.name : "", a.nrepetitions);
        return false;
    }
    // A value is stored once, at the first repetition's place, even when
    // the count is 0; the check covers that byte range too.
    int64_t bytes = (count == 0 && text != nullptr ? 1 : count) * size;
    if (offset_ + bytes > length_) {
        LogLine(true,
                "Error! %s: element %s name=\"%s\" at offset %lld describes %lld bytes, the "
                "buffer holds %d\n",
                path_, tag, a.name != nullptr ? a.name : "", static_cast<long long>(offset_),
                static_cast<long long>(bytes), length_);
        return false;
    }
    if (store_ && text != nullptr) StoreValueText(kind, text, buffer_ + offset_);
    offset_ += count * size;
    return true;
}

}  // namespace

bool ReadXmlFile(const Schema& schema, bool store, const char* path, uint8_t* buffer,
                 int32_t length) {
    if (path == nullptr) return false;
    // A missing file is no failure: the record keeps what it holds. Anything
    // but a regular file (a directory, a FIFO) is not read at all.
    struct stat st;
    if (stat(path, &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (!S_ISREG(st.st_mode)) return false;

    pugi::xml_document doc;
    std::string error;
    if (!LoadXmlDocument(path, doc, error)) return false;

    pugi::xml_node record = FirstElement(doc);
    if (!record) {
        Trace("Error  during reading  Root Element\n");
        return false;
    }
    Trace("offset0 =%d\n", ParseInt32(record.attribute("offset").value()));
    if (length < schema.Size()) return false;

    DataReader reader(path, store, buffer, length);
    return reader.ReadRecord(record);
}

}  // namespace morvane
