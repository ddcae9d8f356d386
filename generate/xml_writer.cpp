#include "generate/xml_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "logging/copy_bytes.h"
#include "logging/log.h"

namespace morvane {
namespace {

// Outside a record, pending text is written once it grows past this, so an
// empty data file of a huge record does not sit in memory whole. Inside a
// record nothing is written before EndRecord().
constexpr size_t kAutoFlushBytes = 64 * 1024;

bool FitsElementName(const char* element) {
    return element != nullptr && element[0] != '\0' &&
           std::strlen(element) <= CXmlWriter::kMaxElementNameLength;
}

}  // namespace

CXmlWriter::~CXmlWriter() {
    if (IsOpen()) CloseFile();
}

bool CXmlWriter::OpenFile(const char* path) { return Open(AT_FDCWD, path, O_RDWR | O_TRUNC); }

bool CXmlWriter::OpenDocument() {
    Open(AT_FDCWD, nullptr, 0);  // resets the state; no file
    inMemory_ = true;
    pending_.reserve(kAutoFlushBytes);
    AppendDeclaration();
    return true;
}

std::string CXmlWriter::TakeDocument() {
    if (!inMemory_) return std::string();
    if (inRecord_) AbortRecord();
    std::string text = std::move(pending_);
    pending_.clear();
    inMemory_ = false;
    return text;
}

bool CXmlWriter::OpenFileAt(int dirFd, const char* name) {
    // O_NONBLOCK keeps a FIFO without a reader from stalling the open. The
    // file is cut only once the descriptor shows a regular file with no
    // other name: a second hard link is the same file under another name (a
    // data file, a file outside the directory), which a session must not
    // destroy.
    const bool plainName = name != nullptr && std::strchr(name, '/') == nullptr;
    if (!Open(dirFd, plainName ? name : nullptr, O_WRONLY | O_NOFOLLOW | O_NONBLOCK)) {
        if (!plainName) errno = EINVAL;
        return false;
    }
    struct stat st {};
    int err = 0;
    if (::fstat(fd_, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;
    else if (st.st_nlink > 1)
        err = EMLINK;
    else if (::ftruncate(fd_, 0) != 0)
        err = errno;
    if (err != 0) {
        ::close(fd_);
        fd_ = -1;
        pending_.clear();
        errno = err;
        return false;
    }
    int fl = ::fcntl(fd_, F_GETFL);
    if (fl >= 0) ::fcntl(fd_, F_SETFL, fl & ~O_NONBLOCK);
    return true;
}

bool CXmlWriter::Open(int dirFd, const char* path, int flags) {
    if (IsOpen()) CloseFile();
    depth_ = 0;
    indent_.clear();
    indentUnit_ = "   ";
    // A new file has no open element: names left from a file closed with
    // open elements must not be closed into this one.
    stack_.clear();
    pending_.clear();
    written_ = 0;
    inRecord_ = false;
    inMemory_ = false;
    if (path == nullptr) return false;
    fd_ = ::openat(dirFd, path, O_CREAT | O_CLOEXEC | flags, 0666);
    if (fd_ < 0) return false;
    AppendDeclaration();
    return true;
}

void CXmlWriter::AppendDeclaration() {
    static const char kDeclaration[] = "<?xml version=\"1.0\"?>\n";
    Append(kDeclaration, sizeof kDeclaration - 1);
}

bool CXmlWriter::CloseFile() {
    if (!IsOpen()) return false;
    if (inMemory_) {
        inMemory_ = false;
        pending_.clear();
        return true;
    }
    if (inRecord_) AbortRecord();
    bool ok = WriteOut(pending_.size());
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    pending_.clear();
    return ok;
}

bool CXmlWriter::CanOpen(const char* element) const { return IsOpen() && CanPush(element); }

bool CXmlWriter::OpenIdElement(int32_t id, const char* element, const char* name, int32_t offset,
                               int32_t size) {
    if (!CanOpen(element) || name == nullptr) return false;
    if (size != 0)
        AppendFormat("%s<%s name=\"%s\" id=\"%d\" offset=\"%d\" size=\"%d\">\n", indent_.c_str(),
                     element, name, id, offset, size);
    else
        AppendFormat("%s<%s name=\"%s\" id=\"%d\" offset=\"%d\">\n", indent_.c_str(), element, name,
                     id, offset);
    Push(element);
    return AutoFlush();
}

bool CXmlWriter::OpenElement(const char* element, const char* name, int32_t offset, int32_t size,
                             int32_t index) {
    if (!CanOpen(element) || name == nullptr) return false;
    const char* in = indent_.c_str();
    if (index != -1)
        AppendFormat("%s<%s name=\"%s\" offset=\"%d\" size=\"%d\" index=\"%d\">\n", in, element, name,
                     offset, size, index);
    else if (size != 0 && offset != 0)
        AppendFormat("%s<%s name=\"%s\" offset=\"%d\" size=\"%d\">\n", in, element, name, offset,
                     size);
    else if (size != 0)
        AppendFormat("%s<%s name=\"%s\" size=\"%d\">\n", in, element, name, size);
    else if (offset != 0)
        AppendFormat("%s<%s name=\"%s\" offset=\"%d\">\n", in, element, name, offset);
    else
        AppendFormat("%s<%s name=\"%s\">\n", in, element, name);
    Push(element);
    return AutoFlush();
}

bool CXmlWriter::OpenRecordElement(int32_t id, const char* element, int32_t number,
                                   const char* name, int32_t offset, int32_t size, int32_t index) {
    if (!CanOpen(element) || name == nullptr) return false;
    const char* in = indent_.c_str();
    if (index != -1)
        AppendFormat(
            "%s<%s name=\"%s\" id=\"%d\" number=\"%d\" offset=\"%d\" size=\"%d\" index=\"%d\">\n",
            in, element, name, id, number, offset, size, index);
    else if (size != 0)
        AppendFormat("%s<%s name=\"%s\" id=\"%d\" number=\"%d\" offset=\"%d\" size=\"%d\">\n", in,
                     element, name, id, number, offset, size);
    else
        AppendFormat("%s<%s name=\"%s\" id=\"%d\" number=\"%d\" offset=\"%d\">\n", in, element,
                     name, id, number, offset);
    Push(element);
    return AutoFlush();
}

bool CXmlWriter::OpenBareElement(const char* element) {
    if (!CanOpen(element)) return false;
    AppendFormat("%s<%s>\n", indent_.c_str(), element);
    Push(element);
    return AutoFlush();
}

bool CXmlWriter::CloseElement() {
    if (!IsOpen() || stack_.empty()) return false;
    --depth_;
    indent_.resize(static_cast<size_t>(depth_) * indentUnit_.size());
    AppendPieces({indent_, std::string_view("</", 2), stack_.back(), std::string_view(">\n", 2)});
    stack_.pop_back();
    return AutoFlush();
}

// The element lines written once per value are put together from their
// pieces, the text grown once per line: formatting them through vsnprintf,
// and later appending piece by piece, cost more than all the rest of a
// record's conversion. The text is the same as the printf forms in the
// comments.
void CXmlWriter::AppendPieces(const std::string_view* pieces, size_t count) {
    AppendViews(pending_, pieces, count);
}

void CXmlWriter::AppendElementLine(std::string_view element, const char* name, const char* type,
                                   int32_t index, std::initializer_list<std::string_view> tail) {
    using namespace std::string_view_literals;
    // Six pieces up to the name, three for the type, three for the index.
    std::string_view pieces[6 + 3 + 3 + kMaxTailPieces];
    size_t count = 0;
    for (std::string_view piece : {std::string_view(indent_), "<"sv, element, " name=\""sv,
                                   std::string_view(name), "\""sv})
        pieces[count++] = piece;
    if (type != nullptr) {
        pieces[count++] = " type=\""sv;
        pieces[count++] = type;
        pieces[count++] = "\""sv;
    }
    char digits[16];
    if (index != -1) {
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, index);
        (void)ec;
        pieces[count++] = " index=\""sv;
        pieces[count++] = std::string_view(digits, static_cast<size_t>(end - digits));
        pieces[count++] = "\""sv;
    }
    assert(tail.size() <= kMaxTailPieces);
    for (std::string_view piece : tail) pieces[count++] = piece;
    AppendPieces(pieces, count);
}

// "%s<%s name=\"%s\" type=\"%s\" index=\"%d\"></%s>\n" and its shorter forms.
bool CXmlWriter::WriteEmptyElement(const char* element, const char* name, const char* type,
                                   int32_t index) {
    using namespace std::string_view_literals;
    if (!IsOpen() || !FitsElementName(element) || name == nullptr) return false;
    const std::string_view e(element);
    AppendElementLine(e, name, type, index, {"></"sv, e, ">\n"sv});
    return AutoFlush();
}

// "%s<%s name=\"%s\" type=\"%s\" nrepetitions=\"%d\"/>\n", type optional.
bool CXmlWriter::WriteCollapsedElement(const char* element, const char* name, const char* type,
                                       int32_t nrepetitions) {
    using namespace std::string_view_literals;
    if (!IsOpen() || !FitsElementName(element) || name == nullptr) return false;
    char digits[16];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, nrepetitions);
    (void)ec;
    AppendElementLine(element, name, type, -1,
                      {" nrepetitions=\""sv,
                       std::string_view(digits, static_cast<size_t>(end - digits)), "\"/>\n"sv});
    return AutoFlush();
}

// "%s<%s name=\"%s\" type=\"%s\" index=\"%d\">%s</%s>\n" and its shorter forms.
bool CXmlWriter::WriteValueElement(const char* element, const char* name, const char* value,
                                   const char* type, int32_t index) {
    using namespace std::string_view_literals;
    if (!IsOpen() || !FitsElementName(element) || name == nullptr || value == nullptr) return false;
    const std::string_view e(element);
    AppendElementLine(e, name, type, index, {">"sv, value, "</"sv, e, ">\n"sv});
    return AutoFlush();
}

void CXmlWriter::BeginRecord() {
    if (!IsOpen() || inRecord_) return;
    inRecord_ = true;
    recordStart_ = written_ + static_cast<int64_t>(pending_.size());
    recordStack_ = stack_;
}

bool CXmlWriter::EndRecord() {
    if (!inRecord_) return Flush();
    inRecord_ = false;
    size_t before = static_cast<size_t>(recordStart_ - written_);
    if (WriteOut(pending_.size())) return true;
    // WriteOut() has cut the file back to its last complete write; the text
    // before the record stays pending, the record itself is dropped.
    pending_.resize(before);
    RestoreRecordStack();
    return false;
}

bool CXmlWriter::WriteRecord(std::string_view lines) {
    if (!IsOpen() || inRecord_) return false;
    if (fd_ >= 0 && pending_.empty()) {
        // Nothing before the record waits: its lines go out from where they
        // are, without a copy into the pending text.
        return WriteAll(lines.data(), lines.size());
    }
    BeginRecord();
    pending_.append(lines);
    return EndRecord();
}

void CXmlWriter::AbortRecord() {
    if (!inRecord_) return;
    inRecord_ = false;
    pending_.resize(static_cast<size_t>(recordStart_ - written_));
    RestoreRecordStack();
}

bool CXmlWriter::Flush() {
    if (!IsOpen()) return false;
    size_t count =
        inRecord_ ? static_cast<size_t>(recordStart_ - written_) : pending_.size();
    return WriteOut(count);
}

void CXmlWriter::Append(const char* text, size_t length) { pending_.append(text, length); }

void CXmlWriter::AppendFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(pending_, format, args);
    va_end(args);
}

bool CXmlWriter::CanPush(const char* element) const {
    return FitsElementName(element) && depth_ < kMaxDepth;
}

void CXmlWriter::Push(const char* element) {
    stack_.emplace_back(element);
    ++depth_;
    indent_ += indentUnit_;
}

bool CXmlWriter::AutoFlush() {
    if (inMemory_ || inRecord_ || pending_.size() < kAutoFlushBytes) return true;
    return WriteOut(pending_.size());
}

void CXmlWriter::RestoreRecordStack() {
    stack_ = recordStack_;
    depth_ = static_cast<int32_t>(stack_.size());
    indent_.clear();
    for (int32_t i = 0; i < depth_; ++i) indent_ += indentUnit_;
}

bool CXmlWriter::WriteOut(size_t count) {
    if (count == 0 || inMemory_) return true;
    if (!WriteAll(pending_.data(), count)) return false;
    pending_.erase(0, count);
    return true;
}

bool CXmlWriter::WriteAll(const char* data, size_t count) {
    if (count == 0) return true;
    if (!IsOpen()) return false;
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, data + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // Leave the file ending where the last complete write ended; the
            // text stays with the caller and the next write starts there
            // again. A device that cannot be cut (a pipe, /dev/full) keeps
            // what it took.
            if (done > 0 && ::ftruncate(fd_, written_) == 0) ::lseek(fd_, written_, SEEK_SET);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    written_ += static_cast<int64_t>(count);
    return true;
}

}  // namespace morvane
