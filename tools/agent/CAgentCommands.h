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
    // What `status` exits with, so that it serves as a health check: 0 only while the module reaches
    // the product; the state is unknown when no agent answers.
    static constexpr int kStatusConnected = 0;
    static constexpr int kStatusNotReachable = 1;
    static constexpr int kStatusConnecting = 2;
    static constexpr int kStatusNotInstalled = 3;
    static constexpr int kStatusUnknown = 4;

    // Prints a running agent's status, as readable lines or (--json) the agent's JSON line, and
    // exits with the product's state above.
    static int Status(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
    // Prints the stored messages; 1 when the database cannot be read or a row is damaged.
    static int Logs(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
