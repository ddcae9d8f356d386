#include "server/config/publish_settings.h"

#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "logging/log.h"
#include "server/config/ini_file.h"

namespace morvane {
namespace {

constexpr char kSection[] = "Publish";

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

// Each comma-separated part of urls, trimmed, must be nats://HOST:PORT.
bool UrlsUsable(const std::string& urls) {
    size_t start = 0;
    bool any = false;
    for (;;) {
        size_t comma = urls.find(',', start);
        std::string part = urls.substr(start, comma == std::string::npos ? std::string::npos
                                                                        : comma - start);
        const size_t b = part.find_first_not_of(" \t");
        const size_t e = part.find_last_not_of(" \t");
        part = b == std::string::npos ? "" : part.substr(b, e - b + 1);
        constexpr char kScheme[] = "nats://";
        if (part.compare(0, sizeof kScheme - 1, kScheme) != 0) return false;
        const std::string hostPort = part.substr(sizeof kScheme - 1);
        const size_t colon = hostPort.rfind(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size()) return false;
        for (size_t i = colon + 1; i < hostPort.size(); ++i)
            if (hostPort[i] < '0' || hostPort[i] > '9') return false;
        const long port = std::strtol(hostPort.c_str() + colon + 1, nullptr, 10);
        if (port < 1 || port > 65535) return false;
        any = true;
        if (comma == std::string::npos) return any;
        start = comma + 1;
    }
}

// A stream name: not empty, no '.', '*', '>', '/', '\\', blank or control
// character (the broker refuses them).
bool StreamNameUsable(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name)
        if (c <= 0x20 || c == 0x7F || c == '.' || c == '*' || c == '>' || c == '/' || c == '\\')
            return false;
    return true;
}

}  // namespace

const char* PublishFormatName(PublishFormat format) {
    return format == PublishFormat::kJson ? "json" : "binary";
}

bool IsPlainSubject(const std::string& text) {
    if (text.empty()) return false;
    bool tokenEmpty = true;
    for (unsigned char c : text) {
        if (c == '.') {
            if (tokenEmpty) return false;
            tokenEmpty = true;
            continue;
        }
        if (c <= 0x20 || c == 0x7F || c == '*' || c == '>') return false;
        tokenEmpty = false;
    }
    return !tokenEmpty;
}

PublishSettings ReadPublishSettings(const IniFile& ini) {
    PublishSettings s;
    s.enabled = ini.HasSection(kSection);
    if (!s.enabled) return s;
    s.url = ini.GetString(kSection, "Url", s.url);
    s.stream = ini.GetString(kSection, "Stream", s.stream);
    s.subject = ini.GetString(kSection, "Subject", s.subject);
    const std::string format = ini.GetString(kSection, "Format", "binary");
    // Anything but the two names is refused by CheckPublishSettings.
    s.format = strcasecmp(format.c_str(), "json") == 0 ? PublishFormat::kJson
                                                        : PublishFormat::kBinary;
    s.formatText = format;
    s.serverName = ini.GetString(kSection, "ServerName", "");
    if (s.serverName.empty()) s.serverName = HostName();
    s.spoolMB = ini.GetInt(kSection, "SpoolMB", s.spoolMB);
    s.replicas = ini.GetInt(kSection, "Replicas", s.replicas);
    s.duplicateWindow = ini.GetInt(kSection, "DuplicateWindow", s.duplicateWindow);
    return s;
}

void LogPublishSettings(const PublishSettings& s) {
    if (!s.enabled) return;
    LogLine(true, "Publish_Url=%s\n", s.url.c_str());
    LogLine(true, "Publish_Stream=%s\n", s.stream.c_str());
    LogLine(true, "Publish_Subject=%s\n", s.subject.c_str());
    LogLine(true, "Publish_Format=%s\n", s.formatText.c_str());
    LogLine(true, "Publish_ServerName=%s\n", s.serverName.c_str());
    LogLine(true, "Publish_SpoolMB=%d\n", s.spoolMB);
    LogLine(true, "Publish_Replicas=%d\n", s.replicas);
    LogLine(true, "Publish_DuplicateWindow=%d\n", s.duplicateWindow);
}

bool CheckPublishSettings(const PublishSettings& s) {
    if (!s.enabled) return true;
    bool ok = true;
    auto refuse = [&ok](const char* key, const std::string& value, const char* why) {
        LogLine(true, "Error! Publish %s=%s %s\n", key, value.c_str(), why);
        ok = false;
    };
    if (!UrlsUsable(s.url)) refuse("Url", s.url, "is not a list of nats://HOST:PORT");
    if (!StreamNameUsable(s.stream))
        refuse("Stream", s.stream, "is not a stream name (empty, or holds '.', '*', '>', '/', '\\' or a blank)");
    if (!IsPlainSubject(s.subject))
        refuse("Subject", s.subject, "is not a subject of plain tokens");
    if (strcasecmp(s.formatText.c_str(), "binary") != 0 && strcasecmp(s.formatText.c_str(), "json") != 0)
        refuse("Format", s.formatText, "is neither binary nor json");
    if (s.spoolMB < 1) refuse("SpoolMB", std::to_string(s.spoolMB), "is below 1");
    if (s.replicas < 1 || s.replicas > PublishSettings::kMaxReplicas)
        refuse("Replicas", std::to_string(s.replicas), "is outside 1..5");
    if (s.duplicateWindow < 1)
        refuse("DuplicateWindow", std::to_string(s.duplicateWindow), "is below 1 second");
    return ok;
}

}  // namespace morvane
