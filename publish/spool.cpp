#include "publish/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
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
constexpr size_t kCursorBytes = 16;
// The pages of the segment being written are made ready this many bytes at
// a time ahead of the entries, with one system call instead of a page
// fault for every page.
constexpr uint64_t kPopulateBytes = 1 << 20;
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// FNV-1a over 8-byte words (the last, short one padded with zeros), read
// as the little-endian machine holds them, folded to 32 bits: eight times
// as fast as over single bytes.
uint32_t Check(const char* data, size_t n) {
    uint64_t h = 14695981039346656037ull;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * 1099511628211ull;
    }
    if (i < n) {
        uint64_t word = 0;
        std::memcpy(&word, data + i, n - i);
        h = (h ^ word) * 1099511628211ull;
    }
    return static_cast<uint32_t>(h ^ (h >> 32));
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

// Checks the entry at offset of the size bytes at base; its payload
// length, or -1 when no whole entry stands there. check: the payload's
// check too (entries this process wrote are whole: they count only once
// copied).
int64_t EntryAt(const char* base, uint64_t offset, uint64_t size, bool check = true) {
    if (base == nullptr || offset + Spool::kEntryHeaderSize > size) return -1;
    const char* header = base + offset;
    if (std::memcmp(header, kMagic, 4) != 0) return -1;
    const uint32_t length = GetU32(header + 4);
    if (length > size - offset - Spool::kEntryHeaderSize) return -1;
    if (check && Check(header + Spool::kEntryHeaderSize, length) != GetU32(header + 8)) return -1;
    return length;
}

}  // namespace

Spool::~Spool() {
    if (!open_) return;
    FinishWriteSegment();
    WriteCursor();
    for (Segment& s : segments_)
        if (s.map != nullptr) ::munmap(s.map, s.mapped);
    if (cursorFd_ >= 0) ::close(cursorFd_);
}

std::string Spool::SegmentPath(uint64_t number) const {
    char name[32];
    std::snprintf(name, sizeof name, "/%08llu%s", static_cast<unsigned long long>(number), kSuffix);
    return directory_ + name;
}

bool Spool::MapSegment(Segment& segment) {
    if (segment.size == 0) return true;
    const std::string path = SegmentPath(segment.number);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    void* map = fd < 0 ? MAP_FAILED
                       : ::mmap(nullptr, segment.size, PROT_READ, MAP_SHARED, fd, 0);
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (map == MAP_FAILED) {
        LogLine(true, "Error! Publish spool segment %s cannot be read err=%d\n", path.c_str(), error);
        return false;
    }
    segment.map = static_cast<char*>(map);
    segment.mapped = segment.size;
    return true;
}

bool Spool::Open(const std::string& directory, uint64_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    directory_ = directory;
    capacity_ = capacity;
    // Small enough that acknowledged entries leave the disk soon, large
    // enough that a segment is not started for every few records.
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
        Segment segment{number, static_cast<uint64_t>(st.st_size)};
        if (!MapSegment(segment)) return false;
        segments_.push_back(segment);
        bytes_ += segment.size;
    }
    // The cursor file counts against the capacity too.
    bytes_ += kCursorBytes;
    const std::string cursorPath = directory + "/cursor";
    cursorFd_ = ::open(cursorPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (cursorFd_ < 0) {
        LogLine(true, "Error! Publish spool %s cannot be opened err=%d\n", cursorPath.c_str(), errno);
        return false;
    }
    char saved[kCursorBytes];
    if (ReadAll(cursorFd_, saved, sizeof saved, 0)) {
        cursor_.segment = GetU64(saved);
        cursor_.offset = GetU64(saved + 8);
    }
    if (segments_.empty()) {
        // An empty first segment, started for writing by the first Add().
        const uint64_t number = std::max<uint64_t>(cursor_.segment, 1);
        const std::string path = SegmentPath(number);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            LogLine(true, "Error! Publish spool segment %s cannot be opened err=%d\n", path.c_str(),
                    errno);
            return false;
        }
        ::close(fd);
        segments_.push_back({number, 0});
    }
    CutTornEnd();
    // A cursor before the first segment, or past its segment's end, points
    // at the nearest entry there is.
    if (cursor_.segment < segments_.front().number) cursor_ = {segments_.front().number, 0};
    if (cursor_.segment > segments_.back().number) cursor_ = {segments_.back().number, segments_.back().size};
    for (const Segment& s : segments_)
        if (s.number == cursor_.segment && cursor_.offset > s.size) cursor_.offset = s.size;
    cursor_ = Normalize(cursor_);
    while (segments_.size() > 1 && segments_.front().number < cursor_.segment) RemoveFront();
    open_ = true;
    WriteCursor();
    return true;
}

void Spool::RemoveFront() {
    Segment& front = segments_.front();
    if (front.map != nullptr) ::munmap(front.map, front.mapped);
    ::unlink(SegmentPath(front.number).c_str());
    bytes_ -= front.size;
    segments_.pop_front();
}

void Spool::CutTornEnd() {
    Segment& last = segments_.back();
    uint64_t at = 0;
    for (;;) {
        int64_t length = EntryAt(last.map, at, last.size);
        if (length < 0) break;
        at += kEntryHeaderSize + static_cast<uint64_t>(length);
    }
    if (at == last.size) return;
    // The zeros behind the entries are room a killed process had reserved;
    // anything else is an entry it left unfinished.
    uint64_t used = last.size;
    while (used > at && last.map[used - 1] == 0) --used;
    if (used > at)
        LogLine(true, "Publish spool: %llu bytes of an unfinished entry cut from %s\n",
                static_cast<unsigned long long>(used - at), SegmentPath(last.number).c_str());
    if (::truncate(SegmentPath(last.number).c_str(), static_cast<off_t>(at)) == 0) {
        bytes_ -= last.size - at;
        last.size = at;
    }
}

bool Spool::StartWriteSegment(uint64_t minimum) {
    FinishWriteSegment();
    Segment& last = segments_.back();
    // An empty last segment is written in place; after one with entries
    // comes a new one.
    const bool reuse = last.size == 0;
    const uint64_t number = reuse ? last.number : last.number + 1;
    // The reservation keeps the files within the capacity.
    const uint64_t room = std::max(minimum, std::min(segmentBytes_, capacity_ - std::min(capacity_, bytes_)));
    const std::string path = SegmentPath(number);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        LogLine(true, "Error! Publish spool segment %s cannot be opened err=%d\n", path.c_str(), errno);
        return false;
    }
    int error = ::posix_fallocate(fd, 0, static_cast<off_t>(room));
    void* map = MAP_FAILED;
    if (error == 0) {
        map = ::mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) error = errno;
    }
    if (map == MAP_FAILED) {
        LogLine(true, "Error! Publish spool segment %s cannot be written err=%d\n", path.c_str(), error);
        // Nothing of it may stay for the next to follow.
        if (::ftruncate(fd, 0) != 0) {
        }
        ::close(fd);
        if (!reuse) ::unlink(path.c_str());
        return false;
    }
    if (!reuse) segments_.push_back({number, 0});
    Segment& segment = segments_.back();
    segment.map = static_cast<char*>(map);
    segment.mapped = room;
    segment.written = true;
    writeFd_ = fd;
    reserved_ = room;
    populated_ = 0;
    return true;
}

void Spool::FinishWriteSegment() {
    if (writeFd_ < 0) return;
    if (::ftruncate(writeFd_, static_cast<off_t>(segments_.back().size)) != 0) {
        // The zeros behind the entries are cut at the next opening.
    }
    ::close(writeFd_);
    writeFd_ = -1;
    reserved_ = 0;
}

Spool::Added Spool::Add(std::string_view payload) {
    const uint64_t entry = kEntryHeaderSize + payload.size();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return Added::kFailed;
    if (bytes_ + entry > capacity_) return Added::kFull;
    if (writeFd_ < 0 || segments_.back().size + entry > reserved_) {
        if (!StartWriteSegment(entry)) return Added::kFailed;
    }
    Segment& last = segments_.back();
    if (last.size + entry > populated_ && populate_) {
        const uint64_t from = populated_;
        populated_ = std::min(reserved_, std::max(last.size + entry, from + kPopulateBytes));
        // Only a saving: without it (older kernels), the pages fault in.
        if (::madvise(last.map + from, populated_ - from, MADV_POPULATE_WRITE) != 0 && errno == EINVAL)
            populate_ = false;
    }
    char* at = last.map + last.size;
    // The magic last: an entry stands only once it is whole.
    std::memcpy(at + kEntryHeaderSize, payload.data(), payload.size());
    PutU32(at + 4, static_cast<uint32_t>(payload.size()));
    PutU32(at + 8, Check(payload.data(), payload.size()));
    std::memcpy(at, kMagic, 4);
    last.size += entry;
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
    std::string_view view;
    if (!Next(at, view)) return false;
    payload.assign(view);
    return true;
}

bool Spool::Next(Position& at, std::string_view& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
        at = Normalize(at);
        const Segment* segment = nullptr;
        for (auto s = segments_.rbegin(); s != segments_.rend(); ++s) {
            if (s->number == at.segment) {
                segment = &*s;
                break;
            }
        }
        if (segment == nullptr || at.offset >= segment->size) return false;
        const int64_t length = EntryAt(segment->map, at.offset, segment->size, !segment->written);
        if (length >= 0) {
            payload = std::string_view(segment->map + at.offset + kEntryHeaderSize,
                                       static_cast<size_t>(length));
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
    while (segments_.size() > 1 && segments_.front().number < cursor_.segment) RemoveFront();
    if (NowMs() - cursorWrittenAt_ >= kCursorIntervalMs) WriteCursor();
}

void Spool::Sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    WriteCursor();
}

void Spool::WriteCursor() {
    if (cursorFd_ < 0 || written_ == cursor_) return;
    char saved[kCursorBytes];
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
