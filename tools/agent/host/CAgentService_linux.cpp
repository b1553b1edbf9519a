#include "tools/agent/host/CAgentService.h"

#include "tools/ExitCodes.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

int RefuseOnLinux(std::ostream& err) {
    err << "quil-agent: services are Windows' own; on Linux the package's systemd unit (quil-agent.service) "
           "runs the agent\n";
    return ExitCode::kUsage;
}

}  // namespace

const char* const CAgentService::kName = "quil-agent";

int CAgentService::Install(const Installation&, std::ostream&, std::ostream& err) {
    return RefuseOnLinux(err);
}

int CAgentService::Uninstall(std::ostream&, std::ostream& err) {
    return RefuseOnLinux(err);
}

int CAgentService::Run(const CAgentOptions&, std::ostream& err) {
    return RefuseOnLinux(err);
}

std::string CAgentService::DefaultDatabase() {
    return std::string();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
