// Reading an XML data file into a packed binary record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class Schema;

// Structure elements nested deeper than this fail the read.
constexpr int kMaxDataStructureDepth = 200;

// Fills buffer (length bytes, owned by the caller) from the XML data file at
// path. The file's value elements are taken in document order: each one
// converts its text into the bytes at a running offset and moves the offset
// on by its repetition count times the size of its type; the offset, size,
// index and name attributes are not consulted. With store false the file is
// walked and traced but nothing is stored.
//
// Returns true when no file exists at path (buffer untouched) and when the
// walk completes. Returns false
//  - when the file is not well-formed XML, which includes a document
//    without any element, or is not a regular file (nothing logged: the
//    caller reports the file),
//  - when length is below the schema's record size (nothing logged),
//  - when its elements describe more bytes than the buffer holds, a
//    repetition count is negative or Structure elements nest deeper than
//    kMaxDataStructureDepth; an error line naming the file and the element
//    has then been logged,
//  - when an element the walk passes over nests elements deeper than
//    kMaxXmlDepth (nothing logged).
//  - when the file holds more than maxBytes bytes, or memory for it cannot
//    be had (nothing logged, nothing read).
// Values before the element that failed have been stored; nothing is ever
// stored outside the buffer. The file is read into a buffer kept by the
// thread for its next read, unless it was larger than kKeptReadBytes: the
// memory of such a read is given back at once. Reads on different threads
// are independent.
constexpr size_t kKeptReadBytes = size_t{4} << 20;
bool ReadXmlFile(const Schema& schema, bool store, const char* path, uint8_t* buffer,
                 int32_t length, size_t maxBytes = SIZE_MAX);

// As above, but nothing is logged: the lines the read would log (its trace
// lines when the trace flag is set, then any error line, in order) are
// appended to lines, for the caller to hand to the log in one call
// together with lines of its own.
bool ReadXmlFile(const Schema& schema, bool store, const char* path, uint8_t* buffer,
                 int32_t length, std::string& lines, size_t maxBytes = SIZE_MAX);

struct ReadOptions {
    // Besides what every read refuses, strict makes these errors:
    //  - a value text that is not a number of its element's type (blanks
    //    around it aside) or does not fit that type; every text
    //    WriteXmlFile writes fits,
    //  - an element the schema does not have at that point of the record
    //    (checked by tag, name and type against the schema's members in
    //    order), a missing one, and a document element that is not the
    //    schema's record element.
    // The walk goes on after a strict error, storing nothing for that
    // element, so that every such error is reported; the read then
    // returns false.
    bool strict = false;
};

// One error of a read: where it is, as a byte offset into the text read
// (pugixml's offset of the element, its text or the XML error; -1 when
// unknown), and the message without its line end.
struct ReadError {
    std::ptrdiff_t offset = -1;
    std::string text;
};

// Reads text, one record element's XML text or a whole data file, like
// ReadXmlFile reads a file: the same walk, stores and results, source
// standing for the path in the error lines logged. With options.strict
// also the errors listed at ReadOptions. Every error, logged or not (a
// malformed text included), is appended in order to *errors when errors is
// not null. text is copied; the caller's bytes are not changed.
bool ReadXmlText(const Schema& schema, bool store, std::string_view text, const char* source,
                 uint8_t* buffer, int32_t length, const ReadOptions& options,
                 std::vector<ReadError>* errors);

}  // namespace morvane
