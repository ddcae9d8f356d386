#include "convert/written_record.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "convert/record_text.h"
#include "schema/schema.h"

namespace morvane {
namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\"?>\n";
constexpr std::string_view kRecordEnd = "</Schema>";

// After this many texts in a row have departed late, only every
// kRetryEvery-th text is scanned.
constexpr int kMissesBeforeBackOff = 8;
constexpr unsigned kRetryEvery = 64;
// Beyond this, a departed XML text has cost something.
constexpr ptrdiff_t kCheapBytes = 4096;

// What the reader keeps with a schema: the writer's plans of its record
// element as a data file (depth 0) and in a session file (depth 1), and
// how the scanner fared.
struct ReaderCache {
    ReaderCache(const Schema& schema)
        : plans{RecordTextPlan(schema, 0), RecordTextPlan(schema, 1)} {}
    RecordTextPlan plans[2];
    ScanBackOff backOff{kCheapBytes};
};

std::shared_ptr<ReaderCache> CacheOf(const Schema& schema) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (schema.readerCache == nullptr) schema.readerCache = std::make_shared<ReaderCache>(schema);
    return std::static_pointer_cast<ReaderCache>(schema.readerCache);
}

std::atomic<Scanning> g_scanning{Scanning::kAdaptive};

}  // namespace

void SetScanning(Scanning mode) { g_scanning.store(mode, std::memory_order_relaxed); }

bool ScanBackOff::Worth() {
    const Scanning mode = g_scanning.load(std::memory_order_relaxed);
    if (mode != Scanning::kAdaptive) return mode == Scanning::kAlways;
    if (misses_.load(std::memory_order_relaxed) < kMissesBeforeBackOff) return true;
    return attempts_.fetch_add(1, std::memory_order_relaxed) % kRetryEvery == 0;
}

void ScanBackOff::Count(bool taken, ptrdiff_t scanned) {
    if (taken) {
        if (misses_.load(std::memory_order_relaxed) != 0)
            misses_.store(0, std::memory_order_relaxed);
    } else if (scanned > cheapBytes_) {
        misses_.fetch_add(1, std::memory_order_relaxed);
    }
}

bool ReadWrittenText(const Schema& schema, bool store, std::string_view text, uint8_t* buffer,
                     int32_t length, std::string* trace) {
    const CStructure* top = schema.Top();
    const int32_t size = schema.Size();
    if (top == nullptr || length < size) return false;
    // The record element's depth shows in the indent of its end tag.
    std::string_view body = text;
    if (body.substr(0, kDeclaration.size()) == kDeclaration)
        body.remove_prefix(kDeclaration.size());
    std::string_view tail = text;
    if (!tail.empty() && tail.back() == '\n') tail.remove_suffix(1);
    if (tail.size() < kRecordEnd.size() + 1 ||
        tail.substr(tail.size() - kRecordEnd.size()) != kRecordEnd)
        return false;
    tail.remove_suffix(kRecordEnd.size());
    size_t blanks = 0;
    while (blanks < tail.size() && tail[tail.size() - 1 - blanks] == ' ') ++blanks;
    if (blanks != 0 && blanks != 3) return false;
    const int depth = blanks == 0 ? 0 : 1;
    if (depth == 1 && body.size() != text.size()) return false;

    std::shared_ptr<ReaderCache> cache = CacheOf(schema);
    if (!cache->backOff.Worth()) return false;
    thread_local std::vector<uint8_t> values;
    thread_local std::string lines;
    values.assign(buffer, buffer + size);
    lines.clear();
    if (trace != nullptr) {
        lines += "offset0 =";
        lines += std::to_string(top->offset);
        lines += '\n';
    }
    int64_t lineEnds = 0;
    const char* end = body.data() + body.size();
    const char* reached = nullptr;
    const char* read = cache->plans[depth].Scan(body.data(), end, values.data(), size,
                                                trace != nullptr ? &lines : nullptr, lineEnds, reached);
    cache->backOff.Count(read == end, reached - body.data());
    if (read != end) return false;
    if (store) std::memcpy(buffer, values.data(), static_cast<size_t>(size));
    if (trace != nullptr) *trace += lines;
    return true;
}

SessionRecordScanner::SessionRecordScanner(const Schema& schema) : schema_(schema) {
    if (schema.Top() != nullptr) cache_ = CacheOf(schema);
}

const char* SessionRecordScanner::Scan(const char* begin, const char* end, uint8_t* record,
                                       int64_t& lines, int64_t& number) {
    auto* cache = static_cast<ReaderCache*>(cache_.get());
    if (cache == nullptr || !cache->backOff.Worth()) return nullptr;
    // The record's end line ends at the end of what the plan reads; the
    // session's line end after it is the caller's.
    const char* reached = nullptr;
    const char* read =
        cache->plans[1].Scan(begin, end, record, schema_.Size(), nullptr, lines, reached, &number);
    const bool taken = read != nullptr && read[-1] == '\n';
    cache->backOff.Count(taken, reached - begin);
    if (!taken) return nullptr;
    --lines;
    return read - 1;
}

}  // namespace morvane
