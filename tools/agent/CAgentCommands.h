#pragma once

#include <ostream>

#include "tools/agent/CAgentOptions.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The short-lived commands of quil-agent: `send` and `logs`. Each returns the exit code and
// writes failures to the error stream.
class CAgentCommands {
public:
    static constexpr int kSendTimeoutMilliseconds = 10000;

    // Prints the agent's answer; 0 when the agent took the task.
    static int Send(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
    // Prints the stored messages; 1 when the database cannot be read or a row is damaged.
    static int Logs(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
