#include "server/registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace morvane {

SchemaRegistry::SchemaRegistry(std::string programDirectory)
    : programDirectory_(std::move(programDirectory)),
      logPath_(programDirectory_ + "/Morvane.log") {}

void SchemaRegistry::AddSchema(Schema* schema) { schemas_.push_back(schema); }

Schema* SchemaRegistry::FindSchema(int32_t id) const {
    for (Schema* s : schemas_)
        if (s->id == id) return s;
    return nullptr;
}

bool SchemaRegistry::OpenDataFile(const char* path) {
    const std::string whole = path != nullptr ? path : "";
    const size_t slash = whole.rfind('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : whole.substr(0, slash);
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return false;
    const char* name = whole.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    const bool opened = OpenDataFileAt(dirFd, name);
    const int err = errno;
    ::close(dirFd);
    errno = err;
    return opened;
}

bool SchemaRegistry::OpenDataFileAt(int dirFd, const char* name) {
    if (!writer_.OpenFileAt(dirFd, name)) return false;
    return OpenRoot();
}

bool SchemaRegistry::OpenRoot() {
    writer_.OpenBareElement("Root");
    // The empty session reaches the disk at once, well before any record.
    writer_.Flush();
    return true;
}

bool SchemaRegistry::CloseDataFile() {
    if (!writer_.IsOpen()) return false;
    writer_.CloseElement();
    return writer_.CloseFile();
}

}  // namespace morvane
