// CreateEmptyXmlFile: the empty XML data file of one schema (every value of
// the record present with its name and type, without a value) and its
// value-name log, one entry per value element or collapsed element.
#include <cerrno>
#include <cstdint>
#include <cstring>
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

// The state of the one run in progress, shared by the recursive walk. Reset
// by EmptyXmlRunScope when the run ends, failed or not.
struct EmptyXmlRun {
    std::unique_ptr<CXmlWriter> writer;
    LoggerApi api;             // the logger library, for the value-name log
    void* valueLog = nullptr;  // its instance; null when no logger is bound
};
EmptyXmlRun g_run;

class EmptyXmlRunScope {
  public:
    EmptyXmlRunScope() = default;
    ~EmptyXmlRunScope() {
        g_run.writer.reset();  // closes the file when still open
        if (g_run.valueLog != nullptr) g_run.api.deleteLogger(g_run.valueLog);
        g_run = EmptyXmlRun{};
    }
    EmptyXmlRunScope(const EmptyXmlRunScope&) = delete;
    EmptyXmlRunScope& operator=(const EmptyXmlRunScope&) = delete;
};

void LogValue(const std::string& path) {
    if (g_run.valueLog != nullptr) g_run.api.printfdeb(g_run.valueLog, true, "%s\n", path.c_str());
}

void LogCollapsedValue(const std::string& path) {
    if (g_run.valueLog != nullptr)
        g_run.api.printfdeb(g_run.valueLog, true, "%s = %s\n", path.c_str(), "Collapsed");
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
        LogValue(ValuePath(prefix, m.name));
    } else if (m.visibility) {
        // Each repetition its own element; a count of 0 gives none at all.
        for (int32_t j = 0; j < n; ++j) {
            if (!w.WriteEmptyElement(element, m.name.c_str(), type, j)) return false;
            LogValue(ValuePath(prefix, m.name, j));
        }
    } else {
        if (!w.WriteCollapsedElement(element, m.name.c_str(), type, n)) return false;
        LogCollapsedValue(ValuePath(prefix, m.name, n));
    }
    return true;
}

// Writes the members of u. False when the writer refused a line (structures
// nested too deep, or an I/O error): the run fails.
bool WriteMembers(const Schema& schema, const CStructure& u) {
    if (u.units.empty()) return true;
    CXmlWriter& w = *g_run.writer;
    const std::string prefix = g_run.valueLog != nullptr ? ValuePathPrefix(u) : std::string();
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
    if (!g_run.writer->OpenFileForReplace(path.c_str())) {
        LogLine(true, "Error! CreateEmptyXmlFile [%s] [%s] is not opened\n", path.c_str(),
                std::strerror(errno));
        return false;
    }
    const LoggerApi& api = GetLoggerApi();
    if (api.createLogger != nullptr && api.initLogger != nullptr && api.printfdeb != nullptr &&
        api.deleteLogger != nullptr) {
        g_run.api = api;
        g_run.valueLog = api.createLogger();
        // The value-name log is an aid; the data file is written whether or
        // not it could be set up.
        if (g_run.valueLog != nullptr) api.initLogger(g_run.valueLog, logPath.c_str(), 0);
    }

    bool ok = WriteMembers(schema, *root);
    if (!g_run.writer->CloseFile()) ok = false;
    if (!ok) {
        LogLine(true, "Error! CreateEmptyXmlFile [%s] is not written\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace morvane
