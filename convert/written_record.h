// The fast path of the data reader: records in exactly the form the writer
// (WriteXmlFile, AppendRecordXml) and the data template generator write
// them, read by a scanner that knows the schema's layout rather than by
// the XML parser.
//
// The scanner compares every fixed byte of the record element with the
// text the writer would write for the schema (element names, the name and
// type attributes, indentation, line ends), converts each value with
// ReadWrittenValue and stores it at its offset. It departs at the first
// byte that differs from that form; the caller then reads the text the
// general way, which gives the same record, the same errors (none, for a
// text the scanner takes whole) and the same trace lines. A text the
// scanner takes is one the general way reads without any error, strict or
// not, so both give the same result for it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace morvane {

class Schema;

// When reads try a scanner (this one, and the JSON Lines one of
// RecordJsonPlan): adaptive (the default) backs off from schemas whose
// texts keep departing; always and never are for comparing the two ways in
// tests and fuzzing. Process-wide.
enum class Scanning { kAdaptive, kAlways, kNever };
void SetScanning(Scanning mode);

// How a scanner of one kind of text has fared, for the adaptive mode: after
// several texts in a row have departed late (beyond cheapBytes, so that
// scanning them cost something), only now and then is a text scanned, until
// one is taken again. Texts that depart early, as hand-written ones do at
// their first bytes, cost next to nothing and are not counted. Safe on
// several threads at once.
class ScanBackOff {
  public:
    explicit ScanBackOff(ptrdiff_t cheapBytes) : cheapBytes_(cheapBytes) {}
    // Whether to scan the next text, by the mode SetScanning set.
    bool Worth();
    // The outcome of a scan: taken whole, or departed after scanned bytes.
    void Count(bool taken, ptrdiff_t scanned);

  private:
    const ptrdiff_t cheapBytes_;
    std::atomic<int> misses_{0};
    std::atomic<unsigned> attempts_{0};
};

// Reads text, a whole data file (the XML declaration the writer writes,
// then a record element at depth 0) or one record element cut from a
// session file (at depth 1, from its '<' to its end tag), into buffer
// (length bytes, at least the record size) when store is set. Trace lines,
// when trace is not null, are appended to it: the ones the general read
// logs for the same text, "offset0 =" first. Returns false, with buffer
// and trace untouched, when the text departs from the writer's form or
// the schema's records are not read this way (no top structure, length
// below the record size, structures nested too deep); the caller then
// reads it the general way. A schema whose texts keep departing late in
// the text is tried only now and then, so that such files cost little
// extra.
// Safe on several threads at once.
bool ReadWrittenText(const Schema& schema, bool store, std::string_view text, uint8_t* buffer,
                     int32_t length, std::string* trace);

// Scans the record elements of one schema's session file in the writer's
// form; made once per file. The schema must outlive it.
class SessionRecordScanner {
  public:
    explicit SessionRecordScanner(const Schema& schema);

    // Scans the record element that starts at begin (its '<'), within
    // [begin, end): its values are stored in record (the schema's record
    // size; bytes of values without text keep what they held). Returns the
    // end of the record element (after its end tag) and the line ends in
    // it, or null when the bytes depart from the form or end before the
    // record does; number is the record element's number attribute (-1
    // when it is negative). Trace lines are not made: a caller that traces
    // reads the general way.
    const char* Scan(const char* begin, const char* end, uint8_t* record, int64_t& lines,
                     int64_t& number);

  private:
    const Schema& schema_;
    std::shared_ptr<void> cache_;
};

}  // namespace morvane
