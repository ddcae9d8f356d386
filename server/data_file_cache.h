// DataFileCache: what ReadXmlFile stores from each schema's data file, kept
// while the file stays the same, so that a read request does not parse the
// file again.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

namespace morvane {

class Schema;

class DataFileCache {
  public:
    // Files changed less than this long ago are read afresh every time: a
    // change within the file system's timestamp granularity would not show.
    static constexpr int kSettleSeconds = 1;

    // Does what ReadXmlFile(schema, true, path, record, size) does, with the
    // same result and the same bytes in record: the bytes the file sets are
    // stored, the others keep what record held. A file that has not changed
    // since it was last read is not parsed again. Errors are logged by
    // ReadXmlFile, and trace lines of the reader are written only when the
    // file is parsed. With lines, it does what ReadXmlFile(..., *lines)
    // does instead: the lines one read of the file logs (its trace lines
    // when the trace flag is set, or its error line) are appended to
    // *lines and nothing is logged; a file read from the cache gives the
    // lines of the read that filled the cache. Not thread-safe: one caller
    // at a time. A file of more than maxBytes bytes is not read: false,
    // nothing logged, and RefusedSize() gives its size.
    bool Read(const Schema& schema, const char* path, uint8_t* record, int32_t size,
              std::string* lines = nullptr, int64_t maxBytes = INT64_MAX);
    // The size of the file the last Read() refused as too large; -1 when it
    // refused none.
    int64_t RefusedSize() const { return refusedSize_; }

  private:
    struct Identity {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        timespec mtime{};
        timespec ctime{};
        bool operator==(const Identity& o) const;
    };
    // The bytes the file sets: values[i] where mask[i] is set.
    struct Entry {
        Identity identity;
        std::vector<uint8_t> values;
        std::vector<uint8_t> mask;
        std::string lines;  // the lines of the read, when they were wanted
    };

    static bool Stat(const char* path, Identity& identity);

    std::unordered_map<const Schema*, Entry> entries_;
    std::vector<uint8_t> scratch_;
    std::string scratchLines_;
    int64_t refusedSize_ = -1;
};

}  // namespace morvane
