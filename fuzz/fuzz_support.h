// Shared pieces of the libFuzzer targets: a silent log, a scratch directory
// that every run reuses, and the example schemas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace morvane {
class Schema;
}

namespace morvane::fuzz {

// Every target links this file, whose LLVMFuzzerInitialize binds the main
// log to a sink that drops every line, with the trace flag on: trace lines
// are still formatted (so a bad argument to a format shows up under the
// sanitizers) but nothing is written anywhere. It also binds a logger API
// whose instances write nothing, for code that opens logger instances of
// its own.

// A directory of its own under $TMPDIR (or /tmp), created on first use and
// removed at exit. Each target keeps one for the whole fuzzing process.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes data to the file name in the directory, replacing it; returns
    // its path. Aborts when the file cannot be written: the harness is
    // broken then, not the code under test.
    std::string Write(const std::string& name, const uint8_t* data, size_t size) const;
    // Removes everything inside the directory, keeping the directory.
    void Clear() const;

  private:
    std::string path_;
};

// The scratch directory of this process, made on first use.
const ScratchDir& Scratch();

// The example archive (Schemas/, XML_Data/): $MORVANE_FUZZ_EXAMPLES when
// set, else the examples/ of the source tree the target was built from.
std::string ExamplesDir();

// Loads and lays out the example schema file Schemas/name (e.g. "PosRec.xsd");
// aborts when it does not load, since the target cannot run without it.
// The schema lives until the process ends.
Schema& LoadExampleSchema(const std::string& name);

}  // namespace morvane::fuzz
