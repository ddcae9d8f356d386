#include "publish/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "logging/log.h"

namespace morvane {
namespace {

constexpr char kMagic[4] = {'M', 'V', 'S', 'P'};
constexpr char kSuffix[] = ".seg";
// The cursor file is written at most this often while entries are
// acknowledged.
constexpr int64_t kCursorIntervalMs = 20;

uint32_t Check(const char* data, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) {
        h ^= static_cast<uint8_t>(data[i]);
        h *= 16777619u;
    }
    return h;
}

void PutU32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint32_t GetU32(const char* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(p[i])) << (8 * i);
    return v;
}
void PutU64(char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint64_t GetU64(const char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<uint8_t>(p[i])) << (8 * i);
    return v;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool ReadAll(int fd, char* buffer, size_t n, uint64_t offset) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(fd, buffer + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// Reads and checks the entry at offset of fd (size bytes long); its payload
// length, or -1 when no whole entry stands there.
int64_t EntryAt(int fd, uint64_t offset, uint64_t size, std::string* payload) {
    char header[Spool::kEntryHeaderSize];
    if (offset + sizeof header > size || !ReadAll(fd, header, sizeof header, offset)) return -1;
    if (std::memcmp(header, kMagic, 4) != 0) return -1;
    const uint32_t length = GetU32(header + 4);
    if (offset + sizeof header + length > size) return -1;
    std::string local;
    std::string& data = payload != nullptr ? *payload : local;
    data.resize(length);
    if (!ReadAll(fd, data.data(), length, offset + sizeof header)) return -1;
    if (Check(data.data(), length) != GetU32(header + 8)) return -1;
    return length;
}

}  // namespace

Spool::~Spool() {
    if (writeFd_ >= 0) {
        Sync();
        ::close(writeFd_);
    }
    if (cursorFd_ >= 0) ::close(cursorFd_);
}

std::string Spool::SegmentPath(uint64_t number) const {
    char name[32];
    std::snprintf(name, sizeof name, "/%08llu%s", static_cast<unsigned long long>(number), kSuffix);
    return directory_ + name;
}

bool Spool::Open(const std::string& directory, uint64_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    directory_ = directory;
    capacity_ = capacity;
    // Small enough that acknowledged entries leave the disk soon, large
    // enough that a segment is not opened for every few records.
    segmentBytes_ = std::clamp<uint64_t>(capacity / 16, 64 << 10, 64 << 20);
    if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
        LogLine(true, "Error! Publish spool %s cannot be created err=%d\n", directory.c_str(), errno);
        return false;
    }
    std::vector<uint64_t> numbers;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* e = readdir(dir)) {
            const size_t n = std::strlen(e->d_name);
            if (n != 8 + sizeof kSuffix - 1 || std::strcmp(e->d_name + 8, kSuffix) != 0) continue;
            if (std::strspn(e->d_name, "0123456789") != 8) continue;
            numbers.push_back(std::strtoull(e->d_name, nullptr, 10));
        }
        closedir(dir);
    } else {
        LogLine(true, "Error! Publish spool %s cannot be listed err=%d\n", directory.c_str(), errno);
        return false;
    }
    std::sort(numbers.begin(), numbers.end());
    for (uint64_t number : numbers) {
        struct stat st;
        if (::stat(SegmentPath(number).c_str(), &st) != 0) continue;
        segments_.push_back({number, static_cast<uint64_t>(st.st_size)});
        bytes_ += static_cast<uint64_t>(st.st_size);
    }
    const std::string cursorPath = directory + "/cursor";
    cursorFd_ = ::open(cursorPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (cursorFd_ < 0) {
        LogLine(true, "Error! Publish spool %s cannot be opened err=%d\n", cursorPath.c_str(), errno);
        return false;
    }
    char saved[16];
    if (ReadAll(cursorFd_, saved, sizeof saved, 0)) {
        cursor_.segment = GetU64(saved);
        cursor_.offset = GetU64(saved + 8);
    }
    if (segments_.empty()) {
        if (!OpenWriteSegment(std::max<uint64_t>(cursor_.segment, 1))) return false;
    } else if (!OpenWriteSegment(segments_.back().number)) {
        return false;
    }
    CutTornEnd();
    // A cursor before the first segment, or past its segment's end, points
    // at the nearest entry there is.
    if (cursor_.segment < segments_.front().number) cursor_ = {segments_.front().number, 0};
    if (cursor_.segment > segments_.back().number) cursor_ = {segments_.back().number, segments_.back().size};
    for (const Segment& s : segments_)
        if (s.number == cursor_.segment && cursor_.offset > s.size) cursor_.offset = s.size;
    cursor_ = Normalize(cursor_);
    while (segments_.size() > 1 && segments_.front().number < cursor_.segment) {
        ::unlink(SegmentPath(segments_.front().number).c_str());
        bytes_ -= segments_.front().size;
        segments_.pop_front();
    }
    WriteCursor();
    return true;
}

bool Spool::OpenWriteSegment(uint64_t number) {
    if (writeFd_ >= 0) ::close(writeFd_);
    const std::string path = SegmentPath(number);
    writeFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (writeFd_ < 0) {
        LogLine(true, "Error! Publish spool segment %s cannot be opened err=%d\n", path.c_str(), errno);
        return false;
    }
    if (segments_.empty() || segments_.back().number != number) segments_.push_back({number, 0});
    return true;
}

void Spool::CutTornEnd() {
    Segment& last = segments_.back();
    uint64_t at = 0;
    for (;;) {
        int64_t length = EntryAt(writeFd_, at, last.size, nullptr);
        if (length < 0) break;
        at += kEntryHeaderSize + static_cast<uint64_t>(length);
    }
    if (at == last.size) return;
    LogLine(true, "Publish spool: %llu bytes of an unfinished entry cut from %s\n",
            static_cast<unsigned long long>(last.size - at), SegmentPath(last.number).c_str());
    if (::ftruncate(writeFd_, static_cast<off_t>(at)) == 0) {
        bytes_ -= last.size - at;
        last.size = at;
    }
}

Spool::Added Spool::Add(const std::string& payload) {
    const uint64_t entry = kEntryHeaderSize + payload.size();
    std::lock_guard<std::mutex> lock(mutex_);
    if (writeFd_ < 0) return Added::kFailed;
    if (bytes_ + entry > capacity_) return Added::kFull;
    Segment& last = segments_.back();
    // A segment that is full, or wholly acknowledged, is left behind for a
    // new one, so that it can be removed.
    const bool acknowledged = cursor_.segment == last.number && cursor_.offset == last.size;
    if (last.size > 0 && (last.size + entry > segmentBytes_ || acknowledged)) {
        if (!OpenWriteSegment(last.number + 1)) return Added::kFailed;
    }
    std::string bytes(kEntryHeaderSize, '\0');
    std::memcpy(bytes.data(), kMagic, 4);
    PutU32(bytes.data() + 4, static_cast<uint32_t>(payload.size()));
    PutU32(bytes.data() + 8, Check(payload.data(), payload.size()));
    bytes += payload;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(writeFd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            // Nothing of a failed entry may stay for the next to follow.
            if (::ftruncate(writeFd_, static_cast<off_t>(segments_.back().size)) != 0) {
            }
            LogLine(true, "Error! Publish spool segment %s cannot be written err=%d\n",
                    SegmentPath(segments_.back().number).c_str(), error);
            return Added::kFailed;
        }
        done += static_cast<size_t>(n);
    }
    segments_.back().size += entry;
    bytes_ += entry;
    return Added::kAdded;
}

Spool::Position Spool::Normalize(Position at) const {
    for (size_t i = 0; i + 1 < segments_.size(); ++i) {
        if (segments_[i].number < at.segment) continue;
        if (segments_[i].number > at.segment) return {segments_[i].number, 0};
        if (at.offset < segments_[i].size) return at;
        at = {segments_[i + 1].number, 0};
    }
    if (!segments_.empty() && at.segment < segments_.back().number) return {segments_.back().number, 0};
    return at;
}

bool Spool::Next(Position& at, std::string& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
        at = Normalize(at);
        const Segment* segment = nullptr;
        for (const Segment& s : segments_)
            if (s.number == at.segment) segment = &s;
        if (segment == nullptr || at.offset >= segment->size) return false;
        int fd = segment->number == segments_.back().number
                     ? writeFd_
                     : ::open(SegmentPath(segment->number).c_str(), O_RDONLY | O_CLOEXEC);
        int64_t length = fd < 0 ? -1 : EntryAt(fd, at.offset, segment->size, &payload);
        if (fd != writeFd_ && fd >= 0) ::close(fd);
        if (length >= 0) {
            at.offset += kEntryHeaderSize + static_cast<uint64_t>(length);
            return true;
        }
        // Only a damaged segment gets here: the rest of it is skipped.
        LogLine(true, "Error! Publish spool segment %s is damaged at %llu; its rest is skipped\n",
                SegmentPath(segment->number).c_str(), static_cast<unsigned long long>(at.offset));
        if (segment->number == segments_.back().number) return false;
        at = {segment->number + 1, 0};
    }
}

Spool::Position Spool::Cursor() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cursor_;
}

void Spool::Acknowledge(Position upTo) {
    std::lock_guard<std::mutex> lock(mutex_);
    cursor_ = Normalize(upTo);
    while (segments_.size() > 1 && segments_.front().number < cursor_.segment) {
        ::unlink(SegmentPath(segments_.front().number).c_str());
        bytes_ -= segments_.front().size;
        segments_.pop_front();
    }
    if (NowMs() - cursorWrittenAt_ >= kCursorIntervalMs) WriteCursor();
}

void Spool::Sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    WriteCursor();
}

void Spool::WriteCursor() {
    if (cursorFd_ < 0 || written_ == cursor_) return;
    char saved[16];
    PutU64(saved, cursor_.segment);
    PutU64(saved + 8, cursor_.offset);
    if (::pwrite(cursorFd_, saved, sizeof saved, 0) == static_cast<ssize_t>(sizeof saved))
        written_ = cursor_;
    cursorWrittenAt_ = NowMs();
}

uint64_t Spool::Bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

uint64_t Spool::Unacknowledged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t n = 0;
    for (const Segment& s : segments_) {
        if (s.number < cursor_.segment) continue;
        n += s.number == cursor_.segment ? s.size - std::min(s.size, cursor_.offset) : s.size;
    }
    return n;
}

}  // namespace morvane
