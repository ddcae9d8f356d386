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
        fingerprints_[schema] = FingerprintText(LayoutFingerprint(*schema));
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
    RecordLabel label = label_;
    label.session = session;
    std::string body;
    auto plan = jsonPlans_.find(&schema);
    if (plan != jsonPlans_.end())
        plan->second->AppendJson(record, schema.Size(), number, body);
    else
        body.assign(reinterpret_cast<const char*>(record), static_cast<size_t>(schema.Size()));
    auto at = fingerprints_.find(&schema);
    static const std::string kNone;
    publisher_.Add(RecordMessage(schema, at != fingerprints_.end() ? at->second : kNone, number,
                                 label, std::move(body)));
}

}  // namespace morvane
