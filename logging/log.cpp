#include "log.h"

#include <charconv>
#include <cstdio>
#include <cstring>

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

namespace {

// Whether format uses only "%s", "%d", "%<width>d" and "%%": the forms
// of nearly every generated line and report line.
bool IsPlainFormat(const char* format) {
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%' || *p == 's') continue;
        if (*p == '0') return false;  // a flag, not a width
        while (*p >= '0' && *p <= '9') ++p;
        if (*p != 'd') return false;
    }
    return true;
}

// A plain format (IsPlainFormat) formatted as vsnprintf would, but without
// its cost, which was most of the time of generating a header.
void AppendPlain(std::string& out, const char* format, va_list args) {
    const char* p = format;
    while (*p != '\0') {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out.append(p);
            return;
        }
        out.append(p, static_cast<size_t>(percent - p));
        p = percent + 1;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        if (*p == 's') {
            const char* text = va_arg(args, const char*);
            out.append(text != nullptr ? text : "(null)");
            ++p;
            continue;
        }
        size_t width = 0;
        for (; *p >= '0' && *p <= '9'; ++p) width = width * 10 + static_cast<size_t>(*p - '0');
        char digits[16];
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, va_arg(args, int));
        (void)ec;
        const size_t length = static_cast<size_t>(end - digits);
        if (width > length) out.append(width - length, ' ');
        out.append(digits, length);
        ++p;  // the 'd'
    }
}

}  // namespace

// Formats straight into the tail of out; a second pass only for text longer
// than the first guess.
void AppendFormatV(std::string& out, const char* format, va_list args) {
    if (IsPlainFormat(format)) {
        AppendPlain(out, format, args);
        return;
    }
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
