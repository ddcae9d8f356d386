// XML data files: the input is a data file, read into a record buffer of
// exactly the record size of each example schema (PosRec, Telemetry). The
// buffer is a heap block of its own so that any store past the record is
// caught by AddressSanitizer.
//
// Also held to its contract: a walk without store leaves the buffer as it
// was, and a buffer one byte short of the record is refused.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "convert/data_reader.h"
#include "fuzz/fuzz_support.h"
#include "schema/schema.h"

namespace {

void ReadInto(const morvane::Schema& schema, const std::string& path) {
    const int32_t size = schema.Size();
    auto record = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
    std::memset(record.get(), 0xA5, static_cast<size_t>(size));
    auto before = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
    std::memcpy(before.get(), record.get(), static_cast<size_t>(size));

    morvane::ReadXmlFile(schema, false, path.c_str(), record.get(), size);
    if (std::memcmp(before.get(), record.get(), static_cast<size_t>(size)) != 0) std::abort();
    if (morvane::ReadXmlFile(schema, true, path.c_str(), record.get(), size - 1)) std::abort();
    morvane::ReadXmlFile(schema, true, path.c_str(), record.get(), size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const morvane::fuzz::ScratchDir& scratch = morvane::fuzz::Scratch();
    static const morvane::Schema& posRec = morvane::fuzz::LoadExampleSchema("PosRec.xsd");
    static const morvane::Schema& telemetry = morvane::fuzz::LoadExampleSchema("Telemetry.xsd");

    const std::string path = scratch.Write("input_dataR.xml", data, size);
    ReadInto(posRec, path);
    ReadInto(telemetry, path);
    return 0;
}
