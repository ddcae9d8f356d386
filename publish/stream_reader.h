// Reading a stream back: every message it holds, from its first to the
// last it held when the read began, in stream order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace morvane {

struct InMessage {
    uint64_t sequence = 0;  // in the stream
    std::string subject;
    std::vector<std::pair<std::string, std::string>> headers;  // in no fixed order
    std::string body;

    // The value of the header name, or an empty text.
    std::string Header(const std::string& name) const;
};

// Reads stream at urls (comma-separated nats://HOST:PORT) and calls each
// for every message, in order; each returns false to stop. False, with
// error set, when the broker or the stream cannot be reached, or no
// message came for timeoutMs while some were still due.
bool ReadStream(const std::string& urls, const std::string& stream,
                const std::function<bool(const InMessage&)>& each, std::string& error,
                int timeoutMs = 5000);

}  // namespace morvane
