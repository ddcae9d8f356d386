// One message for the stream as the spool keeps it, and the pieces that
// name it: subjects, message ids and the installation id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane {

class Schema;

struct OutMessage {
    std::string subject;
    // In order; "Nats-Msg-Id" among them names the message for the
    // stream's de-duplication.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The value of the header name, or null.
    const std::string* Header(std::string_view name) const;
};

// The message as spool bytes, and back. DecodeMessage() is false for bytes
// that EncodeMessage() did not make.
//
//    u32 count n, then n times: u32 length, bytes
//    the texts: subject, body, then name and value of every header
//
// Integers little-endian.
std::string EncodeMessage(const OutMessage& message);
bool DecodeMessage(std::string_view bytes, OutMessage& message);

// A decoded message that points into the bytes it was read from.
struct MessageView {
    std::string_view subject;
    std::string_view body;
    std::vector<std::pair<std::string_view, std::string_view>> headers;
};
bool DecodeMessage(std::string_view bytes, MessageView& message);

// text as one subject token: '.', '*', '>', '%', blanks and control
// characters as "%XX" (two upper-case hex digits); an empty text is "%00".
std::string EscapeSubjectToken(std::string_view text);
// The inverse; false when text holds a '%' without two hex digits.
bool UnescapeSubjectToken(std::string_view text, std::string& out);

// The header names every record carries.
inline constexpr char kHeaderSchema[] = "Morvane-Schema";
inline constexpr char kHeaderSchemaId[] = "Morvane-Schema-Id";
inline constexpr char kHeaderRecord[] = "Morvane-Record";
inline constexpr char kHeaderSession[] = "Morvane-Session";
inline constexpr char kHeaderServer[] = "Morvane-Server";
inline constexpr char kHeaderFingerprint[] = "Morvane-Fingerprint";
inline constexpr char kHeaderMsgId[] = "Nats-Msg-Id";

// What names one record apart from its body.
struct RecordLabel {
    std::string subjectPrefix;  // the Subject setting
    std::string server;         // Morvane-Server
    std::string session;        // the session file's name
    // The run that wrote the record: the Nats-Msg-Id is
    // "<installation>-<run>-<record number>".
    std::string installation;
    std::string run;
};

// The run in a Nats-Msg-Id of RecordMessage(): the part before the record
// number, or an empty text.
std::string_view RunOfMessageId(std::string_view id);

// The message for record number of schema; body is the packed record or
// its JSON object. fingerprint: FingerprintText() of the schema.
OutMessage RecordMessage(const Schema& schema, const std::string& fingerprint, int32_t number,
                         const RecordLabel& label, std::string body);

// The same message as EncodeMessage() bytes, appended to out, with the
// texts that stay the same for a schema made once.
class RecordMessageEncoder {
  public:
    RecordMessageEncoder(const Schema& schema, const std::string& fingerprint,
                         const RecordLabel& label);
    void Append(std::string& out, int32_t number, std::string_view session,
                std::string_view body) const;

  private:
    std::string subject_;
    std::string schemaName_;
    std::string schemaId_;
    std::string server_;
    std::string fingerprint_;
    std::string idPrefix_;  // "<installation>-<run>-"
};

// The comma-separated URLs of a Url setting, each trimmed of blanks.
std::vector<std::string> SplitUrls(const std::string& urls);

// Sixteen random lower-case hex digits, from the system's random source.
std::string RandomId();

// The installation id kept in file (created with a RandomId() the first
// time; two processes that start at once agree on one). Empty, logged,
// when the file can be neither read nor created.
std::string InstallationId(const std::string& file);

}  // namespace morvane
