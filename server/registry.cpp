#include "server/registry.h"

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
    if (!writer_.OpenFile(path)) return false;
    return OpenRoot();
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
