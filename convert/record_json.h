// One record as a JSON object and back, and the value paths of its CSV row.
//
// The object holds the schema's name and id and, when the caller has one,
// the record number, under keys no field can have, then every field in
// schema order:
//
//   {"$schema":"PosRec","$id":7,"$number":1,"count":5,"flags":"00000000",
//    "mode":"ON","pos":[{"x":1,"y":2},{"x":3,"y":4}]}
//
//  - a member structure is an object, a repeated one an array of objects;
//    a repeated item is an array of its values;
//  - every integer type, char and bool is an integer: the whole stored
//    value (a bool's four bytes as an int, a char as 0 to 255, unsigned
//    types without a sign), 64-bit values exact;
//  - an enumerated value is the item's name when exactly one item has that
//    value (and no other item that name), otherwise its number;
//  - a finite float or double is its shortest exact text, with ".0" added
//    when that text would read as an integer (1.0, -0.0); NaNs and
//    infinities are strings holding the XML data files' texts for them
//    (FormatValue), which keep their bits;
//  - a collapsed member (visibility 0, repeated) is a string of its bytes
//    in lower-case hexadecimal, two digits a byte, so nothing is lost;
//  - text and undefined members hold no bytes and are left out.
//
// Values are read at a running offset in schema order, as the XML writer
// reads them, so the three formats agree on where every value lies.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/written_record.h"

namespace morvane {

class Schema;
struct RecordPlanNode;

// The schema's record walked once; writes records as JSON objects or CSV
// rows and reads JSON objects back. The schema must have a top structure
// and outlive the plan. A plan is read-only once made: any number of
// threads may use one.
class RecordJsonPlan {
  public:
    explicit RecordJsonPlan(const Schema& schema);
    ~RecordJsonPlan();
    RecordJsonPlan(const RecordJsonPlan&) = delete;
    RecordJsonPlan& operator=(const RecordJsonPlan&) = delete;

    // The bytes the walk reads: at most the schema's record size.
    int64_t Bytes() const { return bytes_; }

    // Appends the JSON object of the record in buffer (length bytes) to out,
    // without a line end; number below 0 leaves "$number" out. False, with
    // out as it was, when length is below Bytes().
    bool AppendJson(const uint8_t* buffer, int64_t length, int64_t number,
                    std::string& out) const;

    // One error of a JSON read: its byte offset in the text and the message.
    struct ReadError {
        size_t offset = 0;
        std::string text;
    };
    // Reads the JSON object in text (one line of JSON Lines) into buffer
    // (length bytes, at least Bytes()), which is cleared first. Strict: a
    // field missing, a field or key the record does not have, a key given
    // twice, a value of the wrong JSON type, out of range for its type, an
    // enumeration name the enumeration does not have, an array of another
    // length, "$schema" or "$id" not those of the schema: each is an error.
    // With lenient, missing fields stay zero. On failure the first error is
    // in *error, naming the field's path and what was expected; the
    // buffer's contents are then unspecified.
    //
    // Lines in exactly the form AppendJson writes are read by a scanner
    // that knows the record's layout (ScanJson); at the first byte that
    // departs from that form the line is parsed the general way, which
    // gives the same bytes and the same errors. Lines that keep departing
    // late make the scanner back off (ScanBackOff, SetScanning).
    bool ReadJson(std::string_view text, bool lenient, uint8_t* buffer, int64_t length,
                  ReadError* error) const;

    // The scanner alone: reads text when it is exactly a line AppendJson
    // writes (the record number any, blanks after the object allowed) into
    // buffer (length bytes, at least Bytes()), as ReadJson would. False,
    // with where it departed in *reached when that is not null, at the
    // first byte of any other form, or for a schema whose names it leaves
    // to the parser (bytes above 0x7F, a name given twice in a structure);
    // the buffer's contents are then unspecified.
    bool ScanJson(std::string_view text, uint8_t* buffer, int64_t length,
                  size_t* reached = nullptr) const;

    // The CSV header row's cells: one value path per value (pos[0].x,
    // flags[4]; a collapsed member is one cell).
    std::vector<std::string> CsvHeader() const;
    // Appends the header row's cells to out as AppendCsv() appends a
    // record's: a path that holds the delimiter (a letter or '.' may be
    // one) is quoted as a value is.
    void AppendCsvHeader(char delimiter, std::string& out) const;
    // Appends the record's cells to out, each followed by delimiter except
    // the last, RFC 4180 quoted where needed, values as in the JSON object
    // (texts unquoted). False as AppendJson.
    bool AppendCsv(const uint8_t* buffer, int64_t length, char delimiter,
                   std::string& out) const;

    // A collapsed member: its path, where its bytes lie and how many.
    struct Collapsed {
        std::string path;
        int64_t offset = 0;
        int64_t bytes = 0;
    };
    const std::vector<Collapsed>& CollapsedMembers() const { return collapsed_; }

  private:
    std::unique_ptr<RecordPlanNode> top_;
    std::string head_;  // {"$schema":...,"$id":N
    std::string name_;
    int32_t id_ = 0;
    int64_t bytes_ = 0;
    std::vector<Collapsed> collapsed_;
    bool scannable_ = false;
    // Lines departing past the head and their first fields have cost the
    // scanner something.
    mutable ScanBackOff backOff_{256};
};

// The JSON object of one record of schema (one call, one plan made and
// dropped; keep a RecordJsonPlan for many records). False as AppendJson,
// or when the schema has no top structure.
bool AppendRecordJson(const Schema& schema, const uint8_t* buffer, int64_t length, int64_t number,
                      std::string& out);

}  // namespace morvane
