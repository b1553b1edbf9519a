#include <stdlib.h>

#include <stdexcept>

#include "tools/agent/CAgentConfiguration.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The Windows module names its objects in the system's own namespace; the variable is set all the
// same, so that --print-config and the module agree on every platform.
void CAgentConfiguration::ExportObjectRoot(const std::string& root) {
    if (_putenv_s("QUIL_OBJECT_ROOT", root.c_str()) != 0) {
        throw std::runtime_error("Cannot set QUIL_OBJECT_ROOT for the module");
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
