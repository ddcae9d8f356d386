// The layout report: a trace dump of a laid-out tree.
//
// The lines are collected and handed to the log a batch at a time rather
// than one call each: with one write(2) per call the report was most of the
// system time of a start-up that generates files. A batch ends on a line
// end, so the log shows whole lines in order whatever the batch size.
#include <cstdarg>
#include <string>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

// A batch is handed over once it reaches this size, so that the report of
// a huge tree is not held whole.
constexpr size_t kBatchBytes = 64 * 1024;

void Line(std::string& batch, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Line(std::string& batch, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(batch, format, args);
    va_end(args);
    if (batch.size() >= kBatchBytes) {
        LogText(true, batch);
        batch.clear();
    }
}

void ReportUnits(const CStructure& p, std::string& batch) {
    const char* parent = p.name.c_str();
    for (const auto& member : p.units) {
        const Unit& u = *member;
        const CStructure* s = u.AsStructure();
        int count = s != nullptr ? static_cast<int>(s->units.size()) : 0;
        switch (u.type) {
            case kTypeStructure:
                if (s != nullptr && !s->templateName.empty()) {
                    Line(batch,
                         "     -----Structure={%s:%s}---template=%s---nrepet=%d---size_struct=%d"
                         "---offset=%d  units.size=%d\n",
                         parent, u.name.c_str(), s->templateName.c_str(), u.nrepetitions, u.size,
                         u.offset, count);
                } else {
                    Line(batch,
                         "     -----Structure={%s:%s}---nrepet=%d---size_struct=%d---offset=%d"
                         "  units.size=%d\n",
                         parent, u.name.c_str(), u.nrepetitions, u.size, u.offset, count);
                }
                if (s != nullptr) ReportUnits(*s, batch);
                break;
            case kTypeTemplate:
                Line(batch,
                     "     *****Template={%s:%s}---nrepet=%d---size_struct=%d---offset=%d"
                     "  units.size=%d\n",
                     parent, u.name.c_str(), u.nrepetitions, u.size, u.offset, count);
                if (s != nullptr) ReportUnits(*s, batch);
                break;
            case kTypeEnum: {
                const EnumUnit* e = u.AsEnum();
                Line(batch, "     *****Enum=%s  units.size=%d\n", u.name.c_str(),
                     e != nullptr ? static_cast<int>(e->items.size()) : 0);
                if (e != nullptr) {
                    for (const EnumItem& item : e->items) {
                        Line(batch, "          id=%d  name=%s\n", item.id, item.name.c_str());
                    }
                }
                break;
            }
            case kTypeItemEnum:
                Line(batch, "     *****%s enum_type=%s\n", u.name.c_str(),
                     u.ref != nullptr ? u.ref->name.c_str() : "");
                break;
            default:
                Line(batch, "\tname={%s:%s}\ttype=%s[%d]\toffset=%d\tsize=%d\tnrepet=%d\tvis=%d\n",
                     parent, u.name.c_str(), SchemaTypeName(u.type), static_cast<int>(u.type),
                     u.offset, u.size, u.nrepetitions, u.visibility ? 1 : 0);
                break;
        }
    }
}

}  // namespace

void PrintUnits(const CStructure& p) {
    if (!TraceEnabled()) return;
    std::string batch;
    batch.reserve(kBatchBytes + 1024);
    ReportUnits(p, batch);
    LogText(true, batch);
}

}  // namespace morvane
