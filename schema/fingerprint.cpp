#include "schema/fingerprint.h"

#include <cstdio>

#include "schema/schema.h"

// The canonical description that is hashed. Every number is written as
// four bytes little-endian, every name as its length (four bytes) followed
// by its bytes; the description is never materialised, each byte goes
// straight into the hash:
//
//   "MVL1"                          version of this description
//   record size, top repetitions, top visibility (0 or 1)
//   members of the top structure
//
// where "members" is, for each layout member in schema order:
//
//   +------+------+------+--------+------+--------------+------------+
//   | kind | name | type | offset | size | nrepetitions | visibility |
//   +------+------+------+--------+------+--------------+------------+
//   kind 'I' (an item) or 'S' (a structure); offset relative to the
//   enclosing structure, size of one repetition, visibility 0 or 1;
//   an item_enum item then adds the item count of its enumeration and
//   each item's id in item order; a structure adds its members and
//   the byte 'E'.
//
// Relative offsets inside nested structures say the same as the absolute
// path and offset of every field, at the cost of the tree instead of one
// entry per repetition.
namespace morvane {
namespace {

constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

class Hasher {
  public:
    void Byte(uint8_t b) {
        hash_ ^= b;
        hash_ *= kFnvPrime;
    }
    void Number(int64_t value) {
        const uint32_t v = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8) Byte(static_cast<uint8_t>(v >> shift));
    }
    void Name(const std::string& name) {
        Number(static_cast<int64_t>(name.size()));
        for (unsigned char c : name) Byte(c);
    }
    uint64_t Value() const { return hash_; }

  private:
    uint64_t hash_ = kFnvOffsetBasis;
};

void HashMembers(const CStructure& s, Hasher& h) {
    for (const auto& member : s.units) {
        const Unit& unit = *member;
        if (!unit.IsLayoutMember()) continue;
        const CStructure* child = unit.AsStructure();
        h.Byte(child != nullptr ? 'S' : 'I');
        h.Name(unit.name);
        h.Number(unit.type);
        h.Number(unit.offset);
        h.Number(unit.size);
        h.Number(unit.nrepetitions);
        h.Byte(unit.visibility ? 1 : 0);
        if (unit.type == kTypeItemEnum && unit.ref != nullptr) {
            h.Number(static_cast<int64_t>(unit.ref->items.size()));
            for (const EnumItem& item : unit.ref->items) h.Number(item.id);
        }
        if (child != nullptr) {
            HashMembers(*child, h);
            h.Byte('E');
        }
    }
}

}  // namespace

uint64_t LayoutFingerprint(const Schema& schema) {
    Hasher h;
    for (char c : {'M', 'V', 'L', '1'}) h.Byte(static_cast<uint8_t>(c));
    const CStructure* top = schema.Top();
    if (top == nullptr) return h.Value();
    h.Number(top->size);
    h.Number(top->nrepetitions);
    h.Byte(top->visibility ? 1 : 0);
    HashMembers(*top, h);
    return h.Value();
}

std::string FingerprintText(uint64_t fingerprint) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(fingerprint));
    return text;
}

}  // namespace morvane
