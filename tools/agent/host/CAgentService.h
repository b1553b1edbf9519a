#pragma once

#include <ostream>
#include <string>

#include "tools/agent/CAgentOptions.h"

namespace Zun {
namespace Tools {
namespace Agent {

// quil-agent as a Windows service: `install-service` registers `quil-agent run --service` with the
// service manager (started automatically, as LocalSystem), `uninstall-service` stops and removes it,
// and `run --service` is what the service manager starts: it reports the agent running once it
// serves, and a stop request ends it as Ctrl+C would, with STOP_PENDING and a wait hint that covers
// the grace period. On Linux the package's systemd unit does all this, and these commands say so.
class CAgentService {
public:
    static const char* const kName;

    struct Installation {
        std::string database;    // absolute
        std::string configFile;  // absolute; empty when none is used
        std::string control;     // empty for the default pipe
    };

    // Returns the exit code; what went wrong is written to err.
    static int Install(const Installation& installation, std::ostream& out, std::ostream& err);
    static int Uninstall(std::ostream& out, std::ostream& err);
    static int Run(const CAgentOptions& options, std::ostream& err);
    // The database a service keeps when none is given.
    static std::string DefaultDatabase();
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
