#include <stdlib.h>

#include <stdexcept>

#include "tools/agent/CAgentConfiguration.h"

namespace Zun {
namespace Tools {
namespace Agent {

void CAgentConfiguration::ExportObjectRoot(const std::string& root) {
    if (setenv("QUIL_OBJECT_ROOT", root.c_str(), 1) != 0) {
        throw std::runtime_error("Cannot set QUIL_OBJECT_ROOT for the module");
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
