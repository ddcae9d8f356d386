#include "log.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "logging/copy_bytes.h"

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

// The text of this thread's innermost LogCapture, or null.
thread_local std::string* t_capture = nullptr;

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
    if (t_capture != nullptr) {
        AppendFormatV(*t_capture, format, args);
        return;
    }
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
    if (t_capture != nullptr) {
        t_capture->append(text);
        return;
    }
    b->fn(b->handle, true, "%s", text.c_str());
}

LogCapture::LogCapture(std::string& into) : outer_(t_capture) { t_capture = &into; }

LogCapture::~LogCapture() { t_capture = outer_; }

void AppendFormat(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
}

namespace {

constexpr size_t kMaxPieces = 48;
constexpr size_t kDigitsPerNumber = 16;
constexpr char kBlanks[] = "                                ";

// Formats the plain forms of nearly every log line and generated line
// ("%s", "%d", "%<width>d", "%X" and "%%") as vsnprintf would, without its
// cost: the pieces are gathered first, and out grows once. False, with
// out and args untouched, for any other form or more pieces than fit;
// vsnprintf then does it.
bool AppendPlain(std::string& out, const char* format, va_list args) {
    std::string_view pieces[kMaxPieces];
    char digits[kMaxPieces / 2][kDigitsPerNumber];
    size_t count = 0;
    size_t numbers = 0;
    va_list ap;
    va_copy(ap, args);
    auto add = [&](const char* data, size_t size) {
        pieces[count++] = std::string_view(data, size);
    };
    bool plain = true;
    const char* p = format;
    while (*p != '\0') {
        if (count + 3 > kMaxPieces || numbers == kMaxPieces / 2) {
            plain = false;
            break;
        }
        // Literal runs of formats are a few bytes: a plain scan beats a
        // library call per run.
        const char* percent = p;
        while (*percent != '%' && *percent != '\0') ++percent;
        if (percent != p) add(p, static_cast<size_t>(percent - p));
        if (*percent == '\0') break;
        p = percent + 1;
        if (*p == '%') {
            add(p, 1);
            ++p;
            continue;
        }
        if (*p == 's') {
            const char* text = va_arg(ap, const char*);
            if (text == nullptr) text = "(null)";
            add(text, std::strlen(text));
            ++p;
            continue;
        }
        if (*p == '0') {  // a flag, not a width
            plain = false;
            break;
        }
        size_t width = 0;
        for (; *p >= '0' && *p <= '9'; ++p) width = width * 10 + static_cast<size_t>(*p - '0');
        char* const space = digits[numbers++];
        const char* first = space;
        size_t length = 0;
        if (*p == 'd') {
            length = static_cast<size_t>(
                std::to_chars(space, space + kDigitsPerNumber, va_arg(ap, int)).ptr - space);
        } else if (*p == 'X') {
            // Upper-case digits, written from the end of the space.
            char* at = space + kDigitsPerNumber;
            unsigned value = va_arg(ap, unsigned);
            do {
                *--at = "0123456789ABCDEF"[value & 15u];
                value >>= 4;
            } while (value != 0);
            first = at;
            length = static_cast<size_t>(space + kDigitsPerNumber - at);
        } else {
            plain = false;
            break;
        }
        if (width > length) {
            if (width - length > sizeof kBlanks - 1) {
                plain = false;
                break;
            }
            add(kBlanks, width - length);
        }
        add(first, length);
        ++p;
    }
    va_end(ap);
    if (!plain) return false;
    AppendViews(out, pieces, count);
    return true;
}

}  // namespace

// Plain forms without vsnprintf; others formatted straight into the tail of
// out, with a second pass only for text longer than the first guess.
void AppendFormatV(std::string& out, const char* format, va_list args) {
    if (AppendPlain(out, format, args)) return;
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
