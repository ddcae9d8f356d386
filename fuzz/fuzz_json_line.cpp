// The scanner of to-json's lines against the RapidJSON read: the input is
// one line of JSON Lines, read for each example schema (PosRec, Telemetry),
// strict and lenient, once with the scanner tried first and once the
// RapidJSON way only. Both must give the same result, record bytes and
// error; a line the scanner takes must read the same the RapidJSON way
// without an error.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "convert/record_json.h"
#include "convert/written_record.h"
#include "fuzz/fuzz_support.h"
#include "schema/schema.h"

namespace {

using morvane::RecordJsonPlan;
using morvane::Scanning;

struct Outcome {
    bool ok = false;
    std::vector<uint8_t> record;
    size_t offset = 0;
    std::string error;
    bool operator==(const Outcome&) const = default;
};

Outcome Read(const RecordJsonPlan& plan, std::string_view line, bool lenient, Scanning mode) {
    morvane::SetScanning(mode);
    Outcome o;
    o.record.assign(static_cast<size_t>(plan.Bytes()), 0xA5);
    RecordJsonPlan::ReadError error;
    o.ok = plan.ReadJson(line, lenient, o.record.data(), plan.Bytes(), &error);
    if (!o.ok) {
        // The record's bytes are unspecified after an error.
        o.record.clear();
        o.offset = error.offset;
        o.error = error.text;
    }
    return o;
}

void Compare(const RecordJsonPlan& plan, std::string_view line) {
    for (bool lenient : {false, true}) {
        if (!(Read(plan, line, lenient, Scanning::kAlways) ==
              Read(plan, line, lenient, Scanning::kNever)))
            std::abort();
    }
    std::vector<uint8_t> scanned(static_cast<size_t>(plan.Bytes()), 0);
    if (!plan.ScanJson(line, scanned.data(), plan.Bytes())) return;
    const Outcome general = Read(plan, line, false, Scanning::kNever);
    if (!general.ok || general.record != scanned) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const RecordJsonPlan& posRec =
        *new RecordJsonPlan(morvane::fuzz::LoadExampleSchema("PosRec.xsd"));  // never freed
    static const RecordJsonPlan& telemetry =
        *new RecordJsonPlan(morvane::fuzz::LoadExampleSchema("Telemetry.xsd"));  // never freed
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    Compare(posRec, line);
    Compare(telemetry, line);
    morvane::SetScanning(Scanning::kAdaptive);
    return 0;
}
