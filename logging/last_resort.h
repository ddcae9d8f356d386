// The last resort of every program: an exception that nothing caught, on
// any thread, ends the program with a message on standard error and exit
// status kUnexpectedExitStatus, never with an abort and a core dump.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

namespace morvane {

// The exit status of a program that met what it cannot handle (memory
// exhausted, an internal failure); 1 and 2 keep their own meanings.
constexpr int kUnexpectedExitStatus = 3;

namespace last_resort {
inline const char*& ProgramName() {
    static const char* name = "morvane";
    return name;
}

[[noreturn]] inline void Terminate() {
    const char* what = "an unknown exception";
    if (std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc&) {
            what = "out of memory";
        } catch (const std::exception& x) {
            what = x.what();
        } catch (...) {
        }
    } else {
        what = "an internal failure";
    }
    std::fprintf(stderr, "%s: unexpected failure: %s\n", ProgramName(), what);
    std::fflush(stderr);
    _exit(kUnexpectedExitStatus);
}
}  // namespace last_resort

// Installs the last resort for the program named program (a literal).
inline void InstallLastResort(const char* program) {
    last_resort::ProgramName() = program;
    std::set_terminate(last_resort::Terminate);
}

}  // namespace morvane
