#include "server/registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace morvane {
namespace {

// The empty session reaches the disk at once, well before any record. When
// it cannot (a full device), the file is closed and false returned with
// errno telling why.
bool OpenRoot(CXmlWriter& writer) {
    writer.OpenBareElement("Root");
    if (writer.Flush()) return true;
    const int err = errno != 0 ? errno : EIO;
    writer.CloseFile();
    errno = err;
    return false;
}

}  // namespace

bool OpenRootFileAt(CXmlWriter& writer, int dirFd, const char* name) {
    if (!writer.OpenFileAt(dirFd, name)) return false;
    if (OpenRoot(writer)) return true;
    // Not a session file: nothing of it is left behind.
    const int err = errno;
    ::unlinkat(dirFd, name, 0);
    errno = err;
    return false;
}

bool CloseRootFile(CXmlWriter& writer) {
    if (!writer.IsOpen()) return false;
    writer.CloseElement();
    return writer.CloseFile();
}

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
    if (!writer_.OpenFile(path)) return false;
    if (OpenRoot(writer_)) return true;
    const int err = errno;
    ::unlink(path);
    errno = err;
    return false;
}

bool SchemaRegistry::OpenDataFileAt(int dirFd, const char* name) {
    return OpenRootFileAt(writer_, dirFd, name);
}

bool SchemaRegistry::CloseDataFile() { return CloseRootFile(writer_); }

}  // namespace morvane
