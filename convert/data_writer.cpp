#include "convert/data_writer.h"

#include <cstring>
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

class RecordWriter {
  public:
    RecordWriter(const Schema& schema, CXmlWriter& writer, const uint8_t* buffer, int32_t length)
        : writer_(writer),
          buffer_(buffer),
          length_(length),
          printData_(schema.printData),
          print_(PrintDataActive(schema.printData)) {}

    // Writes the members of s; false when a value lay outside the buffer
    // (logged) or the writer refused a line.
    bool WriteMembers(const CStructure& s);

  private:
    bool WriteItem(const Unit& unit, const std::string& prefix);
    bool WriteValue(const Unit& unit, UnitType kind, const char* element, const char* type,
                    int32_t index, const std::string& prefix);

    CXmlWriter& writer_;
    const uint8_t* buffer_;
    int32_t length_;
    void* printData_;
    bool print_;
    int64_t offset_ = 0;
    char value_[kValueTextSize];
    std::string printText_;
};

bool RecordWriter::WriteMembers(const CStructure& s) {
    std::string prefix = print_ ? ValuePathPrefix(s) : std::string();
    for (const auto& member : s.units) {
        const Unit& unit = *member;
        if (!unit.IsLayoutMember()) continue;
        if (const CStructure* child = unit.AsStructure()) {
            for (int32_t k = 0; k < unit.nrepetitions; ++k) {
                if (!writer_.OpenElement("Structure", unit.name.c_str(), unit.offset + k * unit.size,
                                         unit.size, k) ||
                    !WriteMembers(*child) || !writer_.CloseElement())
                    return false;
            }
        } else if (!WriteItem(unit, prefix)) {
            return false;
        }
    }
    return true;
}

bool RecordWriter::WriteItem(const Unit& unit, const std::string& prefix) {
    bool isEnum = unit.type == kTypeItemEnum;
    const char* element = isEnum ? "Item_enum" : "Item";
    const char* type = isEnum ? (unit.ref != nullptr ? unit.ref->name.c_str() : "")
                              : SchemaTypeName(unit.type);
    int32_t n = unit.nrepetitions;
    if (n == 1) return WriteValue(unit, unit.type, element, type, -1, prefix);
    if (unit.visibility) {
        for (int32_t j = 0; j < n; ++j) {
            if (!WriteValue(unit, unit.type, element, type, j, prefix)) return false;
        }
        return true;
    }
    if (!writer_.WriteCollapsedElement(element, unit.name.c_str(), type, n)) return false;
    offset_ += static_cast<int64_t>(n) * TypeSize(unit.type);
    if (print_) PrintDataValue(printData_, ValuePath(prefix, unit.name, n).c_str(), "Collapsed");
    return true;
}

bool RecordWriter::WriteValue(const Unit& unit, UnitType kind, const char* element,
                              const char* type, int32_t index, const std::string& prefix) {
    int32_t size = TypeSize(kind);
    if (offset_ < 0 || offset_ + size > length_) {
        LogLine(true, "Error! WriteXmlFile: %s at offset %lld lies outside the record of %d bytes\n",
                unit.name.c_str(), static_cast<long long>(offset_), length_);
        return false;
    }
    const uint8_t* bytes = buffer_ + offset_;
    FormatValue(kind, bytes, value_);
    if (!writer_.WriteValueElement(element, unit.name.c_str(), value_, type, index)) return false;
    offset_ += size;
    if (!print_) return true;

    std::string label =
        index >= 0 ? ValuePath(prefix, unit.name, index) : ValuePath(prefix, unit.name);
    if (kind != kTypeItemEnum) {
        PrintDataValue(printData_, label.c_str(), value_);
        return true;
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
    return true;
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
    writer.BeginRecord();
    RecordWriter record(schema, writer, buffer, length);
    if (!writer.OpenRecordElement(schema.id, "Schema", number, top->name.c_str(), top->offset,
                                  top->size, -1) ||
        !record.WriteMembers(*top) || !writer.CloseElement()) {
        writer.AbortRecord();
        LogLine(true, "Error! WriteXmlFile: record %d of %s is not written\n", number,
                schema.name.c_str());
        return false;
    }
    if (!writer.EndRecord()) {
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
    const CStructure* top = schema.Top();
    if (top == nullptr || length < top->size || depth < 0) return false;
    return RecordTextPlan(schema, depth).Append(number, buffer, length, out);
}

}  // namespace morvane
