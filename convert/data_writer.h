// Writing a packed binary record as a record element of an XML data file.
#pragma once

#include <cstdint>
#include <string>

namespace morvane {

class CXmlWriter;
class Schema;

// Appends the record in buffer (length bytes, owned by the caller) to the
// open file of writer as one "Schema" record element numbered number, and
// hands every value to the print-data plug-in of the schema (see
// print_data.h). Values are read at a running offset in schema order, so
// the schema's layout alone decides where each value lies.
//
// The record is written whole or not at all: it is a record transaction of
// the writer, which reaches the disk when the record element is complete.
// Returns false, with nothing of the record left in the file,
//  - when the schema has no top structure or length is below its record
//    size (nothing logged, no plug-in call),
//  - when the writer has no open file (an error line has been logged),
//  - when writing the record failed, e.g. on a full disk (an error line has
//    been logged; the file ends with the records before this one).
// One record at a time per writer.
bool WriteXmlFile(const Schema& schema, CXmlWriter& writer, int32_t number, const uint8_t* buffer,
                  int32_t length);

// Appends to out the exact text WriteXmlFile writes for the record in
// buffer as record number `number` into a session file: the record element
// at depth 1 (indented by three spaces per level) with all its lines, byte
// for byte, so that a converter can stream records into a session file
// between its "<Root>" and "</Root>" lines. depth gives another level (0:
// the record element of a data file of its own). Makes no plug-in call and
// logs nothing. Records of one schema are written by one thread at a time
// (see Schema::writerCache). Returns false, with out as it was, when the schema has no
// top structure, length is below its record size, or the record's
// structures would nest deeper than CXmlWriter::kMaxDepth.
bool AppendRecordXml(const Schema& schema, int32_t number, const uint8_t* buffer, int32_t length,
                     std::string& out, int32_t depth = 1);

// As above, but into out from byte used on, moving used to the text's end:
// out is grown as needed and never shrunk (its bytes from used on are
// scratch), so that a buffer kept from record to record is not filled
// anew for each record. On false, used is as it was.
bool AppendRecordXml(const Schema& schema, int32_t number, const uint8_t* buffer, int32_t length,
                     std::string& out, size_t& used, int32_t depth = 1);

}  // namespace morvane
