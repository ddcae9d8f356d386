// The text of one record element, prepared once per schema and filled with
// a record's values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "schema/unit_type.h"

namespace morvane {

class CStructure;
class Schema;

// Every line of a record element that does not depend on the values is
// put together once, when the plan is made; writing a record then only
// formats the values and the numbers that change (record number, structure
// offset and index, repetition index) between the prepared pieces. The
// text is the one CXmlWriter's element operations write for the same walk.
class RecordTextPlan {
  public:
    // Prepares the text of schema's record element at depth (indent of
    // three spaces per level). The schema must have a top structure and
    // must outlive the plan.
    RecordTextPlan(const Schema& schema, int32_t depth);

    // A value that lies outside the record buffer: its member and offset.
    struct Outside {
        const std::string* name = nullptr;
        int64_t offset = 0;
    };

    // Appends the record element numbered number for the record in buffer
    // (length bytes) to out. False, with out as it was, when the record's
    // structures nest deeper than CXmlWriter allows; also when a value lies
    // outside the buffer, described in *outside when that is not null.
    bool Append(int32_t number, const uint8_t* buffer, int32_t length, std::string& out,
                Outside* outside = nullptr) const;

    int32_t Depth() const { return depth_; }

  private:
    enum class Op : uint8_t {
        kText,         // text; skips `count` bytes of a collapsed member
        kValue,        // text, value, tail
        kIndexed,      // for each of count: text, index, "\">", value, tail
        kOpen,         // text, offset + k * size, middle, k, "\">\n"; k counts repetitions
        kClose,        // text; back to the kOpen at `jump` for the next repetition
        kRecordHead,   // text, number, tail
    };
    struct Step {
        Op op;
        UnitType kind = kTypeUndefined;
        int32_t count = 0;
        int32_t offset = 0;
        int32_t size = 0;
        int32_t jump = 0;
        uint32_t text = 0, textLength = 0;  // pieces of texts_
        uint32_t tail = 0, tailLength = 0;
        const std::string* name = nullptr;  // the member, for errors
    };

    void AddStructure(const CStructure& s, int32_t level);
    uint32_t Piece(const std::string& text, uint32_t& length);
    Step& Add(Op op, const std::string& text, const std::string& tail = std::string());

    std::vector<Step> steps_;
    std::string texts_;
    int32_t depth_;
    int32_t maxLevel_ = 0;  // the deepest element opened, by depth
};

}  // namespace morvane
