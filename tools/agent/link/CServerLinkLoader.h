#pragma once

#include <memory>

#include "tools/agent/link/CServerLink.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Makes the server link. On Linux the link and gRPC live in libquil_agent_link.so beside the module
// (../lib/quil from the binary), loaded here on first use, so that an agent without a server keeps
// gRPC, its TLS and protobuf's link messages out of its memory; once loaded the library stays for
// the life of the process. On Windows the link is built into the agent.
class CServerLinkLoader {
public:
    // The library's one entry point, by this name.
    typedef IServerLink* (*Factory)(const CServerLink::Settings& settings, ILinkStore& store,
                                    const CServerLink::TaskRunner& runner, const CServerLink::Log& log);
    static constexpr const char* kFactoryName = "QuilCreateServerLink";

    // Throws std::runtime_error naming the library and why it could not be loaded.
    static std::unique_ptr<IServerLink> Create(const CServerLink::Settings& settings, ILinkStore& store,
                                               CServerLink::TaskRunner runner, CServerLink::Log log);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
