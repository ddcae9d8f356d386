#include "server/registry.h"

#include <utility>

namespace morvane {
namespace {

bool OpenRoot(CXmlWriter& writer) {
    writer.OpenBareElement("Root");
    // The empty session reaches the disk at once, well before any record.
    writer.Flush();
    return true;
}

}  // namespace

bool OpenRootFileAt(CXmlWriter& writer, int dirFd, const char* name) {
    return writer.OpenFileAt(dirFd, name) && OpenRoot(writer);
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
    return writer_.OpenFile(path) && OpenRoot(writer_);
}

bool SchemaRegistry::OpenDataFileAt(int dirFd, const char* name) {
    return OpenRootFileAt(writer_, dirFd, name);
}

bool SchemaRegistry::CloseDataFile() { return CloseRootFile(writer_); }

}  // namespace morvane
