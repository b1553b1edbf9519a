#pragma once

#include <Poco/ClassLoader.h>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "host/IBusResource.h"
#include "host/ILoggerResource.h"
#include "host/IModule.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Loads a connector library through Poco's class loader, hands its module the agent's resources
// and drives its lifecycle: Initialize and Start, later Stop, Terminate and destruction. Every
// failure of the library or the module is reported as a std::runtime_error with a readable text.
class CAgentHost : public Common::Kernel::IResourceProvider {
public:
    static const char* const kModuleClass;
    static const char* const kSource;

    CAgentHost(const boost::shared_ptr<Common::Kernel::IBusResource>& bus,
               const boost::shared_ptr<Common::Kernel::ILoggerResource>& logger,
               const std::string& instanceUUID, const std::string& productAccount);
    ~CAgentHost() override;

    void Load(const std::string& libraryPath);
    // Initialize, then Start.
    void Start();
    // Stop, then Terminate(false) until the module agrees; Terminate(true) once the grace period
    // has passed. Returns false when the module had to be forced. Never waits much longer than
    // the grace period, whatever the module's threads are blocked on.
    bool Shutdown(std::chrono::milliseconds grace);
    // True when even the forced stop left module threads running: then neither the module nor its
    // library may be destroyed, and the process has to end without unloading them.
    bool IsAbandoned() const { return m_abandoned; }
    // Destroys the module and unloads its library. Whatever the module created (messages,
    // subscribers) must be gone by then, since its code goes with the library.
    void Unload();

    boost::shared_ptr<Common::Kernel::IResource> GetResource(int number) override;

private:
    void Log(const std::string& text, int level);
    void StopPolitely();
    // Runs call, logging what it throws.
    void Guarded(const std::function<void()>& call);

    boost::shared_ptr<Common::Kernel::ILoggerResource> m_logger;
    std::map<int, boost::shared_ptr<Common::Kernel::IResource>> m_resources;
    Poco::ClassLoader<Common::Kernel::IModule> m_loader;
    std::string m_libraryPath;
    std::unique_ptr<Common::Kernel::IModule> m_module;
    bool m_initialized = false;
    bool m_abandoned = false;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
