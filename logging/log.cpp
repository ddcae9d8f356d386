#include "log.h"

#include <cstdio>

namespace morvane {
namespace {

struct Binding {
    void* handle = nullptr;
    PrintfDebFn fn = nullptr;
    bool trace = false;
};

// Bound once during start-up, before any other thread exists, and only read
// afterwards; thread creation publishes it to the server's threads.
Binding g_binding;
LoggerApi g_api;

const Binding* Current() { return &g_binding; }

}  // namespace

void BindLoggerApi(const LoggerApi& api) { g_api = api; }

const LoggerApi& GetLoggerApi() { return g_api; }

void BindLog(void* handle, PrintfDebFn fn, bool trace) {
    g_binding.handle = handle;
    g_binding.fn = fn;
    g_binding.trace = trace;
}

bool TraceEnabled() {
    const Binding* b = Current();
    return b != nullptr && b->trace;
}

void* LogHandle() {
    const Binding* b = Current();
    return b != nullptr ? b->handle : nullptr;
}

PrintfDebFn LogFunction() {
    const Binding* b = Current();
    return b != nullptr ? b->fn : nullptr;
}

void LogLineV(bool enable, const char* format, va_list args) {
    const Binding* b = Current();
    if (!enable || b == nullptr || b->fn == nullptr) return;
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        b->fn(b->handle, true, "%s", small);
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    b->fn(b->handle, true, "%s", big.c_str());
}

void LogLine(bool enable, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogLineV(enable, format, args);
    va_end(args);
}

void Trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogLineV(TraceEnabled(), format, args);
    va_end(args);
}

void LogText(bool enable, const std::string& text) {
    const Binding* b = Current();
    if (!enable || text.empty() || b == nullptr || b->fn == nullptr) return;
    b->fn(b->handle, true, "%s", text.c_str());
}

void AppendFormat(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
}

// Formats straight into the tail of out; a second pass only for text longer
// than the first guess.
void AppendFormatV(std::string& out, const char* format, va_list args) {
    constexpr size_t kGuess = 256;
    const size_t old = out.size();
    out.resize(old + kGuess);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(out.data() + old, kGuess, format, copy);
    va_end(copy);
    if (n < 0) {
        out.resize(old);
        return;
    }
    if (static_cast<size_t>(n) >= kGuess) {
        out.resize(old + static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data() + old, static_cast<size_t>(n) + 1, format, args);
    }
    out.resize(old + static_cast<size_t>(n));
}

}  // namespace morvane
