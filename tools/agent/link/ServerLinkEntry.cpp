// The entry point of libquil_agent_link.so, looked up by name by CServerLinkLoader.
#include <type_traits>

#include "tools/agent/link/CServerLinkLoader.h"

extern "C" __attribute__((visibility("default"))) Zun::Tools::Agent::IServerLink* QuilCreateServerLink(
    const Zun::Tools::Agent::CServerLink::Settings& settings, Zun::Tools::Agent::ILinkStore& store,
    const Zun::Tools::Agent::CServerLink::TaskRunner& runner,
    const Zun::Tools::Agent::CServerLink::Log& log) {
    return new Zun::Tools::Agent::CServerLink(settings, store, runner, log);
}

static_assert(
    std::is_same<decltype(&QuilCreateServerLink), Zun::Tools::Agent::CServerLinkLoader::Factory>::value,
    "the entry point must match what the loader looks up");
