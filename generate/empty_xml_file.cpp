// CreateEmptyXmlFile: the empty XML data file of one schema (every value of
// the record present with its name and type, without a value) and its
// value-name log, one entry per value element or collapsed element.
#include <charconv>
#include <cstdint>
#include <memory>
#include <string>

#include "generate/output_files.h"
#include "generate/generators.h"
#include "generate/value_path.h"
#include "generate/xml_writer.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

// The state of this thread's run in progress, shared by the recursive walk. Reset
// by EmptyXmlRunScope when the run ends, failed or not.
struct EmptyXmlRun {
    std::unique_ptr<CXmlWriter> writer;  // on a document in memory
    std::string valueLog;                // the value-name log's text
};
thread_local EmptyXmlRun g_run;

class EmptyXmlRunScope {
  public:
    EmptyXmlRunScope() = default;
    ~EmptyXmlRunScope() { g_run = EmptyXmlRun{}; }
    EmptyXmlRunScope(const EmptyXmlRunScope&) = delete;
    EmptyXmlRunScope& operator=(const EmptyXmlRunScope&) = delete;
};

// Entries "%s\n" and "%s = %s\n" with "Collapsed" for the value path of
// member (ValuePath()), put straight into the log's text.
void LogValue(const std::string& prefix, const std::string& member, bool indexed,
              int32_t index, const char* tail) {
    std::string& log = g_run.valueLog;
    if (!prefix.empty()) {
        log += prefix;
        log += ':';
    }
    log += member;
    if (indexed) {
        char digits[16];
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, index);
        (void)ec;
        log += '[';
        log.append(digits, static_cast<size_t>(end - digits));
        log += ']';
    }
    log += tail;
}

// Offsets are written as 32-bit attributes; the product is formed in 64
// bits so that a huge repetition count cannot overflow.
int32_t RepetitionOffset(const Unit& m, int32_t k) {
    return static_cast<int32_t>(static_cast<int64_t>(m.offset) + static_cast<int64_t>(k) * m.size);
}

bool WriteItem(const Unit& m, const std::string& prefix) {
    CXmlWriter& w = *g_run.writer;
    const bool isEnum = m.type == kTypeItemEnum;
    const char* element = isEnum ? "Item_enum" : "Item";
    const char* type = isEnum ? (m.ref != nullptr ? m.ref->name.c_str() : "") : SchemaTypeName(m.type);
    const int32_t n = m.nrepetitions;
    if (n == 1) {
        if (!w.WriteEmptyElement(element, m.name.c_str(), type, -1)) return false;
        LogValue(prefix, m.name, false, 0, "\n");
    } else if (m.visibility) {
        // Each repetition its own element; a count of 0 gives none at all.
        for (int32_t j = 0; j < n; ++j) {
            if (!w.WriteEmptyElement(element, m.name.c_str(), type, j)) return false;
            LogValue(prefix, m.name, true, j, "\n");
        }
    } else {
        if (!w.WriteCollapsedElement(element, m.name.c_str(), type, n)) return false;
        LogValue(prefix, m.name, true, n, " = Collapsed\n");
    }
    return true;
}

// Writes the members of u. False when the writer refused a line (structures
// nested too deep, or an I/O error): the run fails.
bool WriteMembers(const Schema& schema, const CStructure& u) {
    if (u.units.empty()) return true;
    CXmlWriter& w = *g_run.writer;
    const std::string prefix = ValuePathPrefix(u);
    for (const auto& mp : u.units) {
        const Unit& m = *mp;
        if (m.type == kTypeTemplate || m.type == kTypeEnum) continue;
        const CStructure* s = m.type == kTypeStructure ? m.AsStructure() : nullptr;
        if (s != nullptr && schema.IsRoot(&u)) {
            if (!w.OpenIdElement(schema.id, "Schema", m.name.c_str(), m.offset, m.size)) return false;
            if (!WriteMembers(schema, *s) || !w.CloseElement()) return false;
        } else if (s != nullptr) {
            for (int32_t k = 0; k < m.nrepetitions; ++k) {
                if (!w.OpenElement("Structure", m.name.c_str(), RepetitionOffset(m, k), m.size, k))
                    return false;
                if (!WriteMembers(schema, *s) || !w.CloseElement()) return false;
            }
        } else if (!WriteItem(m, prefix)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool CreateEmptyXmlFile(const Schema& schema, const char* directory) {
    const CStructure* root = schema.root.get();
    if (root == nullptr || root->units.empty()) return false;
    const std::string& name = root->units.front()->name;
    std::string path;
    std::string logPath;
    if (!GeneratedFilePath("CreateEmptyXmlFile", directory, name, ".xml", true, path) ||
        !GeneratedFilePath("CreateEmptyXmlFile", directory, name, ".log", false, logPath))
        return false;

    EmptyXmlRunScope scope;
    g_run.writer = std::make_unique<CXmlWriter>();
    g_run.writer->OpenDocument();
    g_run.valueLog.reserve(16 * 1024);
    if (!WriteMembers(schema, *root)) {
        LogLine(true, "Error! CreateEmptyXmlFile [%s] is not written\n", path.c_str());
        return false;
    }
    if (!WriteGeneratedFile("CreateEmptyXmlFile", path, g_run.writer->TakeDocument())) return false;
    // The value-name log is an aid: when it cannot be written that is
    // logged, and the data file counts all the same.
    WriteGeneratedFile("CreateEmptyXmlFile", logPath, g_run.valueLog);
    return true;
}

}  // namespace morvane
