// SchemaRegistry: the loaded schemas and the session writer, one object per
// process.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "generate/xml_writer.h"
#include "schema/schema.h"
#include "server/session_table.h"

namespace morvane {

// Opens a session or data file on writer: the plain file name inside the
// directory open as dirFd (CXmlWriter::OpenFileAt), then its "Root"
// element, which reaches the disk at once. False, with no file open, when
// the file cannot be created; errno tells why.
bool OpenRootFileAt(CXmlWriter& writer, int dirFd, const char* name);
// Closes the "Root" element and the file. False when no file is open.
bool CloseRootFile(CXmlWriter& writer);

class RecordPublisher;

class SchemaRegistry {
  public:
    explicit SchemaRegistry(std::string programDirectory);

    // Appends a schema. The registry keeps the pointer for the rest of the
    // process; schemas are never freed.
    void AddSchema(Schema* schema);
    // The first schema of the list with that id, or null.
    Schema* FindSchema(int32_t id) const;
    // In load order until the schema enumeration header sorts it by id.
    std::vector<Schema*>& Schemas() { return schemas_; }

    // Opens a session or data file and its "Root" element. False, with no
    // file open, when the file cannot be created.
    bool OpenDataFile(const char* path);
    // The same for a plain file name inside the directory open as dirFd,
    // never through a symbolic link (CXmlWriter::OpenFileAt); errno tells
    // why it failed.
    bool OpenDataFileAt(int dirFd, const char* name);
    // Closes the "Root" element and the file. False when no file is open.
    bool CloseDataFile();
    bool DataFileOpen() const { return writer_.IsOpen(); }

    // The session writer. Whoever uses it holds WriterMutex(): the receive
    // thread while it writes, the signal handling path while it finishes the
    // file at shutdown.
    CXmlWriter& Writer() { return writer_; }
    std::mutex& WriterMutex() { return writerMutex_; }

    // The session files of a server with several clients at once, and the
    // record numbers of every session.
    SessionTable& Sessions() { return sessions_; }

    // Where written records are published; null when [Publish] is absent.
    // Set before the server thread starts; lives until the process ends.
    RecordPublisher* Publisher() const { return publisher_; }
    void SetPublisher(RecordPublisher* publisher) { publisher_ = publisher; }

    const std::string& ProgramDirectory() const { return programDirectory_; }
    const std::string& LogPath() const { return logPath_; }

  private:
    CXmlWriter writer_;
    std::mutex writerMutex_;
    SessionTable sessions_;
    std::vector<Schema*> schemas_;
    std::string programDirectory_;
    std::string logPath_;
    RecordPublisher* publisher_ = nullptr;
};

}  // namespace morvane
