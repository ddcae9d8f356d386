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

    // Writes the record element numbered number for the record in buffer
    // (length bytes) into out from byte `used` on and moves used to its end.
    // out is grown as needed and never shrunk, so that a buffer kept from
    // record to record is not filled anew each time: its bytes from used on
    // are scratch. False, with used as it was, when the record's structures
    // nest deeper than CXmlWriter allows; also when a value lies outside
    // the buffer, described in *outside when that is not null.
    bool Append(int32_t number, const uint8_t* buffer, int32_t length, std::string& out,
                size_t& used, Outside* outside = nullptr) const;

    int32_t Depth() const { return depth_; }

    // Reads the text of a record element in exactly the form Append writes
    // at the plan's depth, from begin up to end, the way the data reader
    // reads it: each value is converted with ReadWrittenValue and stored in
    // values (length bytes) at its offset; values without text (the empty
    // values of a data template) store nothing; the record number and the
    // structures' offset and index attributes may be any decimal numbers,
    // and the record element may lack its number (the data template's
    // form). The first line may lack its indent and the last its line end.
    // When trace is not null, the trace lines the data reader would log
    // for the elements are appended to it. lines counts the line ends read.
    // number, when not null, gets the record element's number attribute as
    // a number of at least 0, or -1 when it has none or a negative one.
    //
    // Returns the end of the record element's text, or null at the first
    // byte that departs from that form (bytes of values may have been
    // stored by then; reached is then where the scan stopped); also when a
    // value would lie outside length bytes or structures nest deeper than
    // the reader follows them.
    const char* Scan(const char* begin, const char* end, uint8_t* values, int32_t length,
                     std::string* trace, int64_t& lines, const char*& reached,
                     int64_t* number = nullptr) const;

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
        const std::string* name = nullptr;  // the member, for errors and traces
        int32_t lines = 0;                  // line ends in text and tail
    };

    void AddStructure(const CStructure& s, int32_t level);
    // At the kClose step i: back to its kOpen while repetitions of the
    // structure remain (i then precedes it), else on with its counter reset.
    void Repeat(size_t& i, int32_t* reps, int32_t& open) const;
    uint32_t Piece(const std::string& text, uint32_t& length);
    Step& Add(Op op, const std::string& text, const std::string& tail = std::string());

    std::vector<Step> steps_;
    std::string texts_;
    int32_t depth_;
    int32_t maxLevel_ = 0;  // the deepest element opened, by depth
};

}  // namespace morvane
