#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

#include "tools/agent/host/CProcessHardening.h"

namespace Zun {
namespace Tools {
namespace Agent {

std::string CProcessHardening::Apply() {
    // Not dumpable: no core file, and ptrace and /proc/<pid>/mem are closed to the same user.
    const rlimit noCore = {0, 0};
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || setrlimit(RLIMIT_CORE, &noCore) != 0) {
        return std::string("cannot keep the agent's memory out of core dumps: ") + std::strerror(errno);
    }
    return std::string();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
