#include "tools/agent/CAgentHost.h"

#include <Poco/Exception.h>
#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <stdexcept>

#include "host/IAgentConfigurationResource.h"
#include "host/IConfigurationResource.h"
#include "host/IIdGeneratorResource.h"
#include "host/IInstallConfigurationResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

using namespace Common::Kernel;

const char* const CAgentHost::kModuleClass = "Zun::Connectors::QUILConnector::CConnectorModule";
const char* const CAgentHost::kSource = "CAgentHost";

namespace {

// Between two refusals of Terminate(false): the module offers no signal for "ready now".
const boost::chrono::milliseconds kTerminatePoll(20);

class CInstallConfiguration : public IInstallConfigurationResource {
public:
    explicit CInstallConfiguration(std::string uuid) : m_uuid(std::move(uuid)) {}
    std::string GetInstanceUUID() const override { return m_uuid; }

private:
    std::string m_uuid;
};

class CIdGenerator : public IIdGeneratorResource {
public:
    std::string GenerateId() override {
        boost::lock_guard<boost::mutex> guard(m_lock);
        return boost::uuids::to_string(m_generator());
    }

private:
    boost::mutex m_lock;
    boost::uuids::random_generator m_generator;
};

// The agent has no settings of its own to offer yet; both views of number 12 answer with the
// caller's fallback or nothing.
class CConfiguration : public IConfigurationResource, public IAgentConfigurationResource {
public:
    std::string GetValue(const std::string&, const std::string& fallback) const override { return fallback; }
    std::string GetAgentValue(const std::string&) const override { return std::string(); }
};

}  // namespace

CAgentHost::CAgentHost(const boost::shared_ptr<IBusResource>& bus,
                       const boost::shared_ptr<ILoggerResource>& logger, const std::string& instanceUUID)
    : m_logger(logger) {
    m_resources[1] = bus;
    m_resources[2] = boost::make_shared<CInstallConfiguration>(instanceUUID);
    m_resources[3] = logger;
    m_resources[4] = boost::make_shared<CIdGenerator>();
    m_resources[12] =
        boost::static_pointer_cast<IConfigurationResource>(boost::make_shared<CConfiguration>());
}

CAgentHost::~CAgentHost() {
    Unload();
}

boost::shared_ptr<IResource> CAgentHost::GetResource(int number) {
    auto found = m_resources.find(number);
    return found == m_resources.end() ? boost::shared_ptr<IResource>() : found->second;
}

void CAgentHost::Load(const std::string& libraryPath) {
    try {
        m_loader.loadLibrary(libraryPath);
        m_libraryPath = libraryPath;
        if (!m_loader.canCreate(kModuleClass)) {
            throw std::runtime_error(std::string("it has no class ") + kModuleClass);
        }
        m_module.reset(m_loader.create(kModuleClass));
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("Cannot load the module " + libraryPath + ": " + e.displayText());
    } catch (const std::exception& e) {
        throw std::runtime_error("Cannot load the module " + libraryPath + ": " + e.what());
    }
    Log("Loaded " + m_module->GetName() + " from " + libraryPath, 2);
}

void CAgentHost::Start() {
    if (!m_module) {
        throw std::runtime_error("No module is loaded");
    }
    try {
        m_module->Initialize(*this);
    } catch (const std::exception& e) {
        throw std::runtime_error("The module failed to initialize: " + std::string(e.what()));
    }
    m_initialized = true;
    try {
        m_module->Start();
    } catch (const std::exception& e) {
        throw std::runtime_error("The module failed to start: " + std::string(e.what()));
    }
    Log("Started " + m_module->GetName(), 2);
}

bool CAgentHost::Shutdown(std::chrono::milliseconds grace) {
    if (!m_module || !m_initialized) {
        return true;
    }
    m_initialized = false;
    try {
        m_module->Stop();
        if (TerminateWithin(grace)) {
            Log("Stopped " + m_module->GetName(), 2);
            return true;
        }
        Log("The module did not stop within " + std::to_string(grace.count()) + " ms; forcing it", 3);
    } catch (const std::exception& e) {
        Log(std::string("The module failed to stop: ") + e.what() + "; forcing it", 4);
    }
    try {
        m_module->Terminate(true);
    } catch (const std::exception& e) {
        Log(std::string("The module failed a forced stop: ") + e.what(), 4);
    }
    return false;
}

bool CAgentHost::TerminateWithin(std::chrono::milliseconds grace) {
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!m_module->Terminate(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        boost::this_thread::sleep_for(kTerminatePoll);
    }
    return true;
}

void CAgentHost::Unload() {
    m_initialized = false;
    m_module.reset();
    if (!m_libraryPath.empty()) {
        try {
            m_loader.unloadLibrary(m_libraryPath);
        } catch (const Poco::Exception& e) {
            Log("Cannot unload " + m_libraryPath + ": " + e.displayText(), 3);
        }
        m_libraryPath.clear();
    }
}

void CAgentHost::Log(const std::string& text, int level) {
    m_logger->Write(text, level, kSource);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
