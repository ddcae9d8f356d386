// Reading an XML file into a document for the parsers.
#include <sys/stat.h>

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

}  // namespace

bool LoadXmlDocument(const char* path, pugi::xml_document& doc, std::string& error) {
    // pugixml sizes its buffer from the file's length, which a directory
    // does not have: anything but a regular file is refused up front.
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = stat(path, &st) != 0 ? "File was not found" : "Not a regular file";
        doc.reset();
        return false;
    }
    pugi::xml_parse_result result = doc.load_file(path, pugi::parse_default | pugi::parse_comments);
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
