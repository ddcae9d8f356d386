// The records of an input file, handed one by one to a formatter that
// appends their output text: packed binary records back to back, or an XML
// data or session file read in batches on every core. Memory stays at a few
// batches whatever the file's size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace morvane {

class Diagnostics;
class Schema;
class StreamOutput;

// Appends the output of one record (record: the schema's Size() bytes) to
// out; number is the record element's number attribute for XML input (-1
// when it has none) and the 1-based position in the file for binary input.
// False when the record cannot be written. Called on several threads at
// once for XML input, one record at a time per thread, in file order on
// each; the output keeps the records' order.
using RecordFormat = std::function<bool(const uint8_t* record, int64_t number, std::string& out)>;

// Whether the file at path holds XML (its first bytes, blanks aside, open a
// declaration, a comment or a Root or Schema element) rather than binary
// records. Only a regular file is looked into: anything else (a pipe) is
// taken as binary records.
bool IsXmlInput(const std::string& path);

// Reads the XML data or session file at path as to-binary does (strict
// unless lenient) and writes every record's formatted text to out. Output
// stops at the first error; every error (up to a hundred) is reported.
// False after diagnostics.
bool ConvertXmlRecords(const Schema& schema, const std::string& path, bool lenient,
                       const RecordFormat& format, StreamOutput& out, Diagnostics& diagnostics);

// Reads the packed records at path (a whole number of records; schemaPath
// names the schema in the error for any other size) and writes every
// record's formatted text to out. False after diagnostics.
bool ConvertBinaryRecords(const Schema& schema, const std::string& schemaPath,
                          const std::string& path, const RecordFormat& format, StreamOutput& out,
                          Diagnostics& diagnostics);

}  // namespace morvane
