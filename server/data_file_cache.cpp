#include "server/data_file_cache.h"

#include <sys/stat.h>

#include <algorithm>

#include "convert/data_reader.h"

namespace morvane {
namespace {

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True when the change time lies kSettleSeconds or more in the past.
bool Settled(const timespec& changed) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t ns = (static_cast<int64_t>(now.tv_sec) - changed.tv_sec) * 1000000000 +
                       (now.tv_nsec - changed.tv_nsec);
    return ns >= static_cast<int64_t>(DataFileCache::kSettleSeconds) * 1000000000;
}

}  // namespace

bool DataFileCache::Identity::operator==(const Identity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && SameTime(mtime, o.mtime) &&
           SameTime(ctime, o.ctime);
}

bool DataFileCache::Stat(const char* path, Identity& identity) {
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    identity.dev = st.st_dev;
    identity.ino = st.st_ino;
    identity.size = st.st_size;
    identity.mtime = st.st_mtim;
    identity.ctime = st.st_ctim;
    return true;
}

bool DataFileCache::Read(const Schema& schema, const char* path, uint8_t* record, int32_t size,
                         std::string* lines, int64_t maxBytes) {
    refusedSize_ = -1;
    const auto bound = static_cast<size_t>(std::max<int64_t>(maxBytes, 0));
    // One ReadXmlFile call, its lines appended to *into when lines are
    // wanted (into then is the caller's lines or a scratch text).
    auto read = [&](uint8_t* values, std::string* into) {
        return lines != nullptr ? ReadXmlFile(schema, true, path, values, size, *into, bound)
                                : ReadXmlFile(schema, true, path, values, size, bound);
    };
    Identity before;
    if (size <= 0 || !Stat(path, before)) {
        entries_.erase(&schema);
        return read(record, lines);
    }
    if (before.size > maxBytes) {
        entries_.erase(&schema);
        refusedSize_ = before.size;
        return false;
    }
    auto it = entries_.find(&schema);
    if (it != entries_.end() && it->second.identity == before &&
        it->second.values.size() == static_cast<size_t>(size)) {
        const Entry& e = it->second;
        for (int32_t i = 0; i < size; ++i)
            if (e.mask[static_cast<size_t>(i)] != 0) record[i] = e.values[static_cast<size_t>(i)];
        if (lines != nullptr) lines->append(e.lines);
        return true;
    }
    if (it != entries_.end()) entries_.erase(it);

    if (!Settled(before.ctime)) return read(record, lines);

    // The reader only stores, whatever the bytes held before: read into
    // zeros and into 0xFF bytes, and the bytes that agree are the ones the
    // file sets. The lines of one read are the caller's.
    const auto n = static_cast<size_t>(size);
    Entry e;
    e.values.assign(n, 0x00);
    bool ok = read(e.values.data(), &e.lines);
    if (ok) {
        scratch_.assign(n, 0xFF);
        scratchLines_.clear();
        ok = read(scratch_.data(), &scratchLines_);
        if (!ok) e.lines.swap(scratchLines_);
    }
    if (!ok) {
        if (lines != nullptr) lines->append(e.lines);
        return false;
    }
    Identity after;
    if (!Stat(path, after) || !(after == before)) {
        // Changed while it was read: read it once more, keep nothing.
        return read(record, lines);
    }
    e.mask.resize(n);
    for (size_t i = 0; i < n; ++i) {
        e.mask[i] = e.values[i] == scratch_[i] ? 1 : 0;
        if (e.mask[i] != 0) record[i] = e.values[i];
    }
    if (lines != nullptr) lines->append(e.lines);
    e.identity = before;
    entries_.emplace(&schema, std::move(e));
    return true;
}

}  // namespace morvane
