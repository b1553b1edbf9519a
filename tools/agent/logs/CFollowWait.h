#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// What `quil-agent logs --follow` waits for between two looks at the database: the next look,
// a request to stop (SIGINT or SIGTERM on Linux; Ctrl+C, Ctrl+Break or a closing console on
// Windows), or its reader going away (on Linux, a pipe whose reading end closed; elsewhere the next
// write fails). Writes to a closed pipe fail instead of killing the process, so it ends cleanly.
class CFollowWait {
public:
    enum class Event { Due, Stop, OutputClosed };

    CFollowWait();
    ~CFollowWait();
    CFollowWait(const CFollowWait&) = delete;
    CFollowWait& operator=(const CFollowWait&) = delete;

    // Empty when the stop requests are watched; otherwise why they cannot be.
    const std::string& SetupError() const { return m_setupError; }
    Event Wait(std::chrono::milliseconds interval);

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::string m_setupError;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
