#include "convert/data_writer.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "convert/print_data.h"
#include "convert/record_text.h"
#include "convert/value_codec.h"
#include "generate/value_path.h"
#include "generate/xml_writer.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

// Hands every value of a record to the print-data plug-in, in the order
// the record element lists them.
class PrintWalker {
  public:
    PrintWalker(void* printData, const uint8_t* buffer) : printData_(printData), buffer_(buffer) {}

    void WalkMembers(const CStructure& s);

  private:
    void PrintItem(const Unit& unit, const std::string& prefix);
    void PrintValue(const Unit& unit, int32_t index, const std::string& prefix);

    void* printData_;
    const uint8_t* buffer_;
    int64_t offset_ = 0;
    char value_[kValueTextSize];
    std::string printText_;
};

void PrintWalker::WalkMembers(const CStructure& s) {
    std::string prefix = ValuePathPrefix(s);
    for (const auto& member : s.units) {
        const Unit& unit = *member;
        if (!unit.IsLayoutMember()) continue;
        if (const CStructure* child = unit.AsStructure()) {
            for (int32_t k = 0; k < unit.nrepetitions; ++k) WalkMembers(*child);
        } else {
            PrintItem(unit, prefix);
        }
    }
}

void PrintWalker::PrintItem(const Unit& unit, const std::string& prefix) {
    int32_t n = unit.nrepetitions;
    if (n == 1) {
        PrintValue(unit, -1, prefix);
    } else if (unit.visibility) {
        for (int32_t j = 0; j < n; ++j) PrintValue(unit, j, prefix);
    } else {
        offset_ += static_cast<int64_t>(n) * TypeSize(unit.type);
        PrintDataValue(printData_, ValuePath(prefix, unit.name, n).c_str(), "Collapsed");
    }
}

void PrintWalker::PrintValue(const Unit& unit, int32_t index, const std::string& prefix) {
    const uint8_t* bytes = buffer_ + offset_;
    FormatValue(unit.type, bytes, value_);
    offset_ += TypeSize(unit.type);
    std::string label =
        index >= 0 ? ValuePath(prefix, unit.name, index) : ValuePath(prefix, unit.name);
    if (unit.type != kTypeItemEnum) {
        PrintDataValue(printData_, label.c_str(), value_);
        return;
    }
    printText_.clear();
    if (unit.ref != nullptr) {
        int32_t id;
        std::memcpy(&id, bytes, sizeof id);
        for (const EnumItem& item : unit.ref->items) {
            if (item.id == id) {
                printText_ = item.name;
                break;
            }
        }
    }
    printText_ += '[';
    printText_ += value_;
    printText_ += ']';
    PrintDataValue(printData_, label.c_str(), printText_.c_str());
}

// The text plans of the schema's record element as a data file (depth 0)
// and inside a session file's Root (depth 1), made together once and kept
// with the schema. Clients of a server that serves several at once write
// records of one schema on several threads: the plans are made under a
// lock, and each writer holds them while it writes.
struct WriterPlans {
    explicit WriterPlans(const Schema& schema)
        : plans{RecordTextPlan(schema, 0), RecordTextPlan(schema, 1)} {}
    RecordTextPlan plans[2];
};

std::shared_ptr<const WriterPlans> PlansOf(const Schema& schema) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (schema.writerCache == nullptr)
        schema.writerCache = std::make_shared<const WriterPlans>(schema);
    return std::static_pointer_cast<const WriterPlans>(schema.writerCache);
}

// Appends the record's text at depth; deeper elements than the two kept
// (not written by the server) get a plan of their own.
bool AppendWithPlan(const Schema& schema, int32_t depth, int32_t number, const uint8_t* buffer,
                    int32_t length, std::string& out, size_t& used,
                    RecordTextPlan::Outside* outside = nullptr) {
    if (depth > 1)
        return RecordTextPlan(schema, depth).Append(number, buffer, length, out, used, outside);
    const std::shared_ptr<const WriterPlans> kept = PlansOf(schema);
    return kept->plans[depth].Append(number, buffer, length, out, used, outside);
}

}  // namespace

bool WriteXmlFile(const Schema& schema, CXmlWriter& writer, int32_t number, const uint8_t* buffer,
                  int32_t length) {
    const CStructure* top = schema.Top();
    if (top == nullptr || length < top->size) return false;
    if (!writer.IsOpen()) {
        LogLine(true, "Error! WriteXmlFile: no data file is open for record %d of %s\n", number,
                schema.name.c_str());
        return false;
    }

    PrintDataRecordHeader(schema);
    // The record's text is put together whole and then handed to the
    // writer as one record transaction: one write per record.
    thread_local std::string text;
    size_t used = 0;
    RecordTextPlan::Outside outside;
    if (!AppendWithPlan(schema, writer.Depth(), number, buffer, length, text, used, &outside)) {
        if (outside.name != nullptr) {
            LogLine(true,
                    "Error! WriteXmlFile: %s at offset %lld lies outside the record of %d bytes\n",
                    outside.name->c_str(), static_cast<long long>(outside.offset), length);
        }
        LogLine(true, "Error! WriteXmlFile: record %d of %s is not written\n", number,
                schema.name.c_str());
        return false;
    }
    if (PrintDataActive(schema.printData)) PrintWalker(schema.printData, buffer).WalkMembers(*top);
    if (!writer.WriteRecord(std::string_view(text.data(), used))) {
        LogLine(true,
                "Error! WriteXmlFile: writing record %d of %s failed; the data file is cut back "
                "to the record before it\n",
                number, schema.name.c_str());
        return false;
    }
    return true;
}

bool AppendRecordXml(const Schema& schema, int32_t number, const uint8_t* buffer, int32_t length,
                     std::string& out, int32_t depth) {
    size_t used = out.size();
    bool ok = AppendRecordXml(schema, number, buffer, length, out, used, depth);
    out.resize(used);
    return ok;
}

bool AppendRecordXml(const Schema& schema, int32_t number, const uint8_t* buffer, int32_t length,
                     std::string& out, size_t& used, int32_t depth) {
    const CStructure* top = schema.Top();
    if (top == nullptr || length < top->size || depth < 0) return false;
    return AppendWithPlan(schema, depth, number, buffer, length, out, used);
}

}  // namespace morvane
