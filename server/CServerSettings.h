#pragma once

#include "server/CServerOptions.h"
#include "tools/agent/CAgentConfiguration.h"

namespace Zun {
namespace Server {

// quil-server's settings, taken the way quil-agent takes its own (CAgentConfiguration): a key in
// /etc/quil/server.conf, an option that overrides it and a QUIL_SERVER_ variable that overrides both.
class CServerSettings {
public:
    static const char* const kDefaultFile;

    static const Tools::Agent::CAgentConfiguration::Schema& Schema();
    // The values in effect, for --print-config.
    static Tools::Agent::CAgentConfiguration::Effective Effective(const CServerOptions& options);
};

}  // namespace Server
}  // namespace Zun
