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
// length and check (FNV-1a 32 of the payload) little-endian. The cursor
// file holds the segment number and the offset, 8 bytes each. An entry is
// appended with one write; one that a killed process left half written
// at the end of the last segment is cut away when the spool is opened.
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
    Added Add(const std::string& payload);

    // Reads the entry at at (or the first after it) into payload and sets
    // at past it. False when there is none.
    bool Next(Position& at, std::string& payload);

    // The first entry not yet acknowledged.
    Position Cursor() const;
    // Every entry before upTo is acknowledged; segments wholly before it
    // are removed. The cursor file is written at most every few
    // milliseconds, and by Sync().
    void Acknowledge(Position upTo);
    void Sync();

    // Bytes of the segment files, and of the entries from the cursor on.
    uint64_t Bytes() const;
    uint64_t Unacknowledged() const;
    uint64_t Capacity() const { return capacity_; }

    static constexpr size_t kEntryHeaderSize = 12;

  private:
    struct Segment {
        uint64_t number;
        uint64_t size;
    };
    std::string SegmentPath(uint64_t number) const;
    // Moves at over ends of segments that have a successor.
    Position Normalize(Position at) const;
    bool OpenWriteSegment(uint64_t number);
    // Checks the entries of the last segment, cutting a torn end away.
    void CutTornEnd();
    void WriteCursor();

    mutable std::mutex mutex_;
    std::string directory_;
    uint64_t capacity_ = 0;
    uint64_t segmentBytes_ = 0;
    std::deque<Segment> segments_;  // never empty once open
    uint64_t bytes_ = 0;
    int writeFd_ = -1;  // the last segment
    int cursorFd_ = -1;
    Position cursor_;
    Position written_;  // the cursor as the file holds it
    int64_t cursorWrittenAt_ = 0;  // steady clock, ms
};

}  // namespace morvane
