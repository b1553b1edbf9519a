#include "tools/agent/control/CControlClient.h"

#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

std::string CControlClient::Send(const std::string&, const std::string&, std::chrono::milliseconds) {
    throw std::runtime_error(
        "the Windows agent has no control channel: write the task as a line to the standard input of "
        "'quil-agent run'");
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
