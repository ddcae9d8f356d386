#include "generate/output_files.h"

#include <cctype>
#include <cstring>

#include "logging/log.h"

namespace morvane {

std::string ToLower(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ToUpper(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool GeneratedFilePath(const char* who, const char* directory, const std::string& stem,
                       const char* extension, bool lowerStem, std::string& path) {
    if (stem.empty() || stem.find('/') != std::string::npos) {
        LogLine(true, "Error! %s: schema name [%s] cannot be a file name\n", who, stem.c_str());
        return false;
    }
    path.clear();
    if (directory != nullptr && directory[0] != '\0') {
        path = directory;
        path += '/';
    }
    path += lowerStem ? ToLower(stem) : stem;
    path += extension;
    return true;
}

namespace {

thread_local FileSet* t_staging = nullptr;

}  // namespace

StagedOutput::StagedOutput(FileSet& set) : previous_(t_staging) { t_staging = &set; }

StagedOutput::~StagedOutput() { t_staging = previous_; }

ReplaceResult ReplaceFile(const std::string& path, std::string_view content) {
    ReplaceResult result;
    if (t_staging != nullptr) {
        if (!t_staging->Add(path, content, LinkPolicy::kReplaceLink)) {
            result.failure = t_staging->failure().kind;
            result.error = t_staging->failure().error;
        }
        return result;
    }
    FileSet set(LinkPolicy::kReplaceLink);
    if (!set.Add(path, content) || !set.Commit()) {
        result.failure = set.failure().kind;
        result.error = set.failure().error;
    }
    return result;
}

bool WriteFileIfChanged(const std::string& path, std::string_view content) {
    const ReplaceResult result = ReplaceFile(path, content);
    if (result.failure == ReplaceFailure::kNone) return true;
    LogLine(true, "Error! [%s] is not written [%s]\n", path.c_str(), std::strerror(result.error));
    return false;
}

bool WriteGeneratedFile(const char* who, const std::string& path, std::string_view content) {
    const ReplaceResult result = ReplaceFile(path, content);
    if (result.failure == ReplaceFailure::kCreate)
        LogLine(true, "Error! %s [%s] [%s] is not opened\n", who, path.c_str(),
                std::strerror(result.error));
    else if (result.failure == ReplaceFailure::kWrite)
        LogLine(true, "Error! %s [%s] is not written\n", who, path.c_str());
    return result.failure == ReplaceFailure::kNone;
}

}  // namespace morvane
