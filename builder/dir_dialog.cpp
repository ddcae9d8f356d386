#include "builder/dir_dialog.h"

#include <filesystem>
#include <system_error>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/user_dialogs.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

// The directory's canonical path, or empty when it is no directory.
std::string CanonicalDirectory(const std::string& path) {
    std::error_code ec;
    fs::path canonical = fs::canonical(path, ec);
    if (ec || !fs::is_directory(canonical, ec) || ec) return {};
    return canonical.string();
}

bool IsWithin(const std::string& path, const std::string& root) {
    if (path == root) return true;
    std::string prefix = root.back() == '/' ? root : root + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool CDirDialog::Browse(CUserDialogs& dialogs) {
    error.clear();
    std::string root;
    if (!rootDirectory.empty()) {
        root = CanonicalDirectory(rootDirectory);
        if (root.empty()) return false;
    }
    std::string start = initialDirectory.empty() ? rootDirectory : initialDirectory;
    std::string chosen;
    if (!dialogs.BrowseForFolder(title.empty() ? "Open" : title, root, start, chosen)) return false;
    std::string picked = CanonicalDirectory(chosen);
    if (picked.empty()) return false;
    if (!root.empty() && !IsWithin(picked, root)) {
        error = msg::Format("Error! %s is not within %s", picked.c_str(), root.c_str());
        return false;
    }
    if (!FixedText<kPathWidth>::Fits(picked)) {
        error = msg::SizeOfField(kPathWidth, "The path " + picked, picked);
        return false;
    }
    path = picked;
    return true;
}

}  // namespace morvane
