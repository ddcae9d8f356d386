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
int XmlElementDepth(pugi::xml_node node, int level, int limit, pugi::xml_node* beyond) {
    int deepest = level;
    int depth = level + 1;
    pugi::xml_node n = node.first_child();
    while (n && n != node) {
        if (n.type() == pugi::node_element && depth > deepest) {
            deepest = depth;
            if (deepest > limit) {
                if (beyond != nullptr) *beyond = n;
                break;
            }
        }
        if (pugi::xml_node child = n.first_child()) {
            n = child;
            ++depth;
            continue;
        }
        while (n != node && !n.next_sibling()) {
            n = n.parent();
            --depth;
        }
        if (n != node) n = n.next_sibling();
    }
    return deepest;
}

int ReadRegularFile(const char* path, const std::function<char*(size_t)>& reserve,
                    size_t& size) {
    size = 0;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat st {};
    int err = 0;
    char* data = nullptr;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;
    else if ((data = reserve(static_cast<size_t>(st.st_size))) == nullptr)
        err = ENOMEM;
    const auto wanted = static_cast<size_t>(st.st_size);
    while (err == 0 && size < wanted) {
        ssize_t n = ::read(fd, data + size, wanted - size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        size += static_cast<size_t>(n);
    }
    ::close(fd);
    return err;
}

bool LoadXmlDocument(const char* path, pugi::xml_document& doc, std::string& error,
                     std::ptrdiff_t* errorOffset) {
    if (errorOffset != nullptr) *errorOffset = -1;
    // The document takes a buffer of pugixml's allocator over, also when
    // parsing fails.
    void* data = nullptr;
    size_t size = 0;
    const int err = ReadRegularFile(
        path,
        [&data](size_t n) {
            data = pugi::get_memory_allocation_function()(n > 0 ? n : 1);
            return static_cast<char*>(data);
        },
        size);
    if (err != 0) {
        if (data != nullptr) pugi::get_memory_deallocation_function()(data);
        error = err == ENOENT ? "File was not found"
                : err == EINVAL ? "Not a regular file"
                : err == ENOMEM ? "Could not allocate memory"
                                : "Error reading from file/stream";
        doc.reset();
        return false;
    }
    pugi::xml_parse_result result =
        doc.load_buffer_inplace_own(data, size, pugi::parse_default | pugi::parse_comments);
    if (!result) {
        error = result.description();
        if (errorOffset != nullptr) *errorOffset = result.offset;
        doc.reset();
        return false;
    }
    pugi::xml_node beyond;
    if (XmlElementDepth(doc, 0, kMaxXmlDepth, &beyond) > kMaxXmlDepth) {
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
