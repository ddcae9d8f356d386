// The fields of a laid-out record, flattened: every value of the record with
// its absolute offset, for the layout and diff commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

class EnumUnit;
class Schema;

// One field. A repeated item is one field of all its repetitions: size is
// the bytes of all of them and type carries the count ("char[4]"). A
// repeated structure gives its fields once per repetition, the index in the
// path ("pos[1].x"); a structure repeated once has no index ("pos.x").
// type is the schema type name, or the enumeration's name for item_enum.
struct Field {
    std::string path;
    int64_t offset = 0;
    int64_t size = 0;
    std::string type;
    // False when the item or a structure around it is collapsed
    // (visibility 0).
    bool visible = true;
    const EnumUnit* enumeration = nullptr;  // item_enum: its enumeration, owned by the schema
};

// Listing stops here: repetitions of empty structures could otherwise
// describe billions of fields in a record of a few bytes.
constexpr size_t kMaxListedFields = size_t{1} << 22;

// The fields of schema's record in layout order. False when the record has
// more than kMaxListedFields fields (fields then holds the first ones).
bool RecordFields(const Schema& schema, std::vector<Field>& fields);

// text as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace morvane
