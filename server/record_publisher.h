// The server's side of publishing: every record written into a session
// file becomes a message of the stream ([Publish] in Morvane.ini).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "publish/publisher.h"
#include "server/config/publish_settings.h"

namespace morvane {

class RecordJsonPlan;
class Schema;

class RecordPublisher {
  public:
    RecordPublisher();
    ~RecordPublisher();

    // Starts publishing for the schemas (they outlive this object): the
    // spool "PublishSpool" and the installation id "Morvane.id" live in
    // directory. False, logged, when the spool or the id cannot be used.
    bool Start(const PublishSettings& settings, const std::string& directory,
               const std::vector<Schema*>& schemas);

    // Spools record number of schema (its packed bytes), just appended to
    // the session file named session. Never waits for the broker.
    void Publish(const Schema& schema, int32_t number, const std::string& session,
                 const uint8_t* record);

    // Stops the sender at shutdown; what waits stays in the spool.
    void Stop() { publisher_.Stop(); }

  private:
    PublishSettings settings_;
    RecordLabel label_;
    // The message texts of each schema, made once.
    std::map<const Schema*, std::unique_ptr<RecordMessageEncoder>> encoders_;
    // Format=json: the JSON object of each schema's records.
    std::map<const Schema*, std::unique_ptr<RecordJsonPlan>> jsonPlans_;
    Publisher publisher_;
};

}  // namespace morvane
