#include <stdlib.h>

#include <stdexcept>

#include "tools/agent/CAgentConfiguration.h"

namespace Zun {
namespace Tools {
namespace Agent {

const char* const CAgentConfiguration::kDefaultFile = "/etc/quil/agent.conf";

std::string CAgentConfiguration::ModuleDefaultRoot() {
    return "(the module's own: /run/quil for root, else $XDG_RUNTIME_DIR/quil)";
}

void CAgentConfiguration::ExportObjectRoot(const std::string& root) {
    if (setenv("QUIL_OBJECT_ROOT", root.c_str(), 1) != 0) {
        throw std::runtime_error("Cannot set QUIL_OBJECT_ROOT for the module");
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
