// The publish spool: the messages not yet acknowledged by the stream, in
// the order they were added, on disk, so that neither a broker that is
// away nor a Morvane that is killed loses one.
//
// The spool is a directory of segment files "NNNNNNNN.seg" written one
// after the other, and the file "cursor" that says where the first entry
// not yet acknowledged starts. An entry:
//
//    0        4        8        12
//    +--------+--------+--------+---------------------+
//    | "MVSP" | length | check  | payload (length)    |
//    +--------+--------+--------+---------------------+
//
// length and check (of the payload: FNV-1a over its 8-byte words, folded
// to 32 bits; Check() in spool.cpp) little-endian. The cursor
// file holds the segment number and the offset, 8 bytes each.
//
// The segment being written is reserved on disk (posix_fallocate, so that
// a full disk is a refused entry, not a fault) and mapped shared: an entry
// is appended with a copy into the mapping, without a system call, and
// the moment the copy is done it is in the system's page cache, where it
// outlives a killed process. A segment is cut to its entries when the
// next one is started and when the spool is closed. At opening, the zeros
// of a reservation that a killed process left, and an entry it left half
// copied, are cut from the end of the last segment, which is then only
// read: new entries go to a new segment.
// The cursor is written behind the acknowledgements, so after a kill the
// entries acknowledged since its last write are sent again (the stream's
// de-duplication absorbs them).
//
// Segments before the cursor's are removed. The bytes of all segments stay
// within the capacity: an entry that would pass it is refused.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace morvane {

class Spool {
  public:
    struct Position {
        uint64_t segment = 0;
        uint64_t offset = 0;
        bool operator==(const Position&) const = default;
    };
    enum class Added { kAdded, kFull, kFailed };

    Spool() = default;
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Opens the spool in directory (created when missing) with room for
    // capacity bytes; the entries an earlier process left are kept. False,
    // logged, when the directory or its files cannot be used.
    bool Open(const std::string& directory, uint64_t capacity);

    // Appends payload. kFull: it would pass the capacity, nothing written;
    // kFailed: the write failed (logged), nothing kept.
    Added Add(std::string_view payload);

    // Reads the entry at at (or the first after it) into payload and sets
    // at past it. False when there is none.
    bool Next(Position& at, std::string& payload);
    // The same without a copy: payload points into the spool and stays
    // valid until Acknowledge() passes it or the spool is closed.
    bool Next(Position& at, std::string_view& payload);

    // The first entry not yet acknowledged.
    Position Cursor() const;
    // Every entry before upTo is acknowledged; segments wholly before it
    // are removed. The cursor file is written at most every few
    // milliseconds, and by Sync().
    void Acknowledge(Position upTo);
    void Sync();

    // Bytes of the entries of all segments and of the cursor file, and of
    // the entries from the cursor on. The files never hold more than the
    // capacity, with the room reserved for the entries to come.
    uint64_t Bytes() const;
    uint64_t Unacknowledged() const;
    uint64_t Capacity() const { return capacity_; }

    static constexpr size_t kEntryHeaderSize = 12;

  private:
    struct Segment {
        uint64_t number;
        uint64_t size;      // bytes of its entries
        char* map = nullptr;  // its bytes, mapped (null when size is 0)
        uint64_t mapped = 0;  // length of map
        bool written = false;  // by this process
    };
    std::string SegmentPath(uint64_t number) const;
    // Moves at over ends of segments that have a successor.
    Position Normalize(Position at) const;
    // Maps the segment file's size bytes for reading; false, logged, when
    // it cannot be read.
    bool MapSegment(Segment& segment);
    // Starts a segment for writing with room for at least minimum bytes,
    // after cutting the one written before to its entries.
    bool StartWriteSegment(uint64_t minimum);
    // Cuts the segment being written to its entries; it is only read then.
    void FinishWriteSegment();
    // Checks the entries of the last segment, cutting a torn end away.
    void CutTornEnd();
    void RemoveFront();
    void WriteCursor();

    mutable std::mutex mutex_;
    std::string directory_;
    uint64_t capacity_ = 0;
    uint64_t segmentBytes_ = 0;
    std::deque<Segment> segments_;  // never empty once open
    uint64_t bytes_ = 0;
    bool open_ = false;
    // The last segment while it is written: its file, and its room.
    int writeFd_ = -1;
    uint64_t reserved_ = 0;
    uint64_t populated_ = 0;  // bytes of it made ready for writing
    bool populate_ = true;    // the system can do that
    int cursorFd_ = -1;
    Position cursor_;
    Position written_;  // the cursor as the file holds it
    int64_t cursorWrittenAt_ = 0;  // steady clock, ms
};

}  // namespace morvane
