#include "publish/message.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

bool GetU32(std::string_view& in, uint32_t& v) {
    if (in.size() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(in[i])) << (8 * i);
    in.remove_prefix(4);
    return true;
}

void PutText(std::string& out, std::string_view text) {
    PutU32(out, static_cast<uint32_t>(text.size()));
    out.append(text);
}

bool GetText(std::string_view& in, std::string_view& text) {
    uint32_t n;
    if (!GetU32(in, n) || n > in.size()) return false;
    text = in.substr(0, n);
    in.remove_prefix(n);
    return true;
}

// The count of texts that starts a message of headerCount headers.
void BeginMessage(std::string& out, size_t headerCount) {
    PutU32(out, static_cast<uint32_t>(2 + 2 * headerCount));
}

bool NeedsEscape(unsigned char c) {
    return c <= 0x20 || c == 0x7F || c == '.' || c == '*' || c == '>' || c == '%';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

const std::string* OutMessage::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (key == name) return &value;
    return nullptr;
}

std::string EncodeMessage(const OutMessage& message) {
    std::string out;
    out.reserve(message.subject.size() + message.body.size() + 64 * message.headers.size() + 16);
    BeginMessage(out, message.headers.size());
    PutText(out, message.subject);
    PutText(out, message.body);
    for (const auto& [key, value] : message.headers) {
        PutText(out, key);
        PutText(out, value);
    }
    return out;
}

bool DecodeMessage(std::string_view bytes, MessageView& message) {
    uint32_t count;
    if (!GetU32(bytes, count) || count < 2 || count % 2 != 0) return false;
    if (!GetText(bytes, message.subject) || !GetText(bytes, message.body)) return false;
    message.headers.clear();
    for (uint32_t i = 2; i < count; i += 2) {
        std::pair<std::string_view, std::string_view> header;
        if (!GetText(bytes, header.first) || !GetText(bytes, header.second)) return false;
        message.headers.push_back(header);
    }
    return bytes.empty();
}

bool DecodeMessage(std::string_view bytes, OutMessage& message) {
    MessageView view;
    if (!DecodeMessage(bytes, view)) return false;
    message.subject = view.subject;
    message.body = view.body;
    message.headers.clear();
    for (const auto& [key, value] : view.headers) message.headers.emplace_back(key, value);
    return true;
}

std::string EscapeSubjectToken(std::string_view text) {
    if (text.empty()) return "%00";
    std::string out;
    out.reserve(text.size());
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        if (!NeedsEscape(c)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        out.push_back('%');
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
    return out;
}

bool UnescapeSubjectToken(std::string_view text, std::string& out) {
    out.clear();
    if (text == "%00") return true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int hi = HexValue(text[i + 1]);
        const int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return true;
}

RecordMessageEncoder::RecordMessageEncoder(const Schema& schema, const std::string& fingerprint,
                                           const RecordLabel& label)
    : subject_(label.subjectPrefix + "." + EscapeSubjectToken(schema.name)),
      schemaName_(schema.name),
      schemaId_(std::to_string(schema.id)),
      server_(label.server),
      fingerprint_(fingerprint),
      idPrefix_(label.installation + "-" + label.run + "-") {}

void RecordMessageEncoder::Append(std::string& out, int32_t number, std::string_view session,
                                  std::string_view body) const {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(number));
    const std::string_view recordNumber(digits, static_cast<size_t>(n));
    // Nats-Msg-Id last, its value written in two pieces.
    BeginMessage(out, 7);
    PutText(out, subject_);
    PutText(out, body);
    const std::pair<std::string_view, std::string_view> headers[] = {
        {kHeaderSchema, schemaName_}, {kHeaderSchemaId, schemaId_},
        {kHeaderRecord, recordNumber}, {kHeaderSession, session},
        {kHeaderServer, server_},      {kHeaderFingerprint, fingerprint_},
    };
    for (const auto& [key, value] : headers) {
        PutText(out, key);
        PutText(out, value);
    }
    PutText(out, kHeaderMsgId);
    PutU32(out, static_cast<uint32_t>(idPrefix_.size() + recordNumber.size()));
    out.append(idPrefix_);
    out.append(recordNumber);
}

std::string_view RunOfMessageId(std::string_view id) {
    // The installation id may hold '-' ("file-<digest>" of morvanec
    // publish) or be empty; the run and the record number hold none.
    const size_t last = id.rfind('-');
    if (last == std::string_view::npos || last == 0) return {};
    const size_t before = id.rfind('-', last - 1);
    if (before == std::string_view::npos) return {};
    return id.substr(before + 1, last - before - 1);
}

OutMessage RecordMessage(const Schema& schema, const std::string& fingerprint, int32_t number,
                         const RecordLabel& label, std::string body) {
    std::string bytes;
    RecordMessageEncoder(schema, fingerprint, label).Append(bytes, number, label.session, body);
    OutMessage m;
    DecodeMessage(bytes, m);
    return m;
}

std::vector<std::string> SplitUrls(const std::string& urls) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t comma = urls.find(',', start);
        std::string part = urls.substr(start, comma == std::string::npos ? std::string::npos
                                                                        : comma - start);
        const size_t b = part.find_first_not_of(" \t");
        const size_t e = part.find_last_not_of(" \t");
        if (b != std::string::npos) out.push_back(part.substr(b, e - b + 1));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

std::string RandomId() {
    uint8_t bytes[8] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    char text[17];
    for (size_t i = 0; i < sizeof bytes; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return std::string(text, 16);
}

std::string InstallationId(const std::string& file) {
    auto readId = [&](std::string& id) {
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        char text[64];
        ssize_t n = ::read(fd, text, sizeof text);
        ::close(fd);
        if (n < 16) return false;
        id.assign(text, 16);
        for (char c : id)
            if (HexValue(c) < 0) return false;
        return true;
    };
    std::string id;
    if (readId(id)) return id;
    // Written whole under a temporary name, then linked in place: a second
    // process that starts at the same moment either links first or reads
    // the id of the one that did.
    const std::string temporary = file + "." + RandomId() + ".tmp";
    const std::string fresh = RandomId() + "\n";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool written = false;
    if (fd >= 0) {
        written = ::write(fd, fresh.data(), fresh.size()) == static_cast<ssize_t>(fresh.size()) &&
                  ::fsync(fd) == 0;
        ::close(fd);
    }
    if (written) (void)::link(temporary.c_str(), file.c_str());
    ::unlink(temporary.c_str());
    if (readId(id)) return id;
    LogLine(true, "Error! Publish installation id %s cannot be read or created err=%d\n",
            file.c_str(), errno);
    return "";
}

}  // namespace morvane
