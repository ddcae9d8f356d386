// A network of the test program's own, for tests that must use the fixed
// default port 25000: in a network namespace of its own, with loopback up,
// the port is free whatever serves on it on the machine.
#pragma once

#include <string>

namespace morvane::test {

// Moves the process into a new network namespace (a new user namespace
// too when it lacks the privilege for the network one alone) and brings
// its loopback interface up. Must run before any thread exists. False,
// with the reason in why, when the system refuses.
bool EnterOwnNetwork(std::string& why);

// Whether the process has entered a network of its own (by the main of
// own_network_main.cpp), and why not.
bool InOwnNetwork();
const std::string& OwnNetworkRefusal();

}  // namespace morvane::test

// Skips a test that needs the default port when the process could not get
// a network of its own: the port may belong to a server outside the test.
#define SKIP_WITHOUT_OWN_NETWORK()                                                        \
    do {                                                                                  \
        if (!::morvane::test::InOwnNetwork())                                             \
            GTEST_SKIP() << "no network namespace of its own ("                           \
                         << ::morvane::test::OwnNetworkRefusal()                          \
                         << "): the default port 25000 may belong to another server";     \
    } while (0)
