// The main of test programs that use the default port: the process enters a
// network of its own before GoogleTest runs a test (and before any thread).
#include <gtest/gtest.h>

#include <cstdio>

#include "support/own_network.h"

namespace morvane::test {
void SetOwnNetwork(bool entered, const std::string& why);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string why;
    const bool entered = morvane::test::EnterOwnNetwork(why);
    morvane::test::SetOwnNetwork(entered, why);
    if (!entered) std::fprintf(stderr, "no network namespace of its own: %s\n", why.c_str());
    return RUN_ALL_TESTS();
}
