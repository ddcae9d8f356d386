// The session files that the clients of one server hold open, and the
// record numbers they share.
//
// With several clients at once (MaxClients > 1) every client writes a
// session file of its own (ClientSession). The table knows them by file
// name, so that one name is open for one client at a time, and finishes
// them all when the server is stopped. Record numbers count every record
// handed to a writer since the server started, over all clients.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "generate/xml_writer.h"

namespace morvane {

// One client's session file. Whoever uses the writer holds mutex.
struct ClientSession {
    std::mutex mutex;
    CXmlWriter writer;
    std::string name;  // the file name while one is open
};

class SessionTable {
  public:
    // The next record number: 1 for the first record of the server, then
    // on by one; the count wraps past the largest int32.
    int32_t NextRecordNumber();

    // Enters name as the open session file of session. False when another
    // session has it open, or once FinishAll() has run. Call with the
    // session's mutex held.
    bool Claim(const std::string& name, const std::shared_ptr<ClientSession>& session);
    // Removes name when session holds it. Call with the session's mutex held.
    void Release(const std::string& name, const ClientSession* session);

    // Shutdown: every session file open in the table is finished (its open
    // elements closed) and closed, and later claims are refused. The
    // sessions' mutexes stay locked until the process ends, so that no
    // client writes into a file after it has been finished.
    void FinishAll();

  private:
    std::atomic<uint32_t> recordCounter_{0};
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<ClientSession>> open_;
    bool finished_ = false;
    // The sessions FinishAll() holds; kept so that they outlive their clients.
    std::vector<std::shared_ptr<ClientSession>> held_;
};

}  // namespace morvane
