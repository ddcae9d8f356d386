// Reading an XML file into a document for the parsers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "schema/schema.h"

namespace morvane {
namespace {

// The deepest element nesting of doc, the document element being level 1.
// Walks without recursion, so any nesting pugixml accepted can be measured;
// stops as soon as limit is passed.
int ElementDepth(const pugi::xml_document& doc, int limit) {
    int deepest = 0;
    int depth = 1;
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_element && depth > deepest) {
            deepest = depth;
            if (deepest > limit) break;
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

bool LoadXmlDocument(const char* path, pugi::xml_document& doc, std::string& error) {
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
        doc.reset();
        return false;
    }
    if (ElementDepth(doc, kMaxXmlDepth) > kMaxXmlDepth) {
        char text[96];
        std::snprintf(text, sizeof text, "Elements nested deeper than %d levels", kMaxXmlDepth);
        error = text;
        doc.reset();
        return false;
    }
    error.clear();
    return true;
}

}  // namespace morvane
