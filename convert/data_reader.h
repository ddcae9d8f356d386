// Reading an XML data file into a packed binary record.
#pragma once

#include <cstdint>

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
//    without any element, or nests elements deeper than kMaxXmlDepth
//    (nothing logged: the caller reports the file),
//  - when length is below the schema's record size (nothing logged),
//  - when its elements describe more bytes than the buffer holds, a
//    repetition count is negative or Structure elements nest deeper than
//    kMaxDataStructureDepth; an error line naming the file and the element
//    has then been logged. Values before that element have been stored;
//    nothing is ever stored outside the buffer.
// One read at a time per thread; reads on different threads are
// independent.
bool ReadXmlFile(const Schema& schema, bool store, const char* path, uint8_t* buffer,
                 int32_t length);

}  // namespace morvane
