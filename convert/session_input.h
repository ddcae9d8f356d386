// The record splitter of session files: a session file read in pieces and
// cut into its record elements without parsing it as one document, so that
// memory stays bounded by a few records whatever the size of the file.
//
// Session files are machine-written: the header, then one record element
// after another, then "</Root>". A record element in the writer's form is
// read by the scanner (SessionRecordScanner in written_record.h), which finds
// its end itself; any other is cut at its end tag (Find) and read alone
// the general way (ReadXmlText).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvane {

// Bytes read from the file at a time: few enough calls, and little to copy
// when the window hands over its front (what lies past the last record).
constexpr size_t kInputPiece = size_t{1} << 18;

// An input file read in pieces: a window of its bytes that grows at the end
// as more is needed and hands over its front when that is done with.
// Tracks the line of a position so that errors can be placed without going
// back. Indexes are into the window (bytes()), which moves by the bytes
// handed over.
class InputWindow {
  public:
    InputWindow() = default;
    ~InputWindow();
    InputWindow(const InputWindow&) = delete;
    InputWindow& operator=(const InputWindow&) = delete;

    // Opens path for reading; false with errno set when it cannot.
    bool Open(const std::string& path);
    std::string_view bytes() const { return {bytes_.data(), end_}; }

    // Reads the next piece; false at the end of the file or on an error
    // (then failed() is true).
    bool More();
    bool failed() const { return failed_; }
    bool AtEnd() const { return eof_; }
    // Reads on until the window holds count bytes from index on, or the
    // file ends.
    void Fill(size_t index, size_t count);

    // Finds text from index from on, reading on as needed; npos when the
    // file ends first, or when more than limit bytes after from hold no
    // text (then the window holds about limit bytes more, no further).
    // Looks for the byte after a leading "</" first: in a record element,
    // the first letter of its name is rarer than the '<' of every line.
    size_t Find(std::string_view text, size_t from, size_t limit = std::string::npos);
    // The byte at index, reading on as needed; -1 at the end of the file.
    int At(size_t index) {
        while (index >= end_) {
            if (!More()) return -1;
        }
        return static_cast<unsigned char>(bytes_[index]);
    }

    // Hands over the bytes before index (they are done with) at the start
    // of front, counting their lines first; front's memory is reused for
    // what stays.
    void TakeFront(size_t index, std::string& front);
    // Drops the bytes before index (they are done with), counting their
    // lines first; what stays moves to the front of the same buffer, so
    // that no second buffer is needed where the front is not kept.
    void DropFront(size_t index);

    // The 1-based line and column of the byte at index. Places are asked
    // for in file order: an index before an earlier one gets that one's.
    void Place(size_t index, int& line, int& column);
    // Counts the bytes [from, to) as holding lineEnds line ends, known
    // without counting them (a record the scanner read); from is at or
    // after every index placed so far.
    void Skip(size_t from, size_t to, int64_t lineEnds);

  private:
    void CountTo(size_t index);

    int fd_ = -1;
    std::string bytes_;  // allocated; the file's bytes end at end_
    size_t end_ = 0;
    int64_t base_ = 0;       // file offset of bytes_[0]
    size_t counted_ = 0;     // bytes_ before this index are counted in line_
    int line_ = 1;           // the line of bytes_[counted_]
    int64_t lineStart_ = 0;  // file offset of that line's first byte
    bool eof_ = false;
    bool failed_ = false;
};

// XML's blanks between markup.
inline bool IsBlank(int c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Bytes skipped between record elements (blanks, a comment) after which
// SkipToTag() offers to drop them, so that memory stays bounded whatever
// they hold.
constexpr size_t kSkipPiece = size_t{1} << 20;

// Skips blanks, comments, processing instructions and a document type from
// index on. Returns the index of what follows: a '<' that starts an element
// or an end tag, other text, or the end of the file (At() gives -1 there;
// so it does for a comment the file ends in). With drop, every kSkipPiece
// bytes skipped are handed to drop(index), which may take the window's
// front up to index away and returns how many bytes it took (indexes move
// down by that much).
size_t SkipToTag(InputWindow& in, size_t index,
                 const std::function<size_t(size_t)>& drop = nullptr);

// Element names longer than this are not those of a session or data file.
constexpr size_t kMaxTagName = 4096;

// The element name of the tag at index ('<' there); at most kMaxTagName + 1
// bytes of it.
std::string TagName(InputWindow& in, size_t index);

}  // namespace morvane
