// morvanec publish and subscribe: session files into a JetStream stream and
// back, through the same publisher and message layout as Morvane.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "convert/data_reader.h"
#include "convert/data_writer.h"
#include "convert/json_writer.h"
#include "convert/record_json.h"
#include "morvanec/commands.h"
#include "morvanec/diagnostics.h"
#include "morvanec/schema_file.h"
#include "morvanec/session_text.h"
#include "morvanec/stream_output.h"
#include "publish/message.h"
#include "publish/publisher.h"
#include "publish/stream_reader.h"
#include "schema/fingerprint.h"
#include "schema/schema.h"
#include "server/config/publish_settings.h"

namespace morvane {
namespace {

// How long publish waits for the stream's acknowledgements.
constexpr int kAckTimeoutMs = 60000;

struct Loaded {
    std::vector<std::unique_ptr<Schema>> schemas;
    std::map<std::string, const Schema*> byName;
};

bool LoadSchemas(const std::vector<std::string>& paths, Diagnostics& diagnostics, Loaded& out) {
    for (const std::string& path : paths) {
        std::unique_ptr<Schema> schema = LoadSchemaFile(path, diagnostics);
        if (schema == nullptr) return false;
        out.byName.emplace(schema->name, schema.get());
        out.schemas.push_back(std::move(schema));
    }
    return true;
}

// The value of attribute name in the start tag at the front of element.
std::string Attribute(std::string_view element, const std::string& name) {
    const size_t tagEnd = element.find('>');
    std::string_view tag = element.substr(0, tagEnd);
    const std::string key = " " + name + "=\"";
    const size_t at = tag.find(key);
    if (at == std::string_view::npos) return "";
    const size_t start = at + key.size();
    const size_t end = tag.find('"', start);
    return end == std::string_view::npos ? "" : std::string(tag.substr(start, end - start));
}

uint64_t Fnv64(const std::string& text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

// A temporary directory for the publisher's spool, removed when done.
struct TempSpool {
    std::string path;
    TempSpool() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") +
                              "/morvanec-spool-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempSpool() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

int RunPublish(const Invocation& call) {
    Diagnostics diagnostics;
    const std::string& sessionPath = call.args.back();
    if (!IsPlainSubject(call.subject)) {
        diagnostics.Error(call.subject, 0, 0, "--subject is not a subject of plain tokens");
        return kExitInput;
    }
    Loaded loaded;
    if (!LoadSchemas({call.args.begin(), call.args.end() - 1}, diagnostics, loaded))
        return kExitInput;
    std::string text;
    {
        FILE* f = std::fopen(sessionPath.c_str(), "rb");
        if (f == nullptr) {
            diagnostics.Error(sessionPath, 0, 0, std::strerror(errno));
            return kExitInput;
        }
        char piece[1 << 16];
        size_t n;
        while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) text.append(piece, n);
        std::fclose(f);
    }
    const std::string server = call.server.empty() ? HostName() : call.server;
    const std::string session = std::filesystem::path(sessionPath).filename().string();
    std::map<const Schema*, std::string> fingerprints;
    for (const auto& s : loaded.schemas) fingerprints[s.get()] = FingerprintText(LayoutFingerprint(*s));

    // Every record is converted before any is published: a file with an
    // error publishes nothing.
    std::vector<OutMessage> messages;
    ReadOptions options;
    options.strict = true;
    const std::string startTag = "<Schema ";
    const std::string endTag = "</Schema>";
    size_t at = 0;
    while ((at = text.find(startTag, at)) != std::string::npos) {
        const size_t end = text.find(endTag, at);
        if (end == std::string::npos) {
            diagnostics.ErrorAt(sessionPath, static_cast<std::ptrdiff_t>(at),
                                "the record element is not complete (morvanec recover closes "
                                "the file after its last whole record)");
            return kExitInput;
        }
        std::string_view element(text.data() + at, end + endTag.size() - at);
        const std::string name = Attribute(element, "name");
        auto found = loaded.byName.find(name);
        if (found == loaded.byName.end()) {
            diagnostics.ErrorAt(sessionPath, static_cast<std::ptrdiff_t>(at),
                                "no schema given for the record of schema " + name);
            return kExitInput;
        }
        const Schema& schema = *found->second;
        std::vector<uint8_t> record(static_cast<size_t>(schema.Size()), 0);
        std::vector<ReadError> errors;
        if (!ReadXmlText(schema, true, element, sessionPath.c_str(), record.data(), schema.Size(),
                         options, &errors)) {
            for (const ReadError& e : errors)
                diagnostics.ErrorAt(sessionPath,
                                    e.offset >= 0 ? static_cast<std::ptrdiff_t>(at) + e.offset
                                                  : static_cast<std::ptrdiff_t>(at),
                                    e.text);
            if (errors.empty())
                diagnostics.ErrorAt(sessionPath, static_cast<std::ptrdiff_t>(at),
                                    "the record cannot be read");
            return kExitInput;
        }
        const int32_t number = static_cast<int32_t>(std::strtol(Attribute(element, "number").c_str(), nullptr, 10));
        std::string body(reinterpret_cast<const char*>(record.data()), record.size());
        RecordLabel label;
        label.subjectPrefix = call.subject;
        label.server = server;
        label.session = session;
        label.run = "file";
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016llx",
                      static_cast<unsigned long long>(
                          Fnv64(server + '\0' + session + '\0' + std::to_string(number) + '\0' + body)));
        label.installation = std::string("file-") + digest;
        messages.push_back(RecordMessage(schema, fingerprints[&schema], number, label, std::move(body)));
        at = end + endTag.size();
    }

    TempSpool spool;
    if (spool.path.empty()) {
        diagnostics.Error(sessionPath, 0, 0, "no temporary directory for the spool");
        return kExitInput;
    }
    PublisherOptions po;
    po.urls = call.url;
    po.stream = call.stream;
    po.subjectPrefix = call.subject;
    po.spoolDirectory = spool.path + "/spool";
    po.spoolBytes = uint64_t{1} << 40;  // a backfill leaves nothing out
    Publisher publisher;
    if (!publisher.Start(po)) return kExitInput;
    for (const OutMessage& m : messages) publisher.Add(m);
    const bool drained = publisher.Drain(kAckTimeoutMs);
    publisher.Stop();
    const Publisher::Stats stats = publisher.GetStats();
    if (!drained) {
        diagnostics.Error(sessionPath, 0, 0,
                          "the stream " + call.stream + " at " + call.url + " acknowledged " +
                              std::to_string(stats.acknowledged) + " of " +
                              std::to_string(messages.size()) + " records in time");
        return kExitInput;
    }
    std::printf("%s: %zu records, %llu new in the stream %s, %llu there already\n",
                sessionPath.c_str(), messages.size(),
                static_cast<unsigned long long>(stats.acknowledged - stats.duplicates),
                call.stream.c_str(), static_cast<unsigned long long>(stats.duplicates));
    return kExitOk;
}

int RunSubscribe(const Invocation& call) {
    Diagnostics diagnostics;
    const std::string& urls = call.args[0];
    const std::string& stream = call.args[1];
    Loaded loaded;
    if (!LoadSchemas({call.args.begin() + 2, call.args.end()}, diagnostics, loaded))
        return kExitInput;
    std::map<const Schema*, std::unique_ptr<RecordJsonPlan>> plans;
    for (const auto& schema : loaded.schemas)
        plans[schema.get()] = std::make_unique<RecordJsonPlan>(*schema);
    StreamOutput out;
    if (!out.Open(call.output, diagnostics)) return kExitInput;
    bool ok = call.json || out.Write(kSessionHeader);
    std::string error;
    const bool read = ok && ReadStream(urls, stream, [&](const InMessage& m) {
        const std::string name = m.Header(kHeaderSchema);
        auto found = loaded.byName.find(name);
        const std::string where = stream + " #" + std::to_string(m.sequence);
        if (found == loaded.byName.end()) {
            diagnostics.Error(where, 0, 0, "no schema given for the record of schema " + name);
            return ok = false;
        }
        const Schema& schema = *found->second;
        const int32_t number = static_cast<int32_t>(std::strtol(m.Header(kHeaderRecord).c_str(), nullptr, 10));
        const bool binary = m.body.size() == static_cast<size_t>(schema.Size()) &&
                            !(m.body.size() > 0 && m.body[0] == '{' && m.body.back() == '}');
        std::string* text = out.Pending();
        if (text == nullptr) return ok = false;
        if (!call.json) {
            if (!binary) {
                diagnostics.Error(where, 0, 0,
                                  "the record is not " + std::to_string(schema.Size()) +
                                      " packed bytes (Format=json?); use --json");
                return ok = false;
            }
            if (!AppendRecordXml(schema, number, reinterpret_cast<const uint8_t*>(m.body.data()),
                                 schema.Size(), *text)) {
                diagnostics.Error(where, 0, 0, "the record cannot be written");
                return ok = false;
            }
            return true;
        }
        *text += "{\"sequence\":" + std::to_string(m.sequence) + ",\"server\":";
        AppendJsonString(m.Header(kHeaderServer), text);
        *text += ",\"session\":";
        AppendJsonString(m.Header(kHeaderSession), text);
        *text += ",\"run\":";
        AppendJsonString(RunOfMessageId(m.Header(kHeaderMsgId)), text);
        *text += ",\"number\":" + std::to_string(number) + ",\"schema\":";
        AppendJsonString(name, text);
        *text += ",\"record\":";
        if (binary)
            plans.at(&schema)->AppendJson(reinterpret_cast<const uint8_t*>(m.body.data()),
                                          schema.Size(), number, *text);
        else
            *text += m.body;
        *text += "}\n";
        return true;
    }, error);
    if (!read && ok) diagnostics.Error(stream, 0, 0, error);
    if (!read || !ok || (!call.json && !out.Write(kSessionEnd)) || !out.Commit()) {
        out.Abandon();
        return kExitInput;
    }
    return kExitOk;
}

}  // namespace morvane
