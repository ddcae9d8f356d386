// Reading an XML file into a document for the parsers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "schema/schema.h"

namespace morvane {
namespace {

// The deepest element nesting of doc, the document element being level 1.
// Walks without recursion, so any nesting pugixml accepted can be measured;
// stops as soon as limit is passed, with that element in *beyond.
int ElementDepth(const pugi::xml_document& doc, int limit, pugi::xml_node* beyond) {
    int deepest = 0;
    int depth = 1;
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_element && depth > deepest) {
            deepest = depth;
            if (deepest > limit) {
                *beyond = node;
                break;
            }
        }
        if (pugi::xml_node child = node.first_child()) {
            node = child;
            ++depth;
            continue;
        }
        while (node != doc && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node == doc) break;
        node = node.next_sibling();
    }
    return deepest;
}

// Reads the whole file at path into a buffer of pugixml's allocator, for
// load_buffer_inplace_own(). The file is opened without blocking and
// checked on the open descriptor, so a FIFO (or a file swapped for one after
// any check by name) can never stall the caller. False with error set when
// it is not a regular file or cannot be read.
bool ReadWholeFile(const char* path, void*& data, size_t& size, std::string& error) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "File was not found";
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "Not a regular file";
        ::close(fd);
        return false;
    }
    // A file that grows while it is read is read up to its size at the
    // check; one that shrinks, up to its new end.
    size = static_cast<size_t>(st.st_size);
    data = pugi::get_memory_allocation_function()(size > 0 ? size : 1);
    if (data == nullptr) {
        error = "Could not allocate memory";
        ::close(fd);
        return false;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, static_cast<char*>(data) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "Error reading from file/stream";
            pugi::get_memory_deallocation_function()(data);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    size = done;
    ::close(fd);
    return true;
}

}  // namespace

bool LoadXmlDocument(const char* path, pugi::xml_document& doc, std::string& error,
                     std::ptrdiff_t* errorOffset) {
    if (errorOffset != nullptr) *errorOffset = -1;
    void* data = nullptr;
    size_t size = 0;
    if (!ReadWholeFile(path, data, size, error)) {
        doc.reset();
        return false;
    }
    // The document takes the buffer over, also when parsing fails.
    pugi::xml_parse_result result =
        doc.load_buffer_inplace_own(data, size, pugi::parse_default | pugi::parse_comments);
    if (!result) {
        error = result.description();
        if (errorOffset != nullptr) *errorOffset = result.offset;
        doc.reset();
        return false;
    }
    pugi::xml_node beyond;
    if (ElementDepth(doc, kMaxXmlDepth, &beyond) > kMaxXmlDepth) {
        char text[96];
        std::snprintf(text, sizeof text, "Elements nested deeper than %d levels", kMaxXmlDepth);
        error = text;
        if (errorOffset != nullptr) *errorOffset = beyond.offset_debug();
        doc.reset();
        return false;
    }
    error.clear();
    return true;
}

bool LineColumnAt(const char* path, std::ptrdiff_t offset, int& line, int& column) {
    if (offset < 0) return false;
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || offset > st.st_size) {
        ::close(fd);
        return false;
    }
    int lines = 1;
    std::ptrdiff_t lineStart = 0;  // offset of the first byte of the current line
    std::ptrdiff_t done = 0;
    char buffer[65536];
    while (done < offset) {
        size_t want = static_cast<size_t>(std::min<std::ptrdiff_t>(offset - done, sizeof buffer));
        ssize_t got = ::read(fd, buffer, want);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n') {
                ++lines;
                lineStart = done + i + 1;
            }
        }
        done += got;
    }
    ::close(fd);
    if (done < offset) return false;  // the file shrank meanwhile
    line = lines;
    column = static_cast<int>(offset - lineStart) + 1;
    return true;
}

}  // namespace morvane
