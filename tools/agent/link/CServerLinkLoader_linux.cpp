#include <Poco/Path.h>
#include <Poco/SharedLibrary.h>

#include <stdexcept>

#include "tools/agent/CAgentOptions.h"
#include "tools/agent/link/CServerLinkLoader.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {
const char* const kLibrary = "libquil_agent_link.so";
}  // namespace

std::unique_ptr<IServerLink> CServerLinkLoader::Create(const CServerLink::Settings& settings,
                                                       ILinkStore& store, CServerLink::TaskRunner runner,
                                                       CServerLink::Log log) {
    // Where the module's default is: the project's private libraries, whatever --module says.
    Poco::Path path(CAgentOptions::DefaultModulePath());
    path.setFileName(kLibrary);
    const std::string file = path.toString();
    Factory factory = nullptr;
    try {
        // Kept loaded (Poco never unloads on destruction): the link's code runs until the process ends.
        Poco::SharedLibrary library(file, Poco::SharedLibrary::SHLIB_LOCAL);
        factory = reinterpret_cast<Factory>(library.getSymbol(kFactoryName));
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("cannot load the server link from " + file + ": " + e.displayText());
    }
    return std::unique_ptr<IServerLink>(factory(settings, store, runner, log));
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
