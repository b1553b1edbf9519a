#pragma once

#include <ostream>

#include "tools/agent/CAgentOptions.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The short-lived commands of quil-agent: `send`, `status` and `logs`. Each returns the exit code and
// writes failures to the error stream.
class CAgentCommands {
public:
    static constexpr int kSendTimeoutMilliseconds = 10000;

    // Prints the agent's answer; 0 when the agent took the task. With --wait it then prints each
    // task result event (10368) naming the task's first identifier as the database receives it,
    // until one reports the task done (state 30: exit 0) or failed (40: exit 1); retries (20) are
    // printed and waited past. No event within the timeout: exit 1. Note that the module reports a
    // command that went through only when the product later sends the task's result.
    static int Send(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
    // Prints a running agent's status line; 1 when no agent answers.
    static int Status(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
    // Prints the stored messages; 1 when the database cannot be read or a row is damaged.
    static int Logs(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
