// A stand-in for the logger library's four exports, published with
// BindLoggerApi() for the object's life, so that the generators' second
// logger instance (the value-name log) can be watched.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace morvane::test {

class FakeLoggerLibrary {
  public:
    struct Instance {
        std::string path;
        int mode = -1;
        int inits = 0;
        bool deleted = false;
        bool usedAfterDelete = false;
        std::string text;  // every enabled line, in order
    };

    FakeLoggerLibrary();
    ~FakeLoggerLibrary();
    FakeLoggerLibrary(const FakeLoggerLibrary&) = delete;
    FakeLoggerLibrary& operator=(const FakeLoggerLibrary&) = delete;

    // Instances are kept after DeleteLogger_Int so tests can inspect them; a
    // deleted instance also writes its text to its path, like the library.
    const std::vector<std::unique_ptr<Instance>>& instances() const { return instances_; }

  private:
    static void* Create();
    static bool Init(void* handle, const char* path, int mode);
    static int Printf(void* handle, bool enable, const char* format, ...);
    static void Delete(void* handle);

    std::vector<std::unique_ptr<Instance>> instances_;
};

}  // namespace morvane::test
