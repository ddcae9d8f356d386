// The process-wide binding to the main log.
//
// Every module writes its log lines through LogLine(). The line is formatted
// here and handed to the bound printfdeb entry point as "%s", so the logger
// library receives exactly the text of the format and nothing else. Until a
// logger is bound, lines are dropped.
#pragma once

#include <cstdarg>
#include <string>

namespace morvane {

// Signature of the logger library's printfdeb_Int export.
using PrintfDebFn = int (*)(void* handle, bool enable, const char* format, ...);

// The other three exports of the logger library, for modules that open a
// logger instance of their own.
using CreateLoggerFn = void* (*)();
using InitLoggerFn = bool (*)(void* handle, const char* path, int mode);
using DeleteLoggerFn = void (*)(void* handle);

struct LoggerApi {
    CreateLoggerFn createLogger = nullptr;
    DeleteLoggerFn deleteLogger = nullptr;
    InitLoggerFn initLogger = nullptr;
    PrintfDebFn printfdeb = nullptr;
};

// Publishes the entry points of the loaded logger library; all four are
// non-null once the configuration has bound the logger.
void BindLoggerApi(const LoggerApi& api);
const LoggerApi& GetLoggerApi();

// Binds the main log. handle and fn stay valid for the rest of the process
// (the logger is never released); fn may be null to drop every line. trace
// is the trace flag: true exactly when LogFlag is nonzero.
void BindLog(void* handle, PrintfDebFn fn, bool trace);

// The trace flag published by BindLog(); false before any binding.
bool TraceEnabled();

void* LogHandle();
PrintfDebFn LogFunction();

// Writes one formatted line when enable is true. The format carries its own
// line end. Safe to call from several threads once the binding is published.
void LogLine(bool enable, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogLineV(bool enable, const char* format, va_list args);

// A trace line: written only when the trace flag is set.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Hands text, any number of whole lines, to the log in one call when enable
// is true: the logger library writes a call with one write(2), so the lines
// stay together and in order whatever other threads log. For modules that
// log many lines in one step; they collect the lines with AppendFormat().
void LogText(bool enable, const std::string& text);

// While alive, collects the lines this thread would write to the main log
// (LogLine(), Trace(), LogText()) into a string instead: for work done
// beside other threads whose lines must still reach the log in a fixed
// order. The owner hands the collected text to the log afterwards with
// LogText(). Lines that would be dropped (not enabled, no logger bound)
// are not collected. Scopes nest; the innermost collects.
class LogCapture {
  public:
    explicit LogCapture(std::string& into);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

  private:
    std::string* outer_;
};

// Appends the printf-style text to out.
void AppendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void AppendFormatV(std::string& out, const char* format, va_list args);

}  // namespace morvane
