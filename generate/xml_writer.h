// CXmlWriter: the indenting XML writer behind every XML file the system
// writes (empty data files, data and session files, schema files).
//
// Lines are collected in memory and reach the disk in one write: at the end
// of each record element (EndRecord), on Flush() and on CloseFile(). A file
// on disk therefore always ends on a record boundary. Names and values are
// written as given, without escaping. One thread at a time per object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

class CXmlWriter {
  public:
    CXmlWriter() = default;
    ~CXmlWriter();  // closes an open file, writing what is pending
    CXmlWriter(const CXmlWriter&) = delete;
    CXmlWriter& operator=(const CXmlWriter&) = delete;

    // Creates or truncates path and writes the XML declaration line. Resets
    // depth and indent; an open file is closed first. False, with nothing
    // open, when the file cannot be created (nothing logged).
    bool OpenFile(const char* path);
    // Writes what is pending and closes. False when no file is open or the
    // final write failed (the file is closed all the same).
    bool CloseFile();
    bool IsOpen() const { return fd_ >= 0; }
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
    // Drops a record begun with BeginRecord() without writing it.
    void AbortRecord();

    // Writes every pending line to the disk. False on an I/O error.
    bool Flush();

  protected:
    // Appends raw text to the pending output (for writers that add their
    // own line forms).
    void Append(const char* text, size_t length);
    void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Push(const char* element);  // after writing an opening line
    const std::string& Indent() const { return indent_; }

  private:
    int fd_ = -1;
    int32_t depth_ = 0;
    std::string indent_;
    std::string indentUnit_ = "   ";
    std::vector<std::string> stack_;
    std::string pending_;
    int64_t written_ = 0;  // bytes on disk
    bool inRecord_ = false;
    int64_t recordStart_ = 0;
    size_t recordDepth_ = 0;
};

}  // namespace morvane
