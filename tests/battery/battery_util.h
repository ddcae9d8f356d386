// Helpers of the fault battery: what a running Morvane holds (descriptors,
// resident memory), checks of the session files it leaves, and running one
// piece of work per server on threads of its own.
//
// The tests that need many clients spread them over several servers that
// run side by side; each server is checked on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server_test_util.h"

namespace morvane::test {

// Entries of /proc/<pid>/fd; -1 when the process cannot be read.
int OpenDescriptors(int pid);
// VmRSS of /proc/<pid>/status in KiB; -1 when the process cannot be read.
long ResidentKib(int pid);

// Empty when text is a well-formed session file: an XML document whose
// element is "Root" and holds only "Schema" record elements, each with its
// members; otherwise what is wrong with it.
std::string SessionFileProblem(const std::string& text);

// The file as far as the session header: the XML declaration and the
// opening "Root" line that every session file starts with.
std::string SessionHeader();

// Runs work(0) .. work(n - 1) on n threads and waits for all of them.
// GoogleTest assertions may be used inside work.
void RunOnThreads(int n, const std::function<void(int)>& work);

// n program directories with Morvane and the example archive, each on a
// free port of its own and with the lines of extraIni in [General]. Made on
// the calling thread before any server thread runs: a program file that is
// still open for writing while another thread forks cannot be started
// (ETXTBSY).
std::vector<std::unique_ptr<MorvaneServer>> MakeServers(int n, const std::string& extraIni);

// Reads from s until the peer closes the connection; the bytes that came
// before the close, or -1 when it did not close within timeout.
long BytesBeforeClose(const Socket& s,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Closes s with a reset instead of an orderly end.
void AbortConnection(Socket& s);

}  // namespace morvane::test
