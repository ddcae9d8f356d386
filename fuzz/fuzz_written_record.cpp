// The scanner of texts in the writer's form against the general reader:
// the input is read as a data file and as one record element of a session
// file, for each example schema (PosRec, Telemetry), strict and not, once
// with the scanner tried first and once the general way only. Both must
// give the same result, record bytes, errors and trace lines; a record the
// session scanner takes must read the same the general way without an
// error.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "convert/data_reader.h"
#include "convert/written_record.h"
#include "fuzz/fuzz_support.h"
#include "schema/schema.h"

namespace {

using morvane::Scanning;

struct Outcome {
    bool ok = false;
    std::vector<uint8_t> record;
    std::string errors;
    std::string lines;
    bool operator==(const Outcome&) const = default;
};

Outcome ReadText(const morvane::Schema& schema, std::string_view text, bool strict, Scanning mode) {
    morvane::SetScanning(mode);
    Outcome o;
    o.record.assign(static_cast<size_t>(schema.Size()), 0xA5);
    std::vector<morvane::ReadError> errors;
    o.ok = morvane::ReadXmlText(schema, true, text, "input", o.record.data(), schema.Size(),
                                morvane::ReadOptions{strict}, &errors);
    for (const morvane::ReadError& e : errors) o.errors += std::to_string(e.offset) + e.text + "\n";
    return o;
}

Outcome ReadFile(const morvane::Schema& schema, const std::string& path, Scanning mode) {
    morvane::SetScanning(mode);
    Outcome o;
    o.record.assign(static_cast<size_t>(schema.Size()), 0x5A);
    o.ok = morvane::ReadXmlFile(schema, true, path.c_str(), o.record.data(), schema.Size(), o.lines);
    return o;
}

// The number attribute of the record element's start tag the way
// morvanec reads it from the text: -1 when absent or negative.
int64_t NumberAttribute(std::string_view record) {
    const std::string_view tag = record.substr(0, record.find('>'));
    const size_t at = tag.find(" number=\"");
    if (at == std::string_view::npos) return -1;
    int64_t number = -1;
    auto r = std::from_chars(tag.data() + at + 9, tag.data() + tag.size(), number);
    return r.ec == std::errc() && r.ptr < tag.data() + tag.size() && *r.ptr == '"' && number >= 0
               ? number
               : -1;
}

void Compare(const morvane::Schema& schema, std::string_view text, const std::string& path) {
    for (bool strict : {false, true}) {
        if (!(ReadText(schema, text, strict, Scanning::kAlways) ==
              ReadText(schema, text, strict, Scanning::kNever)))
            std::abort();
    }
    if (!(ReadFile(schema, path, Scanning::kAlways) == ReadFile(schema, path, Scanning::kNever)))
        std::abort();
    // The session scanner, from the first '<' on.
    const size_t start = text.find('<');
    if (start == std::string_view::npos) return;
    morvane::SetScanning(Scanning::kAlways);
    std::vector<uint8_t> scanned(static_cast<size_t>(schema.Size()), 0);
    int64_t lines = 0;
    int64_t number = -2;
    morvane::SessionRecordScanner scanner(schema);
    const char* end = scanner.Scan(text.data() + start, text.data() + text.size(), scanned.data(),
                                   lines, number);
    if (end == nullptr) return;
    std::string_view record(text.data() + start, static_cast<size_t>(end - text.data()) - start);
    if (number != NumberAttribute(record)) std::abort();
    morvane::SetScanning(Scanning::kNever);
    std::vector<uint8_t> general(scanned.size(), 0);
    std::vector<morvane::ReadError> errors;
    if (!morvane::ReadXmlText(schema, true, record, "input", general.data(), schema.Size(),
                              morvane::ReadOptions{true}, &errors) ||
        !errors.empty() || general != scanned)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const morvane::fuzz::ScratchDir& scratch = morvane::fuzz::Scratch();
    static const morvane::Schema& posRec = morvane::fuzz::LoadExampleSchema("PosRec.xsd");
    static const morvane::Schema& telemetry = morvane::fuzz::LoadExampleSchema("Telemetry.xsd");

    const std::string path = scratch.Write("input_dataR.xml", data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Compare(posRec, text, path);
    Compare(telemetry, text, path);
    morvane::SetScanning(Scanning::kAdaptive);
    return 0;
}
