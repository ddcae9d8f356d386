// to-json, to-csv and from-json: records as JSON Lines (one object per line,
// convert/record_json.h) and CSV rows, and JSON Lines back into packed
// records. The input is streamed, so memory stays at a few batches of
// records whatever its size.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "convert/record_json.h"
#include "morvanec/commands.h"
#include "morvanec/diagnostics.h"
#include "morvanec/record_input.h"
#include "morvanec/schema_file.h"
#include "morvanec/stream_output.h"
#include "schema/schema.h"

namespace morvane {
namespace {

constexpr size_t kReadPiece = size_t{1} << 20;
// A line longer than this is no record of ours.
constexpr size_t kMaxLine = size_t{64} << 20;
constexpr int kMaxReportedErrors = 100;

// The schema and its plan for a records command; null after a diagnostic.
std::unique_ptr<Schema> LoadRecordSchema(const std::string& path, Diagnostics& diagnostics,
                                         std::unique_ptr<RecordJsonPlan>& plan) {
    std::unique_ptr<Schema> schema = LoadSchemaFile(path, diagnostics);
    if (schema == nullptr) return nullptr;
    plan = std::make_unique<RecordJsonPlan>(*schema);
    if (plan->Bytes() > schema->Size()) {
        diagnostics.Error(path, 0, 0, "the record's members take more than its size");
        return nullptr;
    }
    return schema;
}

// Writes the records of the input (XML or binary) through format; the exit
// status.
int ConvertRecords(const Schema& schema, const Invocation& call, bool xml,
                   const std::string& head, const RecordFormat& format,
                   Diagnostics& diagnostics) {
    StreamOutput out;
    if (!out.Open(call.output, diagnostics)) return kExitInput;
    const std::string& input = call.args[1];
    const bool ok = out.Write(head) &&
                    (xml ? ConvertXmlRecords(schema, input, call.lenient, format, out, diagnostics)
                         : ConvertBinaryRecords(schema, call.args[0], input, format, out,
                                                diagnostics));
    if (!ok) {
        out.Abandon();
        return kExitInput;
    }
    return out.Commit() ? kExitOk : kExitInput;
}

}  // namespace

int RunToJson(const Invocation& call) {
    Diagnostics diagnostics;
    std::unique_ptr<RecordJsonPlan> plan;
    std::unique_ptr<Schema> schema = LoadRecordSchema(call.args[0], diagnostics, plan);
    if (schema == nullptr) return kExitInput;
    // Binary records carry no number: their place in the file is not one.
    const bool numbered = IsXmlInput(call.args[1]);
    const int64_t size = schema->Size();
    const RecordFormat json = [&](const uint8_t* record, int64_t number, std::string& out) {
        if (!plan->AppendJson(record, size, numbered ? number : -1, out)) return false;
        out += '\n';
        return true;
    };
    return ConvertRecords(*schema, call, numbered, "", json, diagnostics);
}

int RunToCsv(const Invocation& call) {
    Diagnostics diagnostics;
    std::unique_ptr<RecordJsonPlan> plan;
    std::unique_ptr<Schema> schema = LoadRecordSchema(call.args[0], diagnostics, plan);
    if (schema == nullptr) return kExitInput;
    const char delimiter = call.delimiter;
    // RFC 4180 ends every line with CR LF.
    std::string head;
    plan->AppendCsvHeader(delimiter, head);
    head += "\r\n";
    const int64_t size = schema->Size();
    const RecordFormat csv = [&](const uint8_t* record, int64_t, std::string& out) {
        if (!plan->AppendCsv(record, size, delimiter, out)) return false;
        out += "\r\n";
        return true;
    };
    return ConvertRecords(*schema, call, IsXmlInput(call.args[1]), head, csv, diagnostics);
}

int RunFromJson(const Invocation& call) {
    Diagnostics diagnostics;
    std::unique_ptr<RecordJsonPlan> plan;
    std::unique_ptr<Schema> schema = LoadRecordSchema(call.args[0], diagnostics, plan);
    if (schema == nullptr) return kExitInput;
    const std::string& path = call.args[1];
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        diagnostics.Error(path, 0, 0, std::strerror(errno));
        return kExitInput;
    }
    StreamOutput out;
    if (!out.Open(call.output, diagnostics)) {
        ::close(fd);
        return kExitInput;
    }
    std::vector<uint8_t> record(static_cast<size_t>(schema->Size()));
    std::string text;  // the lines not yet read, from begin on
    size_t begin = 0;
    int line = 0;
    bool writing = true;  // until the first error: the output is of no use after it
    bool ended = false;
    RecordJsonPlan::ReadError error;
    auto readLine = [&](std::string_view json) {
        ++line;
        if (json.find_first_not_of(" \t\r") == std::string_view::npos) return;
        if (plan->ReadJson(json, call.lenient, record.data(),
                           static_cast<int64_t>(record.size()), &error)) {
            if (writing) writing = out.Write({reinterpret_cast<const char*>(record.data()),
                                              record.size()});
            return;
        }
        writing = false;
        diagnostics.Error(path, line, static_cast<int>(std::min(error.offset, json.size())) + 1,
                          error.text);
    };
    while (!ended && diagnostics.errors() < kMaxReportedErrors) {
        const size_t held = text.size() - begin;
        text.erase(0, begin);
        begin = 0;
        text.resize(held + kReadPiece);
        ssize_t n;
        do {
            n = ::read(fd, text.data() + held, kReadPiece);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            diagnostics.Error(path, 0, 0, std::strerror(errno));
            break;
        }
        text.resize(held + static_cast<size_t>(n));
        ended = n == 0;
        for (size_t end; (end = text.find('\n', begin)) != std::string::npos &&
                         diagnostics.errors() < kMaxReportedErrors;
             begin = end + 1) {
            readLine(std::string_view(text).substr(begin, end - begin));
        }
        if (ended && begin < text.size()) {
            readLine(std::string_view(text).substr(begin));  // a last line without its end
            begin = text.size();
        }
        if (text.size() - begin > kMaxLine) {
            diagnostics.Error(path, line + 1, 1,
                              "a line longer than " + std::to_string(kMaxLine >> 20) +
                                  " MB is not one record");
            break;
        }
    }
    ::close(fd);
    if (diagnostics.errors() >= kMaxReportedErrors)
        diagnostics.Warning(path, 0, 0, "too many errors; the rest of the file is not read");
    if (diagnostics.errors() != 0 || !writing || !out.Commit()) {
        out.Abandon();
        return kExitInput;
    }
    return kExitOk;
}

}  // namespace morvane
