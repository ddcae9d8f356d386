// The [Publish] section of Morvane.ini: where and how the records that the
// server writes into session files are published to a NATS JetStream
// stream. Without the section nothing is published and nothing of it is
// logged.
#pragma once

#include <cstdint>
#include <string>

namespace morvane {

class IniFile;

enum class PublishFormat { kBinary, kJson };

struct PublishSettings {
    bool enabled = false;  // the section is present
    // One or more "nats://host:port", comma-separated.
    std::string url = "nats://127.0.0.1:4222";
    std::string stream = "MORVANE";
    // The first subject tokens; a record of schema S goes to
    // "<subject>.<S escaped>", the stream holds "<subject>.>".
    std::string subject = "morvane";
    PublishFormat format = PublishFormat::kBinary;
    std::string formatText = "binary";  // as written
    std::string serverName;  // a label; default the host name
    int32_t spoolMB = 256;
    // Used only when the stream is created.
    int32_t replicas = 1;
    int32_t duplicateWindow = 600;  // seconds

    static constexpr int32_t kMaxReplicas = 5;
};

// Reads the [Publish] section of ini. serverName defaults to the host name.
PublishSettings ReadPublishSettings(const IniFile& ini);

// Logs the settings, one line each, when enabled; nothing otherwise.
void LogPublishSettings(const PublishSettings& settings);

// Checks the settings and logs one error line for each that cannot be used;
// true when all can (or the section is absent).
bool CheckPublishSettings(const PublishSettings& settings);

// True when text is a subject of whole tokens without wildcards: tokens
// separated by '.', none empty, none holding '*', '>', a blank or a control
// character.
bool IsPlainSubject(const std::string& text);

// The name of the format as Morvane.ini writes it: "binary" or "json".
const char* PublishFormatName(PublishFormat format);

}  // namespace morvane
