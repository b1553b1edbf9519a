#include "tools/agent/link/CServerLinkLoader.h"

namespace Zun {
namespace Tools {
namespace Agent {

std::unique_ptr<IServerLink> CServerLinkLoader::Create(const CServerLink::Settings& settings,
                                                       ILinkStore& store, CServerLink::TaskRunner runner,
                                                       CServerLink::Log log) {
    return std::unique_ptr<IServerLink>(new CServerLink(settings, store, std::move(runner), std::move(log)));
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
