#include "generate/value_path.h"

#include <vector>

#include "schema/unit.h"

namespace morvane {

std::string ValuePathPrefix(const CStructure& s) {
    std::vector<const std::string*> names;
    for (const CStructure* p = &s; p != nullptr && p->parent != nullptr; p = p->parent)
        names.push_back(&p->name);
    std::string prefix;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!prefix.empty()) prefix += ':';
        prefix += **it;
    }
    return prefix;
}

std::string ValuePath(const std::string& prefix, const std::string& member) {
    if (prefix.empty()) return member;
    std::string path;
    path.reserve(prefix.size() + 1 + member.size());
    path += prefix;
    path += ':';
    path += member;
    return path;
}

std::string ValuePath(const std::string& prefix, const std::string& member, int32_t index) {
    std::string path = ValuePath(prefix, member);
    path += '[';
    path += std::to_string(index);
    path += ']';
    return path;
}

}  // namespace morvane
