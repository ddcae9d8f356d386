#include "server/record_publisher.h"

#include "convert/record_json.h"
#include "logging/log.h"
#include "schema/fingerprint.h"
#include "schema/schema.h"

namespace morvane {

RecordPublisher::RecordPublisher() = default;
RecordPublisher::~RecordPublisher() = default;

bool RecordPublisher::Start(const PublishSettings& settings, const std::string& directory,
                            const std::vector<Schema*>& schemas) {
    settings_ = settings;
    label_.subjectPrefix = settings.subject;
    label_.server = settings.serverName;
    label_.installation = InstallationId(directory + "/Morvane.id");
    if (label_.installation.empty()) return false;
    // A run of its own for every start: record numbers start at 1 again.
    label_.run = RandomId();
    for (const Schema* schema : schemas) {
        encoders_[schema] = std::make_unique<RecordMessageEncoder>(
            *schema, FingerprintText(LayoutFingerprint(*schema)), label_);
        if (settings.format == PublishFormat::kJson)
            jsonPlans_[schema] = std::make_unique<RecordJsonPlan>(*schema);
    }
    LogLine(true, "Publish: installation %s run %s\n", label_.installation.c_str(),
            label_.run.c_str());

    PublisherOptions options;
    options.urls = settings.url;
    options.stream = settings.stream;
    options.subjectPrefix = settings.subject;
    options.replicas = settings.replicas;
    options.duplicateWindow = settings.duplicateWindow;
    options.spoolDirectory = directory + "/PublishSpool";
    options.spoolBytes = static_cast<uint64_t>(settings.spoolMB) << 20;
    return publisher_.Start(options);
}

void RecordPublisher::Publish(const Schema& schema, int32_t number, const std::string& session,
                              const uint8_t* record) {
    auto encoder = encoders_.find(&schema);
    // Called under the session's lock, one record at a time per session;
    // each thread keeps its buffers.
    thread_local std::string payload;
    thread_local std::string json;
    payload.clear();
    std::string_view body(reinterpret_cast<const char*>(record), static_cast<size_t>(schema.Size()));
    auto plan = jsonPlans_.find(&schema);
    if (plan != jsonPlans_.end()) {
        json.clear();
        plan->second->AppendJson(record, schema.Size(), number, json);
        body = json;
    }
    if (encoder != encoders_.end()) {
        encoder->second->Append(payload, number, session, body);
    } else {
        // A schema that was not there at the start: no fingerprint.
        RecordMessageEncoder(schema, "", label_).Append(payload, number, session, body);
    }
    publisher_.Add(std::string_view(payload));
}

}  // namespace morvane
