// Schema files: parse and lay out the input as a schema file, then write
// the layout report, the empty XML data file with its value-name log, the C
// header and Schema_Enum.h into a scratch directory.
//
// A loaded schema must also be laid out consistently: within every
// structure the layout members follow each other without gaps, and the
// structure's size is the sum of their bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "fuzz/fuzz_support.h"
#include "generate/generators.h"
#include "schema/schema.h"
#include "schema/unit.h"

namespace {

using morvane::CStructure;
using morvane::Schema;
using morvane::Unit;

// The empty data file writes one element per repetition of every visible
// item and structure, so a schema of a few bytes may ask for billions of
// lines. That is legitimate, but no use to a fuzzer: such schemas get the
// report and the header only.
constexpr int64_t kMaxEmptyFileElements = 20000;

int64_t Saturated(int64_t v) { return v > kMaxEmptyFileElements ? kMaxEmptyFileElements + 1 : v; }

// The elements CreateEmptyXmlFile writes for the members of s, capped just
// past kMaxEmptyFileElements.
int64_t EmptyFileElements(const CStructure& s) {
    int64_t total = 0;
    for (const auto& mp : s.units) {
        const Unit& m = *mp;
        if (!m.IsLayoutMember()) continue;
        if (const CStructure* nested = m.AsStructure()) {
            total += Saturated(m.nrepetitions * (1 + EmptyFileElements(*nested)));
        } else {
            total += m.nrepetitions != 1 && m.visibility ? m.nrepetitions : 1;
        }
        total = Saturated(total);
    }
    return total;
}

void CheckLayout(const CStructure& s) {
    int64_t offset = 0;
    for (const auto& mp : s.units) {
        const Unit& m = *mp;
        if (const CStructure* nested = m.AsStructure()) CheckLayout(*nested);
        if (!m.IsLayoutMember()) continue;
        if (m.offset != offset || m.nrepetitions < 0 || m.size < 0) std::abort();
        if (m.AsStructure() == nullptr && m.size != morvane::TypeSize(m.type)) std::abort();
        offset += static_cast<int64_t>(m.size) * m.nrepetitions;
    }
    if (offset != s.size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const morvane::fuzz::ScratchDir& scratch = morvane::fuzz::Scratch();
    static Schema& example = morvane::fuzz::LoadExampleSchema("PosRec.xsd");

    std::string path = scratch.Write("input.xsd", data, size);
    pugi::xml_document doc;
    std::string error;
    if (!morvane::LoadXmlDocument(path.c_str(), doc, error)) return 0;
    Schema schema;
    if (!morvane::LoadSchema(schema, doc)) {
        if (schema.Top() != nullptr) std::abort();
        return 0;
    }
    const CStructure* top = schema.Top();
    if (top == nullptr || schema.Size() != top->size) std::abort();
    CheckLayout(*top);

    // GenerateSchemaFiles creates its directories; the header alone goes
    // into the scratch directory, which exists.
    std::string includeDir = scratch / "include";
    if (EmptyFileElements(*schema.root) <= kMaxEmptyFileElements) {
        const std::string xmlDir = scratch / "xml";
        morvane::GenerateSchemaFiles(schema, xmlDir.c_str(), includeDir.c_str());
    } else {
        includeDir = scratch.path();
        morvane::PrintUnits(*schema.root);
        morvane::CreateIncludeFile(schema, includeDir.c_str());
    }
    std::vector<Schema*> all{&schema, &example};
    morvane::CreateSchemaEnumIncludeFile(all, includeDir.c_str());
    scratch.Clear();
    return 0;
}
