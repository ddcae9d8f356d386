// An output file written as a stream and published whole or not at all: the
// bytes go to a temporary file beside the target, which is renamed over the
// target by Commit() (a symbolic link at the target is replaced, never
// followed). A target whose content is already identical is left as it is,
// its time included, so that make-style builds do not redo what depends on
// it. Without a path the bytes go straight to standard output.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace morvane {

class Diagnostics;

class StreamOutput {
  public:
    StreamOutput() = default;
    ~StreamOutput();  // abandons an output not committed
    StreamOutput(const StreamOutput&) = delete;
    StreamOutput& operator=(const StreamOutput&) = delete;

    // Starts the output for path ("" for standard output). mode: the
    // permissions of a new file, before the umask (-1 for 0666). False after
    // a diagnostic naming path.
    bool Open(const std::string& path, Diagnostics& diagnostics, mode_t mode = 0666);
    // Appends bytes; they are written in large pieces. False after a
    // diagnostic; the output is then abandoned.
    bool Write(std::string_view bytes);
    // The bytes pending, for the caller to append to in place of Write;
    // they are written in large pieces like the others. Null after a
    // diagnostic.
    std::string* Pending();
    // Writes what is pending and publishes the file. False after a
    // diagnostic; the target is then unchanged and the temporary gone.
    bool Commit();
    // Drops the temporary file; the target stays as it was. Standard output
    // cannot take back what it received.
    void Abandon();

  private:
    bool Flush();
    bool Fail(const std::string& what, int error);
    bool SameAsTarget();

    Diagnostics* diagnostics_ = nullptr;
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    std::string pending_;
};

}  // namespace morvane
