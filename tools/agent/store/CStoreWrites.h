#pragma once

#include <Poco/Data/Session.h>
#include <cstdint>
#include <memory>
#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// The writes the bus thread makes for every message and task: a message row, a task's line, its
// hand-over and its end. Where the SQLite library is reachable (Linux) they are prepared once and
// reset between uses, as parsing them again for each message cost more than running them, and the
// write-ahead log is checkpointed by a thread of its own rather than inside the commit that fills it;
// on Windows, where SQLite lives inside Poco's library, they go through Poco::Data as any other
// statement. The caller holds the store's lock; failures are std::runtime_error with SQLite's reason.
// The session must outlive this object.
class CStoreWrites {
public:
    struct Message {
        std::string time;
        int64_t type = 0;
        const std::string* className = nullptr;
        const std::string* description = nullptr;
        const std::string* userContext = nullptr;
        const std::string* content = nullptr;
        const std::string* payload = nullptr;  // sealed; nullptr keeps NULL
    };

    explicit CStoreWrites(Poco::Data::Session& session);
    ~CStoreWrites();
    CStoreWrites(const CStoreWrites&) = delete;
    CStoreWrites& operator=(const CStoreWrites&) = delete;

    // Returns the row's sequence.
    int64_t InsertMessage(const Message& message);
    void InsertTask(int64_t sequence, const std::string& line, int state);
    // Only ever forward: a task in `state` or later stays as it is.
    void RaiseTaskState(int64_t sequence, int state);
    void DeleteTask(int64_t sequence);

private:
    struct Prepared;
    Poco::Data::Session& m_session;
    std::unique_ptr<Prepared> m_prepared;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
