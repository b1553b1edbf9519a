#include "tools/agent/host/CProcessHardening.h"

namespace Zun {
namespace Tools {
namespace Agent {

// A service's memory is closed to other users by its process's security descriptor; crash dumps
// are the machine's Windows Error Reporting settings, which the installer owns.
std::string CProcessHardening::Apply() {
    return std::string();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
