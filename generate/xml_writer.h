// CXmlWriter: the indenting XML writer behind every XML file the system
// writes (empty data files, data and session files, schema files).
//
// Lines are collected in memory and reach the disk in one write: at the end
// of each record element (EndRecord), on Flush() and on CloseFile(); outside
// a record also once 64 KiB are pending, so that a large empty data file is
// not held whole. Nothing of a record is written before EndRecord(), so a
// file on disk always ends on a record boundary. Names and values are
// written as given, without escaping. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class CXmlWriter {
  public:
    CXmlWriter() = default;
    ~CXmlWriter();  // closes an open file, writing what is pending
    CXmlWriter(const CXmlWriter&) = delete;
    CXmlWriter& operator=(const CXmlWriter&) = delete;

    // Limits of the element-name stack and the indent. Opening an element
    // whose name is longer than kMaxElementNameLength (or empty), or one
    // level deeper than kMaxDepth (an indent of 999 characters), writes
    // nothing and returns false: names are never cut.
    static constexpr size_t kMaxElementNameLength = 49;
    static constexpr int32_t kMaxDepth = 333;

    // Creates or truncates path and writes the XML declaration line. Resets
    // depth, indent and the element-name stack; an open file is closed
    // first. False, with nothing open, when the file cannot be created
    // (nothing logged).
    bool OpenFile(const char* path);
    // Like OpenFile(), but the document is kept in memory: nothing reaches
    // a file, and TakeDocument() hands the whole text over (for files that
    // are replaced whole, see generate/output_files.h).
    bool OpenDocument();
    // The text of a document begun with OpenDocument(), which is closed.
    // Empty when no such document is open.
    std::string TakeDocument();
    // Like OpenFile(), for a plain file name (no '/') inside the directory
    // open as dirFd: the file is created or truncated there and never
    // reached through a symbolic link. Anything but a regular file (a
    // directory, a FIFO) is refused without blocking (errno EINVAL), and so
    // is an existing file with more than one hard link (EMLINK); neither is
    // changed. On false, nothing is open and errno tells why.
    bool OpenFileAt(int dirFd, const char* name);
    // Writes what is pending and closes. False when no file is open or the
    // final write failed (the file is closed all the same).
    bool CloseFile();
    bool IsOpen() const { return fd_ >= 0 || inMemory_; }
    int Depth() const { return depth_; }

    // The element operations write one line each; the open ones push the
    // element name and deepen the indent. All return false when no file is
    // open; CloseElement also when no element is open.
    bool OpenIdElement(int32_t id, const char* element, const char* name, int32_t offset,
                       int32_t size);
    bool OpenElement(const char* element, const char* name, int32_t offset, int32_t size,
                     int32_t index);
    bool OpenRecordElement(int32_t id, const char* element, int32_t number, const char* name,
                           int32_t offset, int32_t size, int32_t index);
    bool OpenBareElement(const char* element);
    bool CloseElement();
    // type may be null (then no type attribute); index -1: no index.
    bool WriteEmptyElement(const char* element, const char* name, const char* type,
                           int32_t index);
    bool WriteCollapsedElement(const char* element, const char* name, const char* type,
                               int32_t nrepetitions);
    bool WriteValueElement(const char* element, const char* name, const char* value,
                           const char* type, int32_t index);

    // Record transactions. BeginRecord() marks the file position where a
    // record element starts; EndRecord() writes the record to disk. When
    // that write fails the file is cut back to the mark, the element stack
    // restored to its state at BeginRecord(), and false returned (the
    // caller logs); the records before it stay intact.
    void BeginRecord();
    bool EndRecord();
    // Drops a record begun with BeginRecord() without writing it. CloseFile()
    // inside a record does this too: an unfinished record never reaches the
    // disk. BeginRecord() inside a record keeps the earlier mark.
    void AbortRecord();
    // Writes lines already formatted at the current depth (a whole record
    // element, say) as one record transaction: BeginRecord(), the lines,
    // EndRecord(). The lines must close every element they open. False when
    // no file is open, inside a record, or when the write failed (the file
    // is then cut back as EndRecord() does).
    bool WriteRecord(std::string_view lines);

    // Writes every pending line to the disk (inside a record, the lines
    // before BeginRecord() only). False on an I/O error; the file then ends
    // where the last successful write ended and the lines stay pending.
    bool Flush();

  protected:
    // Appends raw text to the pending output (for writers that add their
    // own line forms).
    void Append(const char* text, size_t length);
    void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Whether an element of that name may be opened (name and depth limits).
    bool CanPush(const char* element) const;
    void Push(const char* element);  // after writing an opening line; check CanPush() first
    // Writes the pending text when it has grown large and no record is in
    // progress; false on an I/O error.
    bool AutoFlush();
    const std::string& Indent() const { return indent_; }

  private:
    void AppendDeclaration();
    // Appends the pieces one after the other, growing the text once.
    void AppendPieces(const std::string_view* pieces, size_t count);
    void AppendPieces(std::initializer_list<std::string_view> pieces) {
        AppendPieces(pieces.begin(), pieces.size());
    }
    // The line "%s<%s name=\"%s\"" then, when given, " type=\"%s\"" and
    // " index=\"%d\"", then the pieces of tail (at most kMaxTailPieces).
    static constexpr size_t kMaxTailPieces = 6;
    void AppendElementLine(std::string_view element, const char* name, const char* type,
                           int32_t index, std::initializer_list<std::string_view> tail);
    // flags: the access mode and any open flags beyond O_CREAT|O_CLOEXEC.
    bool Open(int dirFd, const char* path, int flags);
    bool CanOpen(const char* element) const;
    void RestoreRecordStack();
    // Writes the first count bytes of the pending text; see Flush().
    bool WriteOut(size_t count);
    // Writes count bytes at the file's end; on failure cuts the file back to
    // where it ended before and returns false.
    bool WriteAll(const char* data, size_t count);

    int fd_ = -1;
    int32_t depth_ = 0;
    std::string indent_;
    std::string indentUnit_ = "   ";
    std::vector<std::string> stack_;
    std::string pending_;
    int64_t written_ = 0;  // bytes on disk
    bool inRecord_ = false;
    bool inMemory_ = false;  // opened by OpenDocument()
    int64_t recordStart_ = 0;
    std::vector<std::string> recordStack_;  // element stack at BeginRecord()
};

}  // namespace morvane
