#pragma once

#include <chrono>
#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// The `quil-agent send` side of the control socket.
class CControlClient {
public:
    // Sends one line and returns the agent's one-line answer without its line end. Throws
    // std::runtime_error when no agent listens, or none answers within the timeout.
    static std::string Send(const std::string& path, const std::string& line,
                            std::chrono::milliseconds timeout);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
