// A real nats-server with JetStream for the publishing tests: started on
// free loopback ports with a temporary store, alone or as one node of a
// cluster, and stopped (or killed) by the test.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "publish/stream_reader.h"
#include "support/test_support.h"

namespace morvane::test {

// The nats-server program, or empty when it is not installed.
std::string NatsServerPath();

class NatsBroker {
  public:
    // A broker of its own on a free port.
    NatsBroker();
    // Node index of a cluster whose nodes have the given client and route
    // ports.
    NatsBroker(int index, const std::vector<int>& clientPorts, const std::vector<int>& routePorts);
    ~NatsBroker();

    // Starts the broker (again, with the same store) and waits until it
    // accepts connections.
    bool Start();
    void Kill();
    std::string Url() const { return "nats://127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }
    // What the broker wrote to standard error (its log).
    std::string Log() const { return program_ != nullptr ? program_->Stderr() : ""; }

  private:
    TempDir dir_;
    int port_;
    std::vector<std::string> args_;
    std::unique_ptr<BackgroundProgram> program_;
};

// Free ports for n brokers.
std::vector<int> FreePorts(int n);

// Every message of stream at urls; fails the test (and returns what came)
// when it cannot be read.
std::vector<InMessage> ReadAll(const std::string& urls, const std::string& stream,
                               int timeoutMs = 5000);
// The number of messages the stream holds, -1 when it cannot be asked.
int64_t StreamCount(const std::string& urls, const std::string& stream);

}  // namespace morvane::test
