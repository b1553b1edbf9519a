#include <stdlib.h>

#include <stdexcept>

#include "tools/agent/CAgentConfiguration.h"

namespace Zun {
namespace Tools {
namespace Agent {

const char* const CAgentConfiguration::kDefaultFile = "C:\\ProgramData\\quil\\agent.conf";

// The module reaches the product through the system's own namespaces: its ports under
// \BaseNamedObjects, its broadcast area and mutex as named kernel objects.
std::string CAgentConfiguration::ModuleDefaultRoot() {
    return "(the system's: ports under \\BaseNamedObjects, broadcast area and mutex under Global\\)";
}

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
